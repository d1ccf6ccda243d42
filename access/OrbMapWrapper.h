// The keyed-map wrappers: D2o<path> over a top-level map (CkxD2MapObjA) and
// D2i<path> over a map inside a record (CkxD2MapA). Both forward every map
// operation to the native map, which they reach by walking their path
// (OrbPathWalk.h) on every call, inside the guard whose message is the
// class name and the operation ("D2oVarnox_FT_RACES_ScheduleEntries.Add:\r\n";
// the indexers "...[]:\r\n"). The indexers write the chosen handle into the
// wrapper's own level and hand out a new proxy over a snapshot of the path.
//
// Keys: a 64-bit key travels as the number argument with no text; a text
// key as a zero-terminated Windows-1252 copy with 0 as the number. A text
// key the code page cannot hold is refused before any native call.
#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "access/OrbAnsi.h"
#include "access/OrbContainerWrapper.h"
#include "access/OrbEnumerators.h"
#include "access/OrbGuard.h"
#include "access/OrbIndexsList.h"
#include "access/OrbPathWalk.h"
#include "access/OrbUpdatable.h"
#include "contracts/framework/OrbFileM.h"
#include "contracts/kernel/KxComponent.h"

namespace Tarvex::Orb::DataDirectAcces {

// The key-case switches, which only text-keyed maps have.
template <class Self, class Base>
class OrbTextKeyOps : public Base {
 public:
  template <class... A>
  explicit OrbTextKeyOps(A&&... args) : Base(std::forward<A>(args)...) {}

  void KeyNoCase() override { AsSelf().RunCommand(u".KeyNoCase", D2MapCmd::KeyNoCase, 0); }
  void KeyCase() override { AsSelf().RunCommand(u".KeyCase", D2MapCmd::KeyCase, 0); }

 private:
  Self& AsSelf() { return static_cast<Self&>(*this); }
};

template <class Self, class Base>
using OrbKeyOps = std::conditional_t<std::same_as<typename Base::Key, std::u16string>,
                                     OrbTextKeyOps<Self, Base>, Base>;

// The map operations of `Self` (an OrbIndexsHandle with m_pObj and
// KeepAlive()) over path `Path`, element proxies `Proxy`; `Base` is the
// interface, IOrbMap or the updatable IOrbObjMap.
template <class Self, class Path, class Proxy, class Base>
class OrbMapOps : public OrbKeyOps<Self, Base> {
 public:
  using Key = typename Base::Key;
  using Element = typename Base::Element;
  static constexpr uint32_t kChosenByMap = 0xFFFFFFFF;  // slot 4 after a map indexer

  template <class... A>
  explicit OrbMapOps(A&&... args) : OrbKeyOps<Self, Base>(std::forward<A>(args)...) {}

  // The element under `key`, added when absent (the add command is sent on
  // every call); a failure is reported as Add's.
  Element Item(const Key& key) override {
    const uint32_t hPos = Add(key);
    return OrbGuarded(Self::kClassName, u"[]", [&] { return Choose(hPos); });
  }
  // The element at `hPos`; no native call, the handle is checked when the
  // proxy is used.
  Element Item(uint32_t hPos) override {
    return OrbGuarded(Self::kClassName, u"[]", [&] { return Choose(hPos); });
  }
  // Item(hPos), the proxy's memory taken from `alloc` (a view-model tree's).
  template <class Alloc>
  Element ItemAllocated(uint32_t hPos, const Alloc& alloc) {
    return OrbGuarded(Self::kClassName, u"[]", [&] { return Choose(hPos, alloc); });
  }
  // Item(hPos) for an enumerator, which keeps the proxy it handed out last
  // in `pKept` (OrbProxyOf).
  using EnumKept = std::shared_ptr<Proxy>;
  const EnumKept& EnumItem(EnumKept& pKept, uint32_t hPos) {
    return OrbGuarded(Self::kClassName, u"[]", [&]() -> const EnumKept& {
      ChooseSlots(hPos);
      return OrbProxyOf(AsSelf(), pKept);
    });
  }

  uint32_t Add(const Key& key) override { return KeyCommand(u".Add", D2MapCmd::Add, key); }
  uint32_t Find(const Key& key) override { return KeyCommand(u".Find", D2MapCmd::Find, key); }
  uint32_t AtIndex(uint32_t dwIndex) override {
    return RunCommand(u".AtIndex", D2MapCmd::AtIndex, dwIndex);
  }
  void Remove(const Key& key) override { KeyCommand(u".Remove", D2MapCmd::Remove, key); }
  void RemoveAt(uint32_t hPos) override { RunCommand(u".RemoveAt", D2MapCmd::RemoveAt, hPos); }
  void RemoveAll() override { RunCommand(u".RemoveAll", D2MapCmd::RemoveAll, 0); }
  using Base::Clear;
  void Clear(const Key& key) override { KeyCommand(u".Clear", D2MapCmd::Clear, key); }
  void ClearAt(uint32_t hPos) override { RunCommand(u".ClearAt", D2MapCmd::ClearAt, hPos); }
  void ClearAll() override { RunCommand(u".ClearAll", D2MapCmd::ClearAll, 0); }
  uint32_t Head() override { return RunCommand(u".Head", D2MapCmd::Head, 0); }
  uint32_t Next(uint32_t hPos) override { return RunCommand(u".Next", D2MapCmd::Next, hPos); }
  void DispStat() override { RunCommand(u".DispStat", D2MapCmd::DispStat, 0); }
  void RemoveNotProtected(const Key& key) override {
    KeyCommand(u".RemoveNotProtected", D2MapCmd::RemoveNotProtected, key);
  }
  uint32_t AddNotProtected(const Key& key) override {
    return KeyCommand(u".AddNotProtected", D2MapCmd::AddNotProtected, key);
  }
  uint32_t FindNotProt(const Key& key) override {
    return KeyCommand(u".FindNotProt", D2MapCmd::FindNotProt, key);
  }

  Key GetKey(uint32_t hPos) override {
    return Guarded(u".GetKey", [&] { return KeyOf(hPos, true); });
  }
  Key GetKeyNotProt(uint32_t hPos) override {
    return Guarded(u".GetKeyNotProt", [&] { return KeyOf(hPos, false); });
  }
  int32_t GetCount() override {
    return Guarded(u".GetCount", [&] { return static_cast<int32_t>(Map().GetCount()); });
  }
  bool IsAlive(uint32_t hPos) override {
    return Guarded(u".IsAlive", [&] { return Map().IsAlive(hPos); });
  }
  int32_t SetDeleteCandidate(uint32_t hPos, int32_t iDelState) override {
    return Guarded(u".SetDeleteCandidate", [&] { return Map().SetDeleteCandidate(hPos, iDelState); });
  }
  int32_t SetAsModified(uint32_t hPos, int32_t iModifState) override {
    return Guarded(u".SetAsModified", [&] { return Map().SetAsModified(hPos, iModifState); });
  }

  void GetARLock() override { Guarded(u".GetARLock", [&] { Map().GetARLock(); }); }
  // The native answer (whether the version changed meanwhile) is dropped;
  // IsNewVersion tells it.
  void GetARLockFromRWELock() override {
    Guarded(u".GetARLockFromRWELock", [&] { Map().GetARLockFromRWELock(); });
  }
  void ReleaseARLock() override { Guarded(u".ReleaseARLock", [&] { Map().ReleaseARLock(); }); }
  void GetRWELock() override { Guarded(u".GetRWELock", [&] { Map().GetRWELock(); }); }
  void ReleaseRWELock() override { Guarded(u".ReleaseRWELock", [&] { Map().ReleaseRWELock(); }); }
  void IncrementVersion() override {
    Guarded(u".IncrementVersion", [&] { Map().IncrementVersion(); });
  }
  int32_t IsNewVersion(int32_t iOldVersion) override {
    return Guarded(u".IsNewVersion", [&] {
      return static_cast<int32_t>(Map().IsNewVersion(static_cast<uint32_t>(iOldVersion)));
    });
  }

  uint32_t IEnumCurrentPos() const override { return m_hPosIEnum; }
  std::shared_ptr<IOrbEnumerator<Element>> GetEnumerator() override {
    return std::make_shared<OrbMapEnumerator<Self, Element>>(AsSelf().shared_from_this());
  }
  // Range-for over this wrapper, its elements as the concrete proxies
  // (OrbWalkIterator).
  auto begin() {
    return OrbWalkIterator(OrbMapEnumerator<Self, Element>(AsSelf().shared_from_this()));
  }
  std::default_sentinel_t end() { return std::default_sentinel; }

  // Map command `eCmd` with a number, handle or position argument.
  uint32_t RunCommand(OrbOpName csOperation, D2MapCmd::Cmd eCmd, uint64_t uiArg) {
    return Guarded(csOperation, [&] { return Map()(eCmd, uiArg, nullptr); });
  }

  // The handle the wrapper's enumerators reached last.
  uint32_t m_hPosIEnum = 0;

 private:
  Self& AsSelf() { return static_cast<Self&>(*this); }

  template <class Body>
  decltype(auto) Guarded(OrbOpName csOperation, Body&& body) {
    return OrbGuarded(Self::kClassName, csOperation, std::forward<Body>(body));
  }

  // The native map, reached by walking the enclosing levels.
  auto& Map() {
    Self& self = AsSelf();
    OrbRefuseReleased(self);
    return Path::Container(*self.m_pObj, self);
  }

  // `hPos` becomes this level's choice.
  void ChooseSlots(uint32_t hPos) {
    Self& self = AsSelf();
    self.m_iI1 = hPos;
    self.m_iI4 = kChosenByMap;
  }
  // `hPos` becomes this level's choice; a new proxy over a copy of the path.
  template <class Alloc = std::allocator<Proxy>>
  Element Choose(uint32_t hPos, const Alloc& alloc = Alloc()) {
    ChooseSlots(hPos);
    Self& self = AsSelf();
    return std::allocate_shared<Proxy>(alloc, self.m_pObj, self.KeepAlive(), &self);
  }

  uint32_t KeyCommand(OrbOpName csOperation, D2MapCmd::Cmd eCmd, const Key& key) {
    if constexpr (std::same_as<Key, std::u16string>) {
      const std::optional<std::string> csAnsi = OrbToAnsiKey(key);
      if (!csAnsi) OrbThrowKernel(Self::kClassName, csOperation);
      return Guarded(csOperation, [&] { return Map()(eCmd, 0, csAnsi->c_str()); });
    } else {
      return RunCommand(csOperation, eCmd, key);
    }
  }

  Key KeyOf(uint32_t hPos, bool bProtected) {
    uint64_t uiKey = 0;
    std::string csKey;
    if (bProtected) {
      Map().GetKey(hPos, uiKey, csKey, false);
    } else {
      Map().GetKeyNotProt(hPos, uiKey, csKey, false);
    }
    if constexpr (std::same_as<Key, std::u16string>) {
      return OrbFromAnsi(csKey.data(), csKey.size());
    } else {
      return uiKey;
    }
  }
};

// A top-level keyed map, member of a file.
template <class Self, class Path, class Proxy, class Interface, OrbMapKey K>
class D2oMap : public OrbTopWrapper<Self, Path>,
               public OrbMapOps<Self, Path, Proxy, OrbUpdatableImpl<IOrbObjMap<K, Interface>>> {
 public:
  D2oMap(typename Path::Member* pObj, const std::shared_ptr<OrbFileM>& pFileM)
      : OrbTopWrapper<Self, Path>(pObj, pFileM),
        OrbMapOps<Self, Path, Proxy, OrbUpdatableImpl<IOrbObjMap<K, Interface>>>(pObj,
                                                                                pFileM.get()) {}
};

// A keyed map inside a record.
template <class Self, class Path, class Proxy, class Interface, OrbMapKey K>
class D2iMap : public OrbNestedWrapper<Self, Path>,
               public OrbMapOps<Self, Path, Proxy, IOrbMap<K, Interface>> {
 public:
  using OrbNestedWrapper<Self, Path>::OrbNestedWrapper;
};

}  // namespace Tarvex::Orb::DataDirectAcces
