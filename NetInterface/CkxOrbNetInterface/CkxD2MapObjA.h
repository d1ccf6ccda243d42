// A keyed map registered with the kernel as a member of a file template
// (a top-level container). Its header and its owner are set when the
// kernel attaches storage to the owning member object.
#pragma once

#include <cstdint>
#include <string>

#include "NetInterface/CkxOrbNetInterface/KxCurrentObject.h"
#include "NetInterface/CkxOrbNetInterface/KxMap.h"

template <class T>
class CkxD2MapObjA {
 public:
  // The record of node `uiHandle`. Makes the owner the thread's current
  // kernel object first, so that the record's dynamic fields and embedded
  // containers find their storage. Throws CkxD2LstNodeException.
  T& operator[](uint32_t uiHandle) {
    KxSetCurrentObject(m_pOwner);
    return *reinterpret_cast<T*>(View().Record(uiHandle));
  }

  // A map command (D2MapCmd); Head, Next and AtIndex are answered here,
  // the others by the kernel. Answers a handle, a count or 0.
  uint32_t operator()(D2MapCmd::Cmd eCmd, uint64_t uiKey, const char* csKey) {
    return View().Command(eCmd, uiKey, csKey);
  }

  uint32_t GetCount() { return View().GetCount(); }
  void GetKey(uint32_t uiHandle, uint64_t& uiKey, std::string& csKey, bool bFlag) {
    View().GetKey(uiHandle, uiKey, csKey, bFlag, true);
  }
  void GetKeyNotProt(uint32_t uiHandle, uint64_t& uiKey, std::string& csKey, bool bFlag) {
    View().GetKey(uiHandle, uiKey, csKey, bFlag, false);
  }
  bool IsAlive(uint32_t uiHandle) { return View().IsAlive(uiHandle); }
  // n > 0 sets, n = 0 clears, n < 0 queries; answers a KxNodeStateResult.
  int32_t SetDeleteCandidate(uint32_t uiHandle, int32_t iN) {
    return View().SetDeleteCandidate(uiHandle, iN);
  }
  int32_t SetAsModified(uint32_t uiHandle, int32_t iN) {
    return View().SetAsModified(uiHandle, iN);
  }

  void GetARLock() { View().Lock().GetARLock(); }
  void ReleaseARLock() { View().Lock().ReleaseARLock(); }
  void GetRWELock() { View().Lock().GetRWELock(); }
  void ReleaseRWELock() { View().Lock().ReleaseRWELock(); }
  bool GetARLockFromRWELock() { return View().GetARLockFromRWELock(); }
  void IncrementVersion() { View().IncrementVersion(); }
  uint32_t IsNewVersion(uint32_t uiKnownVersion) { return View().IsNewVersion(uiKnownVersion); }

  // Set by the owner's OnAttach; null until then.
  KxContainerHeader* m_pHeader = nullptr;
  CkxDtb2Obj* m_pOwner = nullptr;

 private:
  KxMapView View() const { return KxMapView(m_pHeader, m_pOwner, false); }
};
