// What both dynamic-array templates share: element addressing with the
// range check, resizing through the kernel, the diagnostic line and the
// locks on the header's lock word (arrays carry no instance signature and
// are never treated as destroyed).
#pragma once

#include <cstddef>
#include <cstdint>

#include "NetInterface/CkxOrbNetInterface/CkxDtb2Obj.h"
#include "NetInterface/CkxOrbNetInterface/CkxOrbUnmanException.h"
#include "NetInterface/CkxOrbNetInterface/KxLock.h"
#include "contracts/kernel/KxStorage.h"

// The texts of one array template: diagnostic labels and lock traces.
struct KxArrayTexts {
  const char* csSetSize;
  const char* csSetSizeNotProt;
  const char* csAdd;
  KxLockTexts lock;
};

extern const KxArrayTexts kKxEmbeddedArrayTexts;  // CkxD2a1dDA
extern const KxArrayTexts kKxTopLevelArrayTexts;  // CkxD2a1dObjDA

class KxArrayView {
 public:
  // `pOwner` gives the storage base and the kernel interface; for embedded
  // arrays it is the thread's current kernel object.
  KxArrayView(KxArrayHeader* pHeader, CkxDtb2Obj* pOwner, bool bEmbedded)
      : m_pHeader(pHeader), m_pOwner(pOwner), m_bEmbedded(bEmbedded) {}

  uint32_t Size() const;
  // Element `uiIndex` of `uiElementBytes` bytes. Throws CkxD2RangeException
  // (dimension 1, size, index) when the index is not below the size.
  uint8_t* Element(uint32_t uiIndex, size_t uiElementBytes) const;
  // Writes the diagnostic line, then asks the kernel for `uiSize` elements
  // unless the array already has them.
  void SetSize(uint32_t uiSize, bool bProtected) const;
  // Appends one element; answers its index.
  uint32_t Add() const;

  KxLock Lock() const;
  // Releases the shared unit, takes the exclusive lock and tells whether the
  // size changed in between.
  bool GetARLockFromRWELock() const;

 private:
  const KxArrayTexts& Texts() const {
    return m_bEmbedded ? kKxEmbeddedArrayTexts : kKxTopLevelArrayTexts;
  }
  void WriteDiagnostic(const char* csLabel) const;

  KxArrayHeader* m_pHeader;
  CkxDtb2Obj* m_pOwner;
  bool m_bEmbedded;
};

// Resizes the uiCount dynamic members (strings, embedded arrays) of
// pResizes in the records of the thread's current kernel object, with one
// kernel call where the kernel has the batch (version 13 of the object
// interface) and one call each before; no diagnostic line is written. A
// member the kernel could not resize keeps its length, and so may those
// after it: the caller checks the lengths it needs.
void KxResizeMembers(const KxMemberResize* pResizes, uint32_t uiCount);

// The operations both dynamic-array templates offer besides element access,
// each a forward to the view of the instance that `Derived::View()` gives.
template <class Derived>
class KxArrayOperations {
 public:
  uint32_t Size() { return View().Size(); }
  // Resizes through the kernel: an embedded array through the current
  // kernel object (slot 6; 24 without the array's locks), a top-level one
  // through its owner (slot 7; 25). Both write the diagnostic line first.
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

 private:
  KxArrayView View() { return static_cast<Derived*>(this)->View(); }
};
