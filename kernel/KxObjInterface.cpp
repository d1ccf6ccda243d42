// The object interface ("CkxDtb2Obj") of the reference kernel: binding
// the library's objects, the map commands on their storage, resizing
// dynamic strings and arrays, updates, clearing and XML export of a member.
#include <optional>
#include <string>

#include "kernel/KxComponents.h"
#include "kernel/KxKernelLog.h"
#include "kernel/KxXml.h"

namespace KxComponents {
namespace {

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
  if (bTopLevel
          ? static_cast<void*>(pHeader) != pObj->pOpenContainer.load(std::memory_order_acquire)
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

// Additions to maps embedded in the object's records under one taking of
// the kernel's and the segment's locks (IkxDtb2ObjOps::EmbeddedMapAddMany).
uint32_t ObjEmbeddedMapAddMany(IkxDtb2Obj* self, const KxMapAddition* pAdditions, uint32_t uiCount,
                               uint32_t* pHandles) {
  if (pAdditions == nullptr || pHandles == nullptr) return 0;
  return Locked([&]() -> uint32_t {
    KxStore* pStore = StoreOf(StateOf<KxObjState>(self));
    if (pStore == nullptr) return 0;
    KxSegmentLock lock(pStore->Segment());
    for (uint32_t i = 0; i < uiCount; ++i) {
      KxContainerHeader* pHeader = pAdditions[i].pHeader;
      if (pHeader == nullptr || !pStore->IsMap(pHeader)) {
        KxKernelLog("KERNEL", "map addition " + std::to_string(i) +
                                  " for a header that is no map of this object");
        return i;
      }
      KxEmbeddedMap* pSlot = reinterpret_cast<KxEmbeddedMap*>(pHeader);
      // The run of additions to this map: its table grows once for them all.
      if (i == 0 || pAdditions[i - 1].pHeader != pHeader) {
        uint32_t uiRun = 1;
        while (i + uiRun < uiCount && pAdditions[i + uiRun].pHeader == pHeader) ++uiRun;
        pStore->MakeRoom(pSlot, uiRun);
      }
      pHandles[i] =
          pStore->MapCommand(pSlot, D2MapCmd::Add, pAdditions[i].uiKey, pAdditions[i].csKey);
      if (pHandles[i] == 0) return i;
    }
    return uiCount;
  });
}

// Resizes of dynamic members in the object's records under one taking of
// the kernel's and the segment's locks (IkxDtb2ObjOps::ResizeDynMembers).
uint32_t ObjResizeDynMembers(IkxDtb2Obj* self, const KxMemberResize* pResizes, uint32_t uiCount) {
  if (pResizes == nullptr) return 0;
  return Locked([&]() -> uint32_t {
    KxStore* pStore = StoreOf(StateOf<KxObjState>(self));
    if (pStore == nullptr) return 0;
    KxSegmentLock lock(pStore->Segment());
    for (uint32_t i = 0; i < uiCount; ++i) {
      if (!pStore->ResizeMember(pResizes[i].pMember, pResizes[i].uiLength)) {
        KxKernelLog("KERNEL", "member resize " + std::to_string(i) +
                                  ": no dynamic string or array of this object at the given "
                                  "address, or no storage left");
        return i;
      }
    }
    return uiCount;
  });
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
  ops.Release = KX_GUARD(ObjRelease);
  ops.Bind = KX_GUARD(ObjBind);
  ops.BindMember = KX_GUARD(ObjBindMember);
  ops.UpdateID = KX_GUARD(ObjUpdateID);
  ops.ResizeDynMember = KX_GUARD(ObjResizeDynMember);
  ops.ResizeArray = KX_GUARD(ObjResizeArray);
  ops.EmbeddedMapCmd = KX_GUARD(ObjEmbeddedMapCmd);
  ops.MapCmd = KX_GUARD(ObjMapCmd);
  ops.EmbeddedMapGetKey = KX_GUARD(ObjGetKey);
  ops.MapGetKey = KX_GUARD(ObjGetKey);
  ops.Clear = KX_GUARD(ObjClear);
  ops.EmbeddedMapGetKeyNotProt = KX_GUARD(ObjGetKey);
  ops.MapGetKeyNotProt = KX_GUARD(ObjGetKey);
  ops.ResizeDynMemberNotProt = KX_GUARD(ObjResizeDynMemberNotProt);
  ops.ResizeArrayNotProt = KX_GUARD(ObjResizeArrayNotProt);
  ops.SaveAsXml = KX_GUARD(ObjSaveAsXml);
  ops.EmbeddedMapAddMany = KX_GUARD(ObjEmbeddedMapAddMany);
  ops.ResizeDynMembers = KX_GUARD(ObjResizeDynMembers);
  return ops;
}();

}  // namespace

IkxDtb2Obj* NewObjInterface() {
  KxObjState* pObj = new KxObjState();
  pObj->ops = &kObjOps;
  return pObj;
}

}  // namespace KxComponents
