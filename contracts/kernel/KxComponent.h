// The kernel's component contract: the entry point and its interfaces.
//
// CreateKxComponent(component, interface, kind, &pItf, version, extra) hands
// out an interface. The caller stores in `version` the highest version it
// knows (the table's kVersion); the kernel overwrites it with the version it
// grants, at most the highest it implements, or sets the pointer to null and
// the version to 0 when it refuses. The int result is not used by the
// library.
//
// An interface is a pointer to an object whose first word points to a table
// of operations. Every operation takes the interface first. Slot n of a table
// is the n-th pointer; slot 2 of every interface releases it. Each operation
// is pinned with KX_SLOT to its slot number and to the minimum version of the
// interface that has it; the library calls an operation only when the
// granted version reaches that minimum, and otherwise takes the operation's
// fallback without calling (KxItf::Call). A kernel that grants version v
// fills every slot whose minimum is at most v.
//
// Slots the library never calls are kept as KxUnusedSlot so that every
// operation stays at its number.
#pragma once

#include <cstddef>
#include <cstdint>

#include "contracts/kernel/KxCallbacks.h"
#include "contracts/kernel/KxRecords.h"
#include "contracts/kernel/KxStorage.h"

using KxUnusedSlot = void*;

// Declares interface `Name` as an object whose first word points to `NameOps`.
#define KX_INTERFACE(Name) \
  struct Name##Ops;        \
  struct Name {            \
    const Name##Ops* ops;  \
  }

// What the contract knows of operation `Op` (a member of an operation
// table): its slot number, the minimum version of the interface that has
// it, its interface and its result type. Only operations pinned with
// KX_SLOT have one, so calling an unpinned operation does not compile.
template <auto Op>
struct KxSlot;

// The interface and result of an operation's function pointer type.
template <class Fn>
struct KxSlotSignature;
template <class R, class Itf, class... A>
struct KxSlotSignature<R (*)(Itf*, A...)> {
  using Interface = Itf;
  using Result = R;
};

// Pins operation `op` of table `Ops` to slot `n` and records `min`, the
// first version of the interface that has it (at most the table's kVersion).
#define KX_SLOT(Ops, op, n, min)                                                    \
  static_assert(offsetof(Ops, op) == (n) * sizeof(void*), #op " must be slot " #n); \
  static_assert((min) >= 1 && (min) <= Ops::kVersion,                               \
                #op ": its minimum lies outside the interface's versions");         \
  template <>                                                                       \
  struct KxSlot<&Ops::op> : KxSlotSignature<decltype(Ops::op)> {                    \
    static constexpr uint32_t number = (n);                                         \
    static constexpr uint32_t minimum = (min);                                      \
  }

KX_INTERFACE(IkxDtb2Connection);
KX_INTERFACE(IkxTask);
KX_INTERFACE(IkxTaskOnly);
KX_INTERFACE(IkxD2MessMan);
KX_INTERFACE(IkxDtbAccByStr);
KX_INTERFACE(IkxDtb2File);
KX_INTERFACE(IkxDtb2Obj);

// Each operation below says what it answers when it cannot do its work.
// None of them throws, and none reports an error otherwise: a kernel writes
// its reason to its own log.

// ---------------------------------------------------------------------------
// "CkxDtb2Connection" of "CkxDtb2".
struct IkxDtb2ConnectionOps {
  static constexpr uint32_t kVersion = 36;

  KxUnusedSlot s0, s1;
  void (*Release)(IkxDtb2Connection* self);
  KxUnusedSlot s3_15[13];
  // Index of the thread-local slot that holds the current kernel object.
  uint32_t (*GetObjTlsIndex)(IkxDtb2Connection* self);
  KxUnusedSlot s17_20[4];
  // Releases a reference object handed out by the kernel.
  void (*ReleaseRefObject)(IkxDtb2Connection* self, void* pObject);
  // The schema handshake: `uiLibrary` is the fingerprint of the schema the
  // library was built from (KxSchemaFingerprint of its catalogue). Answers
  // true when the kernel's catalogue has the same fingerprint. Answers false,
  // and writes the kernel's fingerprint to *pKernel (when not null), when it
  // was built from another schema: the two would lay out records
  // differently, and the library must not go on.
  bool (*AcceptSchema)(IkxDtb2Connection* self, uint64_t uiLibrary, uint64_t* pKernel);
};
KX_SLOT(IkxDtb2ConnectionOps, Release, 2, 1);
KX_SLOT(IkxDtb2ConnectionOps, GetObjTlsIndex, 16, 8);
KX_SLOT(IkxDtb2ConnectionOps, ReleaseRefObject, 21, 11);
KX_SLOT(IkxDtb2ConnectionOps, AcceptSchema, 22, 36);

// ---------------------------------------------------------------------------
// "CkxTask" of "CkxBase".
struct IkxTaskOps {
  static constexpr uint32_t kVersion = 32;

  // Hands out the task-only interface: writes *ppItf and *pVersion (offered
  // in *pVersion) for a task with *pSlotCount slots. A refusal writes null
  // and version 0.
  int32_t (*CreateTaskOnly)(IkxTask* self, int32_t iKind, IkxTaskOnly** ppItf, uint32_t* pVersion,
                            int32_t* pSlotCount);
  KxUnusedSlot s1;
  void (*Release)(IkxTask* self);
  KxUnusedSlot s3_15[13];
  // Writes one trace line.
  void (*Trace)(IkxTask* self, int32_t iCategory, const char* csFile, int32_t iLine,
                const char* csMessage, const char* cs1, const char* cs2, const char* cs3);
  KxUnusedSlot s17_32[16];
  // Whether the kernel still runs.
  bool (*IsKernelRunning)(IkxTask* self);
  KxUnusedSlot s34_69[36];
  // Sends one log record: header, then `uiLength` bytes of data. A record
  // too short to hold its index and text length is dropped.
  void (*SendLog)(IkxTask* self, const OrbLogIndex* pHeader, const void* pData, uint32_t uiLength);
};
KX_SLOT(IkxTaskOps, CreateTaskOnly, 0, 1);
KX_SLOT(IkxTaskOps, Release, 2, 1);
KX_SLOT(IkxTaskOps, Trace, 16, 1);
KX_SLOT(IkxTaskOps, IsKernelRunning, 33, 1);
KX_SLOT(IkxTaskOps, SendLog, 70, 27);

// ---------------------------------------------------------------------------
// "CkxTaskOnly" of "CkxBase".
struct IkxTaskOnlyOps {
  static constexpr uint32_t kVersion = 7;

  KxUnusedSlot s0, s1;
  void (*Release)(IkxTaskOnly* self);
  KxUnusedSlot s3_10[8];
  int64_t (*GetTaskId)(IkxTaskOnly* self);
  KxUnusedSlot s12_14[3];
  // Registers `pTask` as the sink of the kernel's task callbacks.
  void (*RegisterCallbackSink)(IkxTaskOnly* self, CkxTaskCallback* pTask, int32_t iSlot);
};
KX_SLOT(IkxTaskOnlyOps, Release, 2, 1);
KX_SLOT(IkxTaskOnlyOps, GetTaskId, 11, 1);
KX_SLOT(IkxTaskOnlyOps, RegisterCallbackSink, 15, 3);

// ---------------------------------------------------------------------------
// "CkxD2MessMan" of "CkxBase".
struct IkxD2MessManOps {
  static constexpr uint32_t kVersion = 10;

  KxUnusedSlot s0, s1;
  void (*Release)(IkxD2MessMan* self);
  // Queues `pRequest` for task `liTarget`. False when the request or its
  // record is null, or the record refused the message.
  bool (*Dispatch)(IkxD2MessMan* self, int64_t liTarget, const KxMessRequest* pRequest);
  // Withdraws what was queued for `liTarget` by the request's record. With
  // target 0 it also forgets the record's registration: the record is being
  // destroyed and must receive nothing more.
  bool (*Withdraw)(IkxD2MessMan* self, int64_t liTarget, const KxMessRequest* pRequest);
  // Registers `pRecord` as a receiver of the message named `csName`;
  // answers the message's value.
  int32_t (*Register)(IkxD2MessMan* self, const char* csName, CkxMessageInfo* pRecord);
};
KX_SLOT(IkxD2MessManOps, Release, 2, 1);
KX_SLOT(IkxD2MessManOps, Dispatch, 3, 1);
KX_SLOT(IkxD2MessManOps, Withdraw, 4, 1);
KX_SLOT(IkxD2MessManOps, Register, 5, 1);

// ---------------------------------------------------------------------------
// "CkxDtbAccByStr" of "CkxBase". The library only holds it.
struct IkxDtbAccByStrOps {
  static constexpr uint32_t kVersion = 4;

  KxUnusedSlot s0, s1;
  void (*Release)(IkxDtbAccByStr* self);
};
KX_SLOT(IkxDtbAccByStrOps, Release, 2, 1);

// ---------------------------------------------------------------------------
// "CkxDtb2File" of "CkxDtb2".

// Why Open refused a file: its answer below 0 (-1 is the library's own: no
// usable file interface). A kernel also writes the reason to its log.
enum KxOpenFailure : int32_t {
  KxOpenNoInterface = -1,  // (library) the file interface was refused or released
  KxOpenNotFound = -2,     // no saved file and create was not asked, or no path given
  KxOpenForeign = -3,      // not a saved kernel file: wrong magic, unknown format version
  KxOpenOtherType = -4,    // a saved file of another family or file type
  KxOpenTruncated = -5,    // ends before its header or its payload does
  KxOpenCorrupted = -6,    // checksum mismatch, longer than its header says, or a
                           // structure that leaves its storage
  KxOpenIoError = -7,      // the file is there but cannot be read (create is then not
                           // done), or the live storage cannot be used
  KxOpenBadTemplate = -8,  // the registered members do not match the file type, or the
                           // family or file type is unknown
  KxOpenOtherSchema = -9,  // written by a library built from another schema: its records
                           // are laid out otherwise
};

struct IkxDtb2FileOps {
  static constexpr uint32_t kVersion = 16;

  KxUnusedSlot s0, s1;
  // Unloads the file when it is open, then releases the interface.
  void (*Release)(IkxDtb2File* self);
  // Names the template family ("Varnox").
  void (*SetTemplateName)(IkxDtb2File* self, const char* csName);
  // Names the file type ("FT_GLOBALS", ...).
  void (*SetFileTemplateName)(IkxDtb2File* self, const char* csName);
  // Reads / writes the file's indexes into / from the dimension object
  // `uiDimId`. Nothing happens when the file is not open or `uiDimId` names
  // no bound object; SetObjInd logs a dimension object of another file.
  void (*GetObjInd)(IkxDtb2File* self, uint64_t uiDimId);
  void (*SetObjInd)(IkxDtb2File* self, uint64_t uiDimId);
  // Opens (or, with bCreate and no saved file, creates) the file, first
  // unloading what this interface had open. Answers the file id (above 0),
  // or a KxOpenFailure; a refused file leaves nothing open.
  int32_t (*Open)(IkxDtb2File* self, const char* csPath, const char* csAlias1, const char* csAlias2,
                  const char* csMode, const char* csFileSet, bool bCreate, uint64_t uiDimHandle,
                  uint32_t uiDimDyn, uint32_t uiDimExp);
  KxUnusedSlot s8;
  // Registers a member bound as `uiObjectId` under class id `uiClassId`. An
  // id that names no bound object registers a member without storage
  // callbacks; Open checks the class ids.
  void (*RegisterMember)(IkxDtb2File* self, uint64_t uiObjectId, uint32_t uiClassId);
  KxUnusedSlot s10;
  // Whether the file is open.
  bool (*IsOpen)(IkxDtb2File* self);
  // Empties every member and notifies; nothing when the file is not open.
  void (*Clear)(IkxDtb2File* self, uint32_t uiFlags);
  // Lets the user choose a file; false when the kernel has no user
  // interface or the user cancelled.
  bool (*SelectFileDlg)(IkxDtb2File* self, const char* csAlias1, const char* csRootPath,
                        const char* csPathIn, KxStringOut* pPathSel, const char* csFileSetIn,
                        KxStringOut* pFileSetSel, bool bUsePath, bool bEnableScanDisk);
  // Saves; `sDefPath` is the boolean as a 16-bit value. False when the file
  // is not open, was opened read-only, or the write failed (the saved file
  // is then untouched).
  bool (*Save)(IkxDtb2File* self, int32_t iSaveOld, int16_t sDefPath, const char* csPath);
  KxUnusedSlot s15_17[3];
  // The open file's full path; false, and nothing written, when not open.
  bool (*GetFullPath)(IkxDtb2File* self, KxStringOut* pPath);
  // Unloads the file; false when it was not open.
  bool (*UnLoad)(IkxDtb2File* self);
  KxUnusedSlot s20;
  // Notifies every member of a file-wide update; nothing when not open.
  void (*Update)(IkxDtb2File* self, uint32_t uiFlags);
  // How many times the file's storage grew since its live data was built.
  int32_t (*GetDynGrowStatus)(IkxDtb2File* self);
  // This file's id, given the parameters of a dynamic-growth message
  // ("OrbKernelDynDataSecGrow" carries the file id as its 32-bit parameter
  // and the new status as its 64-bit parameter); 0 when not open.
  int32_t (*GetFileIdOfMessage)(IkxDtb2File* self, int32_t iParam, int64_t liParam);
  // The two file-wide locks; nothing when the file is not open.
  void (*GetNGELock)(IkxDtb2File* self);
  void (*ReleaseNGELock)(IkxDtb2File* self);
  void (*GetNGMLock)(IkxDtb2File* self);
  void (*ReleaseNGMLock)(IkxDtb2File* self);
  // GetObjInd for member `csName` only.
  void (*GetObjIndByName)(IkxDtb2File* self, uint64_t uiDimId, const char* csName);
  // Exports the whole file to XML at `csPath`; false when not open or the
  // export failed (a partial export is removed).
  bool (*SaveFileAsXml)(IkxDtb2File* self, const char* csPath);
  // Replaces the file's content with the document at `csPath`; false, and
  // nothing changed, when not open, opened read-only, or the document is
  // refused.
  bool (*UpdateFileFromXml)(IkxDtb2File* self, const char* csPath);
};
KX_SLOT(IkxDtb2FileOps, Release, 2, 1);
KX_SLOT(IkxDtb2FileOps, SetTemplateName, 3, 1);
KX_SLOT(IkxDtb2FileOps, SetFileTemplateName, 4, 1);
KX_SLOT(IkxDtb2FileOps, GetObjInd, 5, 1);
KX_SLOT(IkxDtb2FileOps, SetObjInd, 6, 1);
KX_SLOT(IkxDtb2FileOps, Open, 7, 1);
KX_SLOT(IkxDtb2FileOps, RegisterMember, 9, 1);
KX_SLOT(IkxDtb2FileOps, IsOpen, 11, 3);
KX_SLOT(IkxDtb2FileOps, Clear, 12, 4);
KX_SLOT(IkxDtb2FileOps, SelectFileDlg, 13, 5);
KX_SLOT(IkxDtb2FileOps, Save, 14, 7);
KX_SLOT(IkxDtb2FileOps, GetFullPath, 18, 9);
KX_SLOT(IkxDtb2FileOps, UnLoad, 19, 9);
KX_SLOT(IkxDtb2FileOps, Update, 21, 11);
KX_SLOT(IkxDtb2FileOps, GetDynGrowStatus, 22, 12);
KX_SLOT(IkxDtb2FileOps, GetFileIdOfMessage, 23, 13);
KX_SLOT(IkxDtb2FileOps, GetNGELock, 24, 14);
KX_SLOT(IkxDtb2FileOps, ReleaseNGELock, 25, 14);
KX_SLOT(IkxDtb2FileOps, GetNGMLock, 26, 14);
KX_SLOT(IkxDtb2FileOps, ReleaseNGMLock, 27, 14);
KX_SLOT(IkxDtb2FileOps, GetObjIndByName, 28, 15);
KX_SLOT(IkxDtb2FileOps, SaveFileAsXml, 29, 16);
KX_SLOT(IkxDtb2FileOps, UpdateFileFromXml, 30, 16);

// ---------------------------------------------------------------------------
// Commands of the map operation (slots 10 and 11). A numerically keyed map
// passes its key in the 64-bit argument and no text; a text-keyed map passes
// 0 and the text. A handle or a position also travels in the 64-bit
// argument. Head, Next, AtIndex of top-level maps and the key-case switches
// of embedded maps are handled by the library and never reach the kernel.
namespace D2MapCmd {
enum Cmd : int32_t {
  Add = 0,  // find or insert; answers the node's handle
  Find = 1,
  AtIndex = 2,  // position -> handle
  Remove = 3,
  RemoveAt = 4,  // by handle
  RemoveAll = 5,
  Clear = 6,    // the record back to its initial state
  ClearAt = 7,  // by handle
  Head = 8,
  Next = 9,
  DispStat = 10,  // the map's statistics to the log
  ClearAll = 12,
  KeyNoCase = 14,
  KeyCase = 15,
  RemoveNotProtected = 16,
  AddNotProtected = 18,
  FindNotProt = 20,
};
}  // namespace D2MapCmd

// An element to add to a map embedded in an object's records, one of a
// batch (EmbeddedMapAddMany): the map's header and the key as for
// D2MapCmd::Add.
struct KxMapAddition {
  KxContainerHeader* pHeader;
  uint64_t uiKey;
  const char* csKey;  // null for a numerically keyed map
};

// A dynamic member of an object's records to resize, one of a batch
// (ResizeDynMembers): its address and length as for ResizeDynMember.
struct KxMemberResize {
  void* pMember;
  uint32_t uiLength;
};

// ---------------------------------------------------------------------------
// "CkxDtb2Obj" of "CkxDtb2".
//
// Map commands (slots 10, 11) take the command, the 64-bit key (or handle or
// position), the text key (null for numerically keyed maps) and the map's
// header; they answer a 32-bit handle, count or status. Operations on an
// object that is not attached to an open file's storage, or with a header
// or member that is not this object's, do nothing and answer 0; a kernel
// logs the latter.
struct IkxDtb2ObjOps {
  static constexpr uint32_t kVersion = 13;

  KxUnusedSlot s0, s1;
  void (*Release)(IkxDtb2Obj* self);
  // Binds `pObject`; the kernel calls it back and answers its 64-bit id.
  uint64_t (*Bind)(IkxDtb2Obj* self, CkxDtb2ObjCallback* pObject);
  // The same for a file member of class `uiClassId`.
  uint64_t (*BindMember)(IkxDtb2Obj* self, CkxDtb2ObjCallback* pObject, uint32_t uiClassId);
  // Assigns an update id, writes it at byte 8 of `pRecord` and notifies.
  void (*UpdateID)(IkxDtb2Obj* self, uint32_t uiFlags, const Sd2UpdateCmd* pCmd,
                   KxUpdateRecord* pRecord);
  // Resizes a dynamic member inside a record: a dynamic string to `uiLength`
  // characters or an embedded dynamic array to `uiLength` elements. Nothing
  // when the storage cannot grow.
  void (*ResizeDynMember)(IkxDtb2Obj* self, uint32_t uiLength, void* pMember);
  // Resizes the object's top-level dynamic array; nothing when the storage
  // cannot grow.
  void (*ResizeArray)(IkxDtb2Obj* self, uint32_t uiSize, KxArrayHeader* pHeader);
  KxUnusedSlot s8, s9;
  // Map commands (D2MapCmd) on a map embedded in the object's records, and
  // on the object's top-level map. 0 answers "no such element" too.
  uint32_t (*EmbeddedMapCmd)(IkxDtb2Obj* self, int32_t iCmd, uint64_t uiKey, const char* csKey,
                             KxContainerHeader* pHeader);
  uint32_t (*MapCmd)(IkxDtb2Obj* self, int32_t iCmd, uint64_t uiKey, const char* csKey,
                     KxContainerHeader* pHeader);
  // Key of node `uiHandle`: numeric into *pKey, text through pStrKey; 0 and
  // an empty text when the handle names no node of the map.
  void (*EmbeddedMapGetKey)(IkxDtb2Obj* self, uint32_t uiHandle, uint64_t* pKey,
                            KxStringOut* pStrKey, bool bFlag, KxContainerHeader* pHeader);
  void (*MapGetKey)(IkxDtb2Obj* self, uint32_t uiHandle, uint64_t* pKey, KxStringOut* pStrKey,
                    bool bFlag, KxContainerHeader* pHeader);
  KxUnusedSlot s14_17[4];
  // Clears the object and notifies with `pRecord`.
  void (*Clear)(IkxDtb2Obj* self, uint32_t uiFlags, const Sd2UpdateCmd* pCmd,
                KxUpdateRecord* pRecord);
  KxUnusedSlot s19_21[3];
  // GetKey without taking the map's locks.
  void (*EmbeddedMapGetKeyNotProt)(IkxDtb2Obj* self, uint32_t uiHandle, uint64_t* pKey,
                                   KxStringOut* pStrKey, bool bFlag, KxContainerHeader* pHeader);
  void (*MapGetKeyNotProt)(IkxDtb2Obj* self, uint32_t uiHandle, uint64_t* pKey,
                           KxStringOut* pStrKey, bool bFlag, KxContainerHeader* pHeader);
  // Resizes without taking the array's locks.
  void (*ResizeDynMemberNotProt)(IkxDtb2Obj* self, uint32_t uiLength, void* pMember);
  void (*ResizeArrayNotProt)(IkxDtb2Obj* self, uint32_t uiSize, KxArrayHeader* pHeader);
  // Exports the object to XML at `csPath`, notifying with `pRecord`; a
  // failed export is logged and leaves no partial file.
  void (*SaveAsXml)(IkxDtb2Obj* self, const Sd2UpdateCmd* pCmd, KxUpdateRecord* pRecord,
                    const char* csPath);
  // Adds (finds or inserts, as D2MapCmd::Add) the uiCount elements of
  // pAdditions, in order, to maps embedded in the object's records, all
  // under one taking of the kernel's locks, and writes each one's handle to
  // pHandles. Stops at the first that fails (a header that is no map of
  // the object, storage exhausted) and answers how many were added before
  // it. A map given several elements in a row makes room in its hash table
  // for all of them at once; a new map's first table is then sized for
  // them.
  uint32_t (*EmbeddedMapAddMany)(IkxDtb2Obj* self, const KxMapAddition* pAdditions,
                                 uint32_t uiCount, uint32_t* pHandles);
  // Resizes the uiCount dynamic members of pResizes (as ResizeDynMember
  // each), in order, under one taking of the kernel's locks. Stops at the
  // first that fails (an address that is no dynamic member of the object,
  // storage exhausted) and answers how many were resized before it.
  uint32_t (*ResizeDynMembers)(IkxDtb2Obj* self, const KxMemberResize* pResizes, uint32_t uiCount);
};
KX_SLOT(IkxDtb2ObjOps, Release, 2, 1);
KX_SLOT(IkxDtb2ObjOps, Bind, 3, 1);
KX_SLOT(IkxDtb2ObjOps, BindMember, 4, 1);
KX_SLOT(IkxDtb2ObjOps, UpdateID, 5, 4);
KX_SLOT(IkxDtb2ObjOps, ResizeDynMember, 6, 1);
KX_SLOT(IkxDtb2ObjOps, ResizeArray, 7, 1);
KX_SLOT(IkxDtb2ObjOps, EmbeddedMapCmd, 10, 1);
KX_SLOT(IkxDtb2ObjOps, MapCmd, 11, 1);
KX_SLOT(IkxDtb2ObjOps, EmbeddedMapGetKey, 12, 2);
KX_SLOT(IkxDtb2ObjOps, MapGetKey, 13, 2);
KX_SLOT(IkxDtb2ObjOps, Clear, 18, 6);
KX_SLOT(IkxDtb2ObjOps, EmbeddedMapGetKeyNotProt, 22, 9);
KX_SLOT(IkxDtb2ObjOps, MapGetKeyNotProt, 23, 9);
KX_SLOT(IkxDtb2ObjOps, ResizeDynMemberNotProt, 24, 10);
KX_SLOT(IkxDtb2ObjOps, ResizeArrayNotProt, 25, 10);
KX_SLOT(IkxDtb2ObjOps, SaveAsXml, 26, 11);
KX_SLOT(IkxDtb2ObjOps, EmbeddedMapAddMany, 27, 12);
KX_SLOT(IkxDtb2ObjOps, ResizeDynMembers, 28, 13);

// ---------------------------------------------------------------------------
// Entry point of the component manager. `extra` carries the slot count of a
// task interface ("CkxTask"); it is null otherwise.
using PfCreateKxComponent = int (*)(const char* csComponent, const char* csInterface,
                                    const int iKind, void** ppInterface, uint32_t& uiVersion,
                                    void* pExtra);

extern "C" int CreateKxComponent(const char* csComponent, const char* csInterface, const int iKind,
                                 void** ppInterface, uint32_t& uiVersion, void* pExtra);

// Component and interface names.
namespace KxNames {
constexpr const char* kBase = "CkxBase";
constexpr const char* kDtb2 = "CkxDtb2";
constexpr const char* kConnection = "CkxDtb2Connection";
constexpr const char* kTask = "CkxTask";
constexpr const char* kTaskOnly = "CkxTaskOnly";
constexpr const char* kMessMan = "CkxD2MessMan";
constexpr const char* kDtbAccByStr = "CkxDtbAccByStr";
constexpr const char* kFile = "CkxDtb2File";
constexpr const char* kObj = "CkxDtb2Obj";
constexpr const char* kEntryPoint = "CreateKxComponent";
}  // namespace KxNames
