// The reference kernel's component manager: every interface of the kernel
// contract, granted at the version offered, over live files in shared
// storage (KxLiveFile) and the template catalogue of the Varnox files.
//
// Callbacks into the library (OnAttach, OnUpdate, messages) are made after
// the kernel's own lock is released, so that a callback may call the kernel
// again, from any thread.
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "contracts/kernel/KxComponent.h"
#include "kernel/KxKernelLog.h"
#include "kernel/KxLiveFile.h"
#include "kernel/KxXml.h"
#include "templates/VarnoxCatalogue.h"

namespace {

struct KxObjState;
struct KxFileState;

// Process-wide kernel state. `mutex` guards every member and every
// interface object's state.
struct KxKernel {
  std::recursive_mutex mutex;
  const KxCatalogue& catalogue = VarnoxCatalogue();
  KxRecordTypes types{catalogue};
  std::map<uint64_t, KxObjState*> objects;  // bound objects by id
  uint64_t nextObjectId = 1;
  int32_t nextFileId = 1;
  std::vector<std::pair<std::string, CkxMessageInfo*>> messages;  // registrations
  std::vector<std::string> messageNames;                          // value = 0xC000 + index
  // Held while events are delivered to objects, so that an object is not
  // released in the middle of its callback.
  std::recursive_mutex deliveryMutex;
};

KxKernel& Kernel() {
  // Lives as long as the process: listener threads may deliver late.
  static KxKernel* pKernel = new KxKernel();
  return *pKernel;
}

// Work to do once the kernel lock is released.
using KxDeferred = std::vector<std::function<void()>>;
void RunDeferred(KxDeferred& deferred) {
  for (auto& fn : deferred) fn();
}

constexpr uint32_t kMessageBase = 0xC000;
constexpr const char* kGrowMessage = "OrbKernelDynDataSecGrow";

// Where a detached member points: no storage, every handle invalid.
uint8_t* const g_pNoStorage = nullptr;
const uint32_t g_uiNoHandle = 0;

// ---------------------------------------------------------------------------
// Interface objects. Each starts with the operation table pointer.

struct KxObjState : IkxDtb2Obj {
  CkxDtb2ObjCallback* pObject = nullptr;
  uint64_t uiId = 0;
  uint32_t uiClassId = 0;
  KxFileState* pFile = nullptr;  // set while registered with a file
  size_t uiMember = 0;
  std::string csIndexes;  // of a dimension object: what GetObjInd recorded
  // The attached member's store and container, for lookups that take no
  // lock (set while the file is open, cleared before it unloads).
  std::atomic<KxStore*> pOpenStore{nullptr};
  std::atomic<void*> pOpenContainer{nullptr};
};

struct KxFileState : IkxDtb2File {
  std::string csFamily;
  std::string csFileType;
  std::vector<std::pair<KxObjState*, uint32_t>> members;  // in registration order
  std::shared_ptr<KxLiveFile> pLive;
  int32_t iFileId = 0;
  bool bReadOnly = false;
  int32_t iGrowStatus = 0;
};

struct KxTaskOnlyState : IkxTaskOnly {
  int64_t liTaskId = 0;
  CkxTaskCallback* pSink = nullptr;
};

template <class State>
State* StateOf(void* pItf) {
  return static_cast<State*>(pItf);
}

std::string Text(const char* cs) { return cs != nullptr ? cs : ""; }

// Runs `fn` under the kernel lock.
template <class Fn>
auto Locked(Fn fn) {
  std::lock_guard<std::recursive_mutex> lock(Kernel().mutex);
  return fn();
}

void Assign(KxStringOut* pOut, const std::string& csText) {
  if (pOut != nullptr && pOut->assign != nullptr) pOut->Assign(csText.data(), csText.size());
}

std::string ResolvePath(const std::string& csPath, const std::string& csFileSet);

// ---------------------------------------------------------------------------
// Member objects.

// The store and segment of an attached member, or null.
KxStore* StoreOf(KxObjState* pObj) {
  if (pObj->pFile == nullptr || !pObj->pFile->pLive) return nullptr;
  return &pObj->pFile->pLive->Store(pObj->uiMember);
}

// Publishes an update of the object's member to every process that has the
// file open; their listener threads deliver it (KxEvents.h).
void PublishUpdate(KxObjState* pObj, KxUpdateRecord& record) {
  pObj->pFile->pLive->Events().PublishUpdate(static_cast<uint32_t>(pObj->uiMember), record);
}

// A file-wide update: one event per member, the flags in word 24.
void PublishFileUpdate(KxLiveFile& live, uint32_t uiFlags) {
  for (size_t i = 0; i < live.MemberCount(); ++i) {
    KxUpdateRecord record{};
    record.flags = KxUpdateRecord::kFlagsWord;
    record.kind = KxUpdateRecord::kKind;
    record.word24 = uiFlags;
    live.Events().PublishUpdate(static_cast<uint32_t>(i), record);
  }
}

void ObjRelease(IkxDtb2Obj* self) {
  // Wait for a delivery to this object to end before it goes.
  std::lock_guard<std::recursive_mutex> delivery(Kernel().deliveryMutex);
  Locked([&] {
    KxObjState* pObj = StateOf<KxObjState>(self);
    Kernel().objects.erase(pObj->uiId);
    if (pObj->pFile != nullptr) {
      for (auto& member : pObj->pFile->members) {
        if (member.first == pObj) member.first = nullptr;
      }
    }
    delete pObj;
    return 0;
  });
}

uint64_t ObjBind(IkxDtb2Obj* self, CkxDtb2ObjCallback* pObject) {
  return Locked([&] {
    KxObjState* pObj = StateOf<KxObjState>(self);
    pObj->pObject = pObject;
    if (pObj->uiId == 0) {
      pObj->uiId = Kernel().nextObjectId++;
      Kernel().objects[pObj->uiId] = pObj;
    }
    return pObj->uiId;
  });
}

uint64_t ObjBindMember(IkxDtb2Obj* self, CkxDtb2ObjCallback* pObject, uint32_t uiClassId) {
  StateOf<KxObjState>(self)->uiClassId = uiClassId;
  return ObjBind(self, pObject);
}

void ObjUpdateID(IkxDtb2Obj* self, uint32_t /*uiFlags*/, const Sd2UpdateCmd* /*pCmd*/,
                 KxUpdateRecord* pRecord) {
  if (pRecord == nullptr) return;
  Locked([&] {
    KxObjState* pObj = StateOf<KxObjState>(self);
    if (StoreOf(pObj) != nullptr) PublishUpdate(pObj, *pRecord);
    return 0;
  });
}

void ObjResizeDynMember(IkxDtb2Obj* self, uint32_t uiLength, void* pMember) {
  Locked([&] {
    KxStore* pStore = StoreOf(StateOf<KxObjState>(self));
    if (pStore == nullptr) return 0;
    KxSegmentLock lock(pStore->Segment());
    if (!pStore->ResizeMember(pMember, uiLength)) {
      KxKernelLog(
          "KERNEL",
          "ResizeDynMember: no dynamic string or array of this object at the given address");
    }
    return 0;
  });
}

void ObjResizeArray(IkxDtb2Obj* self, uint32_t uiSize, KxArrayHeader* pHeader) {
  Locked([&] {
    KxObjState* pObj = StateOf<KxObjState>(self);
    KxStore* pStore = StoreOf(pObj);
    if (pStore == nullptr || pHeader != pObj->pFile->pLive->Container(pObj->uiMember)) return 0;
    KxSegmentLock lock(pStore->Segment());
    if (!pStore->ResizeArray(pHeader, uiSize))
      KxKernelLog("KERNEL", "ResizeArray: the array cannot grow");
    return 0;
  });
}

// Find without the kernel's locks, when no writer is busy on the map:
// lookups of many readers, and of one reader in a row, then overlap their
// memory accesses. Nothing when it could not tell.
std::optional<uint32_t> FindWithoutLocks(IkxDtb2Obj* self, uint64_t uiKey, const char* csKey,
                                         KxContainerHeader* pHeader, bool bTopLevel) {
  KxObjState* pObj = StateOf<KxObjState>(self);
  const KxStore* pStore = pObj->pOpenStore.load(std::memory_order_acquire);
  if (pStore == nullptr || pHeader == nullptr) return std::nullopt;
  if (bTopLevel ? static_cast<void*>(pHeader) != pObj->pOpenContainer.load(std::memory_order_acquire)
                : !pStore->IsMap(pHeader)) {
    return std::nullopt;
  }
  const KxEmbeddedMap* pSlot = reinterpret_cast<const KxEmbeddedMap*>(pHeader);
  return pStore->FindWithoutLock(pSlot, uiKey, KxStore::KeyText(pSlot, csKey));
}

// A map command under the kernel's and the segment's locks.
[[gnu::noinline]] uint32_t LockedMapCommand(IkxDtb2Obj* self, int32_t iCmd, uint64_t uiKey,
                                            const char* csKey, KxContainerHeader* pHeader,
                                            bool bTopLevel) {
  return Locked([&]() -> uint32_t {
    KxObjState* pObj = StateOf<KxObjState>(self);
    KxStore* pStore = StoreOf(pObj);
    if (pStore == nullptr || pHeader == nullptr) return 0;
    if (bTopLevel ? static_cast<void*>(pHeader) != pObj->pFile->pLive->Container(pObj->uiMember)
                  : !pStore->IsMap(pHeader)) {
      KxKernelLog("KERNEL", "map command " + std::to_string(iCmd) +
                                " for a header that is no map of this object");
      return 0;
    }
    KxEmbeddedMap* pSlot = reinterpret_cast<KxEmbeddedMap*>(pHeader);
    KxSegmentLock lock(pStore->Segment());
    if (iCmd == D2MapCmd::DispStat) {
      KxKernelLog("KERNEL", pStore->Statistics(pSlot));
      return pSlot->header.count;
    }
    return pStore->MapCommand(pSlot, iCmd, uiKey, csKey);
  });
}

// A map command on the object's top-level map (bTopLevel) or on a map
// embedded somewhere in its storage.
uint32_t MapCommand(IkxDtb2Obj* self, int32_t iCmd, uint64_t uiKey, const char* csKey,
                    KxContainerHeader* pHeader, bool bTopLevel) {
  if (iCmd == D2MapCmd::Find || iCmd == D2MapCmd::FindNotProt) {
    if (const auto found = FindWithoutLocks(self, uiKey, csKey, pHeader, bTopLevel)) return *found;
  }
  return LockedMapCommand(self, iCmd, uiKey, csKey, pHeader, bTopLevel);
}

uint32_t ObjEmbeddedMapCmd(IkxDtb2Obj* self, int32_t iCmd, uint64_t uiKey, const char* csKey,
                           KxContainerHeader* pHeader) {
  return MapCommand(self, iCmd, uiKey, csKey, pHeader, false);
}

uint32_t ObjMapCmd(IkxDtb2Obj* self, int32_t iCmd, uint64_t uiKey, const char* csKey,
                   KxContainerHeader* pHeader) {
  return MapCommand(self, iCmd, uiKey, csKey, pHeader, true);
}

void GetKey(IkxDtb2Obj* self, uint32_t uiHandle, uint64_t* pKey, KxStringOut* pStrKey,
            KxContainerHeader* pHeader) {
  uint64_t uiKey = 0;
  std::string csKey;
  Locked([&] {
    KxStore* pStore = StoreOf(StateOf<KxObjState>(self));
    if (pStore != nullptr && pStore->IsMap(pHeader)) {
      KxSegmentLock lock(pStore->Segment());
      pStore->GetKey(reinterpret_cast<KxEmbeddedMap*>(pHeader), uiHandle, uiKey, csKey);
    }
    return 0;
  });
  if (pKey != nullptr) *pKey = uiKey;
  Assign(pStrKey, csKey);
}

void ObjGetKey(IkxDtb2Obj* self, uint32_t uiHandle, uint64_t* pKey, KxStringOut* pStrKey, bool,
               KxContainerHeader* pHeader) {
  GetKey(self, uiHandle, pKey, pStrKey, pHeader);
}

void ObjClear(IkxDtb2Obj* self, uint32_t /*uiFlags*/, const Sd2UpdateCmd* /*pCmd*/,
              KxUpdateRecord* pRecord) {
  Locked([&] {
    KxObjState* pObj = StateOf<KxObjState>(self);
    if (StoreOf(pObj) == nullptr) return 0;
    pObj->pFile->pLive->ClearMember(pObj->uiMember);
    if (pRecord != nullptr) PublishUpdate(pObj, *pRecord);
    return 0;
  });
}

void ObjResizeDynMemberNotProt(IkxDtb2Obj* self, uint32_t uiLength, void* pMember) {
  ObjResizeDynMember(self, uiLength, pMember);
}

void ObjResizeArrayNotProt(IkxDtb2Obj* self, uint32_t uiSize, KxArrayHeader* pHeader) {
  ObjResizeArray(self, uiSize, pHeader);
}

void ObjSaveAsXml(IkxDtb2Obj* self, const Sd2UpdateCmd*, KxUpdateRecord*, const char* csPath) {
  Locked([&] {
    KxObjState* pObj = StateOf<KxObjState>(self);
    if (StoreOf(pObj) == nullptr) return 0;
    std::string csWhy;
    if (!KxExportXml(*pObj->pFile->pLive, pObj->uiMember, ResolvePath(Text(csPath), ""), csWhy)) {
      KxKernelLog("KERNEL", "SaveAsXml " + Text(csPath) + " failed: " + csWhy);
    }
    return 0;
  });
}

const IkxDtb2ObjOps kObjOps = [] {
  IkxDtb2ObjOps ops{};
  ops.Release = ObjRelease;
  ops.Bind = ObjBind;
  ops.BindMember = ObjBindMember;
  ops.UpdateID = ObjUpdateID;
  ops.ResizeDynMember = ObjResizeDynMember;
  ops.ResizeArray = ObjResizeArray;
  ops.EmbeddedMapCmd = ObjEmbeddedMapCmd;
  ops.MapCmd = ObjMapCmd;
  ops.EmbeddedMapGetKey = ObjGetKey;
  ops.MapGetKey = ObjGetKey;
  ops.Clear = ObjClear;
  ops.EmbeddedMapGetKeyNotProt = ObjGetKey;
  ops.MapGetKeyNotProt = ObjGetKey;
  ops.ResizeDynMemberNotProt = ObjResizeDynMemberNotProt;
  ops.ResizeArrayNotProt = ObjResizeArrayNotProt;
  ops.SaveAsXml = ObjSaveAsXml;
  return ops;
}();

// ---------------------------------------------------------------------------
// Events of live files, on each live file's listener thread.

// The value of message `csName` (registering the name when it is new).
uint32_t MessageValue(const std::string& csName) {
  auto& names = Kernel().messageNames;
  auto it = std::find(names.begin(), names.end(), csName);
  if (it == names.end()) it = names.insert(names.end(), csName);
  return kMessageBase + static_cast<uint32_t>(it - names.begin());
}

// Calls `fn` on the callback object of every bound object that `match`
// picks, one at a time, with the kernel lock released: a callback may call
// the kernel again. An object released meanwhile is skipped.
void ForEachObject(const std::function<bool(const KxObjState&)>& match,
                   const std::function<void(CkxDtb2ObjCallback&)>& fn) {
  std::lock_guard<std::recursive_mutex> delivery(Kernel().deliveryMutex);
  std::vector<uint64_t> ids;
  Locked([&] {
    for (auto& [uiId, pObj] : Kernel().objects) {
      if (pObj->pObject != nullptr && match(*pObj)) ids.push_back(uiId);
    }
    return 0;
  });
  for (uint64_t uiId : ids) {
    CkxDtb2ObjCallback* pTarget = Locked([&]() -> CkxDtb2ObjCallback* {
      auto it = Kernel().objects.find(uiId);
      return it != Kernel().objects.end() ? it->second->pObject : nullptr;
    });
    if (pTarget != nullptr) fn(*pTarget);
  }
}

bool AttachedTo(const KxObjState& obj, const KxLiveFile* pLive) {
  return obj.pFile != nullptr && obj.pFile->pLive.get() == pLive;
}

// An update reaches the objects of this process attached to its member;
// a growth reaches every handler of "OrbKernelDynDataSecGrow", once for each
// file of this process open on the live file, with that file's id.
void DeliverEvent(const KxLiveFile* pLive, const KxEvent& event) {
  if (event.kind == KxEventKind::kUpdate) {
    ForEachObject(
        [&](const KxObjState& obj) {
          return AttachedTo(obj, pLive) && obj.uiMember == event.member;
        },
        [&](CkxDtb2ObjCallback& target) { target.OnUpdate(&event.record); });
    return;
  }
  std::vector<int32_t> fileIds;
  std::vector<CkxMessageInfo*> records;
  uint32_t uiMessage = 0;
  Locked([&] {
    std::set<KxFileState*> files;
    for (auto& [uiId, pObj] : Kernel().objects) {
      if (AttachedTo(*pObj, pLive)) files.insert(pObj->pFile);
    }
    for (KxFileState* pFile : files) {
      pFile->iGrowStatus = event.status;
      fileIds.push_back(pFile->iFileId);
    }
    for (auto& [csName, pRecord] : Kernel().messages) {
      if (csName == kGrowMessage) records.push_back(pRecord);
    }
    uiMessage = MessageValue(kGrowMessage);
    return 0;
  });
  std::lock_guard<std::recursive_mutex> delivery(Kernel().deliveryMutex);
  for (int32_t iFileId : fileIds) {
    for (CkxMessageInfo* pRecord : records) {
      const bool bRegistered = Locked([&] {
        auto& messages = Kernel().messages;
        return std::any_of(messages.begin(), messages.end(),
                           [&](const auto& entry) { return entry.second == pRecord; });
      });
      if (bRegistered) pRecord->Send(0, uiMessage, iFileId, event.status, false, 1, false);
    }
  }
}

// Events that were overwritten before this process read them: the members
// are told how many through OnNotify, and the log says so.
void DeliverMissed(const KxLiveFile* pLive, uint64_t uiMissed) {
  KxKernelLog("KERNEL", std::to_string(uiMissed) + " events of " + pLive->Path() +
                            " were overwritten before this process could deliver them");
  const KxNotifyInfo info{KxNotifyInfo::kUpdatesMissed, 0, uiMissed};
  ForEachObject([&](const KxObjState& obj) { return AttachedTo(obj, pLive); },
                [&](CkxDtb2ObjCallback& target) { target.OnNotify(&info); });
}

void StartListening(KxLiveFile& live) {
  if (live.Events().IsListening()) return;
  const KxLiveFile* pLive = &live;
  live.Events().Listen([pLive](const KxEvent& event) { DeliverEvent(pLive, event); },
                       [pLive](uint64_t uiMissed) { DeliverMissed(pLive, uiMissed); });
}

// ---------------------------------------------------------------------------
// Files.

const KxFileType* FindFileType(const std::string& csFamily, const std::string& csName) {
  const KxCatalogue& catalogue = Kernel().catalogue;
  for (uint32_t i = 0; i < catalogue.fileCount; ++i) {
    if (csFamily == catalogue.files[i].family && csName == catalogue.files[i].name)
      return &catalogue.files[i];
  }
  return nullptr;
}

// The absolute path a file is kept at: a relative path lies in the file set
// (a directory) when one is given, else in the working directory.
std::string ResolvePath(const std::string& csPath, const std::string& csFileSet) {
  std::string csFull = csPath;
  if (!csFull.empty() && csFull[0] != '/') {
    std::string csDir = csFileSet;
    if (csDir.empty() || csDir[0] != '/') {
      char aCwd[PATH_MAX];
      const std::string csCwd = getcwd(aCwd, sizeof aCwd) != nullptr ? aCwd : ".";
      csDir = csDir.empty() ? csCwd : csCwd + "/" + csDir;
    }
    csFull = csDir + "/" + csFull;
  }
  // The directory resolved, the name kept: the file need not exist yet.
  const size_t uiSlash = csFull.rfind('/');
  char aReal[PATH_MAX];
  const std::string csDir = uiSlash == 0 ? "/" : csFull.substr(0, uiSlash);
  if (realpath(csDir.c_str(), aReal) == nullptr) return csFull;
  return std::string(aReal) + (std::strcmp(aReal, "/") == 0 ? "" : "/") +
         csFull.substr(uiSlash + 1);
}

// Points every member at no storage (before the live file goes away).
void DetachMembers(KxFileState* pFile, KxDeferred& deferred) {
  for (auto& [pObj, uiClassId] : pFile->members) {
    if (pObj == nullptr) continue;
    pObj->pOpenStore.store(nullptr, std::memory_order_release);
    pObj->pOpenContainer.store(nullptr, std::memory_order_release);
    if (pObj->pObject == nullptr) continue;
    KxAttachInfo info{uiClassId, nullptr, &g_pNoStorage, &g_uiNoHandle};
    CkxDtb2ObjCallback* pTarget = pObj->pObject;
    deferred.push_back([pTarget, info] { pTarget->OnAttach(&info); });
  }
}

bool FileUnLoad(IkxDtb2File* self);

void FileRelease(IkxDtb2File* self) {
  FileUnLoad(self);
  Locked([&] {
    KxFileState* pFile = StateOf<KxFileState>(self);
    for (auto& [pObj, uiClassId] : pFile->members) {
      if (pObj != nullptr) pObj->pFile = nullptr;
    }
    delete pFile;
    return 0;
  });
}

void FileSetTemplateName(IkxDtb2File* self, const char* csName) {
  Locked([&] { return StateOf<KxFileState>(self)->csFamily = Text(csName), 0; });
}

void FileSetFileTemplateName(IkxDtb2File* self, const char* csName) {
  Locked([&] { return StateOf<KxFileState>(self)->csFileType = Text(csName), 0; });
}

// Index (dimension) objects: GetObjInd records in the dimension object the
// file it describes and the element count of each member (or of the member
// named); SetObjInd checks that the dimension object describes this file.
// Nothing else reads them.
void RecordIndexes(IkxDtb2File* self, uint64_t uiDimId, const std::string& csMember) {
  Locked([&] {
    KxFileState* pFile = StateOf<KxFileState>(self);
    auto it = Kernel().objects.find(uiDimId);
    if (it == Kernel().objects.end() || !pFile->pLive) return 0;
    KxObjState& dim = *it->second;
    dim.csIndexes = pFile->pLive->Path();
    const KxFileType& type = pFile->pLive->FileType();
    for (size_t i = 0; i < type.memberCount; ++i) {
      if (!csMember.empty() && csMember != type.members[i].name) continue;
      KxLiveFile& live = *pFile->pLive;
      KxSegmentLock lock(live.Segment(i));
      const void* pContainer = live.Container(i);
      uint32_t uiCount = 1;
      if (type.members[i].memberClass->kind == KxMemberKind::kMap) {
        uiCount = static_cast<const KxContainerHeader*>(pContainer)->count;
      } else if (type.members[i].memberClass->kind == KxMemberKind::kArray) {
        uiCount = static_cast<const KxArrayHeader*>(pContainer)->size;
      }
      dim.csIndexes += std::string(" ") + type.members[i].name + "=" + std::to_string(uiCount);
    }
    return 0;
  });
}

void FileGetObjInd(IkxDtb2File* self, uint64_t uiDimId) { RecordIndexes(self, uiDimId, ""); }

void FileGetObjIndByName(IkxDtb2File* self, uint64_t uiDimId, const char* csName) {
  RecordIndexes(self, uiDimId, Text(csName));
}

void FileSetObjInd(IkxDtb2File* self, uint64_t uiDimId) {
  Locked([&] {
    KxFileState* pFile = StateOf<KxFileState>(self);
    auto it = Kernel().objects.find(uiDimId);
    if (it == Kernel().objects.end() || !pFile->pLive) return 0;
    const std::string& csIndexes = it->second->csIndexes;
    if (csIndexes.compare(0, pFile->pLive->Path().size(), pFile->pLive->Path()) != 0) {
      KxKernelLog("KERNEL", "SetObjInd: the index object describes " +
                                (csIndexes.empty() ? std::string("no file") : csIndexes) +
                                ", not " + pFile->pLive->Path());
    }
    return 0;
  });
}

void FileRegisterMember(IkxDtb2File* self, uint64_t uiObjectId, uint32_t uiClassId) {
  Locked([&] {
    KxFileState* pFile = StateOf<KxFileState>(self);
    auto it = Kernel().objects.find(uiObjectId);
    KxObjState* pObj = it != Kernel().objects.end() ? it->second : nullptr;
    if (pObj != nullptr) {
      pObj->pFile = pFile;
      pObj->uiMember = pFile->members.size();
    }
    pFile->members.emplace_back(pObj, uiClassId);
    return 0;
  });
}

int32_t FileOpen(IkxDtb2File* self, const char* csPath, const char* /*csAlias1*/,
                 const char* /*csAlias2*/, const char* csMode, const char* csFileSet, bool bCreate,
                 uint64_t /*uiDimHandle*/, uint32_t /*uiDimDyn*/, uint32_t /*uiDimExp*/) {
  FileUnLoad(self);
  KxDeferred deferred;
  const int32_t iResult = Locked([&]() -> int32_t {
    KxFileState* pFile = StateOf<KxFileState>(self);
    const std::string csFull = ResolvePath(Text(csPath), Text(csFileSet));
    auto refuse = [&](int32_t iFailure, const std::string& csWhy) {
      KxKernelLog("KERNEL",
                  "open " + csFull + " refused (" + std::to_string(iFailure) + "): " + csWhy);
      return iFailure;
    };
    const KxFileType* pType = FindFileType(pFile->csFamily, pFile->csFileType);
    if (pType == nullptr)
      return refuse(KxOpenBadTemplate,
                    "unknown file type " + pFile->csFamily + "/" + pFile->csFileType);
    if (pFile->members.size() != pType->memberCount) {
      return refuse(KxOpenBadTemplate, std::to_string(pFile->members.size()) +
                                           " members registered, " + pType->name + " has " +
                                           std::to_string(pType->memberCount));
    }
    for (size_t i = 0; i < pType->memberCount; ++i) {
      if (pFile->members[i].second != pType->members[i].memberClass->classId) {
        return refuse(KxOpenBadTemplate, std::string("member ") + pType->members[i].name +
                                             " registered with class id " +
                                             std::to_string(pFile->members[i].second));
      }
    }
    if (Text(csPath).empty()) return refuse(KxOpenNotFound, "no path given");
    int32_t iFailure = 0;
    std::string csWhy;
    pFile->pLive = KxLiveFile::Open(csFull, *pType, Kernel().types, bCreate, iFailure, csWhy);
    if (!pFile->pLive) return refuse(iFailure, csWhy);
    pFile->iFileId = Kernel().nextFileId++;
    pFile->bReadOnly = csMode != nullptr && csMode[0] == 'r' && std::strchr(csMode, 'w') == nullptr;
    StartListening(*pFile->pLive);
    for (size_t i = 0; i < pFile->members.size(); ++i) {
      KxObjState* pObj = pFile->members[i].first;
      if (pObj == nullptr) continue;
      pObj->pOpenStore.store(&pFile->pLive->Store(i), std::memory_order_release);
      pObj->pOpenContainer.store(pFile->pLive->Container(i), std::memory_order_release);
      if (pObj->pObject == nullptr) continue;
      KxSegment& segment = pFile->pLive->Segment(i);
      KxAttachInfo info{pFile->members[i].second, pFile->pLive->Container(i), segment.BaseWord(),
                        &segment.Header().top};
      CkxDtb2ObjCallback* pTarget = pObj->pObject;
      deferred.push_back([pTarget, info] { pTarget->OnAttach(&info); });
    }
    return pFile->iFileId;
  });
  RunDeferred(deferred);
  return iResult;
}

bool FileIsOpen(IkxDtb2File* self) {
  return Locked([&] { return static_cast<bool>(StateOf<KxFileState>(self)->pLive); });
}

void FileClear(IkxDtb2File* self, uint32_t uiFlags) {
  Locked([&] {
    KxFileState* pFile = StateOf<KxFileState>(self);
    if (!pFile->pLive) return 0;
    pFile->pLive->Clear();
    PublishFileUpdate(*pFile->pLive, uiFlags);
    return 0;
  });
}

bool FileSelectFileDlg(IkxDtb2File*, const char*, const char*, const char*, KxStringOut*,
                       const char*, KxStringOut*, bool, bool) {
  KxKernelLog("KERNEL", "SelectFileDlg: this kernel has no user interface");
  return false;
}

bool FileSave(IkxDtb2File* self, int32_t iSaveOld, int16_t sDefPath, const char* csPath) {
  return Locked([&] {
    KxFileState* pFile = StateOf<KxFileState>(self);
    if (!pFile->pLive) return false;
    if (pFile->bReadOnly) {
      KxKernelLog("KERNEL", "save " + pFile->pLive->Path() + " refused: opened read-only");
      return false;
    }
    const std::string csTarget =
        sDefPath != 0 || Text(csPath).empty() ? std::string() : ResolvePath(csPath, "");
    std::string csWhy;
    if (!pFile->pLive->Save(csTarget, iSaveOld != 0, csWhy)) {
      KxKernelLog("KERNEL", "save " + (csTarget.empty() ? pFile->pLive->Path() : csTarget) +
                                " failed: " + csWhy);
      return false;
    }
    return true;
  });
}

bool FileGetFullPath(IkxDtb2File* self, KxStringOut* pPath) {
  std::string csPath;
  const bool bOpen = Locked([&] {
    KxFileState* pFile = StateOf<KxFileState>(self);
    if (pFile->pLive) csPath = pFile->pLive->Path();
    return static_cast<bool>(pFile->pLive);
  });
  if (bOpen) Assign(pPath, csPath);
  return bOpen;
}

bool FileUnLoad(IkxDtb2File* self) {
  KxDeferred deferred;
  std::shared_ptr<KxLiveFile> pLive;
  const bool bOpen = Locked([&] {
    KxFileState* pFile = StateOf<KxFileState>(self);
    if (!pFile->pLive) return false;
    DetachMembers(pFile, deferred);
    pLive = std::move(pFile->pLive);
    pFile->pLive.reset();
    return true;
  });
  RunDeferred(deferred);
  return bOpen;  // the live file goes with `pLive`, after the members let go of it
}

void FileUpdate(IkxDtb2File* self, uint32_t uiFlags) {
  Locked([&] {
    KxFileState* pFile = StateOf<KxFileState>(self);
    if (pFile->pLive) PublishFileUpdate(*pFile->pLive, uiFlags);
    return 0;
  });
}

int32_t FileGetDynGrowStatus(IkxDtb2File* self) {
  return Locked([&] { return StateOf<KxFileState>(self)->iGrowStatus; });
}

int32_t FileGetFileIdOfMessage(IkxDtb2File* self, int32_t, int64_t) {
  return Locked([&] { return StateOf<KxFileState>(self)->iFileId; });
}

// The file-wide locks block outside the kernel's lock, on a reference to
// the live file that keeps it open meanwhile.
std::shared_ptr<KxLiveFile> LiveOf(IkxDtb2File* self) {
  return Locked([&] { return StateOf<KxFileState>(self)->pLive; });
}

template <KxLiveFile::FileLock eLock, bool bTake>
void FileWideLock(IkxDtb2File* self) {
  if (std::shared_ptr<KxLiveFile> pLive = LiveOf(self)) {
    if (bTake) {
      pLive->LockFileWide(eLock);
    } else {
      pLive->UnlockFileWide(eLock);
    }
  }
}

bool FileSaveFileAsXml(IkxDtb2File* self, const char* csPath) {
  return Locked([&] {
    KxFileState* pFile = StateOf<KxFileState>(self);
    if (!pFile->pLive) return false;
    std::string csWhy;
    if (KxExportXml(*pFile->pLive, kKxWholeFile, ResolvePath(Text(csPath), ""), csWhy)) return true;
    KxKernelLog("KERNEL", "SaveFileAsXml " + Text(csPath) + " failed: " + csWhy);
    return false;
  });
}

bool FileUpdateFileFromXml(IkxDtb2File* self, const char* csPath) {
  return Locked([&] {
    KxFileState* pFile = StateOf<KxFileState>(self);
    if (!pFile->pLive) return false;
    std::string csWhy = "the file is open read-only";
    if (!pFile->bReadOnly && KxImportXml(*pFile->pLive, ResolvePath(Text(csPath), ""), csWhy)) {
      PublishFileUpdate(*pFile->pLive, 0);  // every member changed, in every process
      return true;
    }
    KxKernelLog("KERNEL", "UpdateFileFromXml " + Text(csPath) + " refused: " + csWhy);
    return false;
  });
}

const IkxDtb2FileOps kFileOps = [] {
  IkxDtb2FileOps ops{};
  ops.Release = FileRelease;
  ops.SetTemplateName = FileSetTemplateName;
  ops.SetFileTemplateName = FileSetFileTemplateName;
  ops.GetObjInd = FileGetObjInd;
  ops.SetObjInd = FileSetObjInd;
  ops.Open = FileOpen;
  ops.RegisterMember = FileRegisterMember;
  ops.IsOpen = FileIsOpen;
  ops.Clear = FileClear;
  ops.SelectFileDlg = FileSelectFileDlg;
  ops.Save = FileSave;
  ops.GetFullPath = FileGetFullPath;
  ops.UnLoad = FileUnLoad;
  ops.Update = FileUpdate;
  ops.GetDynGrowStatus = FileGetDynGrowStatus;
  ops.GetFileIdOfMessage = FileGetFileIdOfMessage;
  ops.GetNGELock = FileWideLock<KxLiveFile::FileLock::kNGE, true>;
  ops.ReleaseNGELock = FileWideLock<KxLiveFile::FileLock::kNGE, false>;
  ops.GetNGMLock = FileWideLock<KxLiveFile::FileLock::kNGM, true>;
  ops.ReleaseNGMLock = FileWideLock<KxLiveFile::FileLock::kNGM, false>;
  ops.GetObjIndByName = FileGetObjIndByName;
  ops.SaveFileAsXml = FileSaveFileAsXml;
  ops.UpdateFileFromXml = FileUpdateFileFromXml;
  return ops;
}();

// ---------------------------------------------------------------------------
// Task, connection, messages.

template <class Itf>
void DeleteItf(Itf* self) {
  delete self;
}

int64_t TaskOnlyGetTaskId(IkxTaskOnly* self) { return StateOf<KxTaskOnlyState>(self)->liTaskId; }
void TaskOnlyRegisterSink(IkxTaskOnly* self, CkxTaskCallback* pTask, int32_t) {
  StateOf<KxTaskOnlyState>(self)->pSink = pTask;
}
void TaskOnlyRelease(IkxTaskOnly* self) { delete StateOf<KxTaskOnlyState>(self); }

const IkxTaskOnlyOps kTaskOnlyOps = [] {
  IkxTaskOnlyOps ops{};
  ops.Release = TaskOnlyRelease;
  ops.GetTaskId = TaskOnlyGetTaskId;
  ops.RegisterCallbackSink = TaskOnlyRegisterSink;
  return ops;
}();

IkxTaskOnly* NewTaskOnly() {
  static std::atomic<int64_t> liNext{1};
  KxTaskOnlyState* pTask = new KxTaskOnlyState();
  pTask->ops = &kTaskOnlyOps;
  pTask->liTaskId = (static_cast<int64_t>(getpid()) << 20) | liNext.fetch_add(1);
  return pTask;
}

int32_t TaskCreateTaskOnly(IkxTask*, int32_t, IkxTaskOnly** ppItf, uint32_t* pVersion, int32_t*) {
  *ppItf = NewTaskOnly();
  return 0;
  (void)pVersion;  // granted as offered
}

void TaskTrace(IkxTask*, int32_t iCategory, const char* csFile, int32_t iLine,
               const char* csMessage, const char* cs1, const char* cs2, const char* cs3) {
  std::string csText = std::to_string(iCategory) + " " + Text(csFile) + ":" +
                       std::to_string(iLine) + " " + Text(csMessage);
  for (const char* cs : {cs1, cs2, cs3}) {
    if (cs != nullptr && cs[0] != '\0') csText += " " + std::string(cs);
  }
  KxKernelLog("TRACE", csText);
}

bool TaskIsKernelRunning(IkxTask*) { return true; }

// Decodes a log record: 32-bit index, then the text as a 16-bit length (or
// 65535 and a 32-bit length) and its bytes.
void TaskSendLog(IkxTask*, const OrbLogIndex* pHeader, const void* pData, uint32_t uiLength) {
  if (pHeader == nullptr || pData == nullptr || uiLength < 6) return;
  const uint8_t* p = static_cast<const uint8_t*>(pData);
  uint32_t uiIndex = 0;
  uint16_t usLength = 0;
  std::memcpy(&uiIndex, p, 4);
  std::memcpy(&usLength, p + 4, 2);
  size_t uiAt = 6;
  size_t uiText = usLength;
  if (usLength == 65535 && uiLength >= 10) {
    uint32_t uiLong = 0;
    std::memcpy(&uiLong, p + 6, 4);
    uiText = uiLong;
    uiAt = 10;
  }
  uiText = std::min<size_t>(uiText, uiLength - uiAt);
  KxKernelLog("LOG", std::to_string(pHeader->eventType) + "/" + std::to_string(uiIndex) + " " +
                         std::string(reinterpret_cast<const char*>(p + uiAt), uiText));
}

const IkxTaskOps kTaskOps = [] {
  IkxTaskOps ops{};
  ops.CreateTaskOnly = TaskCreateTaskOnly;
  ops.Release = DeleteItf<IkxTask>;
  ops.Trace = TaskTrace;
  ops.IsKernelRunning = TaskIsKernelRunning;
  ops.SendLog = TaskSendLog;
  return ops;
}();

uint32_t ConnectionGetObjTlsIndex(IkxDtb2Connection*) { return 0; }
void ConnectionReleaseRefObject(IkxDtb2Connection*, void*) {}

const IkxDtb2ConnectionOps kConnectionOps = [] {
  IkxDtb2ConnectionOps ops{};
  ops.Release = DeleteItf<IkxDtb2Connection>;
  ops.GetObjTlsIndex = ConnectionGetObjTlsIndex;
  ops.ReleaseRefObject = ConnectionReleaseRefObject;
  return ops;
}();

int32_t MessRegister(IkxD2MessMan*, const char* csName, CkxMessageInfo* pRecord) {
  return Locked([&] {
    Kernel().messages.emplace_back(Text(csName), pRecord);
    return static_cast<int32_t>(MessageValue(Text(csName)));
  });
}

// Delivers a message to the record that sent it, on this thread.
bool MessDispatch(IkxD2MessMan*, int64_t, const KxMessRequest* pRequest) {
  if (pRequest == nullptr || pRequest->pRecord == nullptr) return false;
  return pRequest->pRecord->Send(0, pRequest->message, pRequest->param, pRequest->param64,
                                 (pRequest->flags & KxMessRequest::kFlagFirst) != 0,
                                 pRequest->count,
                                 (pRequest->flags & KxMessRequest::kFlagSecond) != 0);
}

// A withdraw for task 0 forgets the record. It waits for a delivery in
// progress to end first: the library frees the record once this returns.
bool MessWithdraw(IkxD2MessMan*, int64_t liTarget, const KxMessRequest* pRequest) {
  if (liTarget != 0 || pRequest == nullptr)
    return true;  // nothing is queued: delivery is immediate
  std::lock_guard<std::recursive_mutex> delivery(Kernel().deliveryMutex);
  return Locked([&] {
    auto& messages = Kernel().messages;
    std::erase_if(messages, [&](const auto& entry) { return entry.second == pRequest->pRecord; });
    return true;
  });
}

const IkxD2MessManOps kMessManOps = [] {
  IkxD2MessManOps ops{};
  ops.Release = DeleteItf<IkxD2MessMan>;
  ops.Dispatch = MessDispatch;
  ops.Withdraw = MessWithdraw;
  ops.Register = MessRegister;
  return ops;
}();

const IkxDtbAccByStrOps kAccessOps = [] {
  IkxDtbAccByStrOps ops{};
  ops.Release = DeleteItf<IkxDtbAccByStr>;
  return ops;
}();

template <class Itf, class Ops>
void* NewItf(const Ops& ops) {
  Itf* p = new Itf();
  p->ops = &ops;
  return p;
}

void* NewInterface(const std::string& csComponent, const std::string& csInterface) {
  if (csComponent == KxNames::kBase) {
    if (csInterface == KxNames::kTask) return NewItf<IkxTask>(kTaskOps);
    if (csInterface == KxNames::kTaskOnly) return NewTaskOnly();
    if (csInterface == KxNames::kMessMan) return NewItf<IkxD2MessMan>(kMessManOps);
    if (csInterface == KxNames::kDtbAccByStr) return NewItf<IkxDtbAccByStr>(kAccessOps);
  }
  if (csComponent == KxNames::kDtb2) {
    if (csInterface == KxNames::kConnection) return NewItf<IkxDtb2Connection>(kConnectionOps);
    if (csInterface == KxNames::kFile) {
      KxFileState* pFile = new KxFileState();
      pFile->ops = &kFileOps;
      return pFile;
    }
    if (csInterface == KxNames::kObj) {
      KxObjState* pObj = new KxObjState();
      pObj->ops = &kObjOps;
      return pObj;
    }
  }
  return nullptr;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int CreateKxComponent(
    const char* csComponent, const char* csInterface, const int /*iKind*/, void** ppInterface,
    uint32_t& uiVersion, void* /*pExtra*/) {
  if (ppInterface == nullptr) return 1;
  *ppInterface = NewInterface(Text(csComponent), Text(csInterface));
  if (*ppInterface == nullptr) {
    uiVersion = 0;
    KxKernelLog("KERNEL",
                "no interface " + Text(csInterface) + " in component " + Text(csComponent));
    return 1;
  }
  return 0;  // every interface is granted at the version offered
}
