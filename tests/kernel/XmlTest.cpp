// XML export and import on the reference kernel: the five files of the demo
// and files of awkward values go out and back in byte for byte; hostile or
// malformed documents are refused with their reason in the kernel log and
// leave the open file as it was; the tool's export and import commands work
// on saved files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "kernel/KxLiveFile.h"
#include "kernel/KxXml.h"
#include "templates/Varnox.h"
#include "templates/VarnoxCatalogue.h"
#include "tests/kernel/KernelTestSupport.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

size_t Occurrences(const std::string& csText, const std::string& csWhat) {
  size_t uiCount = 0;
  for (size_t uiAt = csText.find(csWhat); uiAt != std::string::npos;
       uiAt = csText.find(csWhat, uiAt + 1))
    ++uiCount;
  return uiCount;
}

// The kernel's reason for refusing to import `csXml`, from its log ("" when
// it logged none).
std::string RefusalOf(const std::string& csXml) {
  const std::string csLog = KernelLog();
  const std::string csMark = "UpdateFileFromXml " + csXml + " refused: ";
  const size_t uiAt = csLog.rfind(csMark);
  if (uiAt == std::string::npos) return "";
  const size_t uiFrom = uiAt + csMark.size();
  return csLog.substr(uiFrom, csLog.find('\n', uiFrom) - uiFrom);
}

// The file exported to a scratch XML and read back ("" when the export
// failed).
std::string ExportOf(CkxVarnoxFile& file, const std::string& csName) {
  const std::string csXml = Scratch(csName);
  std::filesystem::remove(csXml);
  return file.SaveFileAsXml(csXml.c_str()) ? Slurp(csXml) : "";
}

#ifdef VARNOX_TOOL
// The demo's five files, made once by the tool in a process of its own.
const std::string& DemoDir() {
  static const std::string csDir = [] {
    const std::string csPath = Scratch("demo");
    const TkChildResult result = TkRunProgram({VARNOX_TOOL, "demo", csPath});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return csPath;
  }();
  return csDir;
}
#endif

// ---------------------------------------------------------------------------
// Awkward values: every text form, each way a value can be stored.

void FillAwkwardGlobals(CkxVarnoxFT_GLOBALS& file) {
  CkxPoolConfig& pool = *file.m_PoolConfig.m_Container.operator->();
  pool.NbLanes = INT32_MIN;
  pool.PoolLength = INT32_MAX;
  std::memset(&pool.Ha2Left, 2, 1);  // a bool byte that is neither 0 nor 1
  pool.St2Right = true;
  pool.Lanes[pool.Lanes(D2MapCmd::Add, UINT64_MAX, nullptr)].m_LaneID = -7;
  pool.Lanes[pool.Lanes(D2MapCmd::Add, 0, nullptr)].m_LaneID = 3;  // insertion order, not key order

  auto& rounds = file.m_RoundsDefault.m_Container;
  const uint32_t uiRound = rounds(D2MapCmd::Add, 7, nullptr);
  SetText(rounds[uiRound].RoundName, std::u16string(u"A\0B", 3));           // a NUL inside
  SetText(rounds[uiRound].OneRoundName, u"x\xD800y");                       // an unpaired surrogate
  SetText(rounds[uiRound].ShortRoundName, u"\U0001F3CA \r\n\t<&>\"' ]]>");  // a pair, markup
  rounds[uiRound].IdList[0] = INT32_MIN;
  rounds[uiRound].IdList[99] = INT32_MAX;
  CkxString& full = rounds[uiRound].TextMap[rounds[uiRound].TextMap(D2MapCmd::Add, 1, nullptr)];
  const std::u16string csFull = std::u16string(62, u'x') + u"\U0001F3CA";  // 64 units
  full.str.SetNet(csFull.data(), static_cast<int>(csFull.size()));
  rounds[uiRound].TextMap(D2MapCmd::Add, 2, nullptr);  // an empty fixed string

  auto& statuses = file.m_StatusDefaults.m_Container;
  SetText(statuses[statuses(D2MapCmd::Add, 1, nullptr)].StatusDesc, u"\xFFFE");  // no XML char
  SetText(statuses[statuses(D2MapCmd::Add, 2, nullptr)].StatusDesc, u"");        // empty

  auto& parameters = file.m_Parameters.m_Container;
  parameters(D2MapCmd::KeyNoCase, 0, nullptr);
  for (const char* csKey : {"Tab\there\nand\rthere", "A&B<\"'>", "Caf\xE9",
                            "\x01"
                            "ctl",
                            "\x81"}) {
    CkxSetupParam& param = parameters[parameters(D2MapCmd::Add, 0, csKey)];
    SetText(param.Value, u"");
    SetText(param.DefaultValue, u" leading and trailing ");
  }

  auto& records = file.m_Records.m_Container;
  const std::pair<const char*, uint64_t> kTimes[] = {
      {"null", 0x400000000000},     {"null and more", 0x400000000005},
      {"negative", 0x98000000007B}, {"high bits", 0x0001000000000005},
      {"largest", 0x7FFFFFFFFFFF},  {"zero", 0},
  };
  const int64_t kDates[] = {0,
                            static_cast<int64_t>(0x4000000000000000) | 630822816000000000,
                            static_cast<int64_t>(0x8000000000000000) | 3155378975999999999,
                            static_cast<int64_t>(0xC000000000000005),
                            0x3FFFFFFFFFFFFFFF,
                            639000000000000001};
  for (size_t i = 0; i < std::size(kTimes); ++i) {
    CkxRecordEntry& record = records[records(D2MapCmd::Add, 0, kTimes[i].first)];
    record.Time = Sd2KxTime{kTimes[i].second};
    record.Date.SetNet(kDates[i]);
  }
  const uint32_t uiRecord = records(D2MapCmd::Find, 0, "negative");
  for (int iLap = 0; iLap < 3; ++iLap) {
    const uint32_t uiLap = records[uiRecord].LapTimes.Add();
    records[records(D2MapCmd::Find, 0, "negative")].LapTimes[uiLap].LapTime =
        Sd2KxTime::Make(iLap, static_cast<uint32_t>(iLap), iLap == 1);
  }
}

void FillAwkwardIoSetup(CkxVarnoxFT_IOSETUP& file) {
  auto& ios = file.m_IOs.m_Container;
  CkxIOSetupOneEntry& io = ios[ios(D2MapCmd::Add, 1, nullptr)];
  CkxIOSetupParam& param = io.IOParams[io.IOParams(D2MapCmd::Add, 0, "Parity")];
  SetText(param.IOType, "\x80\x81\x9F\xFF abc");  // the undefined 0x81 included
  auto& defaults = file.m_IODefaultTypeParams.m_Container;
  SetText(defaults[defaults.Add()].IOType, "");
  defaults.Add();                                                          // never written
  SetText(defaults[defaults.Add()].IOType, std::string("\x01\x02\0", 3));  // no XML chars
}

// ---------------------------------------------------------------------------
// The demo's files and the awkward ones go out and back exactly, their values
// in the forms the export writes for them, named by the catalogue.

struct RoundTrip {
  const char* csName;  // of the demo's file <name>.orb, or of an awkward file
  const char* csType;
  void (*fill)(CkxVarnoxFile&) = nullptr;  // makes an awkward file; null for the demo's
  std::vector<std::string> forms{};        // in the export
  std::vector<std::pair<std::string, size_t>> counts{};  // of texts in the export
};
void PrintTo(const RoundTrip& trip, std::ostream* pOut) { *pOut << trip.csName; }

const RoundTrip kRoundTrips[] = {
    {"competitors", "FT_COMPETITORS"},
    {"globals", "FT_GLOBALS"},
    {"races",
     "FT_RACES",
     nullptr,
     {"<kxfile family=\"Varnox\" type=\"FT_RACES\" version=\"1\">",
      "<ScheduleEntries>\n  <entry key=\"R1\">",
      "<DateAndTime>2025-11-29T08:00:00.0000000L</DateAndTime>",
      "<Heats>\n    <entry key=\"H1\">\n     <LaneResults>", "<TitleScb form=\"unset\"/>"},
     {{"<LaneResults>", 2}, {"<Laps>", 12}}},  // 8 + 4 lanes
    {"pulses", "FT_RAW_PULSES"},
    {"iosetup", "FT_IOSETUP"},
    {"AwkwardGlobals",
     "FT_GLOBALS",
     [](CkxVarnoxFile& file) { FillAwkwardGlobals(static_cast<CkxVarnoxFT_GLOBALS&>(file)); },
     {"<Ha2Left>2</Ha2Left>", "<RoundName form=\"hex\">004100000042</RoundName>",
      "<OneRoundName form=\"hex\">0078D8000079</OneRoundName>",
      "<ShortRoundName>\xF0\x9F\x8F\x8A &#13;\n\t&lt;&amp;&gt;",
      "<Parameters case=\"insensitive\">", "<entry hexkey=\"0163746C\">", "<Time>null</Time>",
      "<Time>-123 P3</Time>", "<Time>0x0000400000000005</Time>",
      "<Date>2000-01-01T00:00:00.0000000Z</Date>", "<Date>9999-12-31T23:59:59.9999999L</Date>",
      "<Date>0xC000000000000005</Date>"}},
    {"AwkwardIoSetup",
     "FT_IOSETUP",
     [](CkxVarnoxFile& file) { FillAwkwardIoSetup(static_cast<CkxVarnoxFT_IOSETUP&>(file)); },
     {"<IOType>\xE2\x82\xAC\xC2\x81\xC5\xB8\xC3\xBF abc</IOType>",
      "<IOType form=\"hex\">010200</IOType>"}},
};

class XmlRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

// Each file is exported; the document, imported into a new, empty file of
// the same type (so the import alone makes its content), exports the same,
// also once that file is saved and loaded again.
TEST_P(XmlRoundTrip, ReExportIsByteIdentical) {
  const RoundTrip& trip = GetParam();
  const std::string csTag = std::string("trip-") + trip.csName;
  std::string csSource = Scratch(csTag + ".orb");
  std::unique_ptr<CkxVarnoxFile> pFile = NewFile(trip.csType);
  if (trip.fill == nullptr) {
#ifndef VARNOX_TOOL
    GTEST_SKIP() << "built without the tool";
#else
    csSource = DemoDir() + "/" + trip.csName + ".orb";
#endif
  } else {
    ASSERT_TRUE(OpenNative(*pFile, csSource, "rw", true)) << KernelLog();
    trip.fill(*pFile);
    ASSERT_TRUE(pFile->Save(0, true, ""));
    pFile->UnLoad();
  }
  ASSERT_TRUE(OpenNative(*pFile, csSource, "r", false)) << KernelLog();
  const std::string csFirst = ExportOf(*pFile, csTag + "-1.xml");
  pFile->UnLoad();
  ASSERT_FALSE(csFirst.empty()) << KernelLog();
  for (const std::string& csForm : trip.forms) EXPECT_THAT(csFirst, HasSubstr(csForm));
  for (const auto& [csText, uiTimes] : trip.counts)
    EXPECT_EQ(Occurrences(csFirst, csText), uiTimes) << csText;

  const std::string csCopy = Scratch(csTag + "-copy.orb");
  pFile = NewFile(trip.csType);
  ASSERT_TRUE(OpenNative(*pFile, csCopy, "rw", true)) << KernelLog();
  EXPECT_NE(ExportOf(*pFile, csTag + "-empty.xml"), csFirst);
  ASSERT_TRUE(pFile->UpdateFileFromXml(Scratch(csTag + "-1.xml").c_str())) << KernelLog();
  EXPECT_EQ(ExportOf(*pFile, csTag + "-2.xml"), csFirst);
  ASSERT_TRUE(pFile->Save(0, true, ""));
  pFile->UnLoad();
  ASSERT_TRUE(OpenNative(*pFile, csCopy, "r", false)) << KernelLog();
  EXPECT_EQ(ExportOf(*pFile, csTag + "-3.xml"), csFirst);
  pFile->UnLoad();
}

INSTANTIATE_TEST_SUITE_P(Files, XmlRoundTrip, ::testing::ValuesIn(kRoundTrips), NameOfCase);

// ---------------------------------------------------------------------------
// Documents written by hand: hostile or malformed ones, and good ones.

std::string Races(const std::string& csBody) {
  return "<?xml version=\"1.0\"?>\n<kxfile family=\"Varnox\" type=\"FT_RACES\" version=\"1\">"
         "<ScheduleEntries>" +
         csBody + "</ScheduleEntries></kxfile>\n";
}

std::string Globals(const std::string& csPoolConfig, const std::string& csRecords) {
  return "<kxfile family=\"Varnox\" type=\"FT_GLOBALS\" version=\"1\"><PoolConfig>" + csPoolConfig +
         "</PoolConfig><DistancesDefault/><StylesDefault/><CategoriesDefault/><RoundsDefault/>"
         "<StatusDefaults/><Parameters/>" +
         csRecords + "</kxfile>";
}

std::string Lap(const std::string& csLap) {
  return "<entry key=\"R9\"><Heats><entry key=\"H1\"><LaneResults><entry key=\"1\"><Laps><item>" +
         csLap + "</item></Laps></entry></LaneResults></entry></Heats></entry>";
}

std::string Repeat(const std::string& csText, size_t uiTimes) {
  std::string out;
  out.reserve(csText.size() * uiTimes);
  for (size_t i = 0; i < uiTimes; ++i) out += csText;
  return out;
}

std::string ManyGoodEntriesThen(const std::string& csBad) {
  std::string csBody;
  for (int i = 0; i < 500; ++i)
    csBody += "<entry key=\"E" + std::to_string(i) + "\"><SortId>" + std::to_string(i) +
              "</SortId></entry>";
  return Races(csBody + csBad);
}

// A schedule entry R9 holding `csInside`.
std::string Entry(const std::string& csInside) {
  return Races("<entry key=\"R9\">" + csInside + "</entry>");
}

// A races file of one member and nothing else in it.
std::string RacesRoot(const std::string& csAttributes, const std::string& csBody) {
  return "<kxfile family=\"Varnox\" type=\"FT_RACES\" version=\"1\"" + csAttributes + ">" + csBody +
         "</kxfile>";
}

struct DocumentCase {
  const char* csName;
  const char* csType;  // of the demo's file imported into
  std::string csDocument;
  const char* csReason;              // what the refusal says; null for a good document
  std::vector<std::string> forms{};  // in the export of a good document's import
};

const std::string kHeatsLane = "<Heats><entry key=\"H1\"><LaneResults>";

const DocumentCase kDocumentCases[] = {
    // Fields in another order than the catalogue's, most left out (the
    // import replaces the whole file), comments and a CDATA section.
    {"HandWritten",
     "FT_RACES",
     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- by hand -->\n"
     "<kxfile version=\"1\" type=\"FT_RACES\" family=\"Varnox\">\n"
     "  <ScheduleEntries>\n"
     "    <entry key=\"A&amp;B\"><StyleId>4</StyleId><SortId>-3</SortId>\n"
     "      <TitlePrint><![CDATA[<Final>]]></TitlePrint>\n"
     "      <Heats><entry key=\"H1\"><HeatId>H1</HeatId></entry></Heats>\n"
     "    </entry>\n"
     "  </ScheduleEntries>\n"
     "</kxfile>\n",
     nullptr,
     {"<ScheduleEntries>\n  <entry key=\"A&amp;B\">\n   <DateAndTime>0001-01-01T00:00:00.0000000"
      "</DateAndTime>\n   <RaceId form=\"unset\"/>\n   <SortId>-3</SortId>\n   "
      "<StyleId>4</StyleId>\n"
      "   <CategoryId>0</CategoryId>",
      "<LaneResults/>\n     <PoolConfig>\n      <NbLanes>0</NbLanes>", "<HeatId>H1</HeatId>",
      "<TitlePrint>&lt;Final&gt;</TitlePrint>\n   <Params/>\n  </entry>\n </ScheduleEntries>"}},
    // Text outside Windows-1252 becomes a question mark in ANSI strings.
    {"AnsiText",
     "FT_IOSETUP",
     "<kxfile family=\"Varnox\" type=\"FT_IOSETUP\" version=\"1\"><IOs/><IODefaultTypeParams>"
     "<item><IOType>\xE2\x9C\x93 \xC3\xA9\xE2\x82\xAC \xF0\x9F\x8F\x8A</IOType></item>"
     "</IODefaultTypeParams></kxfile>",
     nullptr,
     {"<IOType>? \xC3\xA9\xE2\x82\xAC ?</IOType>"}},
    {"UnknownField", "FT_RACES", Entry("<Bogus>1</Bogus>"),
     "unknown field Bogus in entry (a CkxScheduleOneEntry)"},
    {"UnknownMember", "FT_RACES", RacesRoot("", "<Schedule/>"), "unknown member Schedule"},
    {"UnknownAttribute", "FT_RACES", Races("<entry key=\"R9\" colour=\"red\"/>"),
     "unknown attribute colour on entry"},
    {"ItemInAMap", "FT_RACES", Races("<item/>"), "a map holds only entry elements"},
    {"ElementInAValue", "FT_RACES", Entry("<SortId><x/></SortId>"),
     "element x inside SortId, which holds a value"},
    {"TextAmongElements", "FT_RACES", Races("stray"),
     "text \"stray\" where ScheduleEntries holds only elements"},
    {"LettersInANumber", "FT_RACES", Entry("<SortId>12x</SortId>"),
     "SortId \"12x\" is no whole number from -2147483648 to 2147483647"},
    {"NumberOutOfRange", "FT_RACES", Entry("<SortId>2147483648</SortId>"),
     "SortId \"2147483648\" is no whole number"},
    {"NoSuchDay", "FT_RACES", Entry("<DateAndTime>2026-02-29T00:00:00.0000000</DateAndTime>"),
     "DateAndTime \"2026-02-29T00:00:00.0000000\" is no date-time"},
    {"FixedArrayTooLong", "FT_RACES", Races(Lap("<Time>1 2 3 4 5 6 7 8 9</Time>")),
     "Time needs exactly 8 numbers"},
    {"FixedArrayNegativeUnsigned", "FT_RACES", Races(Lap("<Time>1 2 3 4 5 6 7 -8</Time>")),
     "is no list of whole numbers from 0 to 4294967295"},
    {"FixedStringTooLong", "FT_RACES",
     Entry("<Params><entry key=\"p\"><str>" + std::string(65, 'x') + "</str></entry></Params>"),
     "str has 65 UTF-16 characters; its field holds 64"},
    {"BadHexText", "FT_RACES", Entry("<RaceId form=\"hex\">00G1</RaceId>"),
     "hex text of RaceId has a character that is no hex digit"},
    {"HexTextNotInGroups", "FT_RACES", Entry("<RaceId form=\"hex\">004</RaceId>"),
     "hex text of RaceId is not in groups of 4 digits"},
    {"UnsetWithText", "FT_RACES", Entry("<RaceId form=\"unset\">R9</RaceId>"),
     "RaceId is never written, yet has a text"},
    {"UnknownForm", "FT_RACES", Entry("<RaceId form=\"base64\">Ujk=</RaceId>"),
     "form \"base64\" on RaceId"},
    {"DuplicateKeyWithoutCase", "FT_RACES",
     Entry("<Params case=\"insensitive\"><entry key=\"Ab\"/><entry key=\"aB\"/></Params>"),
     "key \"aB\" appears twice in Params (keys compared without case)"},
    {"DuplicateNumericKey", "FT_RACES",
     Entry(kHeatsLane + "<entry key=\"01\"/><entry key=\"1\"/></LaneResults></entry></Heats>"),
     "key 1 appears twice in LaneResults"},
    {"DuplicateField", "FT_RACES", Entry("<SortId>1</SortId><SortId>2</SortId>"),
     "field SortId appears twice in entry"},
    {"DuplicateMember", "FT_RACES", RacesRoot("", "<ScheduleEntries/><ScheduleEntries/>"),
     "member ScheduleEntries appears twice"},
    {"KeyOutsideWindows1252", "FT_RACES", Races("<entry key=\"\xE2\x9C\x93\"/>"),
     "has a character Windows-1252 cannot hold"},
    {"NegativeNumericKey", "FT_RACES",
     Entry(kHeatsLane + "<entry key=\"-1\"/></LaneResults></entry></Heats>"),
     "key \"-1\" of LaneResults is no number"},
    {"EntryWithoutKey", "FT_RACES", Races("<entry><SortId>1</SortId></entry>"),
     "an entry of ScheduleEntries needs exactly one of key and hexkey"},
    {"HexKeyWithNul", "FT_RACES", Races("<entry hexkey=\"4100\"/>"),
     "is no even run of hex digits without 00"},
    {"CaseOnNumericMap", "FT_RACES",
     Entry("<Heats><entry key=\"H1\"><LaneResults case=\"insensitive\"/></entry></Heats>"),
     "only a text-keyed map takes case"},
    {"DeepNesting", "FT_RACES", Races(Repeat("<entry key=\"R9\">", 100000)), "not well-formed XML"},
    {"ExternalEntity", "FT_RACES",
     "<?xml version=\"1.0\"?>\n<!DOCTYPE kxfile SYSTEM \"file:///etc/passwd\">\n" + Races(""),
     "a document type declaration is refused"},
    {"UndeclaredEntity", "FT_RACES", Entry("<TitleScb>&lol;</TitleScb>"),
     "not well-formed XML: Entity 'lol' not defined"},
    // Bytes its declared encoding cannot convert: refused without a word on stderr.
    {"UndecodableText", "FT_RACES",
     "<?xml version=\"1.0\" encoding=\"EUC-JP\"?>\n" + RacesRoot("", "<a>x\xC3\x79>\n</a>"),
     "not well-formed XML"},
    {"AnotherFileType", "FT_RACES",
     "<kxfile family=\"Varnox\" type=\"FT_GLOBALS\" version=\"1\"><PoolConfig/></kxfile>",
     "the document holds a file of type \"Varnox\" \"FT_GLOBALS\"; the open file is Varnox "
     "FT_RACES"},
    {"AnotherFormatVersion", "FT_RACES",
     "<kxfile family=\"Varnox\" type=\"FT_RACES\" version=\"2\"><ScheduleEntries/></kxfile>",
     "format version \"2\" is unknown"},
    {"OneMemberOnly", "FT_RACES", RacesRoot(" member=\"ScheduleEntries\"", "<ScheduleEntries/>"),
     "an import replaces the whole file and needs every member"},
    {"NoKernelFile", "FT_RACES", "<html><body/></html>",
     "the document is no kernel file (root element html, not kxfile)"},
    {"Namespace", "FT_RACES", RacesRoot(" xmlns=\"urn:x\"", "<ScheduleEntries/>"),
     "element kxfile is in a namespace"},
    {"PrefixWithoutNamespace", "FT_RACES", Races("<x:entry key=\"R9\"/>"),
     "element entry is in a namespace"},
    {"FaultAfterManyGoodEntries", "FT_RACES",
     ManyGoodEntriesThen("<entry key=\"bad\"><SortId>x</SortId></entry>"),
     "SortId \"x\" is no whole number"},
    {"MissingMember", "FT_GLOBALS", Globals("", ""), "member Records (a map) is missing"},
    {"BadTime", "FT_GLOBALS",
     Globals("", "<Records><entry key=\"r\"><Time>12 P8</Time></entry></Records>"),
     "Time \"12 P8\" is no time"},
    {"BoolAboveAByte", "FT_GLOBALS", Globals("<Ha1Left>256</Ha1Left>", "<Records/>"),
     "Ha1Left \"256\" is no bool"},
};

void PrintTo(const DocumentCase& document, std::ostream* pOut) { *pOut << document.csName; }

class XmlDocument : public ::testing::TestWithParam<DocumentCase> {};

// A good document replaces the demo file's content; any other is refused
// with its reason, without a word on stderr, and changes nothing.
TEST_P(XmlDocument, IsImportedOrRefusedWithItsReason) {
#ifndef VARNOX_TOOL
  GTEST_SKIP() << "built without the tool";
#else
  const DocumentCase& document = GetParam();
  const std::string csTag = std::string("document-") + document.csName;
  std::string csDemo = std::string(document.csType).substr(3);  // FT_RACES: races.orb
  for (char& c : csDemo) c = static_cast<char>(std::tolower(c));
  std::filesystem::copy_file(DemoDir() + "/" + csDemo + ".orb", Scratch(csTag + ".orb"));
  std::unique_ptr<CkxVarnoxFile> pFile = NewFile(document.csType);
  ASSERT_TRUE(OpenNative(*pFile, Scratch(csTag + ".orb"), "rw", false));
  const std::string csBefore = ExportOf(*pFile, csTag + "-before.xml");
  ASSERT_FALSE(csBefore.empty());

  const std::string csXml = Scratch(csTag + ".xml");
  Spit(csXml, document.csDocument);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(pFile->UpdateFileFromXml(csXml.c_str()), document.csReason == nullptr)
      << RefusalOf(csXml);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  const std::string csAfter = ExportOf(*pFile, csTag + "-after.xml");
  if (document.csReason != nullptr) {
    EXPECT_THAT(RefusalOf(csXml), HasSubstr(document.csReason));
    EXPECT_EQ(csAfter, csBefore);
  }
  for (const std::string& csForm : document.forms) EXPECT_THAT(csAfter, HasSubstr(csForm));
  pFile->UnLoad();
#endif
}

INSTANTIATE_TEST_SUITE_P(Documents, XmlDocument, ::testing::ValuesIn(kDocumentCases), NameOfCase);

// ---------------------------------------------------------------------------
// Limits and a rebuild out of storage, through the engine linked into the
// test.

struct LimitCase {
  const char* csName;
  void (*tighten)(KxXmlLimits&);
  std::string csDocument;
  const char* csReason;
  int64_t iAllocations = -1;  // the storage runs out after as many (-1: never)
};

void Untightened(KxXmlLimits&) {}

const char* const kRanOut = "ran out while rebuilding it; the file is left as it was";

const LimitCase kLimitCases[] = {
    {"Depth", [](KxXmlLimits& l) { l.uiMaxDepth = 4; }, Entry("<Heats><entry key=\"H1\"/></Heats>"),
     "elements nested deeper than 4"},
    {"ElementsNearTheEnd", [](KxXmlLimits& l) { l.uiMaxElements = 900; }, ManyGoodEntriesThen(""),
     "the document has more than 900 elements"},
    {"DocumentBytes", [](KxXmlLimits& l) { l.uiMaxDocumentBytes = 1000; }, ManyGoodEntriesThen(""),
     "the document is larger than 1000 bytes"},
    {"StagedBytes", [](KxXmlLimits& l) { l.uiMaxStagedBytes = 100000; }, ManyGoodEntriesThen(""),
     "the content takes more than 100000 bytes to hold while it is checked"},
    {"Attributes", [](KxXmlLimits& l) { l.uiMaxAttributes = 2; },
     Races("<entry key=\"R9\"/>"),  // root: 3
     "an element has more than 2 attributes"},
    {"TextBytes", [](KxXmlLimits& l) { l.uiMaxTextBytes = 16; },
     Entry("<TitleScb>" + std::string(17, 'x') + "</TitleScb>"),
     "the text of TitleScb is longer than 16 bytes"},
    {"KeyBytes", [](KxXmlLimits& l) { l.uiMaxTextBytes = 16; },
     Races("<entry key=\"" + std::string(17, 'k') + "\"/>"),
     "attribute key is longer than 16 bytes"},
    // A rebuild that runs out of storage after some of its allocations (the
    // first, a few entries in, near the end) puts the whole file back.
    {"StorageAtTheFirst", Untightened, ManyGoodEntriesThen(""), kRanOut, 0},
    {"StorageAFewEntriesIn", Untightened, ManyGoodEntriesThen(""), kRanOut, 40},
    {"StorageNearTheEnd", Untightened, ManyGoodEntriesThen(""), kRanOut, 900},
};

void PrintTo(const LimitCase& limit, std::ostream* pOut) { *pOut << limit.csName; }

class XmlLimits : public ::testing::TestWithParam<LimitCase> {};

// A document beyond a limit, also near its end, or whose rebuild runs out of
// storage, is refused whole: the races file (holding the import of many
// entries before) exports as it did.
TEST_P(XmlLimits, AreKeptAndChangeNothing) {
  const LimitCase& limit = GetParam();
  const std::string csTag = std::string("limits-") + limit.csName;
  std::shared_ptr<KxLiveFile> pFile = EngineOpen(Scratch(csTag + ".orb"), "FT_RACES", true);
  auto exported = [&](const std::string& csWhen) {
    const std::string csXml = Scratch(csTag + "-" + csWhen + ".xml");
    std::string csWhy;
    return KxExportXml(*pFile, kKxWholeFile, csXml, csWhy) ? Slurp(csXml) : csWhy;
  };
  const std::string csGood = Scratch(csTag + "-good.xml");
  Spit(csGood, ManyGoodEntriesThen(""));
  std::string csWhy;
  ASSERT_TRUE(KxImportXml(*pFile, csGood, csWhy)) << csWhy;
  const std::string csBefore = exported("before");
  KxXmlLimits limits;
  limit.tighten(limits);
  const std::string csXml = Scratch(csTag + ".xml");
  Spit(csXml, limit.csDocument);
  KxSegment::FailAllocationsAfter(limit.iAllocations);
  const bool bImported = KxImportXml(*pFile, csXml, limits, csWhy);
  KxSegment::FailAllocationsAfter(-1);
  EXPECT_FALSE(bImported);
  EXPECT_THAT(csWhy, HasSubstr(limit.csReason));
  EXPECT_EQ(exported("after"), csBefore);
  // The same document within the default limits and storage is fine.
  EXPECT_TRUE(KxImportXml(*pFile, csXml, csWhy)) << csWhy;
}

INSTANTIATE_TEST_SUITE_P(Documents, XmlLimits, ::testing::ValuesIn(kLimitCases), NameOfCase);

// ---------------------------------------------------------------------------
// One member, and the tool.

// (An import refuses such a document: the documents table, OneMemberOnly.)
TEST(XmlMember, SaveAsXmlWritesOneMember) {
  const std::string csPath = Scratch("member-globals.orb");
  CkxVarnoxFT_GLOBALS file;
  ASSERT_TRUE(OpenNative(file, csPath, "rw", true));
  auto& records = file.m_Records.m_Container;
  records[records(D2MapCmd::Add, 0, "W50FR")].idLen = 50;
  const std::string csXml = Scratch("member-records.xml");
  file.m_Records.SaveAsXml(nullptr, "", csXml.c_str());
  const std::string csText = Slurp(csXml);
  EXPECT_THAT(csText, HasSubstr("type=\"FT_GLOBALS\" version=\"1\" member=\"Records\">\n "
                                "<Records>\n  <entry key=\"W50FR\">\n   <idLen>50</idLen>"));
  EXPECT_THAT(csText, Not(HasSubstr("<PoolConfig>")));
  file.UnLoad();
}

#ifdef VARNOX_TOOL
TEST(XmlTool, ExportsAndImportsSavedFiles) {
  const std::string csEmpty = Scratch("tool-empty.orb");
  std::string csWhy;
  ASSERT_TRUE(EngineOpen(csEmpty, "FT_RAW_PULSES", true)->Save("", false, csWhy)) << csWhy;
  const std::string csXml = Scratch("tool-pulses.xml");
  TkChildResult result = TkRunProgram({VARNOX_TOOL, "export", DemoDir() + "/pulses.orb", csXml});
  ASSERT_EQ(result.exitCode, 0) << result.err;

  result = TkRunProgram({VARNOX_TOOL, "import", csEmpty, csXml});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const std::string csAgain = Scratch("tool-pulses-again.xml");
  result = TkRunProgram({VARNOX_TOOL, "export", csEmpty, csAgain});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(Slurp(csAgain), Slurp(csXml));

  const std::string csRaces = Scratch("tool-races.xml");
  result = TkRunProgram({VARNOX_TOOL, "export", DemoDir() + "/races.orb", csRaces});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  result = TkRunProgram({VARNOX_TOOL, "import", csEmpty, csRaces});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("the file is unchanged"));

  result = TkRunProgram({VARNOX_TOOL, "export", Scratch("no-such.orb"), csAgain});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("no-such.orb"));
}
#endif

}  // namespace
