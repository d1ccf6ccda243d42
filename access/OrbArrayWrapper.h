// The array wrappers: D2o<path> over a top-level record array
// (CkxD2a1dObjDA), D2i<path> over a record array inside a record
// (CkxD2a1dDA), and D2i<path> over a fixed array of 32-bit values inside a
// record (CkxAs1d). They reach the native array by walking their path on
// every call. The record arrays' own operations carry the fixed messages of
// the array interface ("IOrbArray<T>.GetLength ():\r\n"), their indexer and
// locks the class name ("...[]:\r\n", "....GetARLock:\r\n").
//
// An enumeration covers the whole array or the range set with
// ForeachRange; the range lives on the wrapper object (OrbEnumerators.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

#include "access/OrbContainerWrapper.h"
#include "access/OrbEnumerators.h"
#include "access/OrbGuard.h"
#include "access/OrbIndexsList.h"
#include "access/OrbPathWalk.h"
#include "access/OrbUpdatable.h"
#include "contracts/framework/OrbFileM.h"

namespace Tarvex::Orb::DataDirectAcces {

// What every array wrapper keeps for its enumerators.
struct OrbArrayPositions {
  int32_t m_iPosIEnum = 0;       // index the enumerators reached last
  int32_t m_iForeachStart = -1;  // enumeration range; -1: none
  int32_t m_iForeachEnd = -1;    // last index of the range; -1: the array's last
};

// The record-array operations of `Self` (an OrbIndexsHandle with m_pObj and
// KeepAlive()) over path `Path`, element proxies `Proxy`; `Base` is
// IOrbArray or the updatable IOrbObjArray.
template <class Self, class Path, class Proxy, class Base>
class OrbArrayOps : public Base, public OrbArrayPositions {
 public:
  using Element = typename Base::Element;

  template <class... A>
  explicit OrbArrayOps(A&&... args) : Base(std::forward<A>(args)...) {}

  // The element at `uiIndex`; no native call, the index is checked when the
  // proxy is used. Slot 4 of the level is left as it is.
  Element Item(uint32_t uiIndex) override {
    return ItemAllocated(uiIndex, std::allocator<Proxy>());
  }
  // Item(uiIndex), the proxy's memory taken from `alloc` (a view-model tree's).
  template <class Alloc>
  Element ItemAllocated(uint32_t uiIndex, const Alloc& alloc) {
    return OrbGuarded(Self::kClassName, u"[]", [&] {
      Self& self = AsSelf();
      self.m_iI1 = uiIndex;
      return std::allocate_shared<Proxy>(alloc, self.m_pObj, self.KeepAlive(), &self);
    });
  }
  // Item(uiIndex) for an enumerator, which keeps the proxy it handed out
  // last in `pKept` (OrbProxyOf).
  using EnumKept = std::shared_ptr<Proxy>;
  const EnumKept& EnumItem(EnumKept& pKept, uint32_t uiIndex) {
    return OrbGuarded(Self::kClassName, u"[]", [&]() -> const EnumKept& {
      AsSelf().m_iI1 = uiIndex;
      return OrbProxyOf(AsSelf(), pKept);
    });
  }

  uint32_t GetLength(int32_t /*iDimension*/) override {
    return OrbGuarded(u"IOrbArray<T>.GetLength ()", u"", [&] { return Array().Size(); });
  }
  void SetLength(uint32_t uiNewLength) override {
    OrbGuarded(u"IOrbArray<T>.SetLength (NewLength)", u"", [&] { Array().SetSize(uiNewLength); });
  }
  void SetLengthNotProtected(uint32_t uiNewLength) override {
    OrbGuarded(u"IOrbArray<T>.SetLengthNotProtected (NewLength)", u"",
               [&] { Array().SetSizeNotProt(uiNewLength); });
  }
  uint32_t Add() override {
    return OrbGuarded(u"IOrbArray<T>.Add ()", u"", [&] { return Array().Add(); });
  }
  void ForeachRange(int32_t iStart, int32_t iEnd) override {
    m_iForeachStart = iStart;
    m_iForeachEnd = iEnd;
  }

  void GetARLock() override { Guarded(u".GetARLock", [&] { Array().GetARLock(); }); }
  void GetARLockFromRWELock() override {
    Guarded(u".GetARLockFromRWELock", [&] { Array().GetARLockFromRWELock(); });
  }
  void ReleaseARLock() override { Guarded(u".ReleaseARLock", [&] { Array().ReleaseARLock(); }); }
  void GetRWELock() override { Guarded(u".GetRWELock", [&] { Array().GetRWELock(); }); }
  void ReleaseRWELock() override {
    Guarded(u".ReleaseRWELock", [&] { Array().ReleaseRWELock(); });
  }

  uint32_t IEnumCurrentPos() const override { return static_cast<uint32_t>(m_iPosIEnum); }
  std::shared_ptr<IOrbEnumerator<Element>> GetEnumerator() override {
    return std::make_shared<OrbArrayEnumerator<Self, Element>>(AsSelf().shared_from_this());
  }
  // Range-for over this wrapper, its elements as the concrete proxies
  // (OrbWalkIterator).
  auto begin() {
    return OrbWalkIterator(OrbArrayEnumerator<Self, Element>(AsSelf().shared_from_this()));
  }
  std::default_sentinel_t end() { return std::default_sentinel; }

 private:
  Self& AsSelf() { return static_cast<Self&>(*this); }

  template <class Body>
  decltype(auto) Guarded(OrbOpName csOperation, Body&& body) {
    return OrbGuarded(Self::kClassName, csOperation, std::forward<Body>(body));
  }

  // The native array, reached by walking the enclosing levels.
  auto& Array() {
    Self& self = AsSelf();
    OrbRefuseReleased(self);
    return Path::Container(*self.m_pObj, self);
  }
};

// A top-level record array, member of a file.
template <class Self, class Path, class Proxy, class Interface>
class D2oArray : public OrbTopWrapper<Self, Path>,
                 public OrbArrayOps<Self, Path, Proxy, OrbUpdatableImpl<IOrbObjArray<Interface>>> {
 public:
  D2oArray(typename Path::Member* pObj, const std::shared_ptr<OrbFileM>& pFileM)
      : OrbTopWrapper<Self, Path>(pObj, pFileM),
        OrbArrayOps<Self, Path, Proxy, OrbUpdatableImpl<IOrbObjArray<Interface>>>(pObj,
                                                                                  pFileM.get()) {}
};

// A record array inside a record.
template <class Self, class Path, class Proxy, class Interface>
class D2iArray : public OrbNestedWrapper<Self, Path>,
                 public OrbArrayOps<Self, Path, Proxy, IOrbArray<Interface>> {
 public:
  using OrbNestedWrapper<Self, Path>::OrbNestedWrapper;
};

// A fixed array of 32-bit values inside a record. Its path is a plain copy
// of the creating proxy's: the index is an argument of every call.
template <class Self, class Path, OrbArrayValue T>
class D2iValues : public OrbNestedWrapper<Self, Path>,
                  public IOrbArray1D<T>,
                  public OrbArrayPositions {
 public:
  using OrbNestedWrapper<Self, Path>::OrbNestedWrapper;

  // Value `uiIndex`; an index from the length upwards raises the indexer's
  // message.
  T Item(uint32_t uiIndex) override {
    return OrbGuarded(Self::kClassName, u"[]", [&] { return Values()[uiIndex]; });
  }
  void set_Item(uint32_t uiIndex, T value) override {
    OrbGuarded(Self::kClassName, u"[]", [&] { Values()[uiIndex] = value; });
  }
  // Item(uiIndex) for an enumerator; a value needs nothing kept.
  struct EnumKept {};
  T EnumItem(EnumKept&, uint32_t uiIndex) { return Item(uiIndex); }
  // The fixed length.
  uint32_t GetLength(int32_t /*iDimension*/) override {
    return OrbGuarded(Self::kClassName, u".GetLength", [&] { return Values().Size(); });
  }
  void ForeachRange(int32_t iStart, int32_t iEnd) override {
    m_iForeachStart = iStart;
    m_iForeachEnd = iEnd;
  }

  uint32_t IEnumCurrentPos() const override { return static_cast<uint32_t>(m_iPosIEnum); }
  std::shared_ptr<IOrbEnumerator<T>> GetEnumerator() override {
    return std::make_shared<OrbArrayEnumerator<Self, T>>(
        static_cast<Self&>(*this).shared_from_this());
  }
  // Range-for over this wrapper without a virtual call per step.
  auto begin() {
    return OrbWalkIterator(OrbArrayEnumerator<Self, T>(static_cast<Self&>(*this).shared_from_this()));
  }
  std::default_sentinel_t end() { return std::default_sentinel; }

 private:
  auto& Values() {
    OrbRefuseReleased(*this);
    return Path::Container(*this->m_pObj, *this);
  }
};

}  // namespace Tarvex::Orb::DataDirectAcces
