// Generated from schema/varnox.toml by schema/generate.py. Do not edit.
//
// The file wrapper of FT_MEET.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "access/D2VarnoxFT_MEET.h"
#include "files/D2fFile.h"
#include "templates/CkxVarnoxFT_MEET.h"

namespace Tarvex::Orb::Data::Varnox {

// The file wrapper of FT_MEET; construct it with Create().
class D2fVarnox_FT_MEET final
    : public DataDirectAcces::D2fFile<D2fVarnox_FT_MEET, CkxVarnoxFT_MEET> {
 public:
  static constexpr std::u16string_view kClassName = u"D2fVarnox_FT_MEET";
  static constexpr int32_t kRootCount = 3;

  explicit D2fVarnox_FT_MEET(ConstructionKey key);
  ~D2fVarnox_FT_MEET() override;

  // Member 0, Races: its container wrapper, made on the first read.
  std::shared_ptr<DataDirectAcces::IOrbObjMap<std::u16string, Id2sCkxRace>> Races() {
    return Member(m_Races, &CkxVarnoxFT_MEET::m_Races, 0,
                  u".Races");
  }
  using RacesMvvmRoot = DataDirectAcces::OrbMvvmObsMap<std::u16string, Id2sCkxRace, MvvmCkxRace>;
  // A new view-model root of Races, registered with the file.
  std::shared_ptr<RacesMvvmRoot> RacesMvvm();
  // What the data contexts of Races call for their root: RacesMvvm().
  virtual std::shared_ptr<RacesMvvmRoot> GetRacesMvvmRoot();
  // A data context over a root of Races (OrbGenericContextManager::GetDC).
  virtual std::shared_ptr<DataDirectAcces::OrbGenericDataContext> TheRacesMvvmDC(
      bool bShared, DataDirectAcces::OrbDataMode dataMode, bool bUseMvvmNotification,
      bool bUseOrbNotification, bool bUseAutoCommit);
  // Member 1, Notes: its container wrapper, made on the first read.
  std::shared_ptr<DataDirectAcces::IOrbObjArray<Id2sCkxNote>> Notes() {
    return Member(m_Notes, &CkxVarnoxFT_MEET::m_Notes, 1,
                  u".Notes");
  }
  using NotesMvvmRoot = DataDirectAcces::OrbMvvmObsArray<Id2sCkxNote, MvvmCkxNote>;
  // A new view-model root of Notes, registered with the file.
  std::shared_ptr<NotesMvvmRoot> NotesMvvm();
  // What the data contexts of Notes call for their root: NotesMvvm().
  virtual std::shared_ptr<NotesMvvmRoot> GetNotesMvvmRoot();
  // A data context over a root of Notes (OrbGenericContextManager::GetDC).
  virtual std::shared_ptr<DataDirectAcces::OrbGenericDataContext> TheNotesMvvmDC(
      bool bShared, DataDirectAcces::OrbDataMode dataMode, bool bUseMvvmNotification,
      bool bUseOrbNotification, bool bUseAutoCommit);
  // Member 2, Pool: its container wrapper, made on the first read.
  std::shared_ptr<Id2oCkxPool> Pool() {
    return Member(m_Pool, &CkxVarnoxFT_MEET::m_Pool, 2,
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
    m_Races = nullptr;
    m_Notes = nullptr;
    m_Pool = nullptr;
  }

  std::shared_ptr<D2oVarnox_FT_MEET_Races> m_Races;
  std::shared_ptr<D2oVarnox_FT_MEET_Notes> m_Notes;
  std::shared_ptr<D2oVarnox_FT_MEET_Pool> m_Pool;
};

}  // namespace Tarvex::Orb::Data::Varnox
