// Generated from schema/varnox.toml by schema/generate.py. Do not edit.
//
// The file wrapper of FT_CLUB.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "access/D2VarnoxFT_CLUB.h"
#include "files/D2fFile.h"
#include "templates/CkxVarnoxFT_CLUB.h"

namespace Tarvex::Orb::Data::Varnox {

// The file wrapper of FT_CLUB; construct it with Create().
class D2fVarnox_FT_CLUB final
    : public DataDirectAcces::D2fFile<D2fVarnox_FT_CLUB, CkxVarnoxFT_CLUB> {
 public:
  static constexpr std::u16string_view kClassName = u"D2fVarnox_FT_CLUB";
  static constexpr int32_t kRootCount = 1;

  explicit D2fVarnox_FT_CLUB(ConstructionKey key);
  ~D2fVarnox_FT_CLUB() override;

  // Member 0, Pool: its container wrapper, made on the first read.
  std::shared_ptr<Id2oCkxPool> Pool() {
    return Member(m_Pool, &CkxVarnoxFT_CLUB::m_Pool, 0,
                  u".Pool");
  }
  using PoolMvvmRoot = MvvmCkxPool;
  // A new view-model root of Pool, registered with the file.
  std::shared_ptr<PoolMvvmRoot> PoolMvvm();
  // What the data contexts of Pool call for their root: PoolMvvm().
  virtual std::shared_ptr<PoolMvvmRoot> GetPoolMvvmRoot();
  // A data context over a root of Pool (OrbGenericContextManager::GetDC).
  virtual std::shared_ptr<DataDirectAcces::OrbGenericDataContext> ThePoolMvvmDC(
      bool bShared, DataDirectAcces::OrbDataMode dataMode, bool bUseMvvmNotification,
      bool bUseOrbNotification, bool bUseAutoCommit);

 private:
  friend D2fFile;

  // Drops the cached container wrappers, which hold this wrapper.
  void ReleaseMembers() {
    m_Pool = nullptr;
  }

  std::shared_ptr<D2oVarnox_FT_CLUB_Pool> m_Pool;
};

}  // namespace Tarvex::Orb::Data::Varnox
