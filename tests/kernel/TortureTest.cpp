// The kill campaign: a child attached to a live races file makes random
// changes (races, heats, lanes, texts, laps) and is killed at random moments.
// After each kill the parent, attached throughout, checks the live data, reads
// every race against the journal of finished changes the child kept in shared
// memory (the race in change may hold the old content or the new), saves,
// checks the saved file and reopens a copy. VARNOX_TORTURE_KILLS sets the
// number of kills (`make torture` runs 1,000), VARNOX_TORTURE_SEED the seed.
#include <gtest/gtest.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "kernel/KxCheck.h"
#include "tests/kernel/KernelEngineSupport.h"
#include "tests/kernel/KernelTestSupport.h"

namespace {

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

constexpr int kRaces = 16;
constexpr int kHeats = 3;
constexpr int kLanes = 4;
constexpr int kShortRunKills = 30;

// What the finished changes left, in memory shared with the parent. A text
// is told by its generation and length: unit i is 'A' + (generation + i) % 26.
struct LaneModel {
  bool bPresent;
  uint32_t uiLaps;
  uint32_t uiHandicapGeneration;
  uint32_t uiHandicapLength;  // 0: never written
};
struct HeatModel {
  bool bPresent;
  LaneModel lanes[kLanes];
};
struct RaceModel {
  bool bPresent;
  uint32_t uiTitleGeneration;
  uint32_t uiTitleLength;  // 0: never written
  HeatModel heats[kHeats];
};
struct Journal {
  std::atomic<int32_t> iChanging;  // the race being changed, -1 none
  std::atomic<uint64_t> uiFinished;
  RaceModel races[kRaces];
  RaceModel pending;  // what the change of race iChanging leaves
};

std::string Key(char cKind, int i) { return cKind + std::to_string(i); }

// The races file's records, reached through the engine with its segment
// locked by the caller.
class Races {
 public:
  explicit Races(KxLiveFile& file)
      : m_Segment(file.Segment(0)), m_Store(file.Store(0)),
        m_pRoot(static_cast<KxEmbeddedMap*>(file.Container(0))) {}

  template <class Record>
  Record* Find(KxEmbeddedMap* pMap, uint64_t uiKey, const char* csKey) {
    const uint32_t uiHandle = m_Store.MapCommand(pMap, D2MapCmd::Find, uiKey, csKey);
    return uiHandle == 0 ? nullptr : RecordAt<Record>(uiHandle);
  }
  template <class Record>
  Record* Add(KxEmbeddedMap* pMap, uint64_t uiKey, const char* csKey) {
    const uint32_t uiHandle = m_Store.MapCommand(pMap, D2MapCmd::Add, uiKey, csKey);
    if (uiHandle == 0) throw std::runtime_error("add failed");
    return RecordAt<Record>(uiHandle);
  }
  void Remove(KxEmbeddedMap* pMap, uint64_t uiKey, const char* csKey) {
    m_Store.MapCommand(pMap, D2MapCmd::Remove, uiKey, csKey);
  }
  void Clear(KxEmbeddedMap* pMap, uint64_t uiKey, const char* csKey) {
    m_Store.MapCommand(pMap, D2MapCmd::Clear, uiKey, csKey);
  }
  CkxScheduleOneEntry* Race(int r) {
    return Find<CkxScheduleOneEntry>(m_pRoot, 0, Key('R', r).c_str());
  }
  CkxCompOneHeat* Heat(CkxScheduleOneEntry& race, int h) {
    return Find<CkxCompOneHeat>(Map(race.Heats), 0, Key('H', h).c_str());
  }
  CkxCompOneLane* Lane(CkxCompOneHeat& heat, int l) {
    return Find<CkxCompOneLane>(Map(heat.LaneResults), static_cast<uint64_t>(l + 1), nullptr);
  }
  static KxEmbeddedMap* Map(auto& field) { return reinterpret_cast<KxEmbeddedMap*>(&field); }
  KxEmbeddedMap* Root() { return m_pRoot; }

  void WriteText(CkxD2StrDU& field, uint32_t uiGeneration, uint32_t uiLength) {
    KxDynString* pString = reinterpret_cast<KxDynString*>(&field);
    if (!m_Store.ResizeString(pString, uiLength)) throw std::runtime_error("resize failed");
    char16_t* pText = reinterpret_cast<char16_t*>(m_Segment.At(pString->textOffset));
    for (uint32_t i = 0; i < uiLength; ++i) pText[i] = static_cast<char16_t>('A' + (uiGeneration + i) % 26);
  }
  bool TextIs(const CkxD2StrDU& field, uint32_t uiGeneration, uint32_t uiLength) {
    const KxDynString* pString = reinterpret_cast<const KxDynString*>(&field);
    if (uiLength == 0) return pString->lengthWord == 0;
    if (pString->lengthWord != uiLength + 1) return false;
    const char16_t* pText = reinterpret_cast<const char16_t*>(m_Segment.At(pString->textOffset));
    for (uint32_t i = 0; i < uiLength; ++i) {
      if (pText[i] != static_cast<char16_t>('A' + (uiGeneration + i) % 26)) return false;
    }
    return true;
  }
  void SetLaps(CkxCompOneLane& lane, uint32_t uiLaps) {
    KxArrayHeader* pHeader = reinterpret_cast<KxArrayHeader*>(&lane.Laps);
    if (!m_Store.ResizeArray(pHeader, uiLaps)) throw std::runtime_error("resize failed");
    auto* pLaps = reinterpret_cast<CkxCompOneLap*>(m_Segment.At(pHeader->dataOffset));
    for (uint32_t i = 0; i < uiLaps; ++i) pLaps[i].Lap = static_cast<int32_t>(i + 1);
  }
  // As many laps as `uiLaps`, lap i holding i + 1 up to some point (at
  // least the `uiKept` laps the array held before) and the zeroes the
  // kernel lays new elements out with after it.
  bool LapsHalfWritten(const CkxCompOneLane& lane, uint32_t uiLaps, uint32_t uiKept) {
    const KxArrayHeader* pHeader = reinterpret_cast<const KxArrayHeader*>(&lane.Laps);
    if (pHeader->size != uiLaps) return false;
    const auto* pLaps = reinterpret_cast<const CkxCompOneLap*>(m_Segment.At(pHeader->dataOffset));
    uint32_t i = 0;
    while (i < uiLaps && pLaps[i].Lap == static_cast<int32_t>(i + 1)) ++i;
    if (i < std::min(uiLaps, uiKept)) return false;
    while (i < uiLaps && pLaps[i].Lap == 0) ++i;
    return i == uiLaps;
  }
 private:
  template <class Record>
  Record* RecordAt(uint32_t uiHandle) {
    return reinterpret_cast<Record*>(m_Segment.At(uiHandle) + sizeof(KxMapNode));
  }
  KxSegment& m_Segment;
  KxStore& m_Store;
  KxEmbeddedMap* m_pRoot;
};

// One random change of race `r`, recorded in `model`; made in the file too
// when `pRaces` is given. Planning it first without a file (with a copy of
// the random engine) tells what the change will leave.
void ChangeRace(Races* pRaces, int r, RaceModel& model, std::mt19937& random,
                uint32_t uiGeneration) {
  const std::string csRace = Key('R', r);
  if (!model.bPresent) {
    if (pRaces != nullptr) pRaces->Add<CkxScheduleOneEntry>(pRaces->Root(), 0, csRace.c_str());
    model = RaceModel{true, 0, 0, {}};
    return;
  }
  CkxScheduleOneEntry* pRace = pRaces != nullptr ? pRaces->Race(r) : nullptr;
  const int h = static_cast<int>(random() % kHeats);
  const int l = static_cast<int>(random() % kLanes);
  HeatModel& heat = model.heats[h];
  switch (random() % 10) {
    case 0:
      if (pRaces != nullptr) pRaces->Remove(pRaces->Root(), 0, csRace.c_str());
      model = RaceModel{};
      return;
    case 1:
      if (pRaces != nullptr) pRaces->Remove(Races::Map(pRace->Heats), 0, Key('H', h).c_str());
      heat = HeatModel{};
      return;
    case 2:
      // Cleared in place: the record laid out anew.
      if (pRaces != nullptr) pRaces->Clear(pRaces->Root(), 0, csRace.c_str());
      model = RaceModel{true, 0, 0, {}};
      return;
    case 3:
      model.uiTitleGeneration = uiGeneration;
      model.uiTitleLength = 1 + random() % 60;
      if (pRaces != nullptr)
        pRaces->WriteText(pRace->TitleScb, model.uiTitleGeneration, model.uiTitleLength);
      return;
    default:
      break;
  }
  if (!heat.bPresent) {
    if (pRaces != nullptr) pRaces->Add<CkxCompOneHeat>(Races::Map(pRace->Heats), 0, Key('H', h).c_str());
    heat = HeatModel{true, {}};
    return;
  }
  CkxCompOneHeat* pHeat = pRaces != nullptr ? pRaces->Heat(*pRace, h) : nullptr;
  LaneModel& lane = heat.lanes[l];
  const uint64_t uiLane = static_cast<uint64_t>(l + 1);
  if (!lane.bPresent) {
    if (pRaces != nullptr) pRaces->Add<CkxCompOneLane>(Races::Map(pHeat->LaneResults), uiLane, nullptr);
    lane = LaneModel{true, 0, 0, 0};
    return;
  }
  CkxCompOneLane* pLane = pRaces != nullptr ? pRaces->Lane(*pHeat, l) : nullptr;
  switch (random() % 4) {
    case 0:
      if (pRaces != nullptr) pRaces->Remove(Races::Map(pHeat->LaneResults), uiLane, nullptr);
      lane = LaneModel{};
      return;
    case 1:
      lane.uiHandicapGeneration = uiGeneration;
      lane.uiHandicapLength = 1 + random() % 20;
      if (pRaces != nullptr)
        pRaces->WriteText(pLane->LHandicap, lane.uiHandicapGeneration, lane.uiHandicapLength);
      return;
    default:
      lane.uiLaps = random() % 30;
      if (pRaces != nullptr) pRaces->SetLaps(*pLane, lane.uiLaps);
      return;
  }
}

// The child: changes races until it is killed. Before each change it
// records what the change will leave and which race it changes.
[[noreturn]] void ChangeUntilKilled(KxLiveFile& file, Journal& journal, unsigned uiSeed) {
  std::mt19937 random(uiSeed);
  Races races(file);
  for (uint32_t uiGeneration = uiSeed;; ++uiGeneration) {
    const int r = static_cast<int>(random() % kRaces);
    std::mt19937 plan = random;
    RaceModel next = journal.races[r];
    ChangeRace(nullptr, r, next, plan, uiGeneration);
    journal.pending = next;
    journal.iChanging = r;
    {
      KxSegmentLock lock(file.Segment(0));
      RaceModel made = journal.races[r];
      ChangeRace(&races, r, made, random, uiGeneration);
    }
    journal.races[r] = next;
    journal.iChanging = -1;
    ++journal.uiFinished;
  }
}

// Race `r` as `model` says; when `bHalfWritten`, texts by their lengths
// only and laps by their count, their values a written prefix (see
// SettleChangingRace; `before` is what the race held before the change);
// answers the first difference.
std::string CompareRace(Races& races, int r, const RaceModel& model, bool bHalfWritten,
                        const RaceModel& before = RaceModel{}) {
  auto textIs = [&](const CkxD2StrDU& field, uint32_t uiGeneration, uint32_t uiLength) {
    if (!bHalfWritten) return races.TextIs(field, uiGeneration, uiLength);
    return reinterpret_cast<const KxDynString*>(&field)->lengthWord == (uiLength == 0 ? 0 : uiLength + 1);
  };
  CkxScheduleOneEntry* pRace = races.Race(r);
  const std::string csRace = Key('R', r);
  if ((pRace != nullptr) != model.bPresent) return csRace + " present or missing";
  if (pRace == nullptr) return "";
  if (!textIs(pRace->TitleScb, model.uiTitleGeneration, model.uiTitleLength)) return csRace + " title";
  for (int h = 0; h < kHeats; ++h) {
    CkxCompOneHeat* pHeat = races.Heat(*pRace, h);
    if ((pHeat != nullptr) != model.heats[h].bPresent) return csRace + Key('H', h) + " present or missing";
    if (pHeat == nullptr) continue;
    for (int l = 0; l < kLanes; ++l) {
      const LaneModel& lane = model.heats[h].lanes[l];
      CkxCompOneLane* pLane = races.Lane(*pHeat, l);
      const std::string csLane = csRace + Key('H', h) + Key('L', l);
      if ((pLane != nullptr) != lane.bPresent) return csLane + " present or missing";
      if (pLane == nullptr) continue;
      // Whole: all of them written.
      const uint32_t uiKept = bHalfWritten ? before.heats[h].lanes[l].uiLaps : lane.uiLaps;
      if (!races.LapsHalfWritten(*pLane, lane.uiLaps, uiKept))
        return csLane + " laps, not " + std::to_string(lane.uiLaps);
      if (!textIs(pLane->LHandicap, lane.uiHandicapGeneration, lane.uiHandicapLength))
        return csLane + " handicap";
    }
  }
  return "";
}

// Every race as the journal says; answers the first difference.
std::string CompareWithModel(KxLiveFile& file, const Journal& journal) {
  KxSegmentLock lock(file.Segment(0));
  Races races(file);
  for (int r = 0; r < kRaces; ++r) {
    const std::string csDifference = CompareRace(races, r, journal.races[r], false);
    if (!csDifference.empty()) return csDifference;
  }
  return "";
}

// The race the child was changing when it died holds what it held before
// or what the change leaves, whole as far as the kernel's structure goes
// (what the writer copies into a resized text or array is its own store, so
// texts and laps may be half written). The journal takes what the race
// holds, its texts and laps written whole again. Answers a race that holds
// neither.
std::string SettleChangingRace(KxLiveFile& file, Journal& journal) {
  const int r = journal.iChanging;
  if (r < 0) return "";
  KxSegmentLock lock(file.Segment(0));
  Races races(file);
  if (const std::string csOld = CompareRace(races, r, journal.races[r], true, journal.races[r]); !csOld.empty()) {
    if (const std::string csNew = CompareRace(races, r, journal.pending, true, journal.races[r]); !csNew.empty())
      return Key('R', r) + " holds neither what it held nor what the change leaves (against the old: " +
             csOld + "; against the change: " + csNew + ")";
    journal.races[r] = journal.pending;
  }
  const RaceModel& model = journal.races[r];
  CkxScheduleOneEntry* pRace = races.Race(r);
  if (pRace == nullptr) return "";
  if (model.uiTitleLength != 0)
    races.WriteText(pRace->TitleScb, model.uiTitleGeneration, model.uiTitleLength);
  for (int h = 0; h < kHeats; ++h) {
    CkxCompOneHeat* pHeat = races.Heat(*pRace, h);
    for (int l = 0; l < kLanes && pHeat != nullptr; ++l) {
      const LaneModel& lane = model.heats[h].lanes[l];
      CkxCompOneLane* pLane = races.Lane(*pHeat, l);
      if (pLane == nullptr) continue;
      if (lane.uiHandicapLength != 0)
        races.WriteText(pLane->LHandicap, lane.uiHandicapGeneration, lane.uiHandicapLength);
      races.SetLaps(*pLane, lane.uiLaps);
    }
  }
  return "";
}

int KillsWanted() {
  const char* csKills = std::getenv("VARNOX_TORTURE_KILLS");
  return csKills != nullptr && std::atoi(csKills) > 0 ? std::atoi(csKills) : kShortRunKills;
}

// VARNOX_TORTURE_SEED fixes the seed the trace prints, to replay a run
// (the kill moments still vary with timing).
unsigned SeedWanted() {
  const char* csSeed = std::getenv("VARNOX_TORTURE_SEED");
  return csSeed != nullptr && *csSeed != 0 ? static_cast<unsigned>(std::strtoul(csSeed, nullptr, 10))
                                           : std::random_device{}();
}

TEST(Torture, AWriterKilledAtRandomLeavesTheLiveDataWholeForThoseAttached) {
  const std::string csDir = KernelScratch::Get().Path("torture");
  std::filesystem::create_directories(csDir);
  const std::string csPath = csDir + "/races.orb";
  const std::string csReopened = csDir + "/reopened.orb";
  std::shared_ptr<KxLiveFile> pFile = EngineOpen(csPath, "FT_RACES", true);
  Shared<Journal> shared;
  Journal& journal = *shared;
  journal.iChanging = -1;

  const unsigned uiSeed = SeedWanted();
  SCOPED_TRACE("seed " + std::to_string(uiSeed));
  std::mt19937 random(uiSeed);
  const int iKills = KillsWanted();
  uint32_t uiInsideAChange = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int iKill = 0; iKill < iKills; ++iKill) {
    const uint64_t uiFinishedBefore = journal.uiFinished;
    const uint32_t uiRecoveriesBefore = pFile->Segment(0).Header().recoveries;
    ForkedChild changer(
        [&]() -> int { ChangeUntilKilled(*pFile, journal, static_cast<unsigned>(random())); });
    // Killed once it has finished a change or two and then a random while.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (journal.uiFinished < uiFinishedBefore + 1 + random() % 2 &&
           std::chrono::steady_clock::now() < giveUp) {
      sched_yield();
    }
    const timespec delay{0, static_cast<long>(random() % 3000) * 1000};
    nanosleep(&delay, nullptr);
    ASSERT_EQ(changer.Kill(), 128 + SIGKILL) << "the child ended by itself";

    const int iChanging = journal.iChanging;
    SCOPED_TRACE("kill " + std::to_string(iKill) + ", race " + std::to_string(iChanging) + " in change");
    ASSERT_EQ(Problems(KxCheckLiveFile(*pFile)), "") << KernelScratch::Get().Log();
    if (pFile->Segment(0).Header().recoveries != uiRecoveriesBefore) ++uiInsideAChange;
    ASSERT_EQ(SettleChangingRace(*pFile, journal), "");
    journal.iChanging = -1;
    ASSERT_EQ(CompareWithModel(*pFile, journal), "");
    std::string csWhy;
    ASSERT_TRUE(pFile->Save("", false, csWhy)) << csWhy;
    ASSERT_EQ(Problems(KxCheckSavedFile(csPath, VarnoxCatalogue(), EngineTypes())), "");
    std::filesystem::copy_file(csPath, csReopened, std::filesystem::copy_options::overwrite_existing);
    std::shared_ptr<KxLiveFile> pReopened = EngineOpen(csReopened, "FT_RACES", false);
    ASSERT_EQ(Problems(KxCheckLiveFile(*pReopened)), "");
    ASSERT_EQ(CompareWithModel(*pReopened, journal), "") << "reopened";
  }
  const double dSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%d kills, %u inside a change under the mutex, %llu changes finished, %.1f s\n",
              iKills, uiInsideAChange, static_cast<unsigned long long>(journal.uiFinished.load()),
              dSeconds);
  RecordProperty("kills", iKills);
  RecordProperty("kills_inside_a_change", static_cast<int>(uiInsideAChange));
}

}  // namespace
