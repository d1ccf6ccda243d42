// The thread's current kernel object: the object whose storage the thread
// last entered through a top-level container. Embedded containers and
// dynamic fields find their storage base (and the kernel interface that
// resizes them) through it.
//
// The kernel hands out the slot index at start-up (dwIObjTlsInd); the slots
// themselves are a thread_local table of the library, so that setting the
// current object on every element access is a plain store. Without an index
// (0xFFFFFFFF: the connection is too old) nothing is stored and the current
// object reads as null.
#pragma once

#include <cstdint>

#include "NetInterface/OrbCategBaseClass/CkxNetCatDtb2.h"

class CkxDtb2Obj;

constexpr uint32_t kKxThreadSlotCount = 64;

inline thread_local CkxDtb2Obj* tls_apKxCurrentObject[kKxThreadSlotCount] = {};

inline void KxSetCurrentObject(CkxDtb2Obj* pObject) {
  const uint32_t uiSlot = dwIObjTlsInd;
  if (uiSlot < kKxThreadSlotCount) tls_apKxCurrentObject[uiSlot] = pObject;
}

inline CkxDtb2Obj* KxCurrentObject() {
  const uint32_t uiSlot = dwIObjTlsInd;
  return uiSlot < kKxThreadSlotCount ? tls_apKxCurrentObject[uiSlot] : nullptr;
}
