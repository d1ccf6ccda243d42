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
class alignas(8) CkxD2MapA : public KxMapOperations<CkxD2MapA<T>> {
 public:
  // The record of node `uiHandle`. Throws CkxD2LstNodeException.
  T& operator[](uint32_t uiHandle) {
    return *reinterpret_cast<T*>(View().Record(uiHandle, sizeof(T)));
  }

  // The element under the key (a number, or a text when `csKey` is set) as
  // one of a batch of additions (KxAddToMaps).
  KxMapAddition Addition(uint64_t uiKey, const char* csKey = nullptr) {
    return {&m_Slot.header, uiKey, csKey};
  }

  KxEmbeddedMap m_Slot;

  // The instance as the shared map code sees it.
  KxMapView View() { return KxMapView(&m_Slot.header, KxCurrentObject(), true); }
};

static_assert(sizeof(CkxD2MapA<int>) == 88 && alignof(CkxD2MapA<int>) == 8);
