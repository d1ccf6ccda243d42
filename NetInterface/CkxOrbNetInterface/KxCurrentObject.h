// The thread's current kernel object: the object whose storage the thread
// last entered through a top-level container. Embedded containers and
// dynamic fields find their storage base (and the kernel interface that
// resizes them) through it.
//
// The kernel hands out a thread-slot index at start-up; whatever its value,
// the library keeps the object in one thread-local slot of its own, tagged
// with the start-up, so an object stored under an earlier start-up does not
// count under a later one. Without an index (0xFFFFFFFF: the connection is
// too old) nothing is stored and the current object reads as null.
//
// Every element access sets or reads the current object, so these calls are
// inline: the slot and the start-up tag are defined here, in a namespace of
// their own that only these calls touch.
#pragma once

#include <atomic>
#include <cstdint>

class CkxDtb2Obj;

namespace KxCurrentObjectSlot {

// The current object and the tag of the start-up it was stored under.
struct Slot {
  uint64_t uiTag = 0;
  CkxDtb2Obj* pObject = nullptr;
};

inline thread_local Slot tls_Slot;

// The present start-up's tag: a number no earlier start-up had, or 0 when
// the kernel granted no thread slot (nothing is then current).
inline std::atomic<uint64_t> g_uiTag{0};

// Start-ups counted so far; only KxBeginCurrentObjects changes it.
inline std::atomic<uint64_t> g_uiStartUps{0};

}  // namespace KxCurrentObjectSlot

// Makes `pObject` the calling thread's current kernel object.
inline void KxSetCurrentObject(CkxDtb2Obj* pObject) {
  using namespace KxCurrentObjectSlot;
  const uint64_t uiTag = g_uiTag.load(std::memory_order_relaxed);
  if (uiTag != 0) tls_Slot = {uiTag, pObject};
}

// The calling thread's current kernel object, or null when none was set
// under the present start-up.
inline CkxDtb2Obj* KxCurrentObject() {
  using namespace KxCurrentObjectSlot;
  const uint64_t uiTag = g_uiTag.load(std::memory_order_relaxed);
  const Slot& slot = tls_Slot;
  return uiTag != 0 && slot.uiTag == uiTag ? slot.pObject : nullptr;
}

// Starts a new start-up's slot: objects made current before no longer
// count. `bThreadSlot` is whether the kernel handed out a thread-slot index;
// without one nothing is current until the next start-up. Called by
// KxInitCatAssembly.
inline void KxBeginCurrentObjects(bool bThreadSlot) {
  using namespace KxCurrentObjectSlot;
  const uint64_t uiStartUp = g_uiStartUps.fetch_add(1, std::memory_order_relaxed) + 1;
  g_uiTag.store(bThreadSlot ? uiStartUp : 0, std::memory_order_relaxed);
}
