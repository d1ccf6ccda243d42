// The kernel's component contract: the entry point and its interfaces.
//
// CreateKxComponent(component, interface, kind, &pItf, version, extra) hands
// out an interface. The caller stores in `version` the highest version it
// knows; the kernel overwrites it with the version it grants, or sets the
// pointer to null and the version to 0 when it refuses. The int result is
// not used by the library.
//
// An interface is a pointer to an object whose first word points to a table
// of operations. Every operation takes the interface first. Slot n of a table
// is the n-th pointer; slot 2 of every interface releases it. Each slot's
// minimum version stands in brackets; operations of the library check it
// before calling and fall back otherwise.
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

// Pins an operation to its slot number.
#define KX_SLOT(Ops, op, n) \
  static_assert(offsetof(Ops, op) == (n) * sizeof(void*), #op " must be slot " #n)

KX_INTERFACE(IkxDtb2Connection);
KX_INTERFACE(IkxTask);
KX_INTERFACE(IkxTaskOnly);
KX_INTERFACE(IkxD2MessMan);
KX_INTERFACE(IkxDtbAccByStr);
KX_INTERFACE(IkxDtb2File);
KX_INTERFACE(IkxDtb2Obj);

// ---------------------------------------------------------------------------
// "CkxDtb2Connection" of "CkxDtb2", offered 35.
struct IkxDtb2ConnectionOps {
  KxUnusedSlot s0, s1;
  void (*Release)(IkxDtb2Connection* self);
  KxUnusedSlot s3_15[13];
  // [8] Index of the thread-local slot that holds the current kernel object.
  uint32_t (*GetObjTlsIndex)(IkxDtb2Connection* self);
  KxUnusedSlot s17_20[4];
  // [11] Releases a reference object handed out by the kernel.
  void (*ReleaseRefObject)(IkxDtb2Connection* self, void* pObject);
};
KX_SLOT(IkxDtb2ConnectionOps, Release, 2);
KX_SLOT(IkxDtb2ConnectionOps, GetObjTlsIndex, 16);
KX_SLOT(IkxDtb2ConnectionOps, ReleaseRefObject, 21);

// ---------------------------------------------------------------------------
// "CkxTask" of "CkxBase", offered 32.
struct IkxTaskOps {
  // Hands out the task-only interface: writes *ppItf and *pVersion (offered
  // in *pVersion) for a task with *pSlotCount slots.
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
  // [27] Sends one log record: header, then `uiLength` bytes of data.
  void (*SendLog)(IkxTask* self, const OrbLogIndex* pHeader, const void* pData, uint32_t uiLength);
};
KX_SLOT(IkxTaskOps, CreateTaskOnly, 0);
KX_SLOT(IkxTaskOps, Release, 2);
KX_SLOT(IkxTaskOps, Trace, 16);
KX_SLOT(IkxTaskOps, IsKernelRunning, 33);
KX_SLOT(IkxTaskOps, SendLog, 70);

// ---------------------------------------------------------------------------
// "CkxTaskOnly" of "CkxBase", offered 7.
struct IkxTaskOnlyOps {
  KxUnusedSlot s0, s1;
  void (*Release)(IkxTaskOnly* self);
  KxUnusedSlot s3_10[8];
  int64_t (*GetTaskId)(IkxTaskOnly* self);
  KxUnusedSlot s12_14[3];
  // [3] Registers `pTask` as the sink of the kernel's task callbacks.
  void (*RegisterCallbackSink)(IkxTaskOnly* self, CkxTaskCallback* pTask, int32_t iSlot);
};
KX_SLOT(IkxTaskOnlyOps, Release, 2);
KX_SLOT(IkxTaskOnlyOps, GetTaskId, 11);
KX_SLOT(IkxTaskOnlyOps, RegisterCallbackSink, 15);

// ---------------------------------------------------------------------------
// "CkxD2MessMan" of "CkxBase", offered 10.
struct IkxD2MessManOps {
  KxUnusedSlot s0, s1;
  void (*Release)(IkxD2MessMan* self);
  // Queues `pRequest` for task `liTarget`.
  bool (*Dispatch)(IkxD2MessMan* self, int64_t liTarget, const KxMessRequest* pRequest);
  // Withdraws what was queued for `liTarget` by the request's record. With
  // target 0 it also forgets the record's registration: the record is being
  // destroyed and must receive nothing more.
  bool (*Withdraw)(IkxD2MessMan* self, int64_t liTarget, const KxMessRequest* pRequest);
  // Registers `pRecord` as a receiver of the message named `csName`.
  int32_t (*Register)(IkxD2MessMan* self, const char* csName, CkxMessageInfo* pRecord);
};
KX_SLOT(IkxD2MessManOps, Release, 2);
KX_SLOT(IkxD2MessManOps, Dispatch, 3);
KX_SLOT(IkxD2MessManOps, Withdraw, 4);
KX_SLOT(IkxD2MessManOps, Register, 5);

// ---------------------------------------------------------------------------
// "CkxDtbAccByStr" of "CkxBase", offered 4. The library only holds it.
struct IkxDtbAccByStrOps {
  KxUnusedSlot s0, s1;
  void (*Release)(IkxDtbAccByStr* self);
};
KX_SLOT(IkxDtbAccByStrOps, Release, 2);

// ---------------------------------------------------------------------------
// "CkxDtb2File" of "CkxDtb2", offered 16.
struct IkxDtb2FileOps {
  KxUnusedSlot s0, s1;
  void (*Release)(IkxDtb2File* self);
  // Names the template family ("Varnox").
  void (*SetTemplateName)(IkxDtb2File* self, const char* csName);
  // Names the file type ("FT_GLOBALS", ...).
  void (*SetFileTemplateName)(IkxDtb2File* self, const char* csName);
  // Reads / writes the file's indexes into / from the dimension object `uiDimId`.
  void (*GetObjInd)(IkxDtb2File* self, uint64_t uiDimId);
  void (*SetObjInd)(IkxDtb2File* self, uint64_t uiDimId);
  // Opens (or creates) the file; returns its file id.
  int32_t (*Open)(IkxDtb2File* self, const char* csPath, const char* csAlias1, const char* csAlias2,
                  const char* csMode, const char* csFileSet, bool bCreate, uint64_t uiDimHandle,
                  uint32_t uiDimDyn, uint32_t uiDimExp);
  KxUnusedSlot s8;
  // Registers a member bound as `uiObjectId` under class id `uiClassId`.
  void (*RegisterMember)(IkxDtb2File* self, uint64_t uiObjectId, uint32_t uiClassId);
  KxUnusedSlot s10;
  bool (*IsOpen)(IkxDtb2File* self);                   // [3]
  void (*Clear)(IkxDtb2File* self, uint32_t uiFlags);  // [4]
  bool (*SelectFileDlg)(IkxDtb2File* self, const char* csAlias1, const char* csRootPath,
                        const char* csPathIn, KxStringOut* pPathSel, const char* csFileSetIn,
                        KxStringOut* pFileSetSel, bool bUsePath, bool bEnableScanDisk);  // [5]
  // [7] Saves; `sDefPath` is the boolean as a 16-bit value.
  bool (*Save)(IkxDtb2File* self, int32_t iSaveOld, int16_t sDefPath, const char* csPath);
  KxUnusedSlot s15_17[3];
  bool (*GetFullPath)(IkxDtb2File* self, KxStringOut* pPath);  // [9]
  bool (*UnLoad)(IkxDtb2File* self);                           // [9]
  KxUnusedSlot s20;
  void (*Update)(IkxDtb2File* self, uint32_t uiFlags);  // [11]
  int32_t (*GetDynGrowStatus)(IkxDtb2File* self);       // [12]
  // [13] This file's id, given the parameters of a dynamic-growth message
  // ("OrbKernelDynDataSecGrow" carries the file id as its 32-bit parameter
  // and the new status as its 64-bit parameter).
  int32_t (*GetFileIdOfMessage)(IkxDtb2File* self, int32_t iParam, int64_t liParam);
  void (*GetNGELock)(IkxDtb2File* self);                                             // [14]
  void (*ReleaseNGELock)(IkxDtb2File* self);                                         // [14]
  void (*GetNGMLock)(IkxDtb2File* self);                                             // [14]
  void (*ReleaseNGMLock)(IkxDtb2File* self);                                         // [14]
  void (*GetObjIndByName)(IkxDtb2File* self, uint64_t uiDimId, const char* csName);  // [15]
  bool (*SaveFileAsXml)(IkxDtb2File* self, const char* csPath);                      // [16]
  bool (*UpdateFileFromXml)(IkxDtb2File* self, const char* csPath);                  // [16]
};
KX_SLOT(IkxDtb2FileOps, Release, 2);
KX_SLOT(IkxDtb2FileOps, SetTemplateName, 3);
KX_SLOT(IkxDtb2FileOps, SetFileTemplateName, 4);
KX_SLOT(IkxDtb2FileOps, GetObjInd, 5);
KX_SLOT(IkxDtb2FileOps, SetObjInd, 6);
KX_SLOT(IkxDtb2FileOps, Open, 7);
KX_SLOT(IkxDtb2FileOps, RegisterMember, 9);
KX_SLOT(IkxDtb2FileOps, IsOpen, 11);
KX_SLOT(IkxDtb2FileOps, Clear, 12);
KX_SLOT(IkxDtb2FileOps, SelectFileDlg, 13);
KX_SLOT(IkxDtb2FileOps, Save, 14);
KX_SLOT(IkxDtb2FileOps, GetFullPath, 18);
KX_SLOT(IkxDtb2FileOps, UnLoad, 19);
KX_SLOT(IkxDtb2FileOps, Update, 21);
KX_SLOT(IkxDtb2FileOps, GetDynGrowStatus, 22);
KX_SLOT(IkxDtb2FileOps, GetFileIdOfMessage, 23);
KX_SLOT(IkxDtb2FileOps, GetNGELock, 24);
KX_SLOT(IkxDtb2FileOps, ReleaseNGELock, 25);
KX_SLOT(IkxDtb2FileOps, GetNGMLock, 26);
KX_SLOT(IkxDtb2FileOps, ReleaseNGMLock, 27);
KX_SLOT(IkxDtb2FileOps, GetObjIndByName, 28);
KX_SLOT(IkxDtb2FileOps, SaveFileAsXml, 29);
KX_SLOT(IkxDtb2FileOps, UpdateFileFromXml, 30);

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

// ---------------------------------------------------------------------------
// "CkxDtb2Obj" of "CkxDtb2", offered 11.
//
// Map commands (slots 10, 11) take the command, the 64-bit key (or handle or
// position), the text key (null for numerically keyed maps) and the map's
// header; they answer a 32-bit handle, count or status.
struct IkxDtb2ObjOps {
  KxUnusedSlot s0, s1;
  void (*Release)(IkxDtb2Obj* self);
  // Binds `pObject`; the kernel calls it back and answers its 64-bit id.
  uint64_t (*Bind)(IkxDtb2Obj* self, CkxDtb2ObjCallback* pObject);
  // The same for a file member of class `uiClassId`.
  uint64_t (*BindMember)(IkxDtb2Obj* self, CkxDtb2ObjCallback* pObject, uint32_t uiClassId);
  // [4] Assigns an update id, writes it at byte 8 of `pRecord` and notifies.
  void (*UpdateID)(IkxDtb2Obj* self, uint32_t uiFlags, const Sd2UpdateCmd* pCmd,
                   KxUpdateRecord* pRecord);
  // Resizes a dynamic member inside a record: a dynamic string to `uiLength`
  // characters or an embedded dynamic array to `uiLength` elements.
  void (*ResizeDynMember)(IkxDtb2Obj* self, uint32_t uiLength, void* pMember);
  // Resizes the object's top-level dynamic array.
  void (*ResizeArray)(IkxDtb2Obj* self, uint32_t uiSize, KxArrayHeader* pHeader);
  KxUnusedSlot s8, s9;
  uint32_t (*EmbeddedMapCmd)(IkxDtb2Obj* self, int32_t iCmd, uint64_t uiKey, const char* csKey,
                             KxContainerHeader* pHeader);
  uint32_t (*MapCmd)(IkxDtb2Obj* self, int32_t iCmd, uint64_t uiKey, const char* csKey,
                     KxContainerHeader* pHeader);
  // [2] Key of node `uiHandle`: numeric into *pKey, text through pStrKey.
  void (*EmbeddedMapGetKey)(IkxDtb2Obj* self, uint32_t uiHandle, uint64_t* pKey,
                            KxStringOut* pStrKey, bool bFlag, KxContainerHeader* pHeader);
  void (*MapGetKey)(IkxDtb2Obj* self, uint32_t uiHandle, uint64_t* pKey, KxStringOut* pStrKey,
                    bool bFlag, KxContainerHeader* pHeader);
  KxUnusedSlot s14_17[4];
  // [6] Clears the object and notifies with `pRecord`.
  void (*Clear)(IkxDtb2Obj* self, uint32_t uiFlags, const Sd2UpdateCmd* pCmd,
                KxUpdateRecord* pRecord);
  KxUnusedSlot s19_21[3];
  // [9] GetKey without taking the map's locks.
  void (*EmbeddedMapGetKeyNotProt)(IkxDtb2Obj* self, uint32_t uiHandle, uint64_t* pKey,
                                   KxStringOut* pStrKey, bool bFlag, KxContainerHeader* pHeader);
  void (*MapGetKeyNotProt)(IkxDtb2Obj* self, uint32_t uiHandle, uint64_t* pKey,
                           KxStringOut* pStrKey, bool bFlag, KxContainerHeader* pHeader);
  // [10] Resizes without taking the array's locks.
  void (*ResizeDynMemberNotProt)(IkxDtb2Obj* self, uint32_t uiLength, void* pMember);
  void (*ResizeArrayNotProt)(IkxDtb2Obj* self, uint32_t uiSize, KxArrayHeader* pHeader);
  // [11] Exports the object to XML at `csPath`, notifying with `pRecord`.
  void (*SaveAsXml)(IkxDtb2Obj* self, const Sd2UpdateCmd* pCmd, KxUpdateRecord* pRecord,
                    const char* csPath);
};
KX_SLOT(IkxDtb2ObjOps, Release, 2);
KX_SLOT(IkxDtb2ObjOps, Bind, 3);
KX_SLOT(IkxDtb2ObjOps, BindMember, 4);
KX_SLOT(IkxDtb2ObjOps, UpdateID, 5);
KX_SLOT(IkxDtb2ObjOps, ResizeDynMember, 6);
KX_SLOT(IkxDtb2ObjOps, ResizeArray, 7);
KX_SLOT(IkxDtb2ObjOps, EmbeddedMapCmd, 10);
KX_SLOT(IkxDtb2ObjOps, MapCmd, 11);
KX_SLOT(IkxDtb2ObjOps, EmbeddedMapGetKey, 12);
KX_SLOT(IkxDtb2ObjOps, MapGetKey, 13);
KX_SLOT(IkxDtb2ObjOps, Clear, 18);
KX_SLOT(IkxDtb2ObjOps, EmbeddedMapGetKeyNotProt, 22);
KX_SLOT(IkxDtb2ObjOps, MapGetKeyNotProt, 23);
KX_SLOT(IkxDtb2ObjOps, ResizeDynMemberNotProt, 24);
KX_SLOT(IkxDtb2ObjOps, ResizeArrayNotProt, 25);
KX_SLOT(IkxDtb2ObjOps, SaveAsXml, 26);

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
