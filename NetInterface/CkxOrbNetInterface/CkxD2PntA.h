// A single object registered with the kernel as a member of a file template
// (the pool configuration). Object and owner are set when the kernel
// attaches storage to the owning member object.
#pragma once

#include "NetInterface/CkxOrbNetInterface/CkxDtb2Obj.h"
#include "NetInterface/CkxOrbNetInterface/KxCurrentObject.h"

template <class T>
class CkxD2PntA {
 public:
  // The object, after making the owner the thread's current kernel object.
  // Null until the kernel attached it.
  T* operator->() {
    KxSetCurrentObject(m_pOwner);
    return m_pObject;
  }

  T* m_pObject = nullptr;
  CkxDtb2Obj* m_pOwner = nullptr;
};
