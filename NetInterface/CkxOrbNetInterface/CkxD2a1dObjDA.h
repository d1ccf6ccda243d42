// A dynamic array registered with the kernel as a member of a file template
// (a top-level container). Header and owner are set when the kernel
// attaches storage to the owning member object.
#pragma once

#include <cstdint>

#include "NetInterface/CkxOrbNetInterface/KxArray.h"
#include "NetInterface/CkxOrbNetInterface/KxCurrentObject.h"

template <class T>
class CkxD2a1dObjDA {
 public:
  // Element `uiIndex`, after making the owner the thread's current kernel
  // object. Throws CkxD2RangeException (1, size, index).
  T& operator[](uint32_t uiIndex) {
    KxSetCurrentObject(m_pOwner);
    return *reinterpret_cast<T*>(View().Element(uiIndex, sizeof(T)));
  }

  uint32_t Size() { return View().Size(); }
  // Resizes through the owner (slot 7; 25 without the array's locks).
  void SetSize(uint32_t uiSize) { View().SetSize(uiSize, true); }
  void SetSizeNotProt(uint32_t uiSize) { View().SetSize(uiSize, false); }
  uint32_t Add() { return View().Add(); }

  void GetARLock() { View().Lock().GetARLock(); }
  void ReleaseARLock() { View().Lock().ReleaseARLock(); }
  void GetRWELock() { View().Lock().GetRWELock(); }
  void ReleaseRWELock() { View().Lock().ReleaseRWELock(); }
  bool GetARLockFromRWELock() { return View().GetARLockFromRWELock(); }

  KxArrayHeader* m_pHeader = nullptr;
  CkxDtb2Obj* m_pOwner = nullptr;

 private:
  KxArrayView View() const { return KxArrayView(m_pHeader, m_pOwner, false); }
};
