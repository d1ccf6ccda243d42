// Bad input to the access layer: a removed element, stale and garbage
// handles, indexes past fixed and dynamic arrays, keys Windows-1252 cannot
// hold, and objects whose file was unloaded. Each gives OrbKernelException
// with the operation's message and changes nothing; under AddressSanitizer
// (make test SANITIZE=address,undefined) none of them reads outside the
// storage. Last, the generated access classes, one of each shape and place,
// against the class tables written out here (so a generator fault cannot
// hide): each is built where the tables say it comes from, has its depth and
// member count, and reports its guarded operation when it stands on a handle
// no storage reaches or on a file that was unloaded.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>

#include "files/VarnoxFiles.h"
#include "tests/access/AccessTestSupport.h"

namespace access_test {
namespace {

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

const std::string kCompetitor = "D2mVarnox_FT_COMPETITORS_CompetitorsStringMap";
const std::string kHeat = "D2mVarnox_FT_RACES_ScheduleEntries_Heats";
const std::string kSchedule = "D2oVarnox_FT_RACES_ScheduleEntries";
const std::string kHeats = "D2iVarnox_FT_RACES_ScheduleEntries_Heats";
const std::string kTime = "D2iVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults_Laps_Time";
const std::string kIdList = "D2iVarnox_FT_GLOBALS_RoundsDefault_IdList";

// A competitor, an entry with one heat whose lane 1 has one lap (rank 7,
// last time 42), round 2's last id, two default parameters, an input and an
// empty record, to be left as they are.
void Fill(Meet& meet) {
  auto competitor = meet.Competitors()->Item(uint64_t{5});
  competitor->set_Name(u"Kept");
  competitor->set_CategoryId(3);
  meet.Heat(u"R1", u"H1")->set_HeatId(u"Kept");
  auto laps = meet.Laps(u"R1", u"H1", 1);
  laps->SetLength(1);
  laps->Item(0)->set_Rank(7);
  laps->Item(0)->Time()->set_Item(7, 42);
  meet.Rounds()->Item(uint64_t{2})->IdList()->set_Item(99, 5);
  meet.IODefaults()->SetLength(2);
  meet.IOs()->Item(uint64_t{1});
  meet.Records()->Item(u"WR");
}

// Every byte of the five files' storage, up to each file's last valid handle.
std::string Storage(Meet& meet) {
  std::string bytes;
  for (const CkxDtb2Obj* pMember : std::initializer_list<const CkxDtb2Obj*>{
           &meet.competitors.m_CompetitorsStringMap, &meet.globals.m_PoolConfig,
           &meet.races.m_ScheduleEntries, &meet.pulses.m_PoolEvents, &meet.iosetup.m_IOs}) {
    bytes.append(reinterpret_cast<const char*>(*pMember->m_ppStorageBase),
                 4 * size_t{*pMember->m_pLastValidHandle});
  }
  return bytes;
}

// The storage is byte for byte what it was; a difference is shown by its
// first offset.
void ExpectUnchanged(Meet& meet, const std::string& before) {
  const std::string after = Storage(meet);
  ASSERT_EQ(after.size(), before.size());
  const auto [itAfter, itBefore] = std::mismatch(after.begin(), after.end(), before.begin());
  EXPECT_EQ(itAfter, after.end()) << "first changed byte at " << (itAfter - after.begin());
}

// Handles that name no element of the maps: no storage, the storage's
// first words, every bit, and one word into a valid node.
TEST(GarbageHandle, FailsEveryFieldAccessAndChangesNothing) {
  Meet meet;
  Fill(meet);
  auto schedule = meet.Schedule();
  const uint32_t uiInsideNode =
      meet.competitors.m_CompetitorsStringMap.m_Container(D2MapCmd::Find, 5, nullptr) + 1;
  for (uint32_t uiHandle :
       {0u, 1u, 2u, 15u, 0x7FFFFFFFu, 0xFFFFFFFFu, kGarbageHandle, uiInsideNode}) {
    SCOPED_TRACE(uiHandle);
    auto competitor = meet.Competitors()->Item(uiHandle);
    auto heat = schedule->Item(u"R1")->Heats()->Item(uiHandle);
    const std::string before = Storage(meet);
    EXPECT_EQ(MessageOf([&] { competitor->Name(); }), kCompetitor + ".Name:\r\n");
    EXPECT_EQ(MessageOf([&] { competitor->set_Name(u"Lost"); }), kCompetitor + ".Name:\r\n");
    EXPECT_EQ(MessageOf([&] { competitor->set_CategoryId(9); }), kCompetitor + ".CategoryId:\r\n");
    EXPECT_EQ(MessageOf([&] { heat->set_HeatId(u"Lost"); }), kHeat + ".HeatId:\r\n");
    EXPECT_EQ(MessageOf([&] { heat->LaneResults()->Item(uint64_t{1}); }),
              "D2iVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults.Add:\r\n");
    ExpectUnchanged(meet, before);
  }
}

// A text key travels as a zero-terminated Windows-1252 text; a key it cannot
// hold is refused, not turned into another key.
TEST(UnencodableKey, IsRefusedAndAddsNothing) {
  Meet meet;
  Fill(meet);
  auto schedule = meet.Schedule();
  auto heats = schedule->Item(u"R1")->Heats();
  auto ioParams = meet.IOs()->Item(uint64_t{1})->IOParams();
  const std::string before = Storage(meet);
  const std::u16string aKeys[] = {u"東京", u"Ωmega", std::u16string(1, u'\xD800'), u"R\U0001F3CA",
                                  std::u16string(u"R1\0x", 4) /* would travel as "R1" */};
  for (const std::u16string& csKey : aKeys) {
    SCOPED_TRACE(&csKey - aKeys);
    EXPECT_EQ(MessageOf([&] { schedule->Item(csKey); }), kSchedule + ".Add:\r\n");
    EXPECT_EQ(MessageOf([&] { schedule->Find(csKey); }), kSchedule + ".Find:\r\n");
    EXPECT_EQ(MessageOf([&] { schedule->Remove(csKey); }), kSchedule + ".Remove:\r\n");
    EXPECT_EQ(MessageOf([&] { heats->Item(csKey); }), kHeats + ".Add:\r\n");
    EXPECT_EQ(MessageOf([&] { ioParams->Add(csKey); }),
              "D2iVarnox_FT_IOSETUP_IOs_IOParams.Add:\r\n");
    ExpectUnchanged(meet, before);
  }
}

// Indexes past the arrays of live elements, and objects whose element or
// file is gone, made while it was there: an element removed, its enclosing
// element removed or its file wrapper unloaded (which marks the wrapper dead;
// a native file unloaded under its wrappers is ClassTableTest's, below). Every
// entry point of a wrapper, an enumerator and a proxy reports its own
// operation; none lets a native exception through, and the rest stays.
struct Gone {
  Gone() {
    Fill(meet);
    auto competitors = meet.Competitors();
    competitor = competitors->Item(uint64_t{6});
    competitor->set_Name(u"Gone");
    auto schedule = meet.Schedule();
    entry = schedule->Item(u"R2");
    heats = entry->Heats();
    heat = heats->Item(u"H1");
    hHeat = heat->IEnumCurrentPos();
    laps = heat->LaneResults()->Item(uint64_t{1})->Laps();
    laps->SetLength(1);
    times = laps->Item(0)->Time();
    ids = meet.Rounds()->Item(uint64_t{1})->IdList();
    live.times = meet.Laps(u"R1", u"H1", 1)->Item(0)->Time();
    live.ids = meet.Rounds()->Item(uint64_t{2})->IdList();
    live.defaults = meet.IODefaults();
    competitors->Remove(uint64_t{6});
    schedule->RemoveAt(entry->IEnumCurrentPos());
    meet.Rounds()->Remove(uint64_t{1});

    const std::string csName = "gone-" + std::to_string(s_iFiles++) + ".orb";
    if (OpenNewWrapper(*pFile, ScratchPath(csName)) <= 0) throw std::runtime_error(csName);
    dead.ios = pFile->IOs();
    dead.ioParams = dead.ios->Item(uint64_t{1})->IOParams();
    dead.defaults = pFile->IODefaultTypeParams();
    dead.defaults->SetLength(1);
    dead.parameter = dead.defaults->Item(0);
    pFile->UnLoad();
  }
  static inline int s_iFiles = 0;

  Meet meet;
  std::shared_ptr<Id2sCkxCompetitor> competitor;
  std::shared_ptr<Id2sCkxScheduleOneEntry> entry;
  std::shared_ptr<IOrbMap<std::u16string, Id2sCkxCompOneHeat>> heats;
  std::shared_ptr<Id2sCkxCompOneHeat> heat;
  uint32_t hHeat = 0;
  std::shared_ptr<IOrbArray<Id2sCkxCompOneLap>> laps;
  std::shared_ptr<IOrbArray1D<uint32_t>> times;
  std::shared_ptr<IOrbArray1D<int32_t>> ids;
  struct {  // on live elements
    std::shared_ptr<IOrbArray1D<uint32_t>> times;
    std::shared_ptr<IOrbArray1D<int32_t>> ids;
    std::shared_ptr<D2oVarnox_FT_IOSETUP_IODefaultTypeParams> defaults;
  } live;

  std::shared_ptr<D2fVarnox_FT_IOSETUP> pFile = D2fVarnox_FT_IOSETUP::Create();
  struct {
    std::shared_ptr<IOrbObjMap<uint64_t, Id2sCkxIOSetupOneEntry>> ios;
    std::shared_ptr<IOrbMap<std::u16string, Id2sCkxIOSetupParam>> ioParams;
    std::shared_ptr<IOrbObjArray<Id2sCkxIOSetupParam>> defaults;
    std::shared_ptr<Id2sCkxIOSetupParam> parameter;
  } dead;
};

// Runs a range-for over `container` to its end.
template <class C>
void RangeFor(C& container) {
  for (const auto& element : container) static_cast<void>(element);
}

struct GoneCase {
  const char* csName;
  std::function<void(Gone&)> op;
  std::string csMessage;
};
void PrintTo(const GoneCase& c, std::ostream* pOut) { *pOut << c.csName; }

const std::string kLaps = "D2iVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults_Laps";
const std::string kArrayLength = "IOrbArray<T>.GetLength ():\r\n";
const std::string kSetLength = "IOrbArray<T>.SetLength (NewLength):\r\n";
const std::string kAdd = "IOrbArray<T>.Add ():\r\n";
const std::string kDefault = "D2mVarnox_FT_IOSETUP_IODefaultTypeParams";

class GoneObject : public testing::TestWithParam<GoneCase> {};

TEST_P(GoneObject, ReportsItsOperationAndChangesNothing) {
  Gone gone;
  const std::string before = Storage(gone.meet);
  EXPECT_EQ(MessageOf([&] { GetParam().op(gone); }), GetParam().csMessage);
  ExpectUnchanged(gone.meet, before);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Objects, GoneObject, testing::Values(
    GoneCase{"FixedArrayIndexEight", [](Gone& g) { g.live.times->Item(8); }, kTime + "[]:\r\n"},
    GoneCase{"FixedArrayWriteNine", [](Gone& g) { g.live.times->set_Item(9, 1); }, kTime + "[]:\r\n"},
    GoneCase{"FixedArrayIndexHalfRange", [](Gone& g) { g.live.times->Item(0x7FFFFFFFu); }, kTime + "[]:\r\n"},
    GoneCase{"FixedArrayWriteLast", [](Gone& g) { g.live.times->set_Item(0xFFFFFFFFu, 1); }, kTime + "[]:\r\n"},
    GoneCase{"IdListWriteHundred", [](Gone& g) { g.live.ids->set_Item(100, 1); }, kIdList + "[]:\r\n"},
    GoneCase{"RecordArrayPastTheEnd", [](Gone& g) { g.live.defaults->Item(2)->set_Name(u"x"); }, kDefault + ".Name:\r\n"},
    GoneCase{"EmptyRecordArray", [](Gone& g) { g.meet.Records()->Item(u"WR")->LapTimes()->Item(0)->LapTime(); },
             "D2mVarnox_FT_GLOBALS_Records_LapTimes.LapTime:\r\n"},
    GoneCase{"RemovedProxyRead", [](Gone& g) { g.competitor->Name(); }, kCompetitor + ".Name:\r\n"},
    GoneCase{"RemovedProxyWrite", [](Gone& g) { g.competitor->set_Club(u"x"); }, kCompetitor + ".Club:\r\n"},
    GoneCase{"ProxyUnderRemoved", [](Gone& g) { g.heat->SortId(); }, kHeat + ".SortId:\r\n"},
    GoneCase{"NestedPropertyUnderRemoved", [](Gone& g) { g.entry->Params()->Item(u"P"); },
             "D2iVarnox_FT_RACES_ScheduleEntries_Params.Add:\r\n"},
    GoneCase{"MapBegin", [](Gone& g) { RangeFor(*g.heats); }, kHeats + ".Head:\r\n"},
    GoneCase{"MapCount", [](Gone& g) { g.heats->GetCount(); }, kHeats + ".GetCount:\r\n"},
    GoneCase{"MapKeyIndexer", [](Gone& g) { g.heats->Item(u"H9"); }, kHeats + ".Add:\r\n"},
    GoneCase{"MapHandleIndexer", [](Gone& g) { g.heats->Item(g.hHeat)->HeatId(); }, kHeat + ".HeatId:\r\n"},
    GoneCase{"RecordArrayBegin", [](Gone& g) { RangeFor(*g.laps); }, kArrayLength},
    GoneCase{"RecordArrayLength", [](Gone& g) { g.laps->GetLength(0); }, kArrayLength},
    GoneCase{"RecordArraySetLength", [](Gone& g) { g.laps->SetLength(4); }, kSetLength},
    GoneCase{"RecordArraySetLengthNotProtected", [](Gone& g) { g.laps->SetLengthNotProtected(4); },
             "IOrbArray<T>.SetLengthNotProtected (NewLength):\r\n"},
    GoneCase{"RecordArrayAdd", [](Gone& g) { g.laps->Add(); }, kAdd},
    GoneCase{"RecordArrayLock", [](Gone& g) { g.laps->GetRWELock(); }, kLaps + ".GetRWELock:\r\n"},
    GoneCase{"RecordArrayIndexer", [](Gone& g) { g.laps->Item(0)->Rank(); },
             "D2mVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults_Laps.Rank:\r\n"},
    GoneCase{"ValueArrayBegin", [](Gone& g) { RangeFor(*g.times); }, kTime + ".GetLength:\r\n"},
    GoneCase{"ValueArrayLength", [](Gone& g) { g.times->GetLength(0); }, kTime + ".GetLength:\r\n"},
    GoneCase{"ValueArrayIndexer", [](Gone& g) { g.times->Item(0); }, kTime + "[]:\r\n"},
    GoneCase{"ValueArrayWrite", [](Gone& g) { g.ids->set_Item(0, 1); }, kIdList + "[]:\r\n"},
    GoneCase{"ValueArrayOfRemovedBegin", [](Gone& g) { RangeFor(*g.ids); }, kIdList + ".GetLength:\r\n"},
    GoneCase{"DeadFileArrayBegin", [](Gone& g) { RangeFor(*g.dead.defaults); }, kArrayLength},
    GoneCase{"DeadFileArrayIndexer", [](Gone& g) { g.dead.defaults->Item(0)->Name(); }, kDefault + ".Name:\r\n"},
    GoneCase{"DeadFileArrayProxy", [](Gone& g) { g.dead.parameter->set_Value(u"x"); }, kDefault + ".Value:\r\n"},
    GoneCase{"DeadFileArrayUpdate", [](Gone& g) { g.dead.defaults->UpdateID(OrbCmd{0}, std::nullopt, u"", {}); },
             "IOrbUpdatableObject.UpdateID:\r\n"},
    GoneCase{"DeadFileMapBegin", [](Gone& g) { RangeFor(*g.dead.ios); }, "D2oVarnox_FT_IOSETUP_IOs.Head:\r\n"},
    GoneCase{"DeadFileNestedMapBegin", [](Gone& g) { RangeFor(*g.dead.ioParams); },
             "D2iVarnox_FT_IOSETUP_IOs_IOParams.Head:\r\n"}),
    [](const testing::TestParamInfo<GoneCase>& caseInfo) { return std::string(caseInfo.param.csName); });
// clang-format on

// ---------------------------------------------------------------------------
// The generated access classes.

constexpr uint32_t G = kGarbageHandle;

// What a case needs of the object it built.
struct Probe {
  std::function<void()> op;           // the guarded operation that must fail
  std::function<int32_t()> depth;     // GetDeep, when the class has it
  std::function<int32_t()> nbMember;  // NbMember, when the class has it
};

// The probe of `pObject` as class C running `op` on it; throws when the
// object is not a C, so that a wrongly named class fails its case.
template <class C, class I, class Op>
Probe Make(const std::shared_ptr<I>& pObject, Op op) {
  std::shared_ptr<C> p = std::dynamic_pointer_cast<C>(pObject);
  if (p == nullptr) throw std::logic_error("not the class the table names");
  Probe probe;
  probe.op = [p, op] { op(*p); };
  if constexpr (requires { p->GetDeep(); }) probe.depth = [p] { return p->GetDeep(); };
  if constexpr (requires { p->NbMember(); }) probe.nbMember = [p] { return p->NbMember(); };
  return probe;
}

struct ClassCase {
  std::string csClass;
  int32_t iDepth;     // GetDeep; -1 for a class without the path protocol
  int32_t iNbMember;  // the record's member count for a proxy, else -1
  // ".Member" or "[]" after the class name; the fixed array texts whole.
  std::string csOperation;
  std::function<Probe(Meet& opened, Meet& unloaded)> make;

  std::string Message() const {
    if (csOperation.rfind("IOrbArray<T>.", 0) == 0) return csOperation;
    return csClass + csOperation + ":\r\n";
  }
};

void PrintTo(const ClassCase& c, std::ostream* pOut) { *pOut << c.csClass; }


// The heat and the lane result every nested case reaches through handles no
// storage holds.
auto HeatG(Meet& m) { return m.Schedule()->Item(G)->Heats()->Item(G); }
auto LaneG(Meet& m) { return HeatG(m)->LaneResults()->Item(G); }

// A row naming class C once: `reach` finds the object in `m`, the opened
// meet, or in `u`, the unloaded one; `call` is the guarded operation on `x`.
// clang-format off
#define CLASS(C, iDepth, iNbMember, csOperation, reach, call)                 \
  ClassCase{#C, iDepth, iNbMember, csOperation,                               \
            []([[maybe_unused]] Meet& m, [[maybe_unused]] Meet& u) {          \
              return Make<C>(reach, [](auto& x) { call; });                   \
            }}

const std::vector<ClassCase>& Classes() {
  static const std::vector<ClassCase> s_aClasses = {
    // --- member proxies ----------------------------------------------------
    CLASS(D2mVarnox_FT_COMPETITORS_CompetitorsStringMap, 0, 8, ".Name", m.Competitors()->Item(G), x.Name()),
    CLASS(D2mVarnox_FT_GLOBALS_PoolConfig_RightContacts, 0, 1, ".m_Contact",
          m.PoolConfig()->RightContacts()->Item(G), x.set_m_Contact(true)),
    CLASS(D2mVarnox_FT_GLOBALS_Records_LapTimes, 1, 1, ".LapTime", m.Records()->Item(G)->LapTimes()->Item(0),
          x.set_LapTime(std::nullopt)),
    CLASS(D2mVarnox_FT_GLOBALS_RoundsDefault_TextMap, 1, 1, ".str", m.Rounds()->Item(G)->TextMap()->Item(G), x.str()),
    CLASS(D2mVarnox_FT_IOSETUP_IODefaultTypeParams, 0, 5, ".IOType", u.IODefaults()->Item(0), x.IOType()),
    CLASS(D2mVarnox_FT_IOSETUP_IOs_IOParams, 1, 5, ".IOType", m.IOs()->Item(G)->IOParams()->Item(G),
          x.set_IOType(u"COM")),
    CLASS(D2mVarnox_FT_RACES_ScheduleEntries, 0, 11, ".DateAndTime", m.Schedule()->Item(G), x.DateAndTime()),
    CLASS(D2mVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults, 2, 7, ".LHandicap", LaneG(m), x.set_LHandicap(u"x")),
    CLASS(D2mVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults_CompetitorId, 3, 1, ".CompetitorId",
          LaneG(m)->CompetitorId()->Item(G), x.CompetitorId()),
    CLASS(D2mVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults_Laps, 3, 4, ".SortId", LaneG(m)->Laps()->Item(0),
          x.SortId()),
    CLASS(D2mVarnox_FT_RACES_ScheduleEntries_Heats_PoolConfig, 1, 16, ".SamplingRate", HeatG(m)->PoolConfig(),
          x.SamplingRate()),
    CLASS(D2mVarnox_FT_RACES_ScheduleEntries_Heats_PoolConfig_Lanes, 2, 3, ".m_RightModuleID",
          HeatG(m)->PoolConfig()->Lanes()->Item(G), x.m_RightModuleID()),

    // --- top-level wrappers ------------------------------------------------
    CLASS(D2oVarnox_FT_COMPETITORS_CompetitorsStringMap, 0, -1, ".Next", m.Competitors(), x.Next(G)),
    CLASS(D2oVarnox_FT_GLOBALS_DistancesDefault, 0, -1, ".GetCount", u.Distances(), x.GetCount()),
    CLASS(D2oVarnox_FT_GLOBALS_PoolConfig, -1, -1, ".NbLanes", u.PoolConfig(), x.NbLanes()),
    CLASS(D2oVarnox_FT_GLOBALS_RoundsDefault, 0, -1, ".GetRWELock", u.Rounds(), x.GetRWELock()),
    CLASS(D2oVarnox_FT_IOSETUP_IODefaultTypeParams, 0, -1, ".GetARLock", u.IODefaults(), x.GetARLock()),
    CLASS(D2oVarnox_FT_RAW_PULSES_AssociatedPoolConfig, -1, -1, ".Ha2Right", u.PulsesPoolConfig(),
          x.set_Ha2Right(true)),

    // --- nested wrappers ---------------------------------------------------
    CLASS(D2iVarnox_FT_GLOBALS_PoolConfig_Lanes, 0, -1, ".Next", m.PoolConfig()->Lanes(), x.Next(G)),
    CLASS(D2iVarnox_FT_GLOBALS_PoolConfig_LeftContacts, 0, -1, ".GetCount", u.PoolConfig()->LeftContacts(),
          x.GetCount()),
    CLASS(D2iVarnox_FT_GLOBALS_Records_LapDistances, 1, -1, kArrayLength, m.Records()->Item(G)->LapDistances(),
          x.GetLength(0)),
    CLASS(D2iVarnox_FT_GLOBALS_Records_LapTimes, 1, -1, kAdd, m.Records()->Item(G)->LapTimes(), x.Add()),
    CLASS(D2iVarnox_FT_GLOBALS_RoundsDefault_IdList, 1, -1, "[]", m.Rounds()->Item(G)->IdList(),
          static_cast<void>(x.Item(0))),
    CLASS(D2iVarnox_FT_GLOBALS_RoundsDefault_TextMap, 1, -1, ".GetCount", m.Rounds()->Item(G)->TextMap(),
          x.GetCount()),
    // The key indexer lets the message of the Add it calls pass.
    CLASS(D2iVarnox_FT_IOSETUP_IOs_IOParams, 1, -1, ".Add", m.IOs()->Item(G)->IOParams(), x.Item(u"Baud")),
    CLASS(D2iVarnox_FT_RACES_ScheduleEntries_Heats, 1, -1, ".Find", m.Schedule()->Item(G)->Heats(), x.Find(u"H1")),
    CLASS(D2iVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults, 2, -1, ".GetCount", HeatG(m)->LaneResults(),
          x.GetCount()),
    CLASS(D2iVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults_CompetitorId, 3, -1, ".Head",
          LaneG(m)->CompetitorId(), x.Head()),
    CLASS(D2iVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults_Laps, 3, -1, kSetLength, LaneG(m)->Laps(),
          x.SetLength(3)),
    CLASS(D2iVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults_Laps_Time, 4, -1, "[]",
          LaneG(m)->Laps()->Item(0)->Time(), x.set_Item(0, 1u)),
    CLASS(D2iVarnox_FT_RACES_ScheduleEntries_Heats_Params, 2, -1, ".RemoveAll", HeatG(m)->Params(), x.RemoveAll()),
    CLASS(D2iVarnox_FT_RACES_ScheduleEntries_Heats_PoolConfig_Lanes, 2, -1, ".GetARLock",
          HeatG(m)->PoolConfig()->Lanes(), x.GetARLock()),
    CLASS(D2iVarnox_FT_RACES_ScheduleEntries_Heats_PoolConfig_LeftContacts, 2, -1, ".IsAlive",
          HeatG(m)->PoolConfig()->LeftContacts(), x.IsAlive(1)),
    CLASS(D2iVarnox_FT_RACES_ScheduleEntries_Heats_PoolConfig_RightContacts, 2, -1, ".AtIndex",
          HeatG(m)->PoolConfig()->RightContacts(), x.AtIndex(0)),
    CLASS(D2iVarnox_FT_RACES_ScheduleEntries_Params, 1, -1, ".KeyNoCase", m.Schedule()->Item(G)->Params(),
          x.KeyNoCase()),
    CLASS(D2iVarnox_FT_RAW_PULSES_AssociatedPoolConfig_RightContacts, 0, -1, ".Head",
          u.PulsesPoolConfig()->RightContacts(), x.Head()),
  };
  // clang-format on
  return s_aClasses;
}
#undef CLASS

// One opened meet and one whose files were unloaded, for every case.
class ClassTableTest : public testing::TestWithParam<ClassCase> {
 public:
  static void SetUpTestSuite() {
    s_pOpened = std::make_unique<Meet>();
    s_pUnloaded = std::make_unique<Meet>();
    s_pUnloaded->UnLoadAll();
  }
  static void TearDownTestSuite() {
    s_pOpened.reset();
    s_pUnloaded.reset();
  }

 protected:
  static inline std::unique_ptr<Meet> s_pOpened;
  static inline std::unique_ptr<Meet> s_pUnloaded;
};

TEST_P(ClassTableTest, IsItsClassAtItsDepthAndReportsItsGuardedOperation) {
  const ClassCase& c = GetParam();
  Probe probe;
  ASSERT_NO_THROW(probe = c.make(*s_pOpened, *s_pUnloaded)) << "not built as " << c.csClass;
  EXPECT_EQ(MessageOf(probe.op), c.Message());
  if (c.iDepth >= 0) {
    ASSERT_TRUE(probe.depth) << "no GetDeep";
    EXPECT_EQ(probe.depth(), c.iDepth);
  }
  if (c.iNbMember >= 0) {
    ASSERT_TRUE(probe.nbMember) << "no NbMember";
    EXPECT_EQ(probe.nbMember(), c.iNbMember);
  }
}

INSTANTIATE_TEST_SUITE_P(Tables, ClassTableTest, testing::ValuesIn(Classes()),
                         [](const auto& c) { return c.param.csClass; });

}  // namespace
}  // namespace access_test
