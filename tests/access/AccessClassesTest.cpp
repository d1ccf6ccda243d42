// The generated access classes, one of each shape and place, against the
// class tables written out here (so a generator fault cannot hide): each is
// built where the tables say it comes from, has its depth and member count,
// and reports its guarded operation when it stands on a handle no storage
// reaches or on a file that was unloaded.
#include <gtest/gtest.h>

#include "tests/access/AccessTestSupport.h"

namespace access_test {
namespace {

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

constexpr uint32_t G = kGarbageHandle;

// What a case needs of the object it built.
struct Probe {
  std::function<void()> op;           // the guarded operation that must fail
  std::function<int32_t()> depth;     // GetDeep, when the class has it
  std::function<int32_t()> nbMember;  // NbMember, when the class has it
};

// The probe of `pObject` as class C running `op` on it; throws when the
// object is not a C.
template <class C, class I, class Op>
Probe Make(const std::shared_ptr<I>& pObject, Op op) {
  std::shared_ptr<C> p = As<C>(pObject);
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

const std::string kGetLength = "IOrbArray<T>.GetLength ():\r\n";
const std::string kSetLength = "IOrbArray<T>.SetLength (NewLength):\r\n";
const std::string kAdd = "IOrbArray<T>.Add ():\r\n";

const std::vector<ClassCase>& Classes() {
  // clang-format off
  static const std::vector<ClassCase> s_aClasses = {
    // --- member proxies ----------------------------------------------------
    {"D2mVarnox_FT_COMPETITORS_CompetitorsStringMap", 0, 8, ".Name", [](Meet& m, Meet&) {
       return Make<D2mVarnox_FT_COMPETITORS_CompetitorsStringMap>(m.Competitors()->Item(G), [](auto& p) { p.Name(); }); }},
    {"D2mVarnox_FT_GLOBALS_PoolConfig_RightContacts", 0, 1, ".m_Contact", [](Meet& m, Meet&) {
       return Make<D2mVarnox_FT_GLOBALS_PoolConfig_RightContacts>(m.PoolConfig()->RightContacts()->Item(G), [](auto& p) { p.set_m_Contact(true); }); }},
    {"D2mVarnox_FT_GLOBALS_Records_LapTimes", 1, 1, ".LapTime", [](Meet& m, Meet&) {
       return Make<D2mVarnox_FT_GLOBALS_Records_LapTimes>(m.Records()->Item(G)->LapTimes()->Item(0), [](auto& p) { p.set_LapTime(std::nullopt); }); }},
    {"D2mVarnox_FT_GLOBALS_RoundsDefault_TextMap", 1, 1, ".str", [](Meet& m, Meet&) {
       return Make<D2mVarnox_FT_GLOBALS_RoundsDefault_TextMap>(m.Rounds()->Item(G)->TextMap()->Item(G), [](auto& p) { p.str(); }); }},
    {"D2mVarnox_FT_IOSETUP_IODefaultTypeParams", 0, 5, ".IOType", [](Meet&, Meet& u) {
       return Make<D2mVarnox_FT_IOSETUP_IODefaultTypeParams>(u.IODefaults()->Item(0), [](auto& p) { p.IOType(); }); }},
    {"D2mVarnox_FT_IOSETUP_IOs_IOParams", 1, 5, ".IOType", [](Meet& m, Meet&) {
       return Make<D2mVarnox_FT_IOSETUP_IOs_IOParams>(m.IOs()->Item(G)->IOParams()->Item(G), [](auto& p) { p.set_IOType(u"COM"); }); }},
    {"D2mVarnox_FT_RACES_ScheduleEntries", 0, 11, ".DateAndTime", [](Meet& m, Meet&) {
       return Make<D2mVarnox_FT_RACES_ScheduleEntries>(m.Schedule()->Item(G), [](auto& p) { p.DateAndTime(); }); }},
    {"D2mVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults", 2, 7, ".LHandicap", [](Meet& m, Meet&) {
       return Make<D2mVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults>(
           m.Schedule()->Item(G)->Heats()->Item(G)->LaneResults()->Item(G), [](auto& p) { p.set_LHandicap(u"x"); }); }},
    {"D2mVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults_CompetitorId", 3, 1, ".CompetitorId", [](Meet& m, Meet&) {
       return Make<D2mVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults_CompetitorId>(
           m.Schedule()->Item(G)->Heats()->Item(G)->LaneResults()->Item(G)->CompetitorId()->Item(G),
           [](auto& p) { p.CompetitorId(); }); }},
    {"D2mVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults_Laps", 3, 4, ".SortId", [](Meet& m, Meet&) {
       return Make<D2mVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults_Laps>(
           m.Schedule()->Item(G)->Heats()->Item(G)->LaneResults()->Item(G)->Laps()->Item(0),
           [](auto& p) { p.SortId(); }); }},
    {"D2mVarnox_FT_RACES_ScheduleEntries_Heats_PoolConfig", 1, 16, ".SamplingRate", [](Meet& m, Meet&) {
       return Make<D2mVarnox_FT_RACES_ScheduleEntries_Heats_PoolConfig>(
           m.Schedule()->Item(G)->Heats()->Item(G)->PoolConfig(), [](auto& p) { p.SamplingRate(); }); }},
    {"D2mVarnox_FT_RACES_ScheduleEntries_Heats_PoolConfig_Lanes", 2, 3, ".m_RightModuleID", [](Meet& m, Meet&) {
       return Make<D2mVarnox_FT_RACES_ScheduleEntries_Heats_PoolConfig_Lanes>(
           m.Schedule()->Item(G)->Heats()->Item(G)->PoolConfig()->Lanes()->Item(G), [](auto& p) { p.m_RightModuleID(); }); }},

    // --- top-level wrappers ------------------------------------------------
    {"D2oVarnox_FT_COMPETITORS_CompetitorsStringMap", 0, -1, ".Next", [](Meet& m, Meet&) {
       return Make<D2oVarnox_FT_COMPETITORS_CompetitorsStringMap>(m.Competitors(), [](auto& w) { w.Next(G); }); }},
    {"D2oVarnox_FT_GLOBALS_DistancesDefault", 0, -1, ".GetCount", [](Meet&, Meet& u) {
       return Make<D2oVarnox_FT_GLOBALS_DistancesDefault>(u.Distances(), [](auto& w) { w.GetCount(); }); }},
    {"D2oVarnox_FT_GLOBALS_PoolConfig", -1, -1, ".NbLanes", [](Meet&, Meet& u) {
       return Make<D2oVarnox_FT_GLOBALS_PoolConfig>(u.PoolConfig(), [](auto& w) { w.NbLanes(); }); }},
    {"D2oVarnox_FT_GLOBALS_RoundsDefault", 0, -1, ".GetRWELock", [](Meet&, Meet& u) {
       return Make<D2oVarnox_FT_GLOBALS_RoundsDefault>(u.Rounds(), [](auto& w) { w.GetRWELock(); }); }},
    {"D2oVarnox_FT_IOSETUP_IODefaultTypeParams", 0, -1, ".GetARLock", [](Meet&, Meet& u) {
       return Make<D2oVarnox_FT_IOSETUP_IODefaultTypeParams>(u.IODefaults(), [](auto& w) { w.GetARLock(); }); }},
    {"D2oVarnox_FT_RAW_PULSES_AssociatedPoolConfig", -1, -1, ".Ha2Right", [](Meet&, Meet& u) {
       return Make<D2oVarnox_FT_RAW_PULSES_AssociatedPoolConfig>(u.PulsesPoolConfig(), [](auto& w) { w.set_Ha2Right(true); }); }},

    // --- nested wrappers ---------------------------------------------------
    {"D2iVarnox_FT_GLOBALS_PoolConfig_Lanes", 0, -1, ".Next", [](Meet& m, Meet&) {
       return Make<D2iVarnox_FT_GLOBALS_PoolConfig_Lanes>(m.PoolConfig()->Lanes(), [](auto& w) { w.Next(G); }); }},
    {"D2iVarnox_FT_GLOBALS_PoolConfig_LeftContacts", 0, -1, ".GetCount", [](Meet&, Meet& u) {
       return Make<D2iVarnox_FT_GLOBALS_PoolConfig_LeftContacts>(u.PoolConfig()->LeftContacts(), [](auto& w) { w.GetCount(); }); }},
    {"D2iVarnox_FT_GLOBALS_Records_LapDistances", 1, -1, kGetLength, [](Meet& m, Meet&) {
       return Make<D2iVarnox_FT_GLOBALS_Records_LapDistances>(m.Records()->Item(G)->LapDistances(), [](auto& w) { w.GetLength(0); }); }},
    {"D2iVarnox_FT_GLOBALS_Records_LapTimes", 1, -1, kAdd, [](Meet& m, Meet&) {
       return Make<D2iVarnox_FT_GLOBALS_Records_LapTimes>(m.Records()->Item(G)->LapTimes(), [](auto& w) { w.Add(); }); }},
    {"D2iVarnox_FT_GLOBALS_RoundsDefault_IdList", 1, -1, "[]", [](Meet& m, Meet&) {
       return Make<D2iVarnox_FT_GLOBALS_RoundsDefault_IdList>(m.Rounds()->Item(G)->IdList(), [](auto& w) { static_cast<void>(w.Item(0)); }); }},
    {"D2iVarnox_FT_GLOBALS_RoundsDefault_TextMap", 1, -1, ".GetCount", [](Meet& m, Meet&) {
       return Make<D2iVarnox_FT_GLOBALS_RoundsDefault_TextMap>(m.Rounds()->Item(G)->TextMap(), [](auto& w) { w.GetCount(); }); }},
    {"D2iVarnox_FT_IOSETUP_IOs_IOParams", 1, -1, ".Add", [](Meet& m, Meet&) {
       // The key indexer lets the message of the Add it calls pass.
       return Make<D2iVarnox_FT_IOSETUP_IOs_IOParams>(m.IOs()->Item(G)->IOParams(), [](auto& w) { w.Item(u"Baud"); }); }},
    {"D2iVarnox_FT_RACES_ScheduleEntries_Heats", 1, -1, ".Find", [](Meet& m, Meet&) {
       return Make<D2iVarnox_FT_RACES_ScheduleEntries_Heats>(m.Schedule()->Item(G)->Heats(), [](auto& w) { w.Find(u"H1"); }); }},
    {"D2iVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults", 2, -1, ".GetCount", [](Meet& m, Meet&) {
       return Make<D2iVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults>(
           m.Schedule()->Item(G)->Heats()->Item(G)->LaneResults(), [](auto& w) { w.GetCount(); }); }},
    {"D2iVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults_CompetitorId", 3, -1, ".Head", [](Meet& m, Meet&) {
       return Make<D2iVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults_CompetitorId>(
           m.Schedule()->Item(G)->Heats()->Item(G)->LaneResults()->Item(G)->CompetitorId(), [](auto& w) { w.Head(); }); }},
    {"D2iVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults_Laps", 3, -1, kSetLength, [](Meet& m, Meet&) {
       return Make<D2iVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults_Laps>(
           m.Schedule()->Item(G)->Heats()->Item(G)->LaneResults()->Item(G)->Laps(), [](auto& w) { w.SetLength(3); }); }},
    {"D2iVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults_Laps_Time", 4, -1, "[]", [](Meet& m, Meet&) {
       return Make<D2iVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults_Laps_Time>(
           m.Schedule()->Item(G)->Heats()->Item(G)->LaneResults()->Item(G)->Laps()->Item(0)->Time(),
           [](auto& w) { w.set_Item(0, 1u); }); }},
    {"D2iVarnox_FT_RACES_ScheduleEntries_Heats_Params", 2, -1, ".RemoveAll", [](Meet& m, Meet&) {
       return Make<D2iVarnox_FT_RACES_ScheduleEntries_Heats_Params>(
           m.Schedule()->Item(G)->Heats()->Item(G)->Params(), [](auto& w) { w.RemoveAll(); }); }},
    {"D2iVarnox_FT_RACES_ScheduleEntries_Heats_PoolConfig_Lanes", 2, -1, ".GetARLock", [](Meet& m, Meet&) {
       return Make<D2iVarnox_FT_RACES_ScheduleEntries_Heats_PoolConfig_Lanes>(
           m.Schedule()->Item(G)->Heats()->Item(G)->PoolConfig()->Lanes(), [](auto& w) { w.GetARLock(); }); }},
    {"D2iVarnox_FT_RACES_ScheduleEntries_Heats_PoolConfig_LeftContacts", 2, -1, ".IsAlive", [](Meet& m, Meet&) {
       return Make<D2iVarnox_FT_RACES_ScheduleEntries_Heats_PoolConfig_LeftContacts>(
           m.Schedule()->Item(G)->Heats()->Item(G)->PoolConfig()->LeftContacts(), [](auto& w) { w.IsAlive(1); }); }},
    {"D2iVarnox_FT_RACES_ScheduleEntries_Heats_PoolConfig_RightContacts", 2, -1, ".AtIndex", [](Meet& m, Meet&) {
       return Make<D2iVarnox_FT_RACES_ScheduleEntries_Heats_PoolConfig_RightContacts>(
           m.Schedule()->Item(G)->Heats()->Item(G)->PoolConfig()->RightContacts(), [](auto& w) { w.AtIndex(0); }); }},
    {"D2iVarnox_FT_RACES_ScheduleEntries_Params", 1, -1, ".KeyNoCase", [](Meet& m, Meet&) {
       return Make<D2iVarnox_FT_RACES_ScheduleEntries_Params>(m.Schedule()->Item(G)->Params(), [](auto& w) { w.KeyNoCase(); }); }},
    {"D2iVarnox_FT_RAW_PULSES_AssociatedPoolConfig_RightContacts", 0, -1, ".Head", [](Meet&, Meet& u) {
       return Make<D2iVarnox_FT_RAW_PULSES_AssociatedPoolConfig_RightContacts>(u.PulsesPoolConfig()->RightContacts(), [](auto& w) { w.Head(); }); }},
  };
  // clang-format on
  return s_aClasses;
}

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
                         [](const testing::TestParamInfo<ClassCase>& caseInfo) {
                           return caseInfo.param.csClass;
                         });

}  // namespace
}  // namespace access_test
