// A kernel interface held by a native object, with the version it was
// granted.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

#include "contracts/kernel/KxComponent.h"

// Requests an interface through the process-wide entry pointer (see
// CkxNetCatDtb2.h). Declared here so that every holder of an interface can
// ask for one without depending on the start-up unit's other globals.
int KxRequestInterface(const char* csComponent, const char* csInterface, int iKind, void** ppItf,
                       uint32_t& uiVersion, void* pExtra);

// One kernel interface and its granted version.
//
// Invariant: `p` is null exactly when `version` is 0 (the kernel refused, or
// the interface was released). Operations are called through Call, which
// applies the minimum version the contract pins to each slot (KX_SLOT).
template <class Itf>
struct KxItf {
  // The operation table of the interface.
  using Ops = std::remove_cvref_t<decltype(*std::declval<Itf>().ops)>;
  Itf* p = nullptr;
  uint32_t version = 0;

  // Asks the kernel for the interface, offering version `uiOffered` (by
  // default the version the contract describes).
  void Request(const char* csComponent, const char* csInterface, int iKind,
               uint32_t uiOffered = Ops::kVersion, void* pExtra = nullptr) {
    void* pItf = nullptr;
    version = uiOffered;
    KxRequestInterface(csComponent, csInterface, iKind, &pItf, version, pExtra);
    p = static_cast<Itf*>(pItf);
    if (p == nullptr || version == 0) {
      p = nullptr;
      version = 0;
    }
  }

  // Whether the interface was granted at all.
  bool Has() const { return p != nullptr; }

  // Whether the granted version has operation `Op`.
  template <auto Op>
  bool Grants() const {
    static_assert(std::is_same_v<typename KxSlot<Op>::Interface, Itf>,
                  "the operation belongs to another interface");
    // The minimum is at least 1, so a refused interface (version 0) never
    // passes and `p` needs no test of its own.
    return version >= KxSlot<Op>::minimum;
  }

  // Calls operation `Op` (`&Ops::Name`) with `args` when the granted version
  // has it, and answers its result; below its minimum, answers `fallback`
  // without calling. Costs one compare and one indirect call.
  // clang-format off
  template <auto Op, class... Args>
    requires(!std::is_void_v<typename KxSlot<Op>::Result>)
  typename KxSlot<Op>::Result Call(typename KxSlot<Op>::Result fallback, Args&&... args) const {
    // clang-format on
    if (!Grants<Op>()) return fallback;
    return (p->ops->*Op)(p, std::forward<Args>(args)...);
  }

  // The same for an operation without a result: below its minimum nothing
  // is done. Answers whether it was called.
  // clang-format off
  template <auto Op, class... Args>
    requires std::is_void_v<typename KxSlot<Op>::Result>
  bool Call(Args&&... args) const {
    // clang-format on
    if (!Grants<Op>()) return false;
    (p->ops->*Op)(p, std::forward<Args>(args)...);
    return true;
  }

  // Releases the interface (slot 2) and clears pointer and version.
  void Release() {
    if (p != nullptr) p->ops->Release(p);
    p = nullptr;
    version = 0;
  }
};
