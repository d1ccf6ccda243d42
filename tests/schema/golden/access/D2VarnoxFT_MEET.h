// Generated from schema/varnox.toml by schema/generate.py. Do not edit.
//
// The access layer of FT_MEET: the path walk of every member path, then
// each path's proxy and wrapper, the deepest first so that every class is
// complete before a class that makes it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "access/OrbArrayWrapper.h"
#include "access/OrbMapWrapper.h"
#include "access/OrbMvvmMaker.h"
#include "access/OrbPathWalk.h"
#include "access/OrbRecordFace.h"
#include "access/VarnoxRecordInterfaces.h"
#include "templates/CkxVarnoxFT_MEET.h"
#include "viewmodels/VarnoxViewModelClasses.h"

namespace Tarvex::Orb::Data::Varnox {

class D2oVarnox_FT_MEET_Races;
class D2mVarnox_FT_MEET_Races;
class D2iVarnox_FT_MEET_Races_Laps;
class D2mVarnox_FT_MEET_Races_Laps;
class D2mVarnox_FT_MEET_Races_Pool;
class D2iVarnox_FT_MEET_Races_Pool_Starts;
class D2mVarnox_FT_MEET_Races_Pool_Starts;
class D2iVarnox_FT_MEET_Races_Ids;
class D2iVarnox_FT_MEET_Races_Splits;
class D2oVarnox_FT_MEET_Notes;
class D2mVarnox_FT_MEET_Notes;
class D2oVarnox_FT_MEET_Pool;
class D2iVarnox_FT_MEET_Pool_Starts;
class D2mVarnox_FT_MEET_Pool_Starts;

// The walks, parents first.
struct VarnoxPath_FT_MEET_Races
    : DataDirectAcces::OrbTopStep<CkxVarnoxFT_MEETRaces, D2oVarnox_FT_MEET_Races> {};
struct VarnoxPath_FT_MEET_Races_Laps
    : DataDirectAcces::OrbNestedStep<VarnoxPath_FT_MEET_Races, &CkxRace::Laps> {};
struct VarnoxPath_FT_MEET_Races_Pool
    : DataDirectAcces::OrbEmbeddedStep<VarnoxPath_FT_MEET_Races, &CkxRace::Pool> {};
struct VarnoxPath_FT_MEET_Races_Pool_Starts
    : DataDirectAcces::OrbNestedStep<VarnoxPath_FT_MEET_Races_Pool, &CkxPool::Starts> {};
struct VarnoxPath_FT_MEET_Races_Ids
    : DataDirectAcces::OrbValuesStep<VarnoxPath_FT_MEET_Races, &CkxRace::Ids> {};
struct VarnoxPath_FT_MEET_Races_Splits
    : DataDirectAcces::OrbValuesStep<VarnoxPath_FT_MEET_Races, &CkxRace::Splits> {};
struct VarnoxPath_FT_MEET_Notes
    : DataDirectAcces::OrbTopStep<CkxVarnoxFT_MEETNotes, D2oVarnox_FT_MEET_Notes> {};
struct VarnoxPath_FT_MEET_Pool
    : DataDirectAcces::OrbTopSingleStep<CkxVarnoxFT_MEETPool, D2oVarnox_FT_MEET_Pool> {};
struct VarnoxPath_FT_MEET_Pool_Starts
    : DataDirectAcces::OrbNestedStep<VarnoxPath_FT_MEET_Pool, &CkxPool::Starts> {};

// One CkxNote of FT_MEET_Pool_Starts, at level 0.
class D2mVarnox_FT_MEET_Pool_Starts final
    : public DataDirectAcces::D2mProxy<D2mVarnox_FT_MEET_Pool_Starts, VarnoxPath_FT_MEET_Pool_Starts, Id2sCkxNote, 1> {
 public:
  static constexpr std::u16string_view kClassName = u"D2mVarnox_FT_MEET_Pool_Starts";
  D2mVarnox_FT_MEET_Pool_Starts(VarnoxPath_FT_MEET_Pool_Starts::Member* pObj, std::shared_ptr<VarnoxPath_FT_MEET_Pool_Starts::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent);
  ~D2mVarnox_FT_MEET_Pool_Starts() override;

  std::u16string str() override { return Get<&CkxNote::str>(u".str"); }
  void set_str(OrbTextArg value) override {
    Set<&CkxNote::str>(u".str", value);
  }
};

// FT_MEET_Pool_Starts: the CkxNote records.
class D2iVarnox_FT_MEET_Pool_Starts final
    : public DataDirectAcces::D2iMap<D2iVarnox_FT_MEET_Pool_Starts, VarnoxPath_FT_MEET_Pool_Starts, D2mVarnox_FT_MEET_Pool_Starts, Id2sCkxNote, uint64_t>,
      public DataDirectAcces::OrbMvvmMaker<D2iVarnox_FT_MEET_Pool_Starts, MvvmCkxNote> {
 public:
  static constexpr std::u16string_view kClassName = u"D2iVarnox_FT_MEET_Pool_Starts";
  D2iVarnox_FT_MEET_Pool_Starts(VarnoxPath_FT_MEET_Pool_Starts::Member* pObj, std::shared_ptr<VarnoxPath_FT_MEET_Pool_Starts::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent);
  ~D2iVarnox_FT_MEET_Pool_Starts() override;
  using D2iVarnox_FT_MEET_Pool_Starts_Enumerator = DataDirectAcces::OrbMapEnumerator<D2iVarnox_FT_MEET_Pool_Starts, std::shared_ptr<Id2sCkxNote>>;
};

// FT_MEET_Pool: the single CkxPool.
class D2oVarnox_FT_MEET_Pool final
    : public DataDirectAcces::D2oSingle<D2oVarnox_FT_MEET_Pool, VarnoxPath_FT_MEET_Pool, Id2oCkxPool> {
 public:
  static constexpr std::u16string_view kClassName = u"D2oVarnox_FT_MEET_Pool";
  D2oVarnox_FT_MEET_Pool(VarnoxPath_FT_MEET_Pool::Member* pObj, const std::shared_ptr<DataDirectAcces::OrbFileM>& pFileM);
  ~D2oVarnox_FT_MEET_Pool() override;

  int32_t Lanes() override { return Get<&CkxPool::Lanes>(u".Lanes"); }
  void set_Lanes(int32_t value) override {
    Set<&CkxPool::Lanes>(u".Lanes", value);
  }
  std::shared_ptr<IOrbMap<uint64_t, Id2sCkxNote>> Starts() override {
    return Make<D2iVarnox_FT_MEET_Pool_Starts>(u".Starts");
  }
};

// One CkxNote of FT_MEET_Notes, at level 0.
class D2mVarnox_FT_MEET_Notes final
    : public DataDirectAcces::D2mProxy<D2mVarnox_FT_MEET_Notes, VarnoxPath_FT_MEET_Notes, Id2sCkxNote, 1> {
 public:
  static constexpr std::u16string_view kClassName = u"D2mVarnox_FT_MEET_Notes";
  D2mVarnox_FT_MEET_Notes(VarnoxPath_FT_MEET_Notes::Member* pObj, std::shared_ptr<VarnoxPath_FT_MEET_Notes::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent);
  ~D2mVarnox_FT_MEET_Notes() override;

  std::u16string str() override { return Get<&CkxNote::str>(u".str"); }
  void set_str(OrbTextArg value) override {
    Set<&CkxNote::str>(u".str", value);
  }
};

// FT_MEET_Notes: the CkxNote records.
class D2oVarnox_FT_MEET_Notes final
    : public DataDirectAcces::D2oArray<D2oVarnox_FT_MEET_Notes, VarnoxPath_FT_MEET_Notes, D2mVarnox_FT_MEET_Notes, Id2sCkxNote>,
      public DataDirectAcces::OrbMvvmMaker<D2oVarnox_FT_MEET_Notes, MvvmCkxNote> {
 public:
  static constexpr std::u16string_view kClassName = u"D2oVarnox_FT_MEET_Notes";
  D2oVarnox_FT_MEET_Notes(VarnoxPath_FT_MEET_Notes::Member* pObj, const std::shared_ptr<DataDirectAcces::OrbFileM>& pFileM);
  ~D2oVarnox_FT_MEET_Notes() override;
  using D2oVarnox_FT_MEET_Notes_Enumerator = DataDirectAcces::OrbArrayEnumerator<D2oVarnox_FT_MEET_Notes, std::shared_ptr<Id2sCkxNote>>;
};

// FT_MEET_Races_Splits: the uint32 values.
class D2iVarnox_FT_MEET_Races_Splits final
    : public DataDirectAcces::D2iValues<D2iVarnox_FT_MEET_Races_Splits, VarnoxPath_FT_MEET_Races_Splits, uint32_t>,
      public DataDirectAcces::OrbMvvmMaker<D2iVarnox_FT_MEET_Races_Splits, DataDirectAcces::MvvmSimpleObsItem<uint32_t>> {
 public:
  static constexpr std::u16string_view kClassName = u"D2iVarnox_FT_MEET_Races_Splits";
  D2iVarnox_FT_MEET_Races_Splits(VarnoxPath_FT_MEET_Races_Splits::Member* pObj, std::shared_ptr<VarnoxPath_FT_MEET_Races_Splits::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent);
  ~D2iVarnox_FT_MEET_Races_Splits() override;
  using D2iVarnox_FT_MEET_Races_Splits_Enumerator = DataDirectAcces::OrbArrayEnumerator<D2iVarnox_FT_MEET_Races_Splits, uint32_t>;
};

// FT_MEET_Races_Ids: the int32 values.
class D2iVarnox_FT_MEET_Races_Ids final
    : public DataDirectAcces::D2iValues<D2iVarnox_FT_MEET_Races_Ids, VarnoxPath_FT_MEET_Races_Ids, int32_t>,
      public DataDirectAcces::OrbMvvmMaker<D2iVarnox_FT_MEET_Races_Ids, DataDirectAcces::MvvmSimpleObsItem<int32_t>> {
 public:
  static constexpr std::u16string_view kClassName = u"D2iVarnox_FT_MEET_Races_Ids";
  D2iVarnox_FT_MEET_Races_Ids(VarnoxPath_FT_MEET_Races_Ids::Member* pObj, std::shared_ptr<VarnoxPath_FT_MEET_Races_Ids::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent);
  ~D2iVarnox_FT_MEET_Races_Ids() override;
  using D2iVarnox_FT_MEET_Races_Ids_Enumerator = DataDirectAcces::OrbArrayEnumerator<D2iVarnox_FT_MEET_Races_Ids, int32_t>;
};

// One CkxNote of FT_MEET_Races_Pool_Starts, at level 1.
class D2mVarnox_FT_MEET_Races_Pool_Starts final
    : public DataDirectAcces::D2mProxy<D2mVarnox_FT_MEET_Races_Pool_Starts, VarnoxPath_FT_MEET_Races_Pool_Starts, Id2sCkxNote, 1> {
 public:
  static constexpr std::u16string_view kClassName = u"D2mVarnox_FT_MEET_Races_Pool_Starts";
  D2mVarnox_FT_MEET_Races_Pool_Starts(VarnoxPath_FT_MEET_Races_Pool_Starts::Member* pObj, std::shared_ptr<VarnoxPath_FT_MEET_Races_Pool_Starts::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent);
  ~D2mVarnox_FT_MEET_Races_Pool_Starts() override;

  std::u16string str() override { return Get<&CkxNote::str>(u".str"); }
  void set_str(OrbTextArg value) override {
    Set<&CkxNote::str>(u".str", value);
  }
};

// FT_MEET_Races_Pool_Starts: the CkxNote records.
class D2iVarnox_FT_MEET_Races_Pool_Starts final
    : public DataDirectAcces::D2iMap<D2iVarnox_FT_MEET_Races_Pool_Starts, VarnoxPath_FT_MEET_Races_Pool_Starts, D2mVarnox_FT_MEET_Races_Pool_Starts, Id2sCkxNote, uint64_t>,
      public DataDirectAcces::OrbMvvmMaker<D2iVarnox_FT_MEET_Races_Pool_Starts, MvvmCkxNote> {
 public:
  static constexpr std::u16string_view kClassName = u"D2iVarnox_FT_MEET_Races_Pool_Starts";
  D2iVarnox_FT_MEET_Races_Pool_Starts(VarnoxPath_FT_MEET_Races_Pool_Starts::Member* pObj, std::shared_ptr<VarnoxPath_FT_MEET_Races_Pool_Starts::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent);
  ~D2iVarnox_FT_MEET_Races_Pool_Starts() override;
  using D2iVarnox_FT_MEET_Races_Pool_Starts_Enumerator = DataDirectAcces::OrbMapEnumerator<D2iVarnox_FT_MEET_Races_Pool_Starts, std::shared_ptr<Id2sCkxNote>>;
};

// One CkxPool of FT_MEET_Races_Pool, embedded.
class D2mVarnox_FT_MEET_Races_Pool final
    : public DataDirectAcces::D2mProxy<D2mVarnox_FT_MEET_Races_Pool, VarnoxPath_FT_MEET_Races_Pool, Id2sCkxPool, 2> {
 public:
  static constexpr std::u16string_view kClassName = u"D2mVarnox_FT_MEET_Races_Pool";
  D2mVarnox_FT_MEET_Races_Pool(VarnoxPath_FT_MEET_Races_Pool::Member* pObj, std::shared_ptr<VarnoxPath_FT_MEET_Races_Pool::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent);
  ~D2mVarnox_FT_MEET_Races_Pool() override;

  int32_t Lanes() override { return Get<&CkxPool::Lanes>(u".Lanes"); }
  void set_Lanes(int32_t value) override {
    Set<&CkxPool::Lanes>(u".Lanes", value);
  }
  std::shared_ptr<IOrbMap<uint64_t, Id2sCkxNote>> Starts() override {
    return Make<D2iVarnox_FT_MEET_Races_Pool_Starts>(u".Starts");
  }
};

// One CkxNote of FT_MEET_Races_Laps, at level 1.
class D2mVarnox_FT_MEET_Races_Laps final
    : public DataDirectAcces::D2mProxy<D2mVarnox_FT_MEET_Races_Laps, VarnoxPath_FT_MEET_Races_Laps, Id2sCkxNote, 1> {
 public:
  static constexpr std::u16string_view kClassName = u"D2mVarnox_FT_MEET_Races_Laps";
  D2mVarnox_FT_MEET_Races_Laps(VarnoxPath_FT_MEET_Races_Laps::Member* pObj, std::shared_ptr<VarnoxPath_FT_MEET_Races_Laps::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent);
  ~D2mVarnox_FT_MEET_Races_Laps() override;

  std::u16string str() override { return Get<&CkxNote::str>(u".str"); }
  void set_str(OrbTextArg value) override {
    Set<&CkxNote::str>(u".str", value);
  }
};

// FT_MEET_Races_Laps: the CkxNote records.
class D2iVarnox_FT_MEET_Races_Laps final
    : public DataDirectAcces::D2iArray<D2iVarnox_FT_MEET_Races_Laps, VarnoxPath_FT_MEET_Races_Laps, D2mVarnox_FT_MEET_Races_Laps, Id2sCkxNote>,
      public DataDirectAcces::OrbMvvmMaker<D2iVarnox_FT_MEET_Races_Laps, MvvmCkxNote> {
 public:
  static constexpr std::u16string_view kClassName = u"D2iVarnox_FT_MEET_Races_Laps";
  D2iVarnox_FT_MEET_Races_Laps(VarnoxPath_FT_MEET_Races_Laps::Member* pObj, std::shared_ptr<VarnoxPath_FT_MEET_Races_Laps::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent);
  ~D2iVarnox_FT_MEET_Races_Laps() override;
  using D2iVarnox_FT_MEET_Races_Laps_Enumerator = DataDirectAcces::OrbArrayEnumerator<D2iVarnox_FT_MEET_Races_Laps, std::shared_ptr<Id2sCkxNote>>;
};

// One CkxRace of FT_MEET_Races, at level 0.
class D2mVarnox_FT_MEET_Races final
    : public DataDirectAcces::D2mProxy<D2mVarnox_FT_MEET_Races, VarnoxPath_FT_MEET_Races, Id2sCkxRace, 11> {
 public:
  static constexpr std::u16string_view kClassName = u"D2mVarnox_FT_MEET_Races";
  D2mVarnox_FT_MEET_Races(VarnoxPath_FT_MEET_Races::Member* pObj, std::shared_ptr<VarnoxPath_FT_MEET_Races::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent);
  ~D2mVarnox_FT_MEET_Races() override;

  OrbDateTime Start() override { return Get<&CkxRace::Start>(u".Start"); }
  void set_Start(const OrbDateTime& value) override {
    Set<&CkxRace::Start>(u".Start", value);
  }
  std::u16string Title() override { return Get<&CkxRace::Title>(u".Title"); }
  void set_Title(OrbTextArg value) override {
    Set<&CkxRace::Title>(u".Title", value);
  }
  std::shared_ptr<IOrbArray<Id2sCkxNote>> Laps() override {
    return Make<D2iVarnox_FT_MEET_Races_Laps>(u".Laps");
  }
  std::shared_ptr<Id2sCkxPool> Pool() override {
    return Make<D2mVarnox_FT_MEET_Races_Pool>(u".Pool");
  }
  uint32_t Seq() override { return Get<&CkxRace::Seq>(u".Seq"); }
  void set_Seq(uint32_t value) override {
    Set<&CkxRace::Seq>(u".Seq", value);
  }
  std::shared_ptr<IOrbArray1D<int32_t>> Ids() override {
    return Make<D2iVarnox_FT_MEET_Races_Ids>(u".Ids");
  }
  std::u16string Name() override { return Get<&CkxRace::Name>(u".Name"); }
  void set_Name(OrbTextArg value) override {
    Set<&CkxRace::Name>(u".Name", value);
  }
  int32_t Born() override { return Get<&CkxRace::Born>(u".Born"); }
  void set_Born(int32_t value) override {
    Set<&CkxRace::Born>(u".Born", value);
  }
  bool Ready() override { return Get<&CkxRace::Ready>(u".Ready"); }
  void set_Ready(bool value) override {
    Set<&CkxRace::Ready>(u".Ready", value);
  }
  std::optional<KxTime> Time() override { return Get<&CkxRace::Time>(u".Time"); }
  void set_Time(const std::optional<KxTime>& value) override {
    Set<&CkxRace::Time>(u".Time", value);
  }
  std::shared_ptr<IOrbArray1D<uint32_t>> Splits() override {
    return Make<D2iVarnox_FT_MEET_Races_Splits>(u".Splits");
  }
};

// FT_MEET_Races: the CkxRace records.
class D2oVarnox_FT_MEET_Races final
    : public DataDirectAcces::D2oMap<D2oVarnox_FT_MEET_Races, VarnoxPath_FT_MEET_Races, D2mVarnox_FT_MEET_Races, Id2sCkxRace, std::u16string>,
      public DataDirectAcces::OrbMvvmMaker<D2oVarnox_FT_MEET_Races, MvvmCkxRace> {
 public:
  static constexpr std::u16string_view kClassName = u"D2oVarnox_FT_MEET_Races";
  D2oVarnox_FT_MEET_Races(VarnoxPath_FT_MEET_Races::Member* pObj, const std::shared_ptr<DataDirectAcces::OrbFileM>& pFileM);
  ~D2oVarnox_FT_MEET_Races() override;
  using D2oVarnox_FT_MEET_Races_Enumerator = DataDirectAcces::OrbMapEnumerator<D2oVarnox_FT_MEET_Races, std::shared_ptr<Id2sCkxRace>>;
};

}  // namespace Tarvex::Orb::Data::Varnox
