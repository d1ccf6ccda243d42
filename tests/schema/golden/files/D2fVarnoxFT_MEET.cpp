// Generated from schema/varnox.toml by schema/generate.py. Do not edit.
//
// The file wrapper of FT_MEET: its constructor and destructor, and its
// view-model roots and data contexts; its virtual table, and the templates
// it reaches, are built here.
#include "files/D2fVarnoxFT_MEET.h"

namespace Tarvex::Orb::Data::Varnox {

D2fVarnox_FT_MEET::D2fVarnox_FT_MEET(ConstructionKey key) : D2fFile(key) {}
D2fVarnox_FT_MEET::~D2fVarnox_FT_MEET() = default;

std::shared_ptr<D2fVarnox_FT_MEET::RacesMvvmRoot> D2fVarnox_FT_MEET::RacesMvvm() {
  return MvvmRoot<RacesMvvmRoot>(&D2fVarnox_FT_MEET::Races, 0);
}

std::shared_ptr<D2fVarnox_FT_MEET::RacesMvvmRoot> D2fVarnox_FT_MEET::GetRacesMvvmRoot() { return RacesMvvm(); }

std::shared_ptr<DataDirectAcces::OrbGenericDataContext> D2fVarnox_FT_MEET::TheRacesMvvmDC(
    bool bShared, DataDirectAcces::OrbDataMode dataMode, bool bUseMvvmNotification,
    bool bUseOrbNotification, bool bUseAutoCommit) {
  return DataContext(&D2fVarnox_FT_MEET::GetRacesMvvmRoot, 0, u".TheRacesMvvmDC", bShared,
                     dataMode, bUseMvvmNotification, bUseOrbNotification, bUseAutoCommit);
}

std::shared_ptr<D2fVarnox_FT_MEET::NotesMvvmRoot> D2fVarnox_FT_MEET::NotesMvvm() {
  return MvvmRoot<NotesMvvmRoot>(&D2fVarnox_FT_MEET::Notes, 1);
}

std::shared_ptr<D2fVarnox_FT_MEET::NotesMvvmRoot> D2fVarnox_FT_MEET::GetNotesMvvmRoot() { return NotesMvvm(); }

std::shared_ptr<DataDirectAcces::OrbGenericDataContext> D2fVarnox_FT_MEET::TheNotesMvvmDC(
    bool bShared, DataDirectAcces::OrbDataMode dataMode, bool bUseMvvmNotification,
    bool bUseOrbNotification, bool bUseAutoCommit) {
  return DataContext(&D2fVarnox_FT_MEET::GetNotesMvvmRoot, 1, u".TheNotesMvvmDC", bShared,
                     dataMode, bUseMvvmNotification, bUseOrbNotification, bUseAutoCommit);
}

std::shared_ptr<D2fVarnox_FT_MEET::PoolMvvmRoot> D2fVarnox_FT_MEET::PoolMvvm() {
  return MvvmRoot<PoolMvvmRoot>(&D2fVarnox_FT_MEET::Pool, 2);
}

std::shared_ptr<D2fVarnox_FT_MEET::PoolMvvmRoot> D2fVarnox_FT_MEET::GetPoolMvvmRoot() { return PoolMvvm(); }

std::shared_ptr<DataDirectAcces::OrbGenericDataContext> D2fVarnox_FT_MEET::ThePoolMvvmDC(
    bool bShared, DataDirectAcces::OrbDataMode dataMode, bool bUseMvvmNotification,
    bool bUseOrbNotification, bool bUseAutoCommit) {
  return DataContext(&D2fVarnox_FT_MEET::GetPoolMvvmRoot, 2, u".ThePoolMvvmDC", bShared,
                     dataMode, bUseMvvmNotification, bUseOrbNotification, bUseAutoCommit);
}

}  // namespace Tarvex::Orb::Data::Varnox
