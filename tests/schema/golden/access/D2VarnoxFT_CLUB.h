// Generated from schema/varnox.toml by schema/generate.py. Do not edit.
//
// The access layer of FT_CLUB: the path walk of every member path, then
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
#include "templates/CkxVarnoxFT_CLUB.h"
#include "viewmodels/VarnoxViewModelClasses.h"

namespace Tarvex::Orb::Data::Varnox {

class D2oVarnox_FT_CLUB_Pool;
class D2iVarnox_FT_CLUB_Pool_Starts;
class D2mVarnox_FT_CLUB_Pool_Starts;

// The walks, parents first.
struct VarnoxPath_FT_CLUB_Pool
    : DataDirectAcces::OrbTopSingleStep<CkxVarnoxFT_CLUBPool, D2oVarnox_FT_CLUB_Pool> {};
struct VarnoxPath_FT_CLUB_Pool_Starts
    : DataDirectAcces::OrbNestedStep<VarnoxPath_FT_CLUB_Pool, &CkxPool::Starts> {};

// One CkxNote of FT_CLUB_Pool_Starts, at level 0.
class D2mVarnox_FT_CLUB_Pool_Starts final
    : public DataDirectAcces::D2mProxy<D2mVarnox_FT_CLUB_Pool_Starts, VarnoxPath_FT_CLUB_Pool_Starts, Id2sCkxNote, 1> {
 public:
  static constexpr std::u16string_view kClassName = u"D2mVarnox_FT_CLUB_Pool_Starts";
  D2mVarnox_FT_CLUB_Pool_Starts(VarnoxPath_FT_CLUB_Pool_Starts::Member* pObj, std::shared_ptr<VarnoxPath_FT_CLUB_Pool_Starts::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent);
  ~D2mVarnox_FT_CLUB_Pool_Starts() override;

  std::u16string str() override { return Get<&CkxNote::str>(u".str"); }
  void set_str(OrbTextArg value) override {
    Set<&CkxNote::str>(u".str", value);
  }
};

// FT_CLUB_Pool_Starts: the CkxNote records.
class D2iVarnox_FT_CLUB_Pool_Starts final
    : public DataDirectAcces::D2iMap<D2iVarnox_FT_CLUB_Pool_Starts, VarnoxPath_FT_CLUB_Pool_Starts, D2mVarnox_FT_CLUB_Pool_Starts, Id2sCkxNote, uint64_t>,
      public DataDirectAcces::OrbMvvmMaker<D2iVarnox_FT_CLUB_Pool_Starts, MvvmCkxNote> {
 public:
  static constexpr std::u16string_view kClassName = u"D2iVarnox_FT_CLUB_Pool_Starts";
  D2iVarnox_FT_CLUB_Pool_Starts(VarnoxPath_FT_CLUB_Pool_Starts::Member* pObj, std::shared_ptr<VarnoxPath_FT_CLUB_Pool_Starts::Top> pObjM, const DataDirectAcces::OrbIndexsList* pParent);
  ~D2iVarnox_FT_CLUB_Pool_Starts() override;
  using D2iVarnox_FT_CLUB_Pool_Starts_Enumerator = DataDirectAcces::OrbMapEnumerator<D2iVarnox_FT_CLUB_Pool_Starts, std::shared_ptr<Id2sCkxNote>>;
};

// FT_CLUB_Pool: the single CkxPool.
class D2oVarnox_FT_CLUB_Pool final
    : public DataDirectAcces::D2oSingle<D2oVarnox_FT_CLUB_Pool, VarnoxPath_FT_CLUB_Pool, Id2oCkxPool> {
 public:
  static constexpr std::u16string_view kClassName = u"D2oVarnox_FT_CLUB_Pool";
  D2oVarnox_FT_CLUB_Pool(VarnoxPath_FT_CLUB_Pool::Member* pObj, const std::shared_ptr<DataDirectAcces::OrbFileM>& pFileM);
  ~D2oVarnox_FT_CLUB_Pool() override;

  int32_t Lanes() override { return Get<&CkxPool::Lanes>(u".Lanes"); }
  void set_Lanes(int32_t value) override {
    Set<&CkxPool::Lanes>(u".Lanes", value);
  }
  std::shared_ptr<IOrbMap<uint64_t, Id2sCkxNote>> Starts() override {
    return Make<D2iVarnox_FT_CLUB_Pool_Starts>(u".Starts");
  }
};

}  // namespace Tarvex::Orb::Data::Varnox
