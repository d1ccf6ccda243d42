#include "NetInterface/CkxOrbNetInterface/KxCurrentObject.h"

#include <cstdint>

#include "NetInterface/OrbCategBaseClass/CkxNetCatDtb2.h"

namespace {

constexpr uint32_t kNoThreadSlot = 0xFFFFFFFF;

// The current object and the slot index it was stored under.
struct KxCurrentSlot {
  uint32_t uiIndex = kNoThreadSlot;
  CkxDtb2Obj* pObject = nullptr;
};

thread_local KxCurrentSlot tls_CurrentObject;

}  // namespace

void KxSetCurrentObject(CkxDtb2Obj* pObject) {
  const uint32_t uiIndex = dwIObjTlsInd;
  if (uiIndex != kNoThreadSlot) tls_CurrentObject = {uiIndex, pObject};
}

CkxDtb2Obj* KxCurrentObject() {
  const uint32_t uiIndex = dwIObjTlsInd;
  const KxCurrentSlot& slot = tls_CurrentObject;
  return uiIndex != kNoThreadSlot && slot.uiIndex == uiIndex ? slot.pObject : nullptr;
}
