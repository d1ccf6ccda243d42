// The member proxies against the bytes the native face reads: one case per
// field kind and per place a field can sit, written through one face and
// read through the other; then a five-level walk both ways.
#include <gtest/gtest.h>

#include <climits>

#include "tests/access/AccessTestSupport.h"

namespace access_test {
namespace {

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

constexpr uint64_t kNoValueWord = 0x0000400000000000;  // a time field without a time
constexpr uint64_t kUtcBit = 0x4000000000000000;
constexpr uint64_t kLocalBit = 0x8000000000000000;
constexpr int64_t kTicks = 638712345678901234;  // a day of 2025

KxTime MakeTime(int64_t liTime, KxPrecision precision, bool bNegative) {
  KxTime time(precision);
  time.set_Time(liTime);
  time.set_Negative(bNegative);
  return time;
}

// Each field kind on a meet of its own: what the object face writes the
// native face reads in the same bytes, and back.

// S: dynamic UTF-16 text of a competitor (top level).
TEST(FieldKind, DynamicUtf16) {
  Meet meet;
  auto competitor = meet.Competitors()->Item(uint64_t{7});
  // Walked again at every use: a reservation may move the storage.
  auto native = [&]() -> CkxCompetitor& {
    return Meet::ByKey(meet.competitors.m_CompetitorsStringMap.m_Container, 7);
  };
  const std::u16string csText = u"Zürich 東京 \U0001F3CA";
  competitor->set_Name(csText);
  EXPECT_EQ(NativeText(native().Name), csText);
  for (const std::optional<std::u16string>& empty :
       {std::optional<std::u16string>(), std::optional<std::u16string>(u"")}) {
    competitor->set_Club(u"Club");
    competitor->set_Club(empty);
    EXPECT_EQ(NativeText(native().Club), u"") << (empty ? "empty" : "null");
    EXPECT_EQ(competitor->Club(), u"");
  }
  // Longer than the first reservation: the second write walks again.
  const std::u16string csLong(300, u'ß');
  NativeSetText([&]() -> CkxD2StrDU& { return native().Handicap; }, csLong);
  EXPECT_EQ(competitor->Handicap(), csLong);
  competitor->set_Handicap(csLong + u"!");
  EXPECT_EQ(NativeText(native().Handicap), csLong + u"!");
  EXPECT_EQ(competitor->Nation(), u"") << "a text never written reads empty";
}

// A: dynamic Windows-1252 text of a nested map's record, with its
// character count.
TEST(FieldKind, DynamicAnsi) {
  Meet meet;
  auto param = meet.IOs()->Item(uint64_t{2})->IOParams()->Item(u"Port");
  auto native = [&]() -> CkxD2StrD& {
    return Meet::ByKey(Meet::ByKey(meet.iosetup.m_IOs.m_Container, 2).IOParams, "Port").IOType;
  };
  param->set_IOType(u"Ça coûte 5€");  // 11 characters: NativeText takes the count
  EXPECT_EQ(NativeText(native()),
            "\xC7"
            "a co\xFBte 5\x80");
  param->set_IOType(u"a東b");
  EXPECT_EQ(NativeText(native()), "a?b") << "a character the code page lacks";
  NativeSetText(native, std::string("caf\xE9 \x80\x9D"));
  EXPECT_EQ(param->IOType(), u"café €\u009D");
  param->set_IOType(std::nullopt);
  EXPECT_EQ(NativeText(native()), "");
}

// F: fixed text of 64 characters in a heat's parameter (level 2).
TEST(FieldKind, FixedUtf16) {
  Meet meet;
  auto text = meet.Heat(u"R1", u"H1")->Params()->Item(u"Title");
  auto native = [&]() -> CkxD2StrSU<64>& {
    return Meet::ByKey(meet.NativeHeat("R1", "H1").Params, "Title").str;
  };
  const std::u16string cs64(64, u'é');
  text->set_str(cs64);
  EXPECT_EQ(NativeText(native()), cs64);
  text->set_str(cs64 + u"tail");
  EXPECT_EQ(NativeText(native()), cs64) << "the field keeps 64 characters";
  EXPECT_EQ(text->str(), cs64);
  text->set_str(std::nullopt);
  int iLength = -1;
  native().GetNet(&iLength);
  EXPECT_EQ(iLength, 0);
  EXPECT_EQ(text->str(), u"");
  native().SetNet(u"Finale", 6);
  EXPECT_EQ(text->str(), u"Finale");
}

// I, U and B: 32-bit numbers at both ends, their neighbours kept; a
// boolean byte reads true when not zero and true writes 1.
TEST(FieldKind, NumbersAndBooleans) {
  Meet meet;
  auto pulse = meet.PoolEvents()->Item(uint64_t{9});
  auto& native = Meet::ByKey(meet.pulses.m_PoolEvents.m_Container, 9);
  pulse->set_SeqID(0xFFFFFFFEu);
  pulse->set_LapInitial(INT32_MIN);
  EXPECT_EQ(native.SeqID, 0xFFFFFFFEu);
  EXPECT_EQ(native.LapInitial, INT32_MIN);
  EXPECT_EQ(native.Status, 0) << "the neighbour stays";
  native.SeqID = 0x80000001u;
  native.Lap = -7;
  EXPECT_EQ(pulse->SeqID(), 0x80000001u);
  EXPECT_EQ(pulse->Lap(), -7);

  ByteOf(native.Armed) = 2;
  ByteOf(native.TfTs) = 0;
  EXPECT_TRUE(pulse->Armed());
  EXPECT_FALSE(pulse->TfTs());
  pulse->set_RealPulse(true);
  pulse->set_Armed(false);
  EXPECT_EQ(ByteOf(native.RealPulse), 1);
  EXPECT_EQ(ByteOf(native.Armed), 0);
}

// The pool configuration embedded in a heat (at byte 88 of it), its first and
// last fields, and the single ones at the top of two files.
TEST(FieldKind, PoolConfigurations) {
  Meet meet;
  auto heatPool = meet.Heat(u"R1", u"H1")->PoolConfig();
  auto nativeHeatPool = [&]() -> CkxPoolConfig& { return meet.NativeHeat("R1", "H1").PoolConfig; };
  nativeHeatPool().SamplingRate = 10000;
  EXPECT_EQ(heatPool->SamplingRate(), 10000);
  heatPool->set_NbLanes(8);
  EXPECT_EQ(nativeHeatPool().NbLanes, 8);
  EXPECT_EQ(meet.NativeHeat("R1", "H1").HeatStatus, 0) << "the heat around it stays";

  meet.PoolConfig()->set_StartFinishPlace(-2);
  EXPECT_EQ(meet.globals.m_PoolConfig.m_Container->StartFinishPlace, -2);
  meet.pulses.m_AssociatedPoolConfig.m_Container->PoolLength = 25;
  EXPECT_EQ(meet.PulsesPoolConfig()->PoolLength(), 25);
}

// T: the packed time word, null as exactly the no-value bit.
TEST(FieldKind, Times) {
  Meet meet;
  auto record = meet.Records()->Item(u"WR 50 Free");
  auto native = [&]() -> Sd2KxTime& {
    return Meet::ByKey(meet.globals.m_Records.m_Container, "WR 50 Free").Time;
  };
  record->set_Time(std::nullopt);
  EXPECT_EQ(native().m_uliWord, kNoValueWord);
  EXPECT_EQ(record->Time(), std::nullopt);

  const KxTime negative = MakeTime(123456789, KxPrecision::P7, true);
  record->set_Time(negative);
  EXPECT_EQ(native().Time(), 123456789);
  EXPECT_EQ(native().Precision(), 7u);
  EXPECT_TRUE(native().Negative());
  EXPECT_FALSE(native().IsNull());
  EXPECT_EQ(record->Time(), negative);

  record->set_Time(MakeTime((int64_t{1} << 43) + 5, KxPrecision::P2, false));
  EXPECT_EQ(native().Time(), 5) << "bits above 42 are dropped";
  EXPECT_EQ(record->Time(), MakeTime(5, KxPrecision::P2, false));

  // A lap time one level down.
  auto lapTimes = record->LapTimes();
  lapTimes->SetLength(2);
  lapTimes->Item(1)->set_LapTime(MakeTime(777, KxPrecision::P1, false));
  auto& nativeLaps = Meet::ByKey(meet.globals.m_Records.m_Container, "WR 50 Free").LapTimes;
  EXPECT_EQ(nativeLaps[1].LapTime.m_uliWord, Sd2KxTime::Make(777, 1, false).m_uliWord);
  EXPECT_EQ(lapTimes->Item(0)->LapTime(), MakeTime(0, KxPrecision::P0, false))
      << "the first lap stays as it was";
}

// D: the date-time word; the two top bits give the kind.
TEST(FieldKind, DateTimes) {
  Meet meet;
  auto record = meet.Records()->Item(u"ER 100 Fly");
  auto native = [&]() -> CkxD2DateTime& {
    return Meet::ByKey(meet.globals.m_Records.m_Container, "ER 100 Fly").Date;
  };
  const struct {
    uint64_t uiTopBits;
    OrbDateTimeKind kind;
  } aWords[] = {{0, OrbDateTimeKind::Unspecified},
                {kUtcBit, OrbDateTimeKind::Utc},
                {kLocalBit, OrbDateTimeKind::Local},
                {kUtcBit | kLocalBit, OrbDateTimeKind::Unspecified}};
  for (const auto& word : aWords) {
    native().SetNet(static_cast<int64_t>(word.uiTopBits | kTicks));
    EXPECT_EQ(record->Date(), OrbDateTime(kTicks, word.kind)) << word.uiTopBits;
  }
  for (const auto& word : aWords) {
    if (word.uiTopBits == (kUtcBit | kLocalBit)) continue;  // no value writes both
    record->set_Date(OrbDateTime(kTicks, word.kind));
    EXPECT_EQ(static_cast<uint64_t>(native().GetNet()), word.uiTopBits | kTicks);
  }
  auto entry = meet.Schedule()->Item(u"R1");
  entry->set_DateAndTime(OrbDateTime(1, OrbDateTimeKind::Local));
  EXPECT_EQ(static_cast<uint64_t>(meet.NativeEntry("R1").DateAndTime.GetNet()), kLocalBit | 1);
}

// ---------------------------------------------------------------------------
// Lap times of a lane result of a heat of a schedule entry.

uint32_t LapTime(uint32_t uiLap, uint32_t uiSplit) { return 100000 * (uiLap + 1) + 977 * uiSplit; }

// Entry R1 written through the object face, R0 natively, each read back
// through the other face; a walk taking a wrong level reads the other entry.
TEST(FiveLevelWalk, EachFaceReadsWhatTheOtherWrote) {
  Meet meet;
  auto lanesOf = [&](const char16_t* csEntry) {
    return meet.Schedule()->Item(csEntry)->Heats()->Item(u"H2")->LaneResults();
  };
  for (const char16_t* csEntry : {u"R0", u"R1"}) {
    lanesOf(csEntry)->Item(uint64_t{6});
    lanesOf(csEntry)->Item(uint64_t{5})->Laps()->SetLength(3);
  }
  auto laps = lanesOf(u"R1")->Item(uint64_t{5})->Laps();
  std::vector<uint32_t> aExpected;
  for (uint32_t uiLap = 0; uiLap < 3; ++uiLap) {
    auto times = laps->Item(uiLap)->Time();
    for (uint32_t uiSplit = 0; uiSplit < 8; ++uiSplit) {
      times->set_Item(uiSplit, LapTime(uiLap, uiSplit));
      meet.NativeLane("R0", "H2", 5).Laps[uiLap].Time[uiSplit] = LapTime(uiLap, uiSplit) + 7;
      aExpected.push_back(LapTime(uiLap, uiSplit) + 7);
    }
  }
  for (uint32_t uiLap = 0; uiLap < 3; ++uiLap) {
    for (uint32_t uiSplit = 0; uiSplit < 8; ++uiSplit)
      EXPECT_EQ(meet.NativeLane("R1", "H2", 5).Laps[uiLap].Time[uiSplit], LapTime(uiLap, uiSplit));
  }
  std::vector<uint32_t> aSeen;
  const auto pNativeLaps = lanesOf(u"R0")->Item(uint64_t{5})->Laps();  // kept for the loop
  for (const auto& lap : *pNativeLaps) {
    for (uint32_t uiTime : lap->Time()) aSeen.push_back(uiTime);
  }
  EXPECT_EQ(aSeen, aExpected);

  // The other fields down there: a lane's text, its competitor map, a lap's rank.
  auto lane = lanesOf(u"R1")->Item(uint64_t{5});
  lane->set_LHandicap(u"S9");
  lane->CompetitorId()->Item(uint64_t{11})->set_CompetitorId(1234);
  laps->Item(2)->set_Rank(-3);
  EXPECT_EQ(NativeText(meet.NativeLane("R1", "H2", 5).LHandicap), u"S9");
  EXPECT_EQ(Meet::ByKey(meet.NativeLane("R1", "H2", 5).CompetitorId, 11).CompetitorId, 1234);
  EXPECT_EQ(meet.NativeLane("R1", "H2", 5).Laps[2].Rank, -3);
  meet.NativeLane("R1", "H2", 5).Laps[1].Lap = 2;
  EXPECT_EQ(laps->Item(1)->Lap(), 2);
}

}  // namespace
}  // namespace access_test
