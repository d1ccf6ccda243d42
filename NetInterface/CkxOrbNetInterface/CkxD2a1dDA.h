// A dynamic array embedded in a record: the 24-byte array header itself.
// Its elements lie in the storage of the thread's current kernel object, so
// the record that holds it must have been reached through its top-level
// container on the same thread.
#pragma once

#include <cstdint>

#include "NetInterface/CkxOrbNetInterface/KxArray.h"
#include "NetInterface/CkxOrbNetInterface/KxCurrentObject.h"

template <class T>
class CkxD2a1dDA : public KxArrayOperations<CkxD2a1dDA<T>> {
 public:
  // Element `uiIndex`; throws CkxD2RangeException (1, size, index).
  T& operator[](uint32_t uiIndex) {
    return *reinterpret_cast<T*>(View().Element(uiIndex, sizeof(T)));
  }

  // The array sized to uiSize elements, as one of a batch of resizes
  // (KxResizeMembers).
  KxMemberResize Resize(uint32_t uiSize) { return {&m_Header, uiSize}; }

  KxArrayHeader m_Header;

  // The instance as the shared array code sees it.
  KxArrayView View() { return KxArrayView(&m_Header, KxCurrentObject(), true); }
};

static_assert(sizeof(CkxD2a1dDA<int>) == 24);
