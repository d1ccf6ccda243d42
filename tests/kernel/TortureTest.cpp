// A writer that dies leaves the live data whole for the processes still
// attached. Stopped between any two stores of a change (the step seam,
// kernel/KxStep.h), holding the segment's mutex, as a process killed there
// would be: the process still attached takes the mutex next and the full
// check finds the live data whole. Every (operation, stop point) is tried,
// the XML import's put-back from its copies among the operations.
//
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
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "kernel/KxStep.h"
#include "kernel/KxXml.h"
#include "tests/kernel/KernelTestSupport.h"

namespace {

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

constexpr int kStoppedExit = 42;

// The globals file's members by their place in the file type.
enum Member : size_t { kPoolConfig = 0, kParameters = 6, kRecords = 7 };

// A globals file driven through the engine: Records with two entries (the
// first with laps and a name), twelve Parameters (a thirteenth Add doubles
// the bucket table) and a pool of eight lanes.
class Globals {
 public:
  explicit Globals(KxLiveFile& file) : m_File(file) {}

  KxLiveFile& File() { return m_File; }

  KxEmbeddedMap* Map(Member eMember) {
    return static_cast<KxEmbeddedMap*>(m_File.Container(eMember));
  }
  KxStore& Store(Member eMember) { return m_File.Store(eMember); }
  uint32_t Command(Member eMember, int32_t iCmd, uint64_t uiKey, const char* csKey) {
    return Store(eMember).MapCommand(Map(eMember), iCmd, uiKey, csKey);
  }
  // The record of node `uiHandle` of member `eMember`.
  template <class Record>
  Record& At(Member eMember, uint32_t uiHandle) {
    return *reinterpret_cast<Record*>(m_File.Segment(eMember).At(uiHandle) + sizeof(KxMapNode));
  }
  // Record W200FR, and its Name and LapTimes resized.
  CkxRecordEntry& Entry() {
    const uint32_t uiHandle = Command(kRecords, D2MapCmd::Find, 0, "W200FR");
    if (uiHandle == 0) throw std::runtime_error("no record W200FR");
    return At<CkxRecordEntry>(kRecords, uiHandle);
  }
  void ResizeName(uint32_t uiLength) {
    Store(kRecords).ResizeString(reinterpret_cast<KxDynString*>(&Entry().Name), uiLength);
  }
  void ResizeLaps(uint32_t uiSize) {
    Store(kRecords).ResizeArray(reinterpret_cast<KxArrayHeader*>(&Entry().LapTimes), uiSize);
  }

  void Fill() {
    for (const char* csKey : {"W200FR", "M100BK"}) Command(kRecords, D2MapCmd::Add, 0, csKey);
    ResizeLaps(4);
    Store(kRecords).ResizeArray(reinterpret_cast<KxArrayHeader*>(&Entry().LapDistances), 4);
    ResizeName(12);
    for (int i = 0; i < 12; ++i) {
      const std::string csKey = "Param" + std::to_string(i);
      const uint32_t uiHandle = Command(kParameters, D2MapCmd::Add, 0, csKey.c_str());
      auto& parameter = At<CkxSetupParam>(kParameters, uiHandle);
      Store(kParameters).ResizeString(reinterpret_cast<KxDynString*>(&parameter.Value), 8);
    }
    auto& pool = *static_cast<CkxPoolConfig*>(m_File.Container(kPoolConfig));
    auto* pLanes = reinterpret_cast<KxEmbeddedMap*>(&pool.Lanes);
    for (uint64_t uiLane = 1; uiLane <= 8; ++uiLane)
      Store(kPoolConfig).MapCommand(pLanes, D2MapCmd::Add, uiLane, nullptr);
  }

 private:
  KxLiveFile& m_File;
};

// One operation of the table: the member it changes and the change, made
// with that member's segment locked (unless the operation locks what it
// changes itself).
struct Operation {
  const char* csName;
  Member eMember;
  std::function<void(Globals&)> change;
  bool bLocksItself = false;
};

// An import of the file's own export whose rebuild runs out of storage
// after a few allocations, so that every segment is put back from its copy.
void ImportRunningOut(KxLiveFile& file) {
  const std::string csXml = Scratch("recovery-import-" + std::to_string(getpid()) + ".xml");
  std::string csWhy;
  if (!KxExportXml(file, kKxWholeFile, csXml, csWhy)) _exit(3);
  KxSegment::FailAllocationsAfter(6);
  const bool bImported = KxImportXml(file, csXml, csWhy);
  KxSegment::FailAllocationsAfter(-1);
  if (bImported || csWhy.find("ran out") == std::string::npos) _exit(4);
}

const Operation kOperations[] = {
    {"AddEntry", kRecords, [](Globals& g) { g.Command(kRecords, D2MapCmd::Add, 0, "W400IM"); }},
    {"AddRehashing", kParameters,
     [](Globals& g) { g.Command(kParameters, D2MapCmd::Add, 0, "Param12"); }},
    {"RemoveEntry", kRecords,
     [](Globals& g) { g.Command(kRecords, D2MapCmd::Remove, 0, "W200FR"); }},
    {"RemoveAll", kParameters,
     [](Globals& g) { g.Command(kParameters, D2MapCmd::RemoveAll, 0, nullptr); }},
    {"ClearEntry", kRecords, [](Globals& g) { g.Command(kRecords, D2MapCmd::Clear, 0, "W200FR"); }},
    {"SwitchKeyCase", kParameters,
     [](Globals& g) { g.Command(kParameters, D2MapCmd::KeyNoCase, 0, nullptr); }},
    {"GrowString", kRecords, [](Globals& g) { g.ResizeName(80); }},
    {"EmptyString", kRecords, [](Globals& g) { g.ResizeName(0); }},
    {"GrowArray", kRecords, [](Globals& g) { g.ResizeLaps(40); }},
    {"EmptyArray", kRecords, [](Globals& g) { g.ResizeLaps(0); }},
    {"ClearSingleMember", kPoolConfig,
     [](Globals& g) {
       g.Store(kPoolConfig)
           .ClearMember(*EngineFileType("FT_GLOBALS").members[0].memberClass, g.Map(kPoolConfig));
     }},
    // A batch of additions (IkxDtb2ObjOps::EmbeddedMapAddMany) makes room
    // first: a table grown once, a new map's first table sized for the batch.
    {"MakeRoomAndAdd", kParameters,
     [](Globals& g) {
       g.Store(kParameters).MakeRoom(g.Map(kParameters), 2);
       for (const char* csKey : {"Param12", "Param13"})
         g.Command(kParameters, D2MapCmd::Add, 0, csKey);
     }},
    {"SmallFirstTable", kPoolConfig,
     [](Globals& g) {
       auto* pContacts = reinterpret_cast<KxEmbeddedMap*>(
           &static_cast<CkxPoolConfig*>(g.File().Container(kPoolConfig))->LeftContacts);
       g.Store(kPoolConfig).MakeRoom(pContacts, 1);
       g.Store(kPoolConfig).MapCommand(pContacts, D2MapCmd::Add, 1, nullptr);
     }},
    {"ImportPutBack", kRecords, [](Globals& g) { ImportRunningOut(g.File()); }, true},
};

void PrintTo(const Operation& operation, std::ostream* pOut) { *pOut << operation.csName; }

// Runs the operation in a forked child stopped after `iAllowed` steps (-1:
// never stopped, counting its steps into `pSteps`). Answers the child's
// exit code.
int RunChild(KxLiveFile& file, const Operation& operation, int64_t iAllowed, int64_t* pSteps) {
  return ForkedChild([&] {
           constexpr int64_t kMany = int64_t{1} << 40;
           KxStopAfterSteps(iAllowed < 0 ? kMany : iAllowed, [] { _exit(kStoppedExit); });
           Globals globals(file);
           if (!operation.bLocksItself) file.Segment(operation.eMember).Lock();
           operation.change(globals);
           if (pSteps != nullptr) *pSteps = kMany - KxStepsLeft();
           if (!operation.bLocksItself) file.Segment(operation.eMember).Unlock();
           return 0;
         })
      .Wait();
}

class RecoveryTest : public ::testing::TestWithParam<Operation> {};

TEST_P(RecoveryTest, AWriterStoppedAtAnyStepLeavesTheLiveDataWhole) {
  const Operation& operation = GetParam();
  const std::string csDir = FreshDir(std::string("recovery-") + operation.csName);
  std::shared_ptr<KxLiveFile> pFile = EngineOpen(csDir + "/globals.orb", "FT_GLOBALS", true);
  std::vector<KxSegmentSnapshot> before;
  {
    Globals globals(*pFile);
    for (size_t i = 0; i < pFile->MemberCount(); ++i) pFile->Segment(i).Lock();
    globals.Fill();
    for (size_t i = 0; i < pFile->MemberCount(); ++i) {
      before.push_back(pFile->Segment(i).Snapshot());
      pFile->Segment(i).Unlock();
    }
  }
  ASSERT_EQ(Problems(KxCheckLiveFile(*pFile)), "");

  int64_t& iCounted = SharedWithChildren<int64_t>();
  ASSERT_EQ(RunChild(*pFile, operation, -1, &iCounted), 0) << "the operation failed";
  const int64_t iSteps = iCounted;
  ASSERT_GT(iSteps, 0);
  ASSERT_EQ(Problems(KxCheckLiveFile(*pFile)), "") << "after the whole operation";

  uint32_t uiRecoveries = 0;
  for (int64_t iStop = 0; iStop < iSteps; ++iStop) {
    SCOPED_TRACE(std::string(operation.csName) + " stopped after " + std::to_string(iStop) +
                 " of " + std::to_string(iSteps) + " steps");
    for (size_t i = 0; i < pFile->MemberCount(); ++i) {
      KxSegmentLock lock(pFile->Segment(i));
      pFile->Segment(i).Restore(before[i]);
    }
    ASSERT_EQ(RunChild(*pFile, operation, iStop, nullptr), kStoppedExit);
    const KxFileCheck check = KxCheckLiveFile(*pFile);
    ASSERT_EQ(Problems(check), "");
    uiRecoveries = pFile->Segment(operation.eMember).Header().recoveries;
  }
  EXPECT_EQ(uiRecoveries, static_cast<uint32_t>(iSteps)) << "every stop is found and recovered";

  // What was recovered saves and loads whole.
  std::string csWhy;
  ASSERT_TRUE(pFile->Save("", false, csWhy)) << csWhy;
  EXPECT_EQ(Problems(KxCheckSavedFile(csDir + "/globals.orb", VarnoxCatalogue(), EngineTypes())),
            "");
}

INSTANTIATE_TEST_SUITE_P(EveryOperation, RecoveryTest, ::testing::ValuesIn(kOperations),
                         NameOfCase);

constexpr int kRaces = 16;
constexpr int kHeats = 3;
constexpr int kLanes = 4;
constexpr int kShortRunKills = 30;

// What the finished changes left, in memory shared with the parent. A text
// is told by its generation and length (0: never written): unit i is
// 'A' + (generation + i) % 26. Lap i holds i + 1.
struct Text {
  uint32_t uiGeneration;
  uint32_t uiLength;
};
struct LaneModel {
  bool bPresent;
  uint32_t uiLaps;
  Text handicap;
};
struct HeatModel {
  bool bPresent;
  LaneModel lanes[kLanes];
};
struct RaceModel {
  bool bPresent;
  Text title;
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
// locked by the caller. Races and heats have text keys "R<i>" and "H<i>",
// lane i the number key i + 1.
class Races {
 public:
  explicit Races(KxLiveFile& file)
      : m_Segment(file.Segment(0)),
        m_Store(file.Store(0)),
        m_pRoot(static_cast<KxEmbeddedMap*>(file.Container(0))) {}

  // Command `iCmd` on element `i` of the map `pMap` (the races when null):
  // the record of the node it answers, null for none.
  template <class Record>
  Record* Command(void* pMap, int32_t iCmd, char cKind, int i) {
    const std::string csKey = Key(cKind, i);
    const bool bNumber = cKind == 'L';
    const uint32_t uiHandle = m_Store.MapCommand(
        pMap != nullptr ? static_cast<KxEmbeddedMap*>(pMap) : m_pRoot, iCmd,
        bNumber ? static_cast<uint64_t>(i + 1) : 0, bNumber ? nullptr : csKey.c_str());
    if (uiHandle == 0 && iCmd == D2MapCmd::Add) throw std::runtime_error("add failed");
    return uiHandle == 0 ? nullptr
                         : reinterpret_cast<Record*>(m_Segment.At(uiHandle) + sizeof(KxMapNode));
  }
  template <class Record>
  Record* Find(void* pMap, char cKind, int i) {
    return Command<Record>(pMap, D2MapCmd::Find, cKind, i);
  }

  void Write(CkxD2StrDU& field, Text text) {
    KxDynString* pString = reinterpret_cast<KxDynString*>(&field);
    if (!m_Store.ResizeString(pString, text.uiLength)) throw std::runtime_error("resize failed");
    char16_t* pText = reinterpret_cast<char16_t*>(m_Segment.At(pString->textOffset));
    for (uint32_t i = 0; i < text.uiLength; ++i) pText[i] = Unit(text, i);
  }
  // The text whole, or (`bWhole` false) its length only.
  bool Holds(const CkxD2StrDU& field, Text text, bool bWhole) {
    const KxDynString* pString = reinterpret_cast<const KxDynString*>(&field);
    if (pString->lengthWord != (text.uiLength == 0 ? 0 : text.uiLength + 1)) return false;
    if (!bWhole || text.uiLength == 0) return true;
    const char16_t* pText = reinterpret_cast<const char16_t*>(m_Segment.At(pString->textOffset));
    for (uint32_t i = 0; i < text.uiLength; ++i) {
      if (pText[i] != Unit(text, i)) return false;
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
  bool HoldsLaps(const CkxCompOneLane& lane, uint32_t uiLaps, uint32_t uiKept) {
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
  static char16_t Unit(Text text, uint32_t i) {
    return static_cast<char16_t>('A' + (text.uiGeneration + i) % 26);
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
  // Command `iCmd` on element `i` of the map field `pField` of a record of
  // the file (the races when null), made when there is a file.
  auto command = [&](void* pField, int32_t iCmd, char cKind, int i) {
    if (pRaces != nullptr) pRaces->Command<void>(pField, iCmd, cKind, i);
  };
  // A record the model holds, found in the file (null without a file).
  auto found = [&](auto* pRecord) {
    if (pRaces != nullptr && pRecord == nullptr) throw std::runtime_error("a record went missing");
    return pRecord;
  };
  if (!model.bPresent) {
    command(nullptr, D2MapCmd::Add, 'R', r);
    model = RaceModel{true, {}, {}};
    return;
  }
  auto* pRace =
      found(pRaces != nullptr ? pRaces->Find<CkxScheduleOneEntry>(nullptr, 'R', r) : nullptr);
  const int h = static_cast<int>(random() % kHeats);
  const int l = static_cast<int>(random() % kLanes);
  HeatModel& heat = model.heats[h];
  switch (random() % 10) {
    case 0:
      command(nullptr, D2MapCmd::Remove, 'R', r);
      model = RaceModel{};
      return;
    case 1:
      command(pRace != nullptr ? &pRace->Heats : nullptr, D2MapCmd::Remove, 'H', h);
      heat = HeatModel{};
      return;
    case 2:  // cleared in place: the record laid out anew
      command(nullptr, D2MapCmd::Clear, 'R', r);
      model = RaceModel{true, {}, {}};
      return;
    case 3:
      model.title = Text{uiGeneration, 1 + static_cast<uint32_t>(random() % 60)};
      if (pRace != nullptr) pRaces->Write(pRace->TitleScb, model.title);
      return;
    default:
      break;
  }
  if (!heat.bPresent) {
    command(pRace != nullptr ? &pRace->Heats : nullptr, D2MapCmd::Add, 'H', h);
    heat = HeatModel{true, {}};
    return;
  }
  auto* pHeat =
      found(pRace != nullptr ? pRaces->Find<CkxCompOneHeat>(&pRace->Heats, 'H', h) : nullptr);
  void* pLanes = pHeat != nullptr ? &pHeat->LaneResults : nullptr;
  LaneModel& lane = heat.lanes[l];
  if (!lane.bPresent) {
    command(pLanes, D2MapCmd::Add, 'L', l);
    lane = LaneModel{true, 0, {}};
    return;
  }
  auto* pLane = found(pHeat != nullptr ? pRaces->Find<CkxCompOneLane>(pLanes, 'L', l) : nullptr);
  switch (random() % 4) {
    case 0:
      command(pLanes, D2MapCmd::Remove, 'L', l);
      lane = LaneModel{};
      return;
    case 1:
      lane.handicap = Text{uiGeneration, 1 + static_cast<uint32_t>(random() % 20)};
      if (pLane != nullptr) pRaces->Write(pLane->LHandicap, lane.handicap);
      return;
    default:
      lane.uiLaps = random() % 30;
      if (pLane != nullptr) pRaces->SetLaps(*pLane, lane.uiLaps);
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

// How a race is walked against its model: compared whole; compared as a
// change cut short leaves it (see SettleChangingRace: texts by their
// lengths, laps by their count and a written prefix of at least the laps
// the race held `before`); or its texts and laps written whole again.
enum class Walk { kWhole, kCutShort, kRewrite };

// Race `r` against `model`; answers the first difference.
std::string WalkRace(Races& races, int r, const RaceModel& model, Walk eWalk,
                     const RaceModel& before = RaceModel{}) {
  auto text = [&](CkxD2StrDU& field, Text wanted) {
    if (eWalk != Walk::kRewrite) return races.Holds(field, wanted, eWalk == Walk::kWhole);
    if (wanted.uiLength != 0) races.Write(field, wanted);
    return true;
  };
  auto* pRace = races.Find<CkxScheduleOneEntry>(nullptr, 'R', r);
  const std::string csRace = Key('R', r);
  if ((pRace != nullptr) != model.bPresent) return csRace + " present or missing";
  if (pRace == nullptr) return "";
  if (!text(pRace->TitleScb, model.title)) return csRace + " title";
  for (int h = 0; h < kHeats; ++h) {
    auto* pHeat = races.Find<CkxCompOneHeat>(&pRace->Heats, 'H', h);
    const std::string csHeat = csRace + Key('H', h);
    if ((pHeat != nullptr) != model.heats[h].bPresent) return csHeat + " present or missing";
    for (int l = 0; l < kLanes && pHeat != nullptr; ++l) {
      const LaneModel& lane = model.heats[h].lanes[l];
      auto* pLane = races.Find<CkxCompOneLane>(&pHeat->LaneResults, 'L', l);
      const std::string csLane = csHeat + Key('L', l);
      if ((pLane != nullptr) != lane.bPresent) return csLane + " present or missing";
      if (pLane == nullptr) continue;
      const uint32_t uiKept = eWalk == Walk::kWhole ? lane.uiLaps : before.heats[h].lanes[l].uiLaps;
      if (eWalk == Walk::kRewrite) {
        races.SetLaps(*pLane, lane.uiLaps);
      } else if (!races.HoldsLaps(*pLane, lane.uiLaps, uiKept)) {
        return csLane + " laps, not " + std::to_string(lane.uiLaps);
      }
      if (!text(pLane->LHandicap, lane.handicap)) return csLane + " handicap";
    }
  }
  return "";
}

// Every race as the journal says; answers the first difference.
std::string CompareWithModel(KxLiveFile& file, const Journal& journal) {
  KxSegmentLock lock(file.Segment(0));
  Races races(file);
  for (int r = 0; r < kRaces; ++r) {
    const std::string csDifference = WalkRace(races, r, journal.races[r], Walk::kWhole);
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
  const RaceModel& old = journal.races[r];
  const std::string csOld = WalkRace(races, r, old, Walk::kCutShort, old);
  if (!csOld.empty()) {
    const std::string csNew = WalkRace(races, r, journal.pending, Walk::kCutShort, old);
    if (!csNew.empty()) {
      return Key('R', r) + " holds neither what it held nor what the change leaves (against " +
             "the old: " + csOld + "; against the change: " + csNew + ")";
    }
    journal.races[r] = journal.pending;
  }
  return WalkRace(races, r, journal.races[r], Walk::kRewrite);
}

int KillsWanted() {
  const char* csKills = std::getenv("VARNOX_TORTURE_KILLS");
  return csKills != nullptr && std::atoi(csKills) > 0 ? std::atoi(csKills) : kShortRunKills;
}

// VARNOX_TORTURE_SEED fixes the seed the trace prints, to replay a run
// (the kill moments still vary with timing).
unsigned SeedWanted() {
  const char* csSeed = std::getenv("VARNOX_TORTURE_SEED");
  return csSeed != nullptr && *csSeed != 0
             ? static_cast<unsigned>(std::strtoul(csSeed, nullptr, 10))
             : std::random_device{}();
}

TEST(Torture, AWriterKilledAtRandomLeavesTheLiveDataWholeForThoseAttached) {
  const std::string csDir = FreshDir("torture");
  const std::string csPath = csDir + "/races.orb";
  const std::string csReopened = csDir + "/reopened.orb";
  std::shared_ptr<KxLiveFile> pFile = EngineOpen(csPath, "FT_RACES", true);
  Journal& journal = SharedWithChildren<Journal>();
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
    SCOPED_TRACE("kill " + std::to_string(iKill) + ", race " + std::to_string(iChanging) +
                 " in change");
    ASSERT_EQ(Problems(KxCheckLiveFile(*pFile)), "") << KernelLog();
    if (pFile->Segment(0).Header().recoveries != uiRecoveriesBefore) ++uiInsideAChange;
    ASSERT_EQ(SettleChangingRace(*pFile, journal), "");
    journal.iChanging = -1;
    ASSERT_EQ(CompareWithModel(*pFile, journal), "");
    std::string csWhy;
    ASSERT_TRUE(pFile->Save("", false, csWhy)) << csWhy;
    ASSERT_EQ(Problems(KxCheckSavedFile(csPath, VarnoxCatalogue(), EngineTypes())), "");
    std::filesystem::copy_file(csPath, csReopened,
                               std::filesystem::copy_options::overwrite_existing);
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
