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
    CLASS(D2iVarnox_FT_GLOBALS_Records_LapDistances, 1, -1, kGetLength, m.Records()->Item(G)->LapDistances(),
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
                         [](const testing::TestParamInfo<ClassCase>& caseInfo) {
                           return caseInfo.param.csClass;
                         });

}  // namespace
}  // namespace access_test
