// The record-facing classes: the member proxy D2m<path> of one element, and
// the single-object wrapper D2o<path> of a top-level single record, which is
// at the same time the proxy of that record.
//
// A generated class derives one of the templates below and writes one line
// per property, naming the record field and the property:
//
//   int32_t SortId() override { return Get<&CkxCompOneHeat::SortId>(u".SortId"); }
//
// Get and Set walk the class's path (OrbPathWalk.h) from the member object
// to the record on every call, then read or write the field by its kind
// (OrbFields.h), inside the guard whose message is the class name and the
// property (OrbGuard.h). A nested property builds the nested wrapper or the
// embedded record's proxy over a snapshot of this object's path.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

#include "access/OrbFields.h"
#include "access/OrbGuard.h"
#include "access/OrbIndexsList.h"
#include "access/OrbPathWalk.h"
#include "access/OrbUpdatable.h"
#include "contracts/framework/OrbFileM.h"

namespace Tarvex::Orb::DataDirectAcces {

// Property access for `Self`, an OrbIndexsList with m_pObj and KeepAlive(),
// standing for the record of path `Path`.
template <class Self, class Path>
class OrbRecordFace {
 protected:
  template <auto kField>
  using Kind = OrbField<OrbFieldType<kField>>;

  template <auto kField>
  typename Kind<kField>::Value Get(OrbOpName csProperty) {
    return OrbGuarded(Self::kClassName, csProperty,
                      [&] { return Kind<kField>::Read(Record().*kField); });
  }

  template <auto kField>
  void Set(OrbOpName csProperty, typename Kind<kField>::Arg value) {
    OrbGuarded(Self::kClassName, csProperty, [&] {
      Kind<kField>::Write([&]() -> auto& { return Record().*kField; }, value);
    });
  }

  // A new nested wrapper (or embedded record proxy) under this object.
  template <class Nested>
  std::shared_ptr<Nested> Make(OrbOpName csProperty) {
    Self& self = AsSelf();
    return OrbGuarded(Self::kClassName, csProperty, [&] {
      return std::make_shared<Nested>(self.m_pObj, self.KeepAlive(), &self);
    });
  }

 private:
  Self& AsSelf() { return static_cast<Self&>(*this); }
  // The walk, from the member object to this object's record.
  typename Path::Record& Record() {
    Self& self = AsSelf();
    OrbRefuseReleased(self);
    return Path::Reach(*self.m_pObj, self);
  }
};

// A member proxy: an index path and the record interface `Interface`,
// implemented by the generated class `Self` over path `Path`.
template <class Self, class Path, class Interface, uint16_t kNbMember>
class D2mProxy : public OrbIndexsList,
                 public Interface,
                 public IOrbObjInternal,
                 public OrbPathProtocol<Self, Path::kDepth>,
                 public OrbRecordFace<Self, Path> {
 public:
  using Member = typename Path::Member;
  using Top = typename Path::Top;

  // Takes a snapshot of `pParent`'s path; no native call.
  D2mProxy(Member* pObj, std::shared_ptr<Top> pObjM, const OrbIndexsList* pParent)
      : m_pObj(pObj), m_pObjM(std::move(pObjM)), m_pFile(m_pObjM->File()) {
    NewIndexs(pParent);
    m_NbMember = kNbMember;
  }

  int32_t NbMember() const override { return m_NbMember; }
  // The handle or index of this proxy's element; 0 for an embedded record.
  uint32_t IEnumCurrentPos() const override {
    if constexpr (!Path::kOwnLevel) return 0;
    return Path::kDepth < IndexCount() ? Slot1(Path::kDepth) : 0;
  }

  // What nested objects built under this proxy keep alive.
  const std::shared_ptr<Top>& KeepAlive() const { return m_pObjM; }
  // Whether the file behind the top-level wrapper released its native object.
  bool FileReleased() const { return OrbFileReleased(m_pFile); }

  Member* const m_pObj;  // where every walk starts; owned by the file template
  // Keeps the top-level wrapper, and through it the file, alive.
  const std::shared_ptr<Top> m_pObjM;

 private:
  const OrbFileM* const m_pFile;  // the top-level wrapper's file, checked before every walk
};

// A top-level single record: its own proxy (no path) and a member of the
// file, with the persistence operations and the change event.
template <class Self, class Path, class Interface>
class D2oSingle : public OrbIndexsList,
                  public OrbUpdatableImpl<Interface>,
                  public OrbRecordFace<Self, Path>,
                  public std::enable_shared_from_this<Self> {
 public:
  using Member = typename Path::Member;

  // No native call. `pFileM`, which may be null, is only kept alive.
  D2oSingle(Member* pObj, std::shared_ptr<OrbFileM> pFileM)
      : OrbUpdatableImpl<Interface>(pObj, pFileM.get()), m_pObj(pObj), m_pFileM(std::move(pFileM)) {}

  uint32_t IEnumCurrentPos() const override { return 0; }

  std::shared_ptr<Self> KeepAlive() { return this->shared_from_this(); }

  Member* const m_pObj;
  const std::shared_ptr<OrbFileM> m_pFileM;
};

}  // namespace Tarvex::Orb::DataDirectAcces
