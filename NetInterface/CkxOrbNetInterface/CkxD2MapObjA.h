// A keyed map registered with the kernel as a member of a file template
// (a top-level container). Its header and its owner are set when the
// kernel attaches storage to the owning member object.
#pragma once

#include <cstdint>
#include <string>

#include "NetInterface/CkxOrbNetInterface/KxCurrentObject.h"
#include "NetInterface/CkxOrbNetInterface/KxMap.h"

template <class T>
class CkxD2MapObjA : public KxMapOperations<CkxD2MapObjA<T>> {
 public:
  // The record of node `uiHandle`. Makes the owner the thread's current
  // kernel object first, so that the record's dynamic fields and embedded
  // containers find their storage. Throws CkxD2LstNodeException.
  T& operator[](uint32_t uiHandle) {
    KxSetCurrentObject(m_pOwner);
    return *reinterpret_cast<T*>(View().Record(uiHandle, sizeof(T)));
  }

  // Set by the owner's OnAttach; null until then.
  KxContainerHeader* m_pHeader = nullptr;
  CkxDtb2Obj* m_pOwner = nullptr;

  // The instance as the shared map code sees it.
  KxMapView View() const { return KxMapView(m_pHeader, m_pOwner, false); }
};
