// Text forms of race times and date-times: what Parse reads, what it
// refuses (naming the text), and that every value survives its text form.
// (The view models' default texts are read by VarnoxViewModelTest's tables.)
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>

#include "contracts/framework/OrbKernelException.h"
#include "contracts/framework/OrbValues.h"
#include "contracts/kernel/KxText.h"

namespace {

using Tarvex::Orb::KxPrecision;
using Tarvex::Orb::KxTime;
using Tarvex::Orb::DataDirectAcces::OrbDateTime;
using Tarvex::Orb::DataDirectAcces::OrbDateTimeKind;
using Tarvex::Orb::DataDirectAcces::OrbKernelException;

std::string Utf8(std::u16string_view csText) { return KxText::Utf16ToUtf8(csText); }

KxTime Time(int64_t liTime, int iPrecision, bool bNegative) {
  KxTime t(static_cast<KxPrecision>(iPrecision));
  t.set_Time(liTime);
  t.set_Negative(bNegative);
  return t;
}

// Parse must throw OrbKernelException whose text names the input and says
// `csWhy`.
template <class F>
void ExpectRefusedNaming(std::u16string_view csText, F parse, const char* csWhy = "") {
  try {
    parse(csText);
    ADD_FAILURE() << "accepted \"" << Utf8(csText) << "\"";
  } catch (const OrbKernelException& e) {
    EXPECT_NE(std::string(e.what()).find("\"" + Utf8(csText) + "\""), std::string::npos)
        << e.what();
    EXPECT_NE(std::string(e.what()).find(csWhy), std::string::npos) << e.what();
  }
}

// ---------------------------------------------------------------------------
// Race times.

struct TimeCase {
  std::u16string text;
  std::optional<KxTime> value;  // nullopt: no time
  std::u16string shown;         // OptionalToString of the value
};

class KxTimeTextTest : public testing::TestWithParam<TimeCase> {};

TEST_P(KxTimeTextTest, ReadsTheTextAndShowsTheValue) {
  const TimeCase& c = GetParam();
  EXPECT_EQ(KxTime::ParseOptional(c.text), c.value);
  if (c.value) {
    EXPECT_EQ(KxTime::Parse(c.text), *c.value);
  }
  EXPECT_EQ(Utf8(KxTime::OptionalToString(c.value)), Utf8(c.shown));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KxTimeTextTest,
    testing::Values(
        TimeCase{u"1:02.34", Time(6234, 2, false), u"1:02.34"},
        TimeCase{u"62.34", Time(6234, 2, false), u"1:02.34"},
        TimeCase{u"1:02", Time(62, 0, false), u"1:02"},
        TimeCase{u"-0.5", Time(5, 1, true), u"-0.5"}, TimeCase{u"-0", Time(0, 0, true), u"-0"},
        TimeCase{u"1:00:00.0000001", Time(36'000'000'001, 7, false), u"1:00:00.0000001"},
        TimeCase{u"25:59:59.9", Time(935'999, 1, false), u"25:59:59.9"},
        TimeCase{u"0:59.99", Time(5999, 2, false), u"59.99"},
        TimeCase{u" 10:00.00 ", Time(60'000, 2, false), u"10:00.00"},
        TimeCase{u"NT", std::nullopt, u"NT"}, TimeCase{u" nt", std::nullopt, u"NT"},
        TimeCase{u"   ", std::nullopt, u"NT"}));

TEST(KxTimeTextTest, RefusesWhatIsNoTimeNamingTheTextAndWhy) {
  const char* const kNoTime = "not a race time such as 1:02.34 (or NT for no time)";
  const char* const kTwoDigits = "minutes and seconds after a ':' take two digits from 00 to 59";
  const char* const kTooLarge = "the time is too large";
  const std::pair<const char16_t*, const char*> kRefused[] = {
      {u"", kNoTime}, {u"NT", kNoTime}, {u"abc", kNoTime}, {u".5", kNoTime}, {u"--1", kNoTime},
      {u"1,5", kNoTime}, {u"1:02.34 m x", kNoTime}, {u"1:2.34", kTwoDigits},
      {u"1:60.00", kTwoDigits}, {u"1:02:60", kTwoDigits},
      {u"1:02:03:04", "more than hours, minutes and seconds"}, {u"1.", "a '.' without decimals"},
      {u"1.23456789", "more than seven decimals"}, {u"99999999999999999999", kTooLarge},
      {u"2562047788015215:30:08", kTooLarge}};
  for (const auto& [text, why] : kRefused)
    ExpectRefusedNaming(text, [](std::u16string_view t) { return KxTime::Parse(t); }, why);
  EXPECT_THROW(Time(-1, 2, false).ToString(), OrbKernelException);
}

rc::Gen<KxTime> AnyTime() {
  return rc::gen::apply(
      [](int64_t liTime, int iPrecision, bool bNegative) {
        return Time(liTime, iPrecision, bNegative);
      },
      // The stored 43 bits and, beyond them, any magnitude.
      rc::gen::oneOf(rc::gen::inRange<int64_t>(0, int64_t{1} << 43),
                     rc::gen::inRange<int64_t>(0, std::numeric_limits<int64_t>::max())),
      rc::gen::inRange(0, 8), rc::gen::arbitrary<bool>());
}

RC_GTEST_PROP(KxTimeText, EveryTimeSurvivesItsText, ()) {
  const KxTime time = *AnyTime();
  RC_ASSERT(KxTime::Parse(time.ToString()) == time);
  RC_ASSERT(KxTime::ParseOptional(KxTime::OptionalToString(time)) == std::optional(time));
}

// ---------------------------------------------------------------------------
// Date-times. Local times depend on the zone: these tests set one.

class ZoneTest : public testing::Test {
 protected:
  static void Zone(const char* csZone) {
    setenv("TZ", csZone, 1);
    tzset();
  }
  void TearDown() override { Zone("UTC0"); }
};

constexpr int64_t kTicksPerSecond = 10'000'000;
// 2026-07-14 00:00:00.
constexpr int64_t kJuly14 = 63'919'584'000 * kTicksPerSecond;
constexpr int64_t kMinute = 60 * kTicksPerSecond;
constexpr int64_t kHour = 60 * kMinute;

struct DateCase {
  std::u16string text;
  OrbDateTime value;
  std::u16string iso;  // ToString of the value
};

class OrbDateTimeTextTest : public ZoneTest, public testing::WithParamInterface<DateCase> {};

// Central European time: +01:00, +02:00 in summer.
TEST_P(OrbDateTimeTextTest, ReadsTheTextKeepingItsKind) {
  Zone("CET-1CEST,M3.5.0,M10.5.0/3");
  const DateCase& c = GetParam();
  const OrbDateTime parsed = OrbDateTime::Parse(c.text);
  EXPECT_EQ(parsed.Ticks(), c.value.Ticks());
  EXPECT_EQ(parsed.Kind(), c.value.Kind());
  EXPECT_EQ(Utf8(parsed.ToString()), Utf8(c.iso));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OrbDateTimeTextTest,
    testing::Values(
        DateCase{u"14.07.2026 09:30", OrbDateTime(kJuly14 + 9 * kHour + 30 * kMinute),
                 u"2026-07-14T09:30:00.0000000"},
        DateCase{u"2026-07-14T09:30:00.1234567Z",
                 OrbDateTime(kJuly14 + 9 * kHour + 30 * kMinute + 1'234'567, OrbDateTimeKind::Utc),
                 u"2026-07-14T09:30:00.1234567Z"},
        DateCase{u"2026-07-14", OrbDateTime(kJuly14), u"2026-07-14T00:00:00.0000000"},
        // An offset gives local time here: summer, then winter.
        DateCase{u"2026-07-14T07:30:00+00:00",
                 OrbDateTime(kJuly14 + 9 * kHour + 30 * kMinute, OrbDateTimeKind::Local),
                 u"2026-07-14T09:30:00.0000000+02:00"},
        DateCase{u"2026-07-14 12:00-0300",
                 OrbDateTime(kJuly14 + 17 * kHour, OrbDateTimeKind::Local),
                 u"2026-07-14T17:00:00.0000000+02:00"},
        DateCase{u"2026-01-14T12:00:00+01",
                 OrbDateTime(kJuly14 - 181 * 24 * kHour + 12 * kHour, OrbDateTimeKind::Local),
                 u"2026-01-14T12:00:00.0000000+01:00"},
        DateCase{u"9999-12-31T23:59:59.9999999", OrbDateTime(OrbDateTime::kMaxTicks),
                 u"9999-12-31T23:59:59.9999999"}));

TEST_F(ZoneTest, RefusesWhatIsNoDateNamingTheText) {
  Zone("UTC0");
  for (const char16_t* text :
       {u"", u"yesterday", u"31.02.2026", u"29.02.2100 00:00", u"00.01.2026", u"01.01.0000",
        u"2026-13-01", u"2026-07-14T24:00", u"2026-07-14T09:60", u"2026-07-14T09:30:00.12345678",
        u"2026-07-14T09:30Z+01:00", u"2026-07-14T09:30+1", u"0001-01-01T00:30:00+01:00",
        u"9999-12-31T23:30:00-01:00", u"14.07.2026T09:30"}) {
    ExpectRefusedNaming(text, [](std::u16string_view t) { return OrbDateTime::Parse(t); });
  }
}

rc::Gen<OrbDateTime> AnyDateTime() {
  return rc::gen::apply(
      [](int64_t liTicks, int iKind) {
        return OrbDateTime(liTicks, static_cast<OrbDateTimeKind>(iKind));
      },
      rc::gen::inRange<int64_t>(0, OrbDateTime::kMaxTicks + 1), rc::gen::inRange(0, 3));
}

// Whether the clock of the current zone skips the local time `value` shows
// (the hour of the spring change), as the C library's mktime sees it.
bool SkippedByTheClock(const OrbDateTime& value) {
  tm fields{};
  std::sscanf(Utf8(value.ToDisplayString()).c_str(), "%d.%d.%d %d:%d:%d", &fields.tm_mday,
              &fields.tm_mon, &fields.tm_year, &fields.tm_hour, &fields.tm_min, &fields.tm_sec);
  fields.tm_mon -= 1;
  fields.tm_year -= 1900;
  fields.tm_isdst = -1;
  const int iHour = fields.tm_hour;
  const int iMinute = fields.tm_min;
  return std::mktime(&fields) != -1 && (fields.tm_hour != iHour || fields.tm_min != iMinute);
}

// Every date-time, in a zone without clock changes, with them, west of UTC
// by a half hour and at an offset with seconds; a local time the clock of a
// zone skips does not exist there and is left out.
RC_GTEST_PROP(OrbDateTimeText, EveryDateTimeSurvivesItsTextInEveryZone, ()) {
  const OrbDateTime value = *AnyDateTime();
  for (const char* csZone : {"UTC0", "CET-1CEST,M3.5.0,M10.5.0/3",
                             "<-0330>3:30<-0230>,M3.2.0,M11.1.0", "<+003408>-0:34:08"}) {
    setenv("TZ", csZone, 1);
    tzset();
    if (value.Kind() == OrbDateTimeKind::Local && SkippedByTheClock(value)) continue;
    RC_ASSERT(OrbDateTime::Parse(value.ToString()) == value);
  }
}

}  // namespace
