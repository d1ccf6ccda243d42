// The 22 view models against their property tables, typed here and never
// taken from the generator: descriptors, defaults and messages; then, on the
// reference kernel, values and collections of connected view models.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <ostream>

#include "tests/access/AccessTestSupport.h"
#include "viewmodels/VarnoxViewModels.h"

namespace access_test {
namespace {

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

// The kinds of the tables: simple value types, then the other kinds.
enum class K { Str, I32, U32, Bool, Date, Time, Map, Arr, Fix, Rec };

struct Row {
  const char* csViewModel;
  int iIndex;
  const char* csName;
  K kind;
  const char* csText;  // default literal's value as shown (simple) or type text
  int iSize;
  int iElementSize;
  bool bVariable;
};

// Simple defaults are written as the value reads back: numbers in decimal,
// truth values as true/false, texts as they are, the date-time in its display
// form and the race time as KxTime writes the time its literal stands for.
constexpr const char* kDate = "01.01.0001  00:00:00.000";
constexpr const char* kTime = "0.000";
constexpr const char* kStrMap = "OrbMvvmObsMap<String^, Id2sCkxString^, MvvmCkxString^>^";

const Row kRows[] = {
    {"MvvmCkxCompetitor", 0, "Name", K::Str, "", 24, 2, true},
    {"MvvmCkxCompetitor", 1, "SCBName1", K::Str, "", 24, 2, true},
    {"MvvmCkxCompetitor", 2, "Nation", K::Str, "", 24, 2, true},
    {"MvvmCkxCompetitor", 3, "BirthYear", K::Str, "", 24, 2, true},
    {"MvvmCkxCompetitor", 4, "CategoryId", K::I32, "0", 4, 4, false},
    {"MvvmCkxCompetitor", 5, "CompetitorId", K::I32, "0", 4, 4, false},
    {"MvvmCkxCompetitor", 6, "Club", K::Str, "", 24, 2, true},
    {"MvvmCkxCompetitor", 7, "Handicap", K::Str, "", 24, 2, true},
    {"MvvmCkxScheduleOneEntry", 0, "DateAndTime", K::Date, kDate, 8, 8, false},
    {"MvvmCkxScheduleOneEntry", 1, "RaceId", K::Str, "", 24, 2, true},
    {"MvvmCkxScheduleOneEntry", 2, "SortId", K::I32, "0", 4, 4, false},
    {"MvvmCkxScheduleOneEntry", 3, "StyleId", K::I32, "0", 4, 4, false},
    {"MvvmCkxScheduleOneEntry", 4, "CategoryId", K::I32, "0", 4, 4, false},
    {"MvvmCkxScheduleOneEntry", 5, "DistanceId", K::I32, "0", 4, 4, false},
    {"MvvmCkxScheduleOneEntry", 6, "RoundId", K::I32, "0", 4, 4, false},
    {"MvvmCkxScheduleOneEntry", 7, "Heats", K::Map,
     "OrbMvvmObsMap<String^, Id2sCkxCompOneHeat^, MvvmCkxCompOneHeat^>^", 504, 504, true},
    {"MvvmCkxScheduleOneEntry", 8, "TitleScb", K::Str, "", 24, 2, true},
    {"MvvmCkxScheduleOneEntry", 9, "TitlePrint", K::Str, "", 24, 2, true},
    {"MvvmCkxScheduleOneEntry", 10, "Params", K::Map, kStrMap, 132, 132, true},
    {"MvvmCkxCompOneHeat", 0, "LaneResults", K::Map,
     "OrbMvvmObsMap<UInt64, Id2sCkxCompOneLane^, MvvmCkxCompOneLane^>^", 160, 160, true},
    {"MvvmCkxCompOneHeat", 1, "PoolConfig", K::Rec, "MvvmCkxPoolConfig^", 296, 296, false},
    {"MvvmCkxCompOneHeat", 2, "HeatId", K::Str, "", 24, 2, true},
    {"MvvmCkxCompOneHeat", 3, "SortId", K::I32, "0", 4, 4, false},
    {"MvvmCkxCompOneHeat", 4, "HeatStatus", K::I32, "0", 4, 4, false},
    {"MvvmCkxCompOneHeat", 5, "Params", K::Map, kStrMap, 132, 132, true},
    {"MvvmCkxCompOneLane", 0, "Laps", K::Arr,
     "OrbMvvmObsArray<Id2sCkxCompOneLap^, MvvmCkxCompOneLap^>^", 44, 44, true},
    {"MvvmCkxCompOneLane", 1, "CurrentLap", K::I32, "0", 4, 4, false},
    {"MvvmCkxCompOneLane", 2, "CompetitorId", K::Map,
     "OrbMvvmObsMap<UInt64, Id2sCkxCompetitorsIds^, MvvmCkxCompetitorsIds^>^", 4, 4, true},
    {"MvvmCkxCompOneLane", 3, "Lane", K::I32, "-1", 4, 4, false},
    {"MvvmCkxCompOneLane", 4, "SortId", K::I32, "0", 4, 4, false},
    {"MvvmCkxCompOneLane", 5, "StatusId", K::I32, "0", 4, 4, false},
    {"MvvmCkxCompOneLane", 6, "LHandicap", K::Str, "", 24, 2, true},
    {"MvvmCkxCompOneLap", 0, "Lap", K::I32, "0", 4, 4, false},
    {"MvvmCkxCompOneLap", 1, "Time", K::Fix,
     "OrbMvvmObsArray1D<UInt32, MvvmSimpleObsItem<UInt32>^>^", 32, 4, false},
    {"MvvmCkxCompOneLap", 2, "Rank", K::I32, "0", 4, 4, false},
    {"MvvmCkxCompOneLap", 3, "SortId", K::I32, "0", 4, 4, false},
    {"MvvmCkxCompetitorsIds", 0, "CompetitorId", K::I32, "-1", 4, 4, false},
    {"MvvmCkxString", 0, "str", K::Str, "", 132, 2, false},
    {"MvvmCkxPoolConfig", 0, "NbLanes", K::I32, "10", 4, 4, false},
    {"MvvmCkxPoolConfig", 1, "PoolLength", K::I32, "50", 4, 4, false},
    {"MvvmCkxPoolConfig", 2, "Lanes", K::Map,
     "OrbMvvmObsMap<UInt64, Id2sCkxPoolConfigOneLane^, MvvmCkxPoolConfigOneLane^>^", 12, 12, true},
    {"MvvmCkxPoolConfig", 3, "LeftContacts", K::Map,
     "OrbMvvmObsMap<UInt64, Id2sCkxOneContact^, MvvmCkxOneContact^>^", 1, 1, true},
    {"MvvmCkxPoolConfig", 4, "RightContacts", K::Map,
     "OrbMvvmObsMap<UInt64, Id2sCkxOneContact^, MvvmCkxOneContact^>^", 1, 1, true},
    {"MvvmCkxPoolConfig", 5, "Ha1Left", K::Bool, "true", 1, 1, false},
    {"MvvmCkxPoolConfig", 6, "Ha2Left", K::Bool, "false", 1, 1, false},
    {"MvvmCkxPoolConfig", 7, "Ha1Right", K::Bool, "false", 1, 1, false},
    {"MvvmCkxPoolConfig", 8, "Ha2Right", K::Bool, "true", 1, 1, false},
    {"MvvmCkxPoolConfig", 9, "St1Left", K::Bool, "true", 1, 1, false},
    {"MvvmCkxPoolConfig", 10, "St2Left", K::Bool, "false", 1, 1, false},
    {"MvvmCkxPoolConfig", 11, "St1Right", K::Bool, "false", 1, 1, false},
    {"MvvmCkxPoolConfig", 12, "St2Right", K::Bool, "true", 1, 1, false},
    {"MvvmCkxPoolConfig", 13, "StartContactCfg", K::I32, "2", 4, 4, false},
    {"MvvmCkxPoolConfig", 14, "StartFinishPlace", K::I32, "0", 4, 4, false},
    {"MvvmCkxPoolConfig", 15, "SamplingRate", K::I32, "0", 4, 4, false},
    {"MvvmCkxPoolConfigOneLane", 0, "m_LeftModuleID", K::I32, "0", 4, 4, false},
    {"MvvmCkxPoolConfigOneLane", 1, "m_LaneID", K::I32, "0", 4, 4, false},
    {"MvvmCkxPoolConfigOneLane", 2, "m_RightModuleID", K::I32, "0", 4, 4, false},
    {"MvvmCkxOneContact", 0, "m_Contact", K::Bool, "true", 1, 1, false},
    {"MvvmCkxDistance", 0, "Distance", K::I32, "0", 4, 4, false},
    {"MvvmCkxDistance", 1, "NbOfRelays", K::I32, "0", 4, 4, false},
    {"MvvmCkxDistance", 2, "DistanceStr", K::Str, "", 24, 2, true},
    {"MvvmCkxDistance", 3, "DistanceUnit", K::Str, "", 24, 2, true},
    {"MvvmCkxStyle", 0, "Style", K::Str, "", 24, 2, true},
    {"MvvmCkxStyle", 1, "StyleAbbrev", K::Str, "", 24, 2, true},
    {"MvvmCkxCategory", 0, "Category", K::Str, "", 24, 2, true},
    {"MvvmCkxCategory", 1, "CategoryAbbrev", K::Str, "", 24, 2, true},
    {"MvvmCkxRound", 0, "RoundName", K::Str, "", 24, 2, true},
    {"MvvmCkxRound", 1, "OneRoundName", K::Str, "", 24, 2, true},
    {"MvvmCkxRound", 2, "ShortRoundName", K::Str, "", 24, 2, true},
    {"MvvmCkxRound", 3, "IdList", K::Fix, "OrbMvvmObsArray1D<Int32, MvvmSimpleObsItem<Int32>^>^",
     400, 4, false},
    {"MvvmCkxRound", 4, "NBMaxRounds", K::I32, "0", 4, 4, false},
    {"MvvmCkxRound", 5, "TextMap", K::Map, "OrbMvvmObsMap<UInt64, Id2sCkxString^, MvvmCkxString^>^",
     132, 132, true},
    {"MvvmCkxStatus", 0, "StatusDesc", K::Str, "", 24, 2, true},
    {"MvvmCkxStatus", 1, "StatusDescAbbrev", K::Str, "", 24, 2, true},
    {"MvvmCkxSetupParam", 0, "Name", K::Str, "", 24, 2, true},
    {"MvvmCkxSetupParam", 1, "LanguageId", K::Str, "", 24, 2, true},
    {"MvvmCkxSetupParam", 2, "Value", K::Str, "", 24, 2, true},
    {"MvvmCkxSetupParam", 3, "DefaultValue", K::Str, "", 24, 2, true},
    {"MvvmCkxRecordEntry", 0, "idLen", K::I32, "0", 4, 4, false},
    {"MvvmCkxRecordEntry", 1, "IdStyle", K::I32, "0", 4, 4, false},
    {"MvvmCkxRecordEntry", 2, "idRec", K::I32, "0", 4, 4, false},
    {"MvvmCkxRecordEntry", 3, "idCat", K::I32, "0", 4, 4, false},
    {"MvvmCkxRecordEntry", 4, "Time", K::Time, kTime, 8, 8, false},
    {"MvvmCkxRecordEntry", 5, "LapTimes", K::Arr,
     "OrbMvvmObsArray<Id2sCkxRecordLapTime^, MvvmCkxRecordLapTime^>^", 8, 8, true},
    {"MvvmCkxRecordEntry", 6, "LapDistances", K::Arr,
     "OrbMvvmObsArray<Id2sCkxRecordLapDistance^, MvvmCkxRecordLapDistance^>^", 4, 4, true},
    {"MvvmCkxRecordEntry", 7, "Name", K::Str, "", 24, 2, true},
    {"MvvmCkxRecordEntry", 8, "Place", K::Str, "", 24, 2, true},
    {"MvvmCkxRecordEntry", 9, "Date", K::Date, kDate, 8, 8, false},
    {"MvvmCkxRecordLapTime", 0, "LapTime", K::Time, kTime, 8, 8, false},
    {"MvvmCkxRecordLapDistance", 0, "LapDistance", K::I32, "0", 4, 4, false},
    {"MvvmCkxPoolEventsOnePulse", 0, "SeqID", K::U32, "0", 4, 4, false},
    {"MvvmCkxPoolEventsOnePulse", 1, "Lap", K::I32, "0", 4, 4, false},
    {"MvvmCkxPoolEventsOnePulse", 2, "InputID", K::I32, "0", 4, 4, false},
    {"MvvmCkxPoolEventsOnePulse", 3, "TimeOfPulse", K::Time, kTime, 8, 8, false},
    {"MvvmCkxPoolEventsOnePulse", 4, "Armed", K::Bool, "false", 1, 1, false},
    {"MvvmCkxPoolEventsOnePulse", 5, "RealPulse", K::Bool, "false", 1, 1, false},
    {"MvvmCkxPoolEventsOnePulse", 6, "TfTs", K::Bool, "false", 1, 1, false},
    {"MvvmCkxPoolEventsOnePulse", 7, "Status", K::I32, "0", 4, 4, false},
    {"MvvmCkxPoolEventsOnePulse", 8, "LapInitial", K::I32, "-1", 4, 4, false},
    {"MvvmCkxIOSetupOneEntry", 0, "Name", K::Str, "", 24, 2, true},
    {"MvvmCkxIOSetupOneEntry", 1, "IOType", K::Str, "", 24, 2, true},
    {"MvvmCkxIOSetupOneEntry", 2, "IOComType", K::Str, "", 24, 2, true},
    {"MvvmCkxIOSetupOneEntry", 3, "ComParam", K::Str, "", 24, 2, true},
    {"MvvmCkxIOSetupOneEntry", 4, "PROFile", K::Str, "", 24, 2, true},
    {"MvvmCkxIOSetupOneEntry", 5, "OUPFile", K::Str, "", 24, 2, true},
    {"MvvmCkxIOSetupOneEntry", 6, "ActivateAtStartup", K::I32, "0", 4, 4, false},
    {"MvvmCkxIOSetupOneEntry", 7, "IOParams", K::Map,
     "OrbMvvmObsMap<String^, Id2sCkxIOSetupParam^, MvvmCkxIOSetupParam^>^", 120, 120, true},
    {"MvvmCkxIOSetupOneEntry", 8, "LinkOn", K::I32, "0", 4, 4, false},
    {"MvvmCkxIOSetupParam", 0, "IOType", K::Str, "", 24, 1, true},
    {"MvvmCkxIOSetupParam", 1, "Name", K::Str, "", 24, 2, true},
    {"MvvmCkxIOSetupParam", 2, "LanguageId", K::Str, "", 24, 2, true},
    {"MvvmCkxIOSetupParam", 3, "Value", K::Str, "", 24, 2, true},
    {"MvvmCkxIOSetupParam", 4, "DefaultValue", K::Str, "", 24, 2, true},
};

// A view model, as the interface the framework drives and its slots.
struct Made {
  IAOrbMvvmInternUse* pFace;
  std::function<std::shared_ptr<OrbBaseDataWrapper>(int)> slot;
};

template <class V>
Made Wrap(std::shared_ptr<V> p) {
  return Made{p.get(), [p](int i) { return p->m_Fields.at(static_cast<size_t>(i)); }};
}

// The not-connected view model of each name.
#define VM(V) {#V, [] { return Wrap(std::make_shared<V>()); }}
// clang-format off
const std::map<std::string, std::function<Made()>> kViewModels = {
    VM(MvvmCkxCompetitor), VM(MvvmCkxScheduleOneEntry), VM(MvvmCkxCompOneHeat),
    VM(MvvmCkxCompOneLane), VM(MvvmCkxCompOneLap), VM(MvvmCkxCompetitorsIds), VM(MvvmCkxString),
    VM(MvvmCkxPoolConfig), VM(MvvmCkxPoolConfigOneLane), VM(MvvmCkxOneContact),
    VM(MvvmCkxDistance), VM(MvvmCkxStyle), VM(MvvmCkxCategory), VM(MvvmCkxRound),
    VM(MvvmCkxStatus), VM(MvvmCkxSetupParam), VM(MvvmCkxRecordEntry), VM(MvvmCkxRecordLapTime),
    VM(MvvmCkxRecordLapDistance), VM(MvvmCkxPoolEventsOnePulse), VM(MvvmCkxIOSetupOneEntry),
    VM(MvvmCkxIOSetupParam),
};
// clang-format on
#undef VM

// "Tarvex.Orb.Data.Varnox.MvvmX<Id2sX>": the record interface is the view
// model's name with Mvvm replaced.
std::string Prefix(const std::string& csViewModel) {
  return "Tarvex.Orb.Data.Varnox." + csViewModel + "<Id2s" + csViewModel.substr(4) + ">";
}

template <class T>
const T& Local(const std::shared_ptr<OrbBaseDataWrapper>& pSlot) {
  return std::dynamic_pointer_cast<OrbSimpleDataWrapper<T>>(pSlot)->m_LocalVal;
}

// The value a simple slot shows, written as the table writes defaults.
std::string Shown(const std::shared_ptr<OrbBaseDataWrapper>& pSlot, K kind) {
  switch (kind) {
    case K::Str:
      return U8(Local<std::u16string>(pSlot));
    case K::I32:
      return std::to_string(Local<int32_t>(pSlot));
    case K::U32:
      return std::to_string(Local<uint32_t>(pSlot));
    case K::Bool:
      return Local<bool>(pSlot) ? "true" : "false";
    case K::Date:
      return U8(Local<OrbDateTime>(pSlot).ToDisplayString());
    case K::Time:
      return U8(KxTime::OptionalToString(Local<std::optional<KxTime>>(pSlot)));
    default:
      return "not a simple value";
  }
}

void PrintTo(const Row& row, std::ostream* os) { *os << row.csViewModel << "." << row.csName; }

class ViewModelTable : public ::testing::TestWithParam<Row> {};

// GetMembInfo, and on a view model that is not connected (clears are
// ConnectedViewModel's): GetVal creates the slot first, then a simple value
// takes its default while any other kind raises the not-connected message;
// SetVal raises the invalid-type message for the other kinds. After a view
// model's last row, index N and -1 give each operation's invalid-index
// message with that number.
TEST_P(ViewModelTable, DescriptorDefaultAndMessages) {
  const Row& row = GetParam();
  Made vm = kViewModels.at(row.csViewModel)();
  const OrbMemberInfo info = vm.pFace->GetMembInfo(row.iIndex);
  EXPECT_EQ(U8(info.Name()), row.csName);
  EXPECT_EQ(info.Size(), row.iSize);
  EXPECT_EQ(info.ElementSize(), row.iElementSize);
  EXPECT_EQ(info.Variable(), row.bVariable);

  ASSERT_EQ(vm.slot(row.iIndex), nullptr);
  vm.pFace->GetVal(row.iIndex, false);  // creates the slot only
  const auto pSlot = vm.slot(row.iIndex);
  ASSERT_NE(pSlot, nullptr);
  const std::string csAt = " (" + std::to_string(row.iIndex) + "):\r\n";
  if (row.kind < K::Map) {  // a simple value
    vm.pFace->GetVal(row.iIndex, false);
    EXPECT_EQ(Shown(pSlot, row.kind), row.csText);
    EXPECT_EQ(vm.slot(row.iIndex), pSlot) << "a load keeps the slot object";
  } else {
    EXPECT_EQ(MessageOf([&] { vm.pFace->GetVal(row.iIndex, false); }),
              Prefix(row.csViewModel) + ".GetVal" + csAt +
                  "Not yet connected to a ORB instance, Type: " + row.csText +
                  "  Member: " + row.csName + "\r\n");
    EXPECT_EQ(MessageOf([&] { vm.pFace->SetVal(row.iIndex); }),
              Prefix(row.csViewModel) + ".SetVal" + csAt + "Invalid property Type: " + row.csText +
                  "  Member: " + row.csName + "\r\n");
  }
  const auto iCount = std::ranges::count(kRows, std::string(row.csViewModel),
                                         [](const Row& r) { return std::string(r.csViewModel); });
  if (row.iIndex + 1 != iCount) return;
  const std::string csPrefix = Prefix(row.csViewModel);
  for (const int iBad : {static_cast<int>(iCount), -1}) {
    const std::string csTail = " (" + std::to_string(iBad) + "):\r\nInvalid property index !!!\r\n";
    EXPECT_EQ(MessageOf([&] { vm.pFace->GetVal(iBad, false); }), csPrefix + ".GetVal" + csTail);
    EXPECT_EQ(MessageOf([&] { vm.pFace->SetVal(iBad); }), csPrefix + ".SetVal" + csTail);
    EXPECT_EQ(MessageOf([&] { vm.pFace->GetMembInfo(iBad); }), csPrefix + ".GetMembInfo" + csTail);
  }
}

INSTANTIATE_TEST_SUITE_P(AllProperties, ViewModelTable, ::testing::ValuesIn(kRows),
                         [](const auto& c) {
                           return std::string(c.param.csViewModel) + "_" + c.param.csName;
                         });

// ---------------------------------------------------------------------------
// Connected view models on the reference kernel, on records of one meet.

std::shared_ptr<Id2sCkxCompOneHeat> Heat(Meet& m) { return m.Heat(u"R1", u"H1"); }
std::shared_ptr<Id2sCkxCompOneLane> Lane(Meet& m) {
  return Heat(m)->LaneResults()->Item(uint64_t{3});
}

template <class V, class I>
Made Connected(std::shared_ptr<I> pRecord) {
  return Wrap(std::make_shared<V>(std::move(pRecord), nullptr));
}

// A value written through a proxy, then seen through a connected view model.
struct ConnectedCase {
  const char* csName;
  int iIndex;
  K kind;
  std::string csWritten;  // as the view model shows it
  std::string csDefault;
  std::function<void(Meet&)> write;  // through a proxy
  std::function<Made(Meet&)> view;   // a new view model of the record
};

void PrintTo(const ConnectedCase& c, std::ostream* os) { *os << c.csName; }

class ConnectedViewModel : public ::testing::TestWithParam<ConnectedCase> {
 protected:
  static void SetUpTestSuite() { s_pFiles = std::make_unique<Meet>(); }
  static void TearDownTestSuite() { s_pFiles.reset(); }
  static inline std::unique_ptr<Meet> s_pFiles;
};

Made LaneView(Meet& m) { return Connected<MvvmCkxCompOneLane>(Lane(m)); }
Made PulseView(Meet& m) {
  return Connected<MvvmCkxPoolEventsOnePulse>(m.PoolEvents()->Item(uint64_t{1}));
}
Made RecordView(Meet& m) { return Connected<MvvmCkxRecordEntry>(m.Records()->Item(u"100m")); }

const ConnectedCase kConnectedCases[] = {
    {"LaneInt32", 3, K::I32, "7", "-1", [](Meet& m) { Lane(m)->set_Lane(7); }, LaneView},
    {"LaneText", 6, K::Str, "+2", "", [](Meet& m) { Lane(m)->set_LHandicap(u"+2"); }, LaneView},
    {"PulseUInt32", 0, K::U32, "4000000000", "0",
     [](Meet& m) { m.PoolEvents()->Item(uint64_t{1})->set_SeqID(4000000000u); }, PulseView},
    {"PulseBool", 4, K::Bool, "true", "false",
     [](Meet& m) { m.PoolEvents()->Item(uint64_t{1})->set_Armed(true); }, PulseView},
    {"PulseTime", 3, K::Time, "1:02.34", "0.000",
     [](Meet& m) { m.PoolEvents()->Item(uint64_t{1})->set_TimeOfPulse(KxTime::Parse(u"1:02.34")); },
     PulseView},
    // The display form cuts what is below the millisecond.
    {"RecordDate", 9, K::Date, "14.07.2026  09:30:00.123", "01.01.0001  00:00:00.000",
     [](Meet& m) {
       m.Records()->Item(u"100m")->set_Date(OrbDateTime::Parse(u"2026-07-14T09:30:00.1239999"));
     },
     RecordView},
};

// The first GetVal creates the slot and loads nothing; the second reads the
// record; a clearing GetVal shows the default without reading; SetVal then
// writes that default to the record, where a new view model finds it.
TEST_P(ConnectedViewModel, LoadsClearsAndStores) {
  const ConnectedCase& c = GetParam();
  c.write(*s_pFiles);
  Made vm = c.view(*s_pFiles);
  vm.pFace->GetVal(c.iIndex, false);
  EXPECT_NE(Shown(vm.slot(c.iIndex), c.kind), c.csWritten) << "the first call only creates";
  vm.pFace->GetVal(c.iIndex, false);
  EXPECT_EQ(Shown(vm.slot(c.iIndex), c.kind), c.csWritten);
  vm.pFace->GetVal(c.iIndex, true);
  EXPECT_EQ(Shown(vm.slot(c.iIndex), c.kind), c.csDefault);
  vm.pFace->SetVal(c.iIndex);
  Made fresh = c.view(*s_pFiles);
  fresh.pFace->GetVal(c.iIndex, false);
  fresh.pFace->GetVal(c.iIndex, false);
  EXPECT_EQ(Shown(fresh.slot(c.iIndex), c.kind), c.csDefault);
}

INSTANTIATE_TEST_SUITE_P(SimpleKinds, ConnectedViewModel, ::testing::ValuesIn(kConnectedCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.csName); });

// A connected heat's nested pool configuration and a lap's fixed times read
// the record. The fixed times report changed values as replaced runs, write
// through to the record and show their default while they have no source.
// (A map collection's refresh, its adds and the element view models it keeps
// and reloads are MvvmTest's, on the fakes; the generated lane collection's
// view models FileWrapperTest's, across processes.)
TEST_F(ConnectedViewModel, CollectionsFollowTheRecord) {
  auto pHeat = std::make_shared<MvvmCkxCompOneHeat>(Heat(*s_pFiles), nullptr);
  Heat(*s_pFiles)->PoolConfig()->set_NbLanes(8);
  EXPECT_EQ(pHeat->PoolConfig()->NbLanes()->Value(), 8);
  auto pLapRecord = Lane(*s_pFiles)->Laps();
  pLapRecord->SetLength(1);
  pLapRecord->Item(0)->Time()->set_Item(2, 99);
  auto pLane = std::make_shared<MvvmCkxCompOneLane>(Lane(*s_pFiles), nullptr);
  ASSERT_EQ(pLane->Laps()->Count(), 1);
  const auto pTimes = pLane->Laps()->Item(0)->Time();
  EXPECT_EQ(pTimes->Value(2), 99u);
  const auto pItem = pTimes->Item(2);
  EXPECT_EQ(pItem->Value(), 99u);
  std::vector<OrbCollectionChangedEventArgs> changes;
  pTimes->CollectionChanged().Add([&](const auto& change) { changes.push_back(change); });
  for (const uint32_t i : {1u, 2u, 7u}) pLapRecord->Item(0)->Time()->set_Item(i, 9 + i);
  pTimes->Refresh();
  EXPECT_EQ(changes,
            (std::vector<OrbCollectionChangedEventArgs>{{OrbCollectionChange::Replace, 1, 2},
                                                        {OrbCollectionChange::Replace, 7, 1}}));
  EXPECT_EQ(pItem->Value(), 11u);
  pTimes->set_Value(0, 6);
  EXPECT_EQ(pLapRecord->Item(0)->Time()->Item(0), 6u);
  EXPECT_THROW(pTimes->Value(8), OrbKernelException);
  using Times = OrbMvvmObsArray1D<uint32_t, MvvmSimpleObsItem<uint32_t>>;
  EXPECT_EQ(Times(nullptr, nullptr, -1, 7, 3).Value(2), 7u);

  // Objects kept after their roots are gone still read: their tree, its lock
  // and the memory it gave them stay until the last of them goes.
  const auto pNbLanes = pHeat->PoolConfig()->NbLanes();
  pHeat.reset();
  pLane.reset();
  EXPECT_EQ(pNbLanes->Value(), 8);
  EXPECT_EQ(pItem->Value(), 11u);
}

}  // namespace
}  // namespace access_test
