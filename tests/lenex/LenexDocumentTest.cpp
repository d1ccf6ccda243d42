// LENEX documents without a meet: the value forms (each text parses to its
// canonical form or is refused), reading and writing .lef text (the
// refusals, each naming element, attribute, line and what was expected;
// what real files do that is tolerated; the encodings; the round trips
// between model and text) and .lxf archives (the one .lef they hold comes
// back as it went in; archives that could smuggle in something else are
// refused).
#include <gtest/gtest.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "lenex/Lenex.h"
#include "tests/lenex/LenexTestDocument.h"

namespace {

using namespace Varnox::Lenex;
using namespace Varnox::Lenex::Testing;

// --- value forms -------------------------------------------------------------

struct FormCase {
  const char* name;
  std::function<std::optional<std::string>(std::string_view)> roundTrip;
  std::string text;
  std::optional<std::string> written;  // nothing = refused
};

// Parse, then write what was parsed.
template <typename T>
std::function<std::optional<std::string>(std::string_view)> Through(
    std::optional<T> (*parse)(std::string_view), std::string (*format)(const T&)) {
  return [=](std::string_view text) -> std::optional<std::string> {
    const std::optional<T> value = parse(text);
    if (!value) return std::nullopt;
    return format(*value);
  };
}

const auto kSwim = Through(ParseSwimTime, FormatSwimTime);
const auto kReaction = Through(ParseReactionTime, FormatReactionTime);
const auto kDate = Through(ParseDate, FormatDate);
const auto kDaytime = Through(ParseDaytime, FormatDaytime);

class LenexValueFormTest : public testing::TestWithParam<FormCase> {};

TEST_P(LenexValueFormTest, ParsesToItsCanonicalFormOrRefuses) {
  EXPECT_EQ(GetParam().roundTrip(GetParam().text), GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LenexValueFormTest,
    testing::Values(FormCase{"SwimTimeLongest", kSwim, "99:59:59.99", "99:59:59.99"},
                    FormCase{"NoTime", kSwim, "NT", "NT"},
                    FormCase{"SwimTimeShort", kSwim, "01:02.47", std::nullopt},
                    FormCase{"SwimSeconds60", kSwim, "00:00:60.00", std::nullopt},
                    FormCase{"SwimMinutes60", kSwim, "00:60:00.00", std::nullopt},
                    FormCase{"SwimTimeSigned", kSwim, "+0:01:02.47", std::nullopt},
                    FormCase{"ReactionHundredths", kReaction, "+71", "+71"},
                    FormCase{"ReactionUnsigned", kReaction, "71", "+71"},
                    FormCase{"ReactionZero", kReaction, "0", "0"},
                    FormCase{"ReactionSeconds", kReaction, "+0.71", "+71"},
                    FormCase{"ReactionThreeDecimals", kReaction, "0.712", std::nullopt},
                    FormCase{"ReactionEmpty", kReaction, "+", std::nullopt},
                    FormCase{"Date", kDate, "2008-02-29", "2008-02-29"},
                    FormCase{"DateNoLeapDay", kDate, "2009-02-29", std::nullopt},
                    FormCase{"DateMonth13", kDate, "2008-13-01", std::nullopt},
                    FormCase{"DateYearOnly", kDate, "2008", std::nullopt},
                    FormCase{"DaytimeHour24", kDaytime, "24:00", std::nullopt},
                    FormCase{"DaytimeSeconds", kDaytime, "09:05:00", std::nullopt}),
    [](const auto& one) { return std::string(one.param.name); });

// Each value of T up to `last` written as its code and parsed back.
template <typename T>
void ExpectEveryCodeParsesBack(T last) {
  for (int i = 0; i <= static_cast<int>(last); ++i)
    EXPECT_EQ(Codes<T>::Parse(Codes<T>::Code(static_cast<T>(i))), static_cast<T>(i)) << i;
}

TEST(LenexCodesTest, EveryCodeParsesBackToItsValue) {
  ExpectEveryCodeParsesBack(Round::kTimeTrial);
  ExpectEveryCodeParsesBack(Course::kOpen);
  EXPECT_FALSE(Codes<Stroke>::Parse("free"));  // codes are upper case
}

TEST(LenexNumberTest, RefusesWhatIsNoSigned32BitInteger) {
  EXPECT_EQ(ParseNumber("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseNumber("+7"), 7);
  for (const char* csText : {"2147483648", "", "+", "++1", "1.0", " 1", "1e3"})
    EXPECT_FALSE(ParseNumber(csText)) << csText;
}

// The shared start list with results: a second event (a later round of the
// first) and a second athlete with a ranked result with a split.
const std::string kDocument =
    Replaced(StartList({{"EVENTS", R"(
            <EVENT eventid="11" number="2" round="FIN" preveventid="10">
              <SWIMSTYLE distance="50" relaycount="1" stroke="BACK"/>
              <HEATS><HEAT heatid="110" number="1"/></HEATS>
            </EVENT>)"},
                        {"ATHLETES", R"(
            <ATHLETE athleteid="8" lastname="Roth" firstname="Mia" gender="F" birthdate="2012-01-01">
              <RESULTS><RESULT resultid="501" eventid="10" heatid="100" lane="4" swimtime="00:01:02.47" reactiontime="+68">
                <SPLITS><SPLIT distance="50" swimtime="00:00:30.11"/></SPLITS>
              </RESULT></RESULTS>
            </ATHLETE>)"}}),
             R"(agemax="14"/>)", R"(agemax="14"><RANKINGS><RANKING place="1" resultid="501"/></RANKINGS></AGEGROUP>)");

// The line (from 1) of the first occurrence of csMarker, 0 for no marker.
int LineOf(const std::string& csText, const std::string& csMarker) {
  if (csMarker.empty()) return 0;
  const size_t uiAt = csText.find(csMarker);
  if (uiAt == std::string::npos) throw std::invalid_argument("no line holds: " + csMarker);
  return 1 + static_cast<int>(std::count(csText.begin(), csText.begin() + uiAt, '\n'));
}

std::string Repeated(const std::string& csPart, int iCount) {
  std::string csAll;
  for (int i = 0; i < iCount; ++i) csAll += csPart;
  return csAll;
}

// --- refusals ----------------------------------------------------------------

struct Refusal {
  const char* name;
  std::string from, to;  // the start list with this change
  std::string element, attribute;
  std::string lineMarker;  // the refusal's line holds this; empty = no line
  std::string expected;    // a part of what the refusal says was expected
};

class LenexRefusalTest : public testing::TestWithParam<Refusal> {};

TEST_P(LenexRefusalTest, NamesElementAttributeLineAndExpectation) {
  const Refusal& c = GetParam();
  const std::string csDocument = Replaced(kDocument, c.from, c.to);
  try {
    ReadLef(csDocument);
    FAIL() << "read without refusal";
  } catch (const LenexError& error) {
    EXPECT_EQ(error.Element(), c.element) << error.what();
    EXPECT_EQ(error.Attribute(), c.attribute) << error.what();
    EXPECT_EQ(error.Line(), LineOf(csDocument, c.lineMarker)) << error.what();
    EXPECT_NE(error.Expected().find(c.expected), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find(c.element), std::string::npos) << error.what();
  }
}

const std::string kAthleteLine = R"(<ATHLETE athleteid="7")";
const std::string kEntry = R"(<ENTRY eventid="10" heatid="100" lane="3" entrytime="00:01:05.20" agegroupid="1"/>)";

INSTANTIATE_TEST_SUITE_P(
    Cases, LenexRefusalTest,
    testing::Values(
        Refusal{"MissingRequiredAttribute", R"(lastname="Keller" )", "", "ATHLETE", "lastname",
                kAthleteLine, "text"},
        Refusal{"DanglingEventId", kEntry, Replaced(kEntry, "10", "99"), "ENTRY", "eventid",
                "<ENTRY", "eventid of an EVENT"},
        Refusal{"BadEntryTime", "00:01:05.20", "1:05.20", "ENTRY", "entrytime", "<ENTRY",
                "HH:MM:SS.hh"},
        Refusal{"LaneOutsideThePool", kEntry, Replaced(kEntry, "lane=\"3\"", "lane=\"7\""),
                "ENTRY", "lane", "<ENTRY", "from 1 to 6"},
        Refusal{"LaneOutsideASessionPool", R"(daytime="09:00">)",
                R"(daytime="09:00"><POOL lanemin="0" lanemax="2"/>)", "ENTRY", "lane", "<ENTRY",
                "from 0 to 2"},
        Refusal{"RootIsNoLenex", kDocument, "<?xml version=\"1.0\"?>\n<kxfile family=\"Varnox\"/>\n",
                "kxfile", "", "<kxfile", "root element LENEX"},
        Refusal{"AnotherVersion", "<LENEX version=\"3.0\">", "<LENEX version=\"2.1\">",
                "LENEX", "version", "<LENEX", "3.0"},
        Refusal{"CodeNotInTheList", R"(stroke="FREE")", R"(stroke="CRAWL")", "SWIMSTYLE",
                "stroke", R"(stroke="CRAWL")", "FREE, BACK"},
        Refusal{"AthleteGenderAll", R"(gender="F" birthdate)", R"(gender="A" birthdate)",
                "ATHLETE", "gender", kAthleteLine, "M, F"},
        Refusal{"LaneEnteredTwice", kEntry, kEntry + kEntry, "ENTRY", "lane", "<ENTRY",
                "one entry per event, heat and lane"},
        // Lanes from 64 on are claimed in another table than the lanes below.
        Refusal{"LaneFrom64EnteredTwice", kDocument,
                Replaced(Replaced(kDocument, R"(lanemax="6")", R"(lanemax="80")"), kEntry,
                         Repeated(Replaced(kEntry, "lane=\"3\"", "lane=\"70\""), 2)),
                "ENTRY", "lane", "<ENTRY", "one entry per event, heat and lane"},
        Refusal{"HeatOfAnotherEvent", kEntry, Replaced(kEntry, "100", "110"), "ENTRY", "heatid",
                "<ENTRY", "a heat of event 10"},
        Refusal{"HeatIdUsedTwice", R"(heatid="110")", R"(heatid="100")", "HEAT", "heatid",
                R"(<HEAT heatid="100" number="1"/>)", "unique in the meet"},
        // -1, all bits set once widened, is the id tables' mark of a free slot.
        Refusal{"HeatIdMinusOneUsedTwice", R"(<HEAT heatid="110" number="1"/>)",
                R"(<HEAT heatid="-1" number="1"/><HEAT heatid="-1" number="2"/>)", "HEAT",
                "heatid", R"(heatid="-1" number="2")", "unique in the meet"},
        Refusal{"RankingOfNoResult", R"(resultid="501"/>)", R"(resultid="502"/>)", "RANKING",
                "resultid", "<RANKING", "resultid of a RESULT"},
        Refusal{"EarlierRoundMissing", R"(preveventid="10")", R"(preveventid="12")", "EVENT",
                "preveventid", R"(preveventid="12")", "or -1"},
        Refusal{"SplitsDoNotAscend", R"(<SPLIT distance="50" swimtime="00:00:30.11"/>)",
                R"(<SPLIT distance="50" swimtime="00:00:30.11"/><SPLIT distance="50" swimtime="00:00:40.00"/>)",
                "SPLIT", "distance", "00:00:40.00", "above 50"},
        Refusal{"SwimStyleMissing", R"(<SWIMSTYLE distance="50" relaycount="1" stroke="BACK"/>)",
                "", "EVENT", "", R"(eventid="11")", "SWIMSTYLE"},
        Refusal{"NoCourseAnywhere", R"( course="SCM")", "", "SESSION", "course",
                R"(<SESSION number)", "LCM"},
        Refusal{"NotWellFormed", "</MEETS>", "</MEET>", "", "", "</MEET>\n</LENEX>",
                "well-formed"},
        Refusal{"DocumentTypeDeclaration", "<LENEX version",
                "<!DOCTYPE LENEX [<!ENTITY big \"xxxxxxxx\">]>\n<LENEX version", "", "",
                "<!DOCTYPE", "no DTD"},
        Refusal{"UndeclaredEntity", R"(city="Basel")", R"(city="&lake;")", "", "",
                R"(city="&lake;")", "well-formed"},
        Refusal{"NestedTooDeep", "<CLUBS>", "<CLUBS>" + Repeated("<X>", 30) + Repeated("</X>", 30),
                "X", "", "<CLUBS>", "at most 24 levels"}),
    [](const auto& one) { return std::string(one.param.name); });

// The scan for start tags with too many attributes skips ahead by windows
// of bytes: a tag at the limit is read, and one past it refused (before
// any line is known), wherever the tag falls in those windows.
TEST(LenexAttributeLimit, HoldsWhereverTheTagLies) {
  auto attributes = [](int iCount) {
    std::string csAttributes;
    for (int i = 0; i < iCount; ++i) csAttributes += "a" + std::to_string(i) + "=\"\" ";
    return csAttributes;
  };
  for (int iShift = 0; iShift < 64; ++iShift) {
    for (const int iCount : {64, 65}) {
      const std::string csDocument =
          Replaced(kDocument, R"(<POOL lanemin="1" lanemax="6"/>)",
                   std::string(iShift, ' ') + "<POOL " + attributes(iCount) + "/>");
      try {
        ReadLef(csDocument);
        EXPECT_EQ(iCount, 64) << "shifted by " << iShift;
      } catch (const LenexError& error) {
        EXPECT_EQ(iCount, 65) << "shifted by " << iShift << ": " << error.what();
        EXPECT_EQ(error.Line(), 0) << error.what();
        EXPECT_NE(error.Expected().find("at most 64 attributes"), std::string::npos)
            << error.what();
      }
    }
  }
}

// --- what real files do -------------------------------------------------------

// Unknown elements and attributes, children out of order, reaction times
// in seconds, "NT" and zero times, DNS entries, no birth date, escaped
// attribute text, namespace declarations on the root.
const std::string kWildFile = R"(<?xml version="1.0" encoding="UTF-8"?>
<LENEX version="3.0" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" producer="x">
  <MEETS>
    <MEET name="A &amp; B&#10;Cup" city="Lakeside" nation="SUI" course="LCM" hostclub="?">
      <FEES><FEE type="ATHLETE" value="500"/></FEES>
      <CLUBS>
        <CLUB type="UNATTACHED">
          <ATHLETES>
            <ATHLETE lastname="Muster" firstname="Anna" gender="F" athleteid="7" swrid="123">
              <HANDICAP free="5"/>
              <RESULTS>
                <RESULT resultid="1" eventid="20" swimtime="00:00:00.00" status="DNS"/>
                <RESULT resultid="2" eventid="20" swimtime="00:00:31.50" reactiontime="+0.7"/>
                <RESULT resultid="3" eventid="20" swimtime="NT" reactiontime="-0.05"/>
              </RESULTS>
              <ENTRIES><ENTRY eventid="20" entrytime="NT" status="DNS"/></ENTRIES>
            </ATHLETE>
          </ATHLETES>
        </CLUB>
      </CLUBS>
      <SESSIONS>
        <SESSION date="2025-11-15" number="1">
          <EVENTS>
            <EVENT number="1" eventid="20"><SWIMSTYLE stroke="FLY" relaycount="1" distance="50"/></EVENT>
          </EVENTS>
        </SESSION>
      </SESSIONS>
    </MEET>
  </MEETS>
  <CONSTRUCTOR registration="Pool" version="1"><CONTACT email="t@example.org"/></CONSTRUCTOR>
</LENEX>
)";

// The file in each encoding it may declare (a byte-order mark too), its city
// "Zürich" in that encoding: the model holds UTF-8.
struct Encoding {
  const char* name;
  std::string prefix;    // BOM and declaration
  std::string cityBytes;  // "Zürich" in that encoding
};

class LenexToleranceTest : public testing::TestWithParam<Encoding> {};

TEST_P(LenexToleranceTest, ReadsWhatRealFilesDo) {
  const Encoding& c = GetParam();
  const Document document =
      ReadLef(Replaced(Replaced(kWildFile, R"(<?xml version="1.0" encoding="UTF-8"?>)", c.prefix),
                       R"(city="Lakeside")", "city=\"" + c.cityBytes + "\""));
  ASSERT_EQ(document.meets.size(), 1u);
  const Meet& meet = document.meets[0];
  EXPECT_EQ(meet.name, "A & B\nCup");
  EXPECT_EQ(meet.city, "Z\xC3\xBCrich");
  ASSERT_EQ(meet.clubs.size(), 1u);
  EXPECT_EQ(meet.clubs[0].type, ClubType::kUnattached);
  EXPECT_EQ(meet.clubs[0].name, "");
  const Athlete& athlete = meet.clubs[0].athletes.at(0);
  EXPECT_FALSE(athlete.birthDate);
  ASSERT_EQ(athlete.results.size(), 3u);
  EXPECT_EQ(athlete.results[0].swimTime, SwimTime::NoTime());
  EXPECT_EQ(athlete.results[0].status, ResultStatus::kDidNotStart);
  EXPECT_EQ(athlete.results[1].reactionTime, ReactionTime{70});
  EXPECT_EQ(athlete.results[2].reactionTime, ReactionTime{-5});
  EXPECT_EQ(athlete.entries.at(0).entryTime, SwimTime::NoTime());
  EXPECT_EQ(athlete.entries.at(0).status, EntryStatus::kDidNotStart);
  EXPECT_EQ(meet.sessions.at(0).events.at(0).swimStyle.stroke, Stroke::kFly);
  // What was tolerated is written in the canonical forms and reads back equal.
  EXPECT_EQ(ReadLef(WriteLef(document)), document);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, LenexToleranceTest,
    testing::Values(Encoding{"Utf8", R"(<?xml version="1.0" encoding="UTF-8"?>)", "Z\xC3\xBCrich"},
                    Encoding{"Utf8Bom", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
                             "Z\xC3\xBCrich"},
                    Encoding{"Latin1", R"(<?xml version="1.0" encoding="ISO-8859-1"?>)",
                             "Z\xFCrich"},
                    Encoding{"CharacterReference", R"(<?xml version="1.0"?>)", "Z&#252;rich"}),
    [](const auto& one) { return std::string(one.param.name); });

// --- round trips -------------------------------------------------------------

// A document that sets every member of the model once reads back equal.
Document EveryMember() {
  Document document;
  document.revision = "3.1";
  document.constructor = {"Varnox", "Demo pool", "0.1", {}};
  document.constructor.contact = {"Team", "Street 1", "8000", "City", "CH", "+41", "t@example.org",
                                  "https://example.org"};
  Meet meet{"Autumn <Sprint> \"Cup\"", "Lakeside", "SUI", Course::kSCM, Timing::kAutomatic,
            AgeDate{AgeDateType::kDate, Date{2025, 12, 31}}, Pool{1, 8, "INDOOR"},
            Contact{"Host", {}, {}, {}, {}, {}, "h@example.org", {}}, {}, {}, {}};
  Event event{10, 1, SwimStyle{100, 1, Stroke::kMedley, "IM", "IM100", Technique::kKick, 5},
              Gender::kFemale, Round::kFinal, Daytime{9, 5}, 2, -1, Timing::kManual2, {}, {}};
  event.ageGroups.push_back(AgeGroup{1, 12, 14, Gender::kFemale, "12-14", {{1, 501, 1}, {-1, 502, {}}}});
  event.heats.push_back(Heat{100, 1, Daytime{9, 6}, 1, HeatFinal::kB, 3, HeatStatus::kOfficial});
  Event relayEvent{11, 2, SwimStyle{50, 4, Stroke::kFree, {}, {}, {}, {}}, Gender::kMixed, {}, {},
                   {}, 10, {}, {}, {}};
  relayEvent.heats.push_back(Heat{110, 1, {}, {}, {}, {}, {}});
  Session session{1, Date{2025, 11, 15}, Daytime{9, 0}, "Morning", Course::kSCM, Timing::kAutomatic,
                  Pool{1, 6, {}}, {event, relayEvent}};
  meet.sessions.push_back(session);

  Athlete anna{1, "Muster", "Anna", Gender::kFemale, Date{2008, 1, 1}, "SUI", "123", "van", {}, {}};
  anna.entries.push_back(Entry{10, SwimTime::Of(6500), 100, 3, 1, Course::kLCM, EntryStatus::kExhibition,
                               MeetInfo{"Open", "Bern", "SUI", Date{2025, 5, 1}, Daytime{10, 0},
                                        Course::kLCM, Timing::kManual1},
                               {}, {}});
  anna.results.push_back(Result{501, SwimTime::Of(6247), 10, 100, 3, {}, 512, ReactionTime{68},
                                "fine", {{50, SwimTime::Of(3011), {}}, {100, SwimTime::Of(6247), {}}}, {}, {}});
  anna.results.push_back(Result{502, SwimTime::NoTime(), 10, 100, 4, ResultStatus::kDisqualified,
                                {}, ReactionTime{-3}, "15m", {}, {}, {}});
  Athlete lea{2, "Beispiel", "Lea", Gender::kFemale, {}, {}, {}, {}, {}, {}};
  Relay relay{Gender::kMixed, -1, -1, 60, 99, 1, "Lakeside 1", {}, {}};
  relay.entries.push_back(Entry{11, SwimTime::NoTime(), 110, 2, {}, {}, {}, {}, {{1, 1, {}, {}, {}}}, {}});
  relay.results.push_back(Result{601, SwimTime::Of(12000), 11, 110, 2, {}, {}, {}, {},
                                 {{50, SwimTime::Of(2900), {}}, {100, SwimTime::Of(6000), {}}},
                                 {{1, 1, ReactionTime{70}, {}, {}},
                                  {2, 2, ReactionTime{20}, ResultStatus::kDisqualified, {}}},
                                 {}});
  meet.clubs.push_back(Club{"Lakeside SC", "Lakeside", "LSC", "SUI", "ZH", ClubType::kClub, 1,
                            {anna, lea}, {relay}});
  document.meets.push_back(meet);

  RecordList list{"Pool records", Course::kLCM, Gender::kMixed, "OR", "SUI", "ZH",
                  Date{2025, 1, 1}, AgeGroup{{}, 10, 12, {}, "10-12", {}}, {}};
  Record single{SwimTime::Of(5612), SwimStyle{100, 1, Stroke::kBreast, {}, {}, {}, {}},
                Athlete{{}, "Held", "Nina", Gender::kFemale, Date{2001, 1, 1}, "SUI", {}, {}, {}, {}},
                Club{"Old SC", {}, "OSC", "SUI", {}, {}, {}, {}, {}},
                {}, MeetInfo{"Gala", "Basel", "SUI", Date{2019, 3, 2}, {}, Course::kLCM, {}},
                {{50, SwimTime::Of(2700), {}}}, "pending", RecordStatus::kPending};
  RecordRelay recordRelay{Club{"Relay SC", {}, {}, {}, {}, {}, {}, {}, {}}, {}};
  RelayPosition leg{1, {}, {}, {}, {}};
  leg.athlete.push_back(Athlete{{}, "Erste", "Ida", Gender::kFemale, {}, {}, {}, {}, {}, {}});
  recordRelay.relayPositions.push_back(leg);
  Record relayRecord{SwimTime::Of(23000), SwimStyle{50, 4, Stroke::kFree, {}, {}, {}, {}}, {}, {},
                     recordRelay, {}, {}, {}, RecordStatus::kApproved};
  Record target{SwimTime::Of(6000), SwimStyle{100, 1, Stroke::kBack, {}, {}, {}, {}}, {}, {}, {}, {},
                {}, {}, RecordStatus::kTargetTime};
  list.records = {single, relayRecord, target};
  document.recordLists.push_back(list);
  return document;
}

TEST(LenexModelRoundTripTest, EveryMemberReadsBackEqual) {
  const Document document = EveryMember();
  const std::string csText = WriteLef(document);
  EXPECT_EQ(ReadLef(csText), document) << csText;
}

// --- what the writer refuses -------------------------------------------------

struct WriterRefusal {
  const char* name;
  std::function<void(Document&)> change;
  std::string element, attribute;
};

class LenexWriterRefusalTest : public testing::TestWithParam<WriterRefusal> {};

TEST_P(LenexWriterRefusalTest, NamesElementAndAttribute) {
  Document document = EveryMember();
  GetParam().change(document);
  try {
    WriteLef(document);
    FAIL() << "written without refusal";
  } catch (const LenexError& error) {
    EXPECT_EQ(error.Element(), GetParam().element) << error.what();
    EXPECT_EQ(error.Attribute(), GetParam().attribute) << error.what();
  }
}

Athlete& Anna(Document& document) { return document.meets[0].clubs[0].athletes[0]; }

INSTANTIATE_TEST_SUITE_P(
    Cases, LenexWriterRefusalTest,
    testing::Values(
        WriterRefusal{"ControlCharacter", [](Document& d) { Anna(d).lastName = "Mu\x01ster"; },
                      "ATHLETE", "lastname"},
        WriterRefusal{"NotUtf8", [](Document& d) { d.meets[0].city = "Z\xFCrich"; }, "MEET",
                      "city"},
        WriterRefusal{"TimeBeyondTheForm",
                      [](Document& d) { Anna(d).results[0].swimTime = SwimTime::Of(kMaxSwimHundredths + 1); },
                      "RESULT", "swimtime"},
        WriterRefusal{"ImpossibleDate", [](Document& d) { Anna(d).birthDate = Date{2009, 2, 29}; },
                      "ATHLETE", "birthdate"},
        WriterRefusal{"AthleteWithoutGender", [](Document& d) { Anna(d).gender = Gender::kAll; },
                      "ATHLETE", "gender"},
        WriterRefusal{"AthleteWithoutId", [](Document& d) { Anna(d).athleteId.reset(); }, "ATHLETE",
                      "athleteid"},
        WriterRefusal{"RecordWithoutPlace",
                      [](Document& d) { d.recordLists[0].records[0].meetInfo->city.reset(); },
                      "RECORD", ""}),
    [](const auto& one) { return std::string(one.param.name); });

// --- archives ----------------------------------------------------------------

const std::string kLef = StartList();

// An archive of the named entries, each holding kLef, written by libzip
// itself (so that any name and any count can be made).
std::string ArchiveOf(const std::vector<std::string>& names) {
  const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("lenex-archive-" + std::to_string(getpid()) + ".zip");
  int iError = 0;
  zip_t* pZip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &iError);
  if (pZip == nullptr) throw std::runtime_error("no archive");
  for (const std::string& name : names) {
    zip_source_t* pData = zip_source_buffer(pZip, kLef.data(), kLef.size(), 0);
    if (zip_file_add(pZip, name.c_str(), pData, ZIP_FL_ENC_UTF_8) < 0) zip_source_free(pData);
  }
  zip_close(pZip);
  std::ifstream in(path, std::ios::binary);
  const std::string csBytes{std::istreambuf_iterator<char>(in), {}};
  std::filesystem::remove(path);
  return csBytes;
}

// The archive with the uncompressed size of its entry changed by iDelta in
// the local header and in the central directory alike (so the two agree and
// only the data gives the lie away).
std::string WithSizeChangedBy(std::string csArchive, int32_t iDelta) {
  auto patch = [&](const char* csSignature, size_t uiOffset) {
    const size_t uiAt = csArchive.find(csSignature);
    if (uiAt == std::string::npos) throw std::runtime_error("no header");
    uint32_t uiSize = 0;
    std::memcpy(&uiSize, csArchive.data() + uiAt + uiOffset, 4);
    uiSize = static_cast<uint32_t>(static_cast<int64_t>(uiSize) + iDelta);
    std::memcpy(csArchive.data() + uiAt + uiOffset, &uiSize, 4);
  };
  patch("PK\x03\x04", 22);
  patch("PK\x01\x02", 24);
  return csArchive;
}

// A document written to a file of either kind reads back equal; the .lef of
// an archive made elsewhere, under any name, comes back byte for byte.
TEST(LenexArchiveTest, FilesOfBothKindsRoundTrip) {
  EXPECT_EQ(ExtractLxf(ArchiveOf({"Any Name.LEF"})), kLef);
  const Document document = ReadLef(kLef);
  const std::filesystem::path directory =
      std::filesystem::temp_directory_path() / ("lenex-files-" + std::to_string(getpid()));
  std::filesystem::create_directories(directory);
  for (const char* csName : {"meet.lef", "meet.lxf", "MEET.LXF"}) {
    WriteLenexFile(directory / csName, document);
    EXPECT_EQ(ReadLenexFile(directory / csName), document) << csName;
  }
  EXPECT_THROW(WriteLenexFile(directory / "meet.xml", document), LenexError);
  std::filesystem::remove_all(directory);
}

struct ArchiveRefusal {
  const char* name;
  std::function<std::string()> archive;
  std::string says;  // part of the refusal
};

class LenexArchiveRefusalTest : public testing::TestWithParam<ArchiveRefusal> {};

TEST_P(LenexArchiveRefusalTest, IsRefusedWithItsReason) {
  LenexLimits limits;
  limits.uiMaxDocumentBytes = 4096;
  try {
    ExtractLxf(GetParam().archive(), limits);
    FAIL() << "extracted without refusal";
  } catch (const LenexError& error) {
    EXPECT_NE(std::string(error.what()).find(GetParam().says), std::string::npos) << error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LenexArchiveRefusalTest,
    testing::Values(
        ArchiveRefusal{"NoZip", [] { return kLef; }, "a ZIP archive"},
        ArchiveRefusal{"Empty", [] { return std::string("PK\x05\x06") + std::string(18, '\0'); },
                       "exactly one"},
        ArchiveRefusal{"TwoEntries",
                       [] {
                         return ArchiveOf({"a.lef", "b.lef"});
                       },
                       "exactly one"},
        ArchiveRefusal{"PathInName", [] { return ArchiveOf({"dir/meet.lef"}); }, "holds a path"},
        ArchiveRefusal{"BackslashInName", [] { return ArchiveOf({"dir\\meet.lef"}); },
                       "holds a path"},
        ArchiveRefusal{"NoLef", [] { return ArchiveOf({"meet.xml"}); }, "no .lef"},
        ArchiveRefusal{"SizeTooSmall",
                       [] { return WithSizeChangedBy(PackLxf(kLef, "meet.lef"), -10); }, "size"},
        ArchiveRefusal{"SizeTooLarge",
                       [] { return WithSizeChangedBy(PackLxf(kLef, "meet.lef"), 10); }, "size"},
        ArchiveRefusal{"BeyondTheLimit",
                       [] { return PackLxf(std::string(5000, ' ') + kLef, "meet.lef"); },
                       "at most 4096 bytes"}),
    [](const auto& one) { return std::string(one.param.name); });

}  // namespace
