// Generated from schema/varnox.toml by schema/generate.py. Do not edit.
//
// The view models of the records, each after the view models of the records
// it holds; the behaviour is viewmodels/OrbViewModel.h's.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "access/VarnoxRecordInterfaces.h"
#include "viewmodels/OrbViewModel.h"

namespace Tarvex::Orb::Data::Varnox {

using Tarvex::Orb::DataDirectAcces::MvvmSimpleObsItem;
using Tarvex::Orb::DataDirectAcces::OrbMvvmObsArray;
using Tarvex::Orb::DataDirectAcces::OrbMvvmObsArray1D;
using Tarvex::Orb::DataDirectAcces::OrbMvvmObsMap;
using Tarvex::Orb::DataDirectAcces::OrbSimpleDataWrapper;

// The view model of CkxNote, property by property index.
class MvvmCkxNote final : public DataDirectAcces::OrbViewModel<MvvmCkxNote, Id2sCkxNote, 1> {
 public:
  static constexpr std::u16string_view kClassName = u"MvvmCkxNote";
  static constexpr std::u16string_view kInterfaceName = u"Id2sCkxNote";
  MvvmCkxNote(std::shared_ptr<Id2sCkxNote> pData, DataDirectAcces::OrbBaseDataWrapper* pParent,
              int32_t iPropIndex);
  MvvmCkxNote(std::shared_ptr<Id2sCkxNote> pData, DataDirectAcces::OrbBaseDataWrapper* pParent);
  MvvmCkxNote();
  ~MvvmCkxNote() override;

  std::shared_ptr<OrbSimpleDataWrapper<std::u16string>> str() {
    return Slot<OrbSimpleDataWrapper<std::u16string>>(0);
  }

  static const std::array<PropertyRow, 1> kProperties;

 private:
  template <auto Get, auto Set>
  using Simple = DataDirectAcces::OrbVmSimple<MvvmCkxNote, Id2sCkxNote, Get, Set>;
};

inline const std::array<MvvmCkxNote::PropertyRow, 1> MvvmCkxNote::kProperties = {{
    Simple<&Id2sCkxNote::str, &Id2sCkxNote::set_str>::Describe(u"str", u"", 132, 2, false),
}};

// The view model of CkxPool, property by property index.
class MvvmCkxPool final : public DataDirectAcces::OrbViewModel<MvvmCkxPool, Id2sCkxPool, 2> {
 public:
  static constexpr std::u16string_view kClassName = u"MvvmCkxPool";
  static constexpr std::u16string_view kInterfaceName = u"Id2sCkxPool";
  MvvmCkxPool(std::shared_ptr<Id2sCkxPool> pData, DataDirectAcces::OrbBaseDataWrapper* pParent,
              int32_t iPropIndex);
  MvvmCkxPool(std::shared_ptr<Id2sCkxPool> pData, DataDirectAcces::OrbBaseDataWrapper* pParent);
  MvvmCkxPool();
  ~MvvmCkxPool() override;

  std::shared_ptr<OrbSimpleDataWrapper<int32_t>> Lanes() {
    return Slot<OrbSimpleDataWrapper<int32_t>>(0);
  }
  std::shared_ptr<OrbMvvmObsMap<uint64_t, Id2sCkxNote, MvvmCkxNote>> Starts() {
    return Slot<OrbMvvmObsMap<uint64_t, Id2sCkxNote, MvvmCkxNote>>(1);
  }

  static const std::array<PropertyRow, 2> kProperties;

 private:
  template <auto Get, auto Set>
  using Simple = DataDirectAcces::OrbVmSimple<MvvmCkxPool, Id2sCkxPool, Get, Set>;
  template <auto Get, class V>
  using Map = DataDirectAcces::OrbVmMap<MvvmCkxPool, Id2sCkxPool, Get, V>;
};

inline const std::array<MvvmCkxPool::PropertyRow, 2> MvvmCkxPool::kProperties = {{
    Simple<&Id2sCkxPool::Lanes, &Id2sCkxPool::set_Lanes>::Describe(u"Lanes", u"8", 4, 4, false),
    Map<&Id2sCkxPool::Starts, MvvmCkxNote>::Describe(u"Starts", u"OrbMvvmObsMap<UInt64, Id2sCkxNote^, MvvmCkxNote^>^", 132, 132, true),
}};

// The view model of CkxRace, property by property index.
class MvvmCkxRace final : public DataDirectAcces::OrbViewModel<MvvmCkxRace, Id2sCkxRace, 11> {
 public:
  static constexpr std::u16string_view kClassName = u"MvvmCkxRace";
  static constexpr std::u16string_view kInterfaceName = u"Id2sCkxRace";
  MvvmCkxRace(std::shared_ptr<Id2sCkxRace> pData, DataDirectAcces::OrbBaseDataWrapper* pParent,
              int32_t iPropIndex);
  MvvmCkxRace(std::shared_ptr<Id2sCkxRace> pData, DataDirectAcces::OrbBaseDataWrapper* pParent);
  MvvmCkxRace();
  ~MvvmCkxRace() override;

  std::shared_ptr<OrbSimpleDataWrapper<OrbDateTime>> Start() {
    return Slot<OrbSimpleDataWrapper<OrbDateTime>>(0);
  }
  std::shared_ptr<OrbSimpleDataWrapper<std::u16string>> Title() {
    return Slot<OrbSimpleDataWrapper<std::u16string>>(1);
  }
  std::shared_ptr<OrbMvvmObsArray<Id2sCkxNote, MvvmCkxNote>> Laps() {
    return Slot<OrbMvvmObsArray<Id2sCkxNote, MvvmCkxNote>>(2);
  }
  std::shared_ptr<MvvmCkxPool> Pool() {
    return Slot<MvvmCkxPool>(3);
  }
  std::shared_ptr<OrbSimpleDataWrapper<uint32_t>> Seq() {
    return Slot<OrbSimpleDataWrapper<uint32_t>>(4);
  }
  std::shared_ptr<OrbMvvmObsArray1D<int32_t, MvvmSimpleObsItem<int32_t>>> Ids() {
    return Slot<OrbMvvmObsArray1D<int32_t, MvvmSimpleObsItem<int32_t>>>(5);
  }
  std::shared_ptr<OrbSimpleDataWrapper<std::u16string>> Name() {
    return Slot<OrbSimpleDataWrapper<std::u16string>>(6);
  }
  std::shared_ptr<OrbSimpleDataWrapper<int32_t>> Born() {
    return Slot<OrbSimpleDataWrapper<int32_t>>(7);
  }
  std::shared_ptr<OrbSimpleDataWrapper<bool>> Ready() {
    return Slot<OrbSimpleDataWrapper<bool>>(8);
  }
  std::shared_ptr<OrbSimpleDataWrapper<std::optional<KxTime>>> Time() {
    return Slot<OrbSimpleDataWrapper<std::optional<KxTime>>>(9);
  }
  std::shared_ptr<OrbMvvmObsArray1D<uint32_t, MvvmSimpleObsItem<uint32_t>>> Splits() {
    return Slot<OrbMvvmObsArray1D<uint32_t, MvvmSimpleObsItem<uint32_t>>>(10);
  }

  static const std::array<PropertyRow, 11> kProperties;

 private:
  template <auto Get, auto Set>
  using Simple = DataDirectAcces::OrbVmSimple<MvvmCkxRace, Id2sCkxRace, Get, Set>;
  template <auto Get, class V>
  using Array = DataDirectAcces::OrbVmArray<MvvmCkxRace, Id2sCkxRace, Get, V>;
  template <auto Get, int32_t Count>
  using Fixed = DataDirectAcces::OrbVmFixed<MvvmCkxRace, Id2sCkxRace, Get, Count>;
  template <auto Get, class V>
  using Nested = DataDirectAcces::OrbVmNested<MvvmCkxRace, Id2sCkxRace, Get, V>;
};

inline const std::array<MvvmCkxRace::PropertyRow, 11> MvvmCkxRace::kProperties = {{
    Simple<&Id2sCkxRace::Start, &Id2sCkxRace::set_Start>::Describe(u"Start", u"01.01.0001  00:00:00.000", 8, 8, false),
    Simple<&Id2sCkxRace::Title, &Id2sCkxRace::set_Title>::Describe(u"Title", u"", 24, 1, true),
    Array<&Id2sCkxRace::Laps, MvvmCkxNote>::Describe(u"Laps", u"OrbMvvmObsArray<Id2sCkxNote^, MvvmCkxNote^>^", 132, 132, true),
    Nested<&Id2sCkxRace::Pool, MvvmCkxPool>::Describe(u"Pool", u"MvvmCkxPool^", 96, 96, false),
    Simple<&Id2sCkxRace::Seq, &Id2sCkxRace::set_Seq>::Describe(u"Seq", u"0", 4, 4, false),
    Fixed<&Id2sCkxRace::Ids, 2>::Describe(u"Ids", u"OrbMvvmObsArray1D<Int32, MvvmSimpleObsItem<Int32>^>^", 8, 4, false),
    Simple<&Id2sCkxRace::Name, &Id2sCkxRace::set_Name>::Describe(u"Name", u"", 24, 2, true),
    Simple<&Id2sCkxRace::Born, &Id2sCkxRace::set_Born>::Describe(u"Born", u"-1", 4, 4, false),
    Simple<&Id2sCkxRace::Ready, &Id2sCkxRace::set_Ready>::Describe(u"Ready", u"false", 1, 1, false),
    Simple<&Id2sCkxRace::Time, &Id2sCkxRace::set_Time>::Describe(u"Time", u"        0.000m", 8, 8, false),
    Fixed<&Id2sCkxRace::Splits, 2>::Describe(u"Splits", u"OrbMvvmObsArray1D<UInt32, MvvmSimpleObsItem<UInt32>^>^", 8, 4, false),
}};

}  // namespace Tarvex::Orb::Data::Varnox
