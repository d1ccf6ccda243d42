// Generated from schema/varnox.toml by schema/generate.py. Do not edit.
//
// The record interfaces: one property per field of each record, in
// property-index order; a nested container or embedded record is a getter
// of its wrapper or proxy interface. A top-level single record's interface
// Id2o<Record> adds the persistence operations and the change event.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "access/OrbFields.h"
#include "contracts/framework/OrbInterfaces.h"

namespace Tarvex::Orb::Data::Varnox {

using Tarvex::Orb::KxTime;
using Tarvex::Orb::DataDirectAcces::IOrbArray;
using Tarvex::Orb::DataDirectAcces::IOrbArray1D;
using Tarvex::Orb::DataDirectAcces::IOrbMap;
using Tarvex::Orb::DataDirectAcces::IOrbObject;
using Tarvex::Orb::DataDirectAcces::OrbDateTime;
using Tarvex::Orb::DataDirectAcces::OrbTextArg;

// The properties of CkxNote, in property-index order.
class Id2sCkxNote : public IOrbObject {
 public:
  virtual std::u16string str() = 0;
  virtual void set_str(OrbTextArg value) = 0;

  // True only for this very object.
  bool Equals(const std::shared_ptr<Id2sCkxNote>& pOther) const {
    return pOther.get() == this;
  }
};

// The properties of CkxPool, in property-index order.
class Id2sCkxPool : public IOrbObject {
 public:
  virtual int32_t Lanes() = 0;
  virtual void set_Lanes(int32_t value) = 0;
  virtual std::shared_ptr<IOrbMap<uint64_t, Id2sCkxNote>> Starts() = 0;

  // True only for this very object.
  bool Equals(const std::shared_ptr<Id2sCkxPool>& pOther) const {
    return pOther.get() == this;
  }
};

class Id2oCkxPool
    : public Id2sCkxPool,
      public DataDirectAcces::IOrbUpdatableObject {};

// The properties of CkxRace, in property-index order.
class Id2sCkxRace : public IOrbObject {
 public:
  virtual OrbDateTime Start() = 0;
  virtual void set_Start(const OrbDateTime& value) = 0;
  virtual std::u16string Title() = 0;
  virtual void set_Title(OrbTextArg value) = 0;
  virtual std::shared_ptr<IOrbArray<Id2sCkxNote>> Laps() = 0;
  virtual std::shared_ptr<Id2sCkxPool> Pool() = 0;
  virtual uint32_t Seq() = 0;
  virtual void set_Seq(uint32_t value) = 0;
  virtual std::shared_ptr<IOrbArray1D<int32_t>> Ids() = 0;
  virtual std::u16string Name() = 0;
  virtual void set_Name(OrbTextArg value) = 0;
  virtual int32_t Born() = 0;
  virtual void set_Born(int32_t value) = 0;
  virtual bool Ready() = 0;
  virtual void set_Ready(bool value) = 0;
  virtual std::optional<KxTime> Time() = 0;
  virtual void set_Time(const std::optional<KxTime>& value) = 0;
  virtual std::shared_ptr<IOrbArray1D<uint32_t>> Splits() = 0;

  // True only for this very object.
  bool Equals(const std::shared_ptr<Id2sCkxRace>& pOther) const {
    return pOther.get() == this;
  }
};

}  // namespace Tarvex::Orb::Data::Varnox
