// A dynamic array registered with the kernel as a member of a file template
// (a top-level container). Header and owner are set when the kernel
// attaches storage to the owning member object.
#pragma once

#include <cstdint>

#include "NetInterface/CkxOrbNetInterface/KxArray.h"
#include "NetInterface/CkxOrbNetInterface/KxCurrentObject.h"

template <class T>
class CkxD2a1dObjDA : public KxArrayOperations<CkxD2a1dObjDA<T>> {
 public:
  // Element `uiIndex`, after making the owner the thread's current kernel
  // object. Throws CkxD2RangeException (1, size, index).
  T& operator[](uint32_t uiIndex) {
    KxSetCurrentObject(m_pOwner);
    return *reinterpret_cast<T*>(View().Element(uiIndex, sizeof(T)));
  }

  KxArrayHeader* m_pHeader = nullptr;
  CkxDtb2Obj* m_pOwner = nullptr;

  // The instance as the shared array code sees it.
  KxArrayView View() const { return KxArrayView(m_pHeader, m_pOwner, false); }
};
