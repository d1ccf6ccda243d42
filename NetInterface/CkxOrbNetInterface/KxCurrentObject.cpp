#include "NetInterface/CkxOrbNetInterface/KxCurrentObject.h"

#include <atomic>
#include <cstdint>

#include "NetInterface/OrbCategBaseClass/CkxNetCatDtb2.h"

namespace {

constexpr uint32_t kNoThreadSlot = 0xFFFFFFFF;

// The current object, the slot index and the start-up it was stored under.
struct KxCurrentSlot {
  uint32_t uiIndex = kNoThreadSlot;
  uint32_t uiStartUp = 0;
  CkxDtb2Obj* pObject = nullptr;
};

thread_local KxCurrentSlot tls_CurrentObject;

// Counts start-ups: a kernel may hand out the same index again, so the
// index alone cannot tell an earlier start-up's object.
std::atomic<uint32_t> g_uiStartUp{0};

}  // namespace

void KxSetCurrentObject(CkxDtb2Obj* pObject) {
  const uint32_t uiIndex = dwIObjTlsInd;
  if (uiIndex != kNoThreadSlot) {
    tls_CurrentObject = {uiIndex, g_uiStartUp.load(std::memory_order_relaxed), pObject};
  }
}

CkxDtb2Obj* KxCurrentObject() {
  const uint32_t uiIndex = dwIObjTlsInd;
  const KxCurrentSlot& slot = tls_CurrentObject;
  const bool bThisStartUp = slot.uiStartUp == g_uiStartUp.load(std::memory_order_relaxed);
  return uiIndex != kNoThreadSlot && slot.uiIndex == uiIndex && bThisStartUp ? slot.pObject
                                                                            : nullptr;
}

void KxForgetCurrentObjects() { g_uiStartUp.fetch_add(1, std::memory_order_relaxed); }
