// A kernel interface held by a native object, with the version it was
// granted.
#pragma once

#include <cstdint>

#include "contracts/kernel/KxComponent.h"

// Requests an interface through the process-wide entry pointer (see
// CkxNetCatDtb2.h). Declared here so that every holder of an interface can
// ask for one without depending on the start-up unit's other globals.
int KxRequestInterface(const char* csComponent, const char* csInterface, int iKind, void** ppItf,
                       uint32_t& uiVersion, void* pExtra);

// One kernel interface and its granted version.
//
// Invariant: `p` is null exactly when `version` is 0 (the kernel refused, or
// the interface was released). An operation that appeared in version v may be
// called only when Has(v).
template <class Itf>
struct KxItf {
  Itf* p = nullptr;
  uint32_t version = 0;

  // Asks the kernel for the interface, offering version `uiOffered`.
  void Request(const char* csComponent, const char* csInterface, int iKind, uint32_t uiOffered,
               void* pExtra = nullptr) {
    void* pItf = nullptr;
    version = uiOffered;
    KxRequestInterface(csComponent, csInterface, iKind, &pItf, version, pExtra);
    p = static_cast<Itf*>(pItf);
    if (p == nullptr || version == 0) {
      p = nullptr;
      version = 0;
    }
  }

  // Whether the interface exists and reaches version `uiMinimum`.
  bool Has(uint32_t uiMinimum = 1) const { return p != nullptr && version >= uiMinimum; }

  // The operation table; call only after Has().
  const auto& ops() const { return *p->ops; }

  // Releases the interface (slot 2) and clears pointer and version.
  void Release() {
    if (p != nullptr) p->ops->Release(p);
    p = nullptr;
    version = 0;
  }
};
