// A keyed map embedded in a record: an 88-byte slot holding the map's
// header and 64 bytes of the kernel's. It finds its storage through the
// thread's current kernel object, so the record that holds it must have
// been reached through its top-level container on the same thread.
#pragma once

#include <cstdint>
#include <string>

#include "NetInterface/CkxOrbNetInterface/KxCurrentObject.h"
#include "NetInterface/CkxOrbNetInterface/KxMap.h"

template <class T>
class alignas(8) CkxD2MapA {
 public:
  // The record of node `uiHandle`. Throws CkxD2LstNodeException.
  T& operator[](uint32_t uiHandle) { return *reinterpret_cast<T*>(View().Record(uiHandle)); }

  // A map command (D2MapCmd); Head, Next and the key-case switches are
  // answered here, the others (AtIndex included) by the kernel.
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

  KxEmbeddedMap m_Slot;

 private:
  KxMapView View() { return KxMapView(&m_Slot.header, KxCurrentObject(), true); }
};

static_assert(sizeof(CkxD2MapA<int>) == 88 && alignof(CkxD2MapA<int>) == 8);
