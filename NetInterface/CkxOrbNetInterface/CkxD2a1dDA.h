// A dynamic array embedded in a record: the 24-byte array header itself.
// Its elements lie in the storage of the thread's current kernel object, so
// the record that holds it must have been reached through its top-level
// container on the same thread.
#pragma once

#include <cstdint>

#include "NetInterface/CkxOrbNetInterface/KxArray.h"
#include "NetInterface/CkxOrbNetInterface/KxCurrentObject.h"

template <class T>
class CkxD2a1dDA {
 public:
  // Element `uiIndex`; throws CkxD2RangeException (1, size, index).
  T& operator[](uint32_t uiIndex) {
    return *reinterpret_cast<T*>(View().Element(uiIndex, sizeof(T)));
  }

  uint32_t Size() { return View().Size(); }
  // Resizes through the current kernel object (slot 6; 24 without the
  // array's locks). Both write the diagnostic line first.
  void SetSize(uint32_t uiSize) { View().SetSize(uiSize, true); }
  void SetSizeNotProt(uint32_t uiSize) { View().SetSize(uiSize, false); }
  // Appends one element and answers its index; without a usable kernel the
  // array does not grow and the old size is answered.
  uint32_t Add() { return View().Add(); }

  void GetARLock() { View().Lock().GetARLock(); }
  void ReleaseARLock() { View().Lock().ReleaseARLock(); }
  void GetRWELock() { View().Lock().GetRWELock(); }
  void ReleaseRWELock() { View().Lock().ReleaseRWELock(); }
  bool GetARLockFromRWELock() { return View().GetARLockFromRWELock(); }

  KxArrayHeader m_Header;

 private:
  KxArrayView View() { return KxArrayView(&m_Header, KxCurrentObject(), true); }
};

static_assert(sizeof(CkxD2a1dDA<int>) == 24);
