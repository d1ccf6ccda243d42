// Generated from schema/varnox.toml by schema/generate.py. Do not edit.
//
// The file wrapper of FT_CLUB: its constructor and destructor, and its
// view-model roots and data contexts; its virtual table, and the templates
// it reaches, are built here.
#include "files/D2fVarnoxFT_CLUB.h"

namespace Tarvex::Orb::Data::Varnox {

D2fVarnox_FT_CLUB::D2fVarnox_FT_CLUB(ConstructionKey key) : D2fFile(key) {}
D2fVarnox_FT_CLUB::~D2fVarnox_FT_CLUB() = default;

std::shared_ptr<D2fVarnox_FT_CLUB::PoolMvvmRoot> D2fVarnox_FT_CLUB::PoolMvvm() {
  return MvvmRoot<PoolMvvmRoot>(&D2fVarnox_FT_CLUB::Pool, 0);
}

std::shared_ptr<D2fVarnox_FT_CLUB::PoolMvvmRoot> D2fVarnox_FT_CLUB::GetPoolMvvmRoot() { return PoolMvvm(); }

std::shared_ptr<DataDirectAcces::OrbGenericDataContext> D2fVarnox_FT_CLUB::ThePoolMvvmDC(
    bool bShared, DataDirectAcces::OrbDataMode dataMode, bool bUseMvvmNotification,
    bool bUseOrbNotification, bool bUseAutoCommit) {
  return DataContext(&D2fVarnox_FT_CLUB::GetPoolMvvmRoot, 0, u".ThePoolMvvmDC", bShared,
                     dataMode, bUseMvvmNotification, bUseOrbNotification, bUseAutoCommit);
}

}  // namespace Tarvex::Orb::Data::Varnox
