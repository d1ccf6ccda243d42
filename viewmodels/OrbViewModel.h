// The behaviour of every view model Mvvm<Rec>, written once: the base
// OrbViewModel<Self, I, N> over record interface I with N properties, and
// one property kind per shape of field (simple value, map, record array,
// fixed value array, nested record). A generated view model names its
// property table, one row per property in property-index order, and a
// typed getter per property; everything else happens here.
//
// A row carries what GetMembInfo answers, the default literal (simple) or
// the type text of the messages (the other kinds) and three functions of its
// kind: Make creates the slot object, Load fills it from the record (or its
// default) or rebinds it, Store writes a simple value back.
//
// Messages begin with "Tarvex.Orb.Data.Varnox.<class><<interface>>", then
// the operation and the property index.
#pragma once

#include <array>
#include <charconv>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "access/CkxOrbCategTools.h"
#include "contracts/framework/OrbInterfaces.h"
#include "contracts/framework/OrbKernelException.h"
#include "contracts/framework/OrbMvvm.h"
#include "contracts/framework/OrbValues.h"

namespace Tarvex::Orb::DataDirectAcces {

// The value a default literal stands for, read by the type's own rule:
// decimal numbers, "true"/"false", a text as it stands, a date-time in the
// "fr-CH" form and a race time as KxTime::Parse reads it. A literal that does
// not read raises OrbKernelException naming it.
template <class T>
T OrbParseDefault(std::u16string_view csLiteral);

[[noreturn]] void OrbThrowBadDefault(std::u16string_view csLiteral);

template <class T>
  requires std::same_as<T, int32_t> || std::same_as<T, uint32_t>
T OrbParseNumber(std::u16string_view csLiteral) {
  std::string csDigits;
  for (char16_t c : csLiteral) {
    if (c > 0x7F) OrbThrowBadDefault(csLiteral);
    csDigits.push_back(static_cast<char>(c));
  }
  T value{};
  const auto [pEnd, error] = std::from_chars(csDigits.data(), csDigits.data() + csDigits.size(), value);
  if (error != std::errc() || pEnd != csDigits.data() + csDigits.size() || csDigits.empty())
    OrbThrowBadDefault(csLiteral);
  return value;
}

template <>
inline int32_t OrbParseDefault<int32_t>(std::u16string_view csLiteral) {
  return OrbParseNumber<int32_t>(csLiteral);
}
template <>
inline uint32_t OrbParseDefault<uint32_t>(std::u16string_view csLiteral) {
  return OrbParseNumber<uint32_t>(csLiteral);
}
template <>
inline bool OrbParseDefault<bool>(std::u16string_view csLiteral) {
  if (csLiteral == u"true") return true;
  if (csLiteral != u"false") OrbThrowBadDefault(csLiteral);
  return false;
}
template <>
inline std::u16string OrbParseDefault<std::u16string>(std::u16string_view csLiteral) {
  return std::u16string(csLiteral);
}
template <>
inline OrbDateTime OrbParseDefault<OrbDateTime>(std::u16string_view csLiteral) {
  return OrbDateTime::Parse(csLiteral);
}
template <>
inline std::optional<KxTime> OrbParseDefault<std::optional<KxTime>>(std::u16string_view csLiteral) {
  return KxTime::Parse(csLiteral);
}

// One property of view model Self (see the header comment).
template <class Self>
struct OrbVmProperty {
  std::u16string_view csName;
  int32_t iSize;
  int32_t iElementSize;
  bool bVariable;
  // The default literal of a simple property; the type text of the others.
  std::u16string_view csText;
  std::shared_ptr<OrbBaseDataWrapper> (*Make)(Self& self, const OrbVmProperty& row, int32_t iIndex);
  // Called with the slot present. Simple: the record's value, or the default
  // when `bClear` or not connected. Others: rebinds the slot to the record's
  // current container or record; raises the not-connected message without one.
  void (*Load)(Self& self, const OrbVmProperty& row, int32_t iIndex, bool bClear);
  // Writes a simple value back through the record interface; null for the
  // other kinds, whose SetVal raises the invalid-type message.
  void (*Store)(Self& self, int32_t iIndex);
};

// The record's value returned by getter `Get` of interface I.
template <class I, auto Get>
using OrbVmValueOf = std::remove_cvref_t<decltype((std::declval<I&>().*Get)())>;

// A simple property: an OrbSimpleDataWrapper of the getter's value type.
template <class Self, class I, auto Get, auto Set>
struct OrbVmSimple {
  using T = OrbVmValueOf<I, Get>;
  using Slot = OrbSimpleDataWrapper<T>;
  using Row = OrbVmProperty<Self>;

  static constexpr Row Describe(std::u16string_view csName, std::u16string_view csDefault,
                                int32_t iSize, int32_t iElementSize, bool bVariable) {
    return {csName, iSize, iElementSize, bVariable, csDefault, &Make, &Load, &Store};
  }
  static std::shared_ptr<OrbBaseDataWrapper> Make(Self& self, const Row&, int32_t iIndex) {
    return self.Tree().template Make<Slot>(&self, iIndex, 0u);
  }
  static void Load(Self& self, const Row& row, int32_t iIndex, bool bClear) {
    Slot& slot = static_cast<Slot&>(*self.m_Fields[static_cast<size_t>(iIndex)]);
    if (self.m_OrbData != nullptr && !bClear) {
      slot.m_LocalVal = ((*self.m_OrbData).*Get)();
    } else {
      slot.m_LocalVal = OrbParseDefault<T>(row.csText);
    }
  }
  static void Store(Self& self, int32_t iIndex) {
    const Slot& slot = static_cast<const Slot&>(*self.m_Fields[static_cast<size_t>(iIndex)]);
    ((*self.m_OrbData).*Set)(slot.m_LocalVal);
  }
};

// What the kinds over a container or record share: the slot is rebound to
// the record's current source, which a not-connected view model lacks.
template <class Self, class I, auto Get, class Slot>
struct OrbVmBound {
  using Row = OrbVmProperty<Self>;
  using Source = OrbVmValueOf<I, Get>;

  // The record's source, or null when the view model is not connected.
  static Source SourceOf(Self& self) {
    return self.m_OrbData != nullptr ? ((*self.m_OrbData).*Get)() : nullptr;
  }
  static Source ConnectedSource(Self& self, const Row& row, int32_t iIndex) {
    if (self.m_OrbData == nullptr) self.ThrowNotConnected(row, iIndex);
    return ((*self.m_OrbData).*Get)();
  }
  static Slot& SlotOf(Self& self, int32_t iIndex) {
    return static_cast<Slot&>(*self.m_Fields[static_cast<size_t>(iIndex)]);
  }
};

// Observable collection over a keyed map or a record array (OrbMvvmObsMap,
// OrbMvvmObsArray): Collection is the slot's class, V the element view model.
template <class Self, class I, auto Get, class Collection>
struct OrbVmCollection : OrbVmBound<Self, I, Get, Collection> {
  using Base = OrbVmBound<Self, I, Get, Collection>;
  using Row = OrbVmProperty<Self>;
  using Slot = Collection;

  static constexpr Row Describe(std::u16string_view csName, std::u16string_view csType,
                                int32_t iSize, int32_t iElementSize, bool bVariable) {
    return {csName, iSize, iElementSize, bVariable, csType, &Make, &Load, nullptr};
  }
  static std::shared_ptr<OrbBaseDataWrapper> Make(Self& self, const Row&, int32_t iIndex) {
    return self.Tree().template Make<Slot>(Base::SourceOf(self), &self, iIndex);
  }
  static void Load(Self& self, const Row& row, int32_t iIndex, bool) {
    auto pSource = Base::ConnectedSource(self, row, iIndex);
    Base::SlotOf(self, iIndex).m_OrbCollection = std::move(pSource);
  }
};

// The map's key type and element interface, read from the getter's
// std::shared_ptr<IOrbMap<K, E>>.
template <class P>
struct OrbVmMapTypes;
template <OrbMapKey K, class E>
struct OrbVmMapTypes<std::shared_ptr<IOrbMap<K, E>>> {
  using Key = K;
  using Element = E;
};
template <class P>
struct OrbVmArrayTypes;
template <class E>
struct OrbVmArrayTypes<std::shared_ptr<IOrbArray<E>>> {
  using Element = E;
};
template <class P>
struct OrbVmValuesTypes;
template <OrbArrayValue T>
struct OrbVmValuesTypes<std::shared_ptr<IOrbArray1D<T>>> {
  using Value = T;
};

template <class Self, class I, auto Get, class V>
using OrbVmMap = OrbVmCollection<
    Self, I, Get,
    OrbMvvmObsMap<typename OrbVmMapTypes<OrbVmValueOf<I, Get>>::Key,
                  typename OrbVmMapTypes<OrbVmValueOf<I, Get>>::Element, V>>;

template <class Self, class I, auto Get, class V>
using OrbVmArray =
    OrbVmCollection<Self, I, Get,
                    OrbMvvmObsArray<typename OrbVmArrayTypes<OrbVmValueOf<I, Get>>::Element, V>>;

// A fixed array of Count values: OrbMvvmObsArray1D of MvvmSimpleObsItem,
// whose element default is the literal "0" of the value type.
template <class Self, class I, auto Get, int32_t Count>
struct OrbVmFixed
    : OrbVmBound<Self, I, Get,
                 OrbMvvmObsArray1D<typename OrbVmValuesTypes<OrbVmValueOf<I, Get>>::Value,
                                   MvvmSimpleObsItem<typename OrbVmValuesTypes<
                                       OrbVmValueOf<I, Get>>::Value>>> {
  using T = typename OrbVmValuesTypes<OrbVmValueOf<I, Get>>::Value;
  using Slot = OrbMvvmObsArray1D<T, MvvmSimpleObsItem<T>>;
  using Base = OrbVmBound<Self, I, Get, Slot>;
  using Row = OrbVmProperty<Self>;

  static constexpr Row Describe(std::u16string_view csName, std::u16string_view csType,
                                int32_t iSize, int32_t iElementSize, bool bVariable) {
    return {csName, iSize, iElementSize, bVariable, csType, &Make, &Load, nullptr};
  }
  static std::shared_ptr<OrbBaseDataWrapper> Make(Self& self, const Row&, int32_t iIndex) {
    return self.Tree().template Make<Slot>(Base::SourceOf(self), &self, iIndex,
                                           OrbParseDefault<T>(u"0"), Count);
  }
  static void Load(Self& self, const Row& row, int32_t iIndex, bool) {
    auto pSource = Base::ConnectedSource(self, row, iIndex);
    Base::SlotOf(self, iIndex).m_OrbCollection = std::move(pSource);
  }
};

// A record laid out in place: the nested record's view model V, owned by
// this one as property iIndex; a rebind changes only its record.
template <class Self, class I, auto Get, class V>
struct OrbVmNested : OrbVmBound<Self, I, Get, V> {
  using Base = OrbVmBound<Self, I, Get, V>;
  using Row = OrbVmProperty<Self>;
  using Slot = V;

  static constexpr Row Describe(std::u16string_view csName, std::u16string_view csType,
                                int32_t iSize, int32_t iElementSize, bool bVariable) {
    return {csName, iSize, iElementSize, bVariable, csType, &Make, &Load, nullptr};
  }
  static std::shared_ptr<OrbBaseDataWrapper> Make(Self& self, const Row&, int32_t iIndex) {
    return self.Tree().template Make<V>(Base::SourceOf(self), &self, iIndex);
  }
  static void Load(Self& self, const Row& row, int32_t iIndex, bool) {
    auto pSource = Base::ConnectedSource(self, row, iIndex);
    Base::SlotOf(self, iIndex).m_OrbData = std::move(pSource);
  }
};

// Starts the object face once, before the first view model is made.
void OrbViewModelsStart();

// The slots of a view model with N properties, a base of it so that they
// are made before the view model's AOrbMvvmObject, which points at them, and
// go after it.
template <int32_t N>
struct OrbVmSlotStore {
  std::array<OrbSlots::Slot, static_cast<size_t>(N)> m_SlotStore;
};

// The base of view model Self over record interface I with N properties.
// Self declares kClassName, kInterfaceName and
//   static const std::array<PropertyRow, N> kProperties;
template <class Self, class I, int32_t N>
class OrbViewModel : private OrbVmSlotStore<N>, public AOrbMvvmObject<I> {
 public:
  using Interface = I;
  using PropertyRow = OrbVmProperty<Self>;
  static constexpr int32_t kPropertyCount = N;

  // `pData` null: not connected. `pParent` null: a root. `iPropIndex`: the
  // index of this view model in its owner, -1 for a root or an element.
  OrbViewModel(std::shared_ptr<I> pData, OrbBaseDataWrapper* pParent, int32_t iPropIndex)
      : AOrbMvvmObject<I>((OrbViewModelsStart(), std::move(pData)), this->m_SlotStore, pParent,
                          iPropIndex) {}
  // An element of a collection: property index -1.
  OrbViewModel(std::shared_ptr<I> pData, OrbBaseDataWrapper* pParent)
      : OrbViewModel(std::move(pData), pParent, -1) {}
  // A root that shows no record.
  OrbViewModel() : OrbViewModel(nullptr, nullptr, -1) {}

  // "Tarvex.Orb.Data.Varnox.MvvmCkxPoolConfig<Id2sCkxPoolConfig>": how the
  // view model's messages begin.
  static std::u16string MessagePrefix() {
    return std::u16string(u"Tarvex.Orb.Data.Varnox.") + std::u16string(Self::kClassName) + u"<" +
           std::u16string(Self::kInterfaceName) + u">";
  }

  // Raises the not-connected message of property `row` (index `iIndex`).
  [[noreturn]] void ThrowNotConnected(const PropertyRow& row, int32_t iIndex) const {
    throw OrbKernelException(MessagePrefix() + u".GetVal ({0}):\r\nNot yet connected to a ORB " +
                                 u"instance, Type: " + std::u16string(row.csText) +
                                 u"  Member: " + std::u16string(row.csName) + u"\r\n",
                             {iIndex});
  }

 protected:
  // The object of property `iIndex` (a valid index, as the generated
  // getters pass) as the class its kind makes, its slot created when empty:
  // Property without the call through the interface.
  template <class W>
  std::shared_ptr<W> Slot(int32_t iIndex) {
    auto lock = this->Tree().Lock();
    return std::static_pointer_cast<W>(
        MadeSlot(Self::kProperties[static_cast<size_t>(iIndex)], iIndex));
  }

 private:
  // The interface's three operations; the framework reaches them through
  // IAOrbMvvmInternUse only.

  // First call for a property: creates its slot. Later calls: load, clear or
  // rebind (see OrbVmProperty::Load).
  void GetVal(int32_t iPropIndex, bool bClear) override {
    const PropertyRow& row = RowOf(iPropIndex, u"GetVal");
    auto lock = this->Tree().Lock();
    if (!this->m_Fields[static_cast<size_t>(iPropIndex)]) {
      MadeSlot(row, iPropIndex);
      return;
    }
    row.Load(AsSelf(), row, iPropIndex, bClear);
  }

  // The slot of property `iIndex` (row `row`), made when empty.
  OrbSlots::Slot& MadeSlot(const PropertyRow& row, int32_t iIndex) {
    auto& pSlot = this->m_Fields[static_cast<size_t>(iIndex)];
    if (!pSlot) pSlot = row.Make(AsSelf(), row, iIndex);
    return pSlot;
  }

  // Writes simple property `iPropIndex` to the record. The other kinds raise
  // the invalid-type message; a view model that shows no record, or a value
  // never created, raise a message of their own rather than write nothing.
  void SetVal(int32_t iPropIndex) override {
    const PropertyRow& row = RowOf(iPropIndex, u"SetVal");
    if (row.Store == nullptr) {
      throw OrbKernelException(MessagePrefix() + u".SetVal ({0}):\r\nInvalid property Type: " +
                                   std::u16string(row.csText) + u"  Member: " +
                                   std::u16string(row.csName) + u"\r\n",
                               {iPropIndex});
    }
    auto lock = this->Tree().Lock();
    if (this->m_OrbData == nullptr) {
      throw OrbKernelException(MessagePrefix() +
                                   u".SetVal ({0}):\r\nNot yet connected to a ORB instance, "
                                   u"nothing to write  Member: " +
                                   std::u16string(row.csName) + u"\r\n",
                               {iPropIndex});
    }
    if (!this->m_Fields[static_cast<size_t>(iPropIndex)]) {
      throw OrbKernelException(MessagePrefix() +
                                   u".SetVal ({0}):\r\nThe value was never loaded, nothing to "
                                   u"write  Member: " +
                                   std::u16string(row.csName) + u"\r\n",
                               {iPropIndex});
    }
    row.Store(AsSelf(), iPropIndex);
  }

  OrbMemberInfo GetMembInfo(int32_t iPropIndex) override {
    const PropertyRow& row = RowOf(iPropIndex, u"GetMembInfo");
    return OrbMemberInfo(std::u16string(row.csName), row.iSize, row.iElementSize, row.bVariable);
  }

  // The row of `iPropIndex`; the operation's invalid-index message otherwise.
  static const PropertyRow& RowOf(int32_t iPropIndex, std::u16string_view csOperation) {
    if (iPropIndex < 0 || iPropIndex >= N) {
      throw OrbKernelException(MessagePrefix() + u"." + std::u16string(csOperation) +
                                   u" ({0}):\r\nInvalid property index !!!\r\n",
                               {iPropIndex});
    }
    return Self::kProperties[static_cast<size_t>(iPropIndex)];
  }

  Self& AsSelf() { return static_cast<Self&>(*this); }
};

}  // namespace Tarvex::Orb::DataDirectAcces
