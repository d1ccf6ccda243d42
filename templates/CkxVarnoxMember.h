// The member objects of the file templates: one kernel object holding one
// top-level container (a keyed map, a dynamic array or a single object).
// The generated member classes CkxVarnoxFT_<FILE><Member> derive from
// CkxVarnoxMember<Container> and add only their class id.
#pragma once

#include <cstdint>

#include "NetInterface/CkxOrbNetInterface/CkxD2MapObjA.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2PntA.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2a1dObjDA.h"
#include "NetInterface/CkxOrbNetInterface/CkxDtb2Obj.h"
#include "templates/CkxVarnoxFile.h"

template <class Container>
class CkxVarnoxMember : public CkxDtb2Obj {
 public:
  using ContainerType = Container;

  // The kernel attached storage: take the storage base and last-valid-handle
  // words, point the container at its header (or object) and make this
  // object the container's owner.
  void OnAttach(const KxAttachInfo* pInfo) override {
    if (pInfo == nullptr) return;
    m_ppStorageBase = pInfo->ppStorageBase;
    m_pLastValidHandle = pInfo->pLastValidHandle;
    Attach(m_Container, pInfo->pContainerHeader);
    m_Container.m_pOwner = this;
  }

  // An element changed: tell the owning file.
  void OnUpdate(const KxUpdateRecord* pInfo) override {
    if (pInfo != nullptr && m_pFile != nullptr) m_pFile->NotifyUpdate(*pInfo);
  }
  // Updates of the file were overwritten before this process read them:
  // tell the owning file that this member may have changed in any way.
  void OnNotify(const void* pInfo) override {
    const auto* pNotify = static_cast<const KxNotifyInfo*>(pInfo);
    if (pNotify != nullptr && pNotify->kind == KxNotifyInfo::kUpdatesMissed && m_pFile != nullptr)
      m_pFile->NotifyUpdatesLost(m_uiNumber);
  }

  Container m_Container;
  // The file template that owns this member, and the member's number in it
  // (its object number in the kernel's updates); set when it registers it.
  CkxVarnoxFile* m_pFile = nullptr;
  uint32_t m_uiNumber = 0;

 private:
  template <class T>
  static void Attach(CkxD2MapObjA<T>& map, void* pHeader) {
    map.m_pHeader = static_cast<KxContainerHeader*>(pHeader);
  }
  template <class T>
  static void Attach(CkxD2a1dObjDA<T>& array, void* pHeader) {
    array.m_pHeader = static_cast<KxArrayHeader*>(pHeader);
  }
  template <class T>
  static void Attach(CkxD2PntA<T>& single, void* pObject) {
    single.m_pObject = static_cast<T*>(pObject);
  }
};
