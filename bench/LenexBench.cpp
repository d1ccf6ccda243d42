// LENEX read and write of a meet of 2,000 athletes, 400 events and 10,000
// results with their splits and rankings (generated here), each beside
// libxml2 alone on the very same document, in one run:
//   - read (ReadLef: parse into the element tree, map onto the model, check
//     the ids and references) against libxml2 parsing with SAX callbacks
//     that do nothing, and against libxml2 building its tree;
//   - write (WriteLef: the model through the value forms into libxml2's text
//     writer) against the text writer writing the same elements and
//     attributes from a list of them held in memory.
//   - import (ImportLef: the text read and imported into a new meet, as
//     LenexImportFiles does, saving left out) against libxml2 parsing the
//     same text with SAX callbacks that do nothing;
//   - export (ExportDocument from that meet, then WriteLef) against the text
//     writer writing the exported document's elements from a list.
// Figures are MB/s of XML (10^6 bytes).
#include <benchmark/benchmark.h>
#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlwriter.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "bench/BenchKernel.h"
#include "contracts/kernel/KxText.h"
#include "lenex/Lenex.h"
#include "lenex/LenexMeet.h"

namespace {

using namespace Varnox::Lenex;

constexpr int kAthletes = 2'000;
constexpr int kEvents = 400;
constexpr int kResults = 10'000;
constexpr int kLanes = 8;
constexpr int kSessions = 4;

// The generated meet: every event 100 m in a 25 m pool (splits at 25, 50
// and 75 m), 25 swimmers an event in heats of up to eight, each athlete in
// five events, every result ranked.
Document GeneratedMeet() {
  Document document;
  document.constructor = {"Varnox bench", "Bench pool", "0.1", {}};
  document.constructor.contact.email = "bench@example.org";
  Meet meet;
  meet.name = "Bench Open";
  meet.city = "Lakeside";
  meet.nation = "SUI";
  meet.course = Course::kSCM;
  meet.pool = Pool{1, kLanes, {}};
  const Stroke strokes[] = {Stroke::kFree, Stroke::kBack, Stroke::kBreast, Stroke::kFly,
                            Stroke::kMedley};
  const int iPerEvent = kResults / kEvents;
  for (int s = 0; s < kSessions; ++s) {
    Session session{
        s + 1, Date{2025, 11, static_cast<uint32_t>(15 + s)}, Daytime{9, 0}, {}, {}, {}, {}, {}};
    meet.sessions.push_back(session);
  }
  Club club{"Bench SC", {}, "BSC", "SUI", {}, {}, {}, {}, {}};
  for (int a = 0; a < kAthletes; ++a) {
    club.athletes.push_back(Athlete{
        a + 1,
        "Lastname" + std::to_string(a),
        "First" + std::to_string(a),
        a % 2 ? Gender::kFemale : Gender::kMale,
        Date{2000 + a % 15, 1 + static_cast<uint32_t>(a % 12), 1 + static_cast<uint32_t>(a % 28)},
        "SUI",
        std::to_string(100000 + a),
        {},
        {},
        {}});
  }
  int iResult = 0;
  for (int e = 0; e < kEvents; ++e) {
    const int iEventId = 1000 + e;
    Event event{iEventId,
                e + 1,
                SwimStyle{100, 1, strokes[e % 5], {}, {}, {}, {}},
                e % 2 ? Gender::kFemale : Gender::kMale,
                Round::kTimed,
                Daytime{9 + static_cast<uint32_t>(e % 100 / 10), static_cast<uint32_t>(e % 10 * 5)},
                {},
                {},
                {},
                {},
                {}};
    AgeGroup group{1, -1, -1, {}, {}, {}};
    for (int h = 0; h * kLanes < iPerEvent; ++h)
      event.heats.push_back(Heat{iEventId * 10 + h, h + 1, {}, {}, {}, {}, HeatStatus::kOfficial});
    for (int i = 0; i < iPerEvent; ++i, ++iResult) {
      const int iHeatId = iEventId * 10 + i / kLanes;
      const int iLane = 1 + i % kLanes;
      const int32_t iTime = 5500 + (iResult * 37) % 2500;
      Athlete& athlete = club.athletes[static_cast<size_t>(iResult % kAthletes)];
      athlete.entries.push_back(
          Entry{iEventId, SwimTime::Of(iTime + 100), iHeatId, iLane, {}, {}, {}, {}, {}, {}});
      Result result{iResult + 1, SwimTime::Of(iTime),
                    iEventId,    iHeatId,
                    iLane,       {},
                    {},          ReactionTime{60 + iResult % 30},
                    {},          {},
                    {},          {}};
      for (int d = 25; d < 100; d += 25)
        result.splits.push_back(Split{d, SwimTime::Of(iTime * d / 100), {}});
      athlete.results.push_back(std::move(result));
      group.rankings.push_back(Ranking{i + 1, iResult + 1, {}});
    }
    event.ageGroups.push_back(std::move(group));
    meet.sessions[static_cast<size_t>(e % kSessions)].events.push_back(std::move(event));
  }
  meet.clubs.push_back(std::move(club));
  document.meets.push_back(std::move(meet));
  return document;
}

// The document, its text and the same elements as a list for the writer
// baseline, made once.
struct BenchDocument {
  struct Item {
    int depthChange;  // +1 opens name with attributes, -1 closes
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
  };
  Document document;
  std::string text;
  std::vector<Item> items;
};

void Flatten(xmlNodePtr pNode, std::vector<BenchDocument::Item>& items) {
  for (; pNode != nullptr; pNode = pNode->next) {
    if (pNode->type != XML_ELEMENT_NODE) continue;
    BenchDocument::Item item{+1, reinterpret_cast<const char*>(pNode->name), {}};
    for (xmlAttrPtr pAttribute = pNode->properties; pAttribute != nullptr;
         pAttribute = pAttribute->next) {
      xmlChar* pValue = xmlNodeListGetString(pNode->doc, pAttribute->children, 1);
      item.attributes.emplace_back(reinterpret_cast<const char*>(pAttribute->name),
                                   reinterpret_cast<const char*>(pValue));
      xmlFree(pValue);
    }
    items.push_back(std::move(item));
    Flatten(pNode->children, items);
    items.push_back({-1, {}, {}});
  }
}

const BenchDocument& Bench() {
  static const BenchDocument bench = [] {
    BenchDocument made;
    made.document = GeneratedMeet();
    made.text = WriteLef(made.document);
    xmlDocPtr pDoc = xmlReadMemory(made.text.data(), static_cast<int>(made.text.size()), nullptr,
                                   nullptr, XML_PARSE_NONET | XML_PARSE_HUGE);
    if (pDoc == nullptr) throw std::runtime_error("the generated document does not parse");
    Flatten(xmlDocGetRootElement(pDoc), made.items);
    xmlFreeDoc(pDoc);
    return made;
  }();
  return bench;
}

void Report(benchmark::State& state, uint64_t uiBytes) {
  state.counters["MB"] = benchmark::Counter(
      static_cast<double>(uiBytes) / 1e6 * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
  state.counters["doc_MB"] = static_cast<double>(uiBytes) / 1e6;
}

// ---------------------------------------------------------------------------
// Ours.

void BM_LenexRead(benchmark::State& state) {
  const BenchDocument& bench = Bench();
  for (auto _ : state) {
    Document document = ReadLef(bench.text);
    benchmark::DoNotOptimize(document);
  }
  Report(state, bench.text.size());
}

void BM_LenexWrite(benchmark::State& state) {
  const BenchDocument& bench = Bench();
  for (auto _ : state) {
    std::string csText = WriteLef(bench.document);
    benchmark::DoNotOptimize(csText);
  }
  Report(state, bench.text.size());
}

// ---------------------------------------------------------------------------
// libxml2 alone.

void BM_LenexBaselineSaxParse(benchmark::State& state) {
  const BenchDocument& bench = Bench();
  xmlSAXHandler sax;
  std::memset(&sax, 0, sizeof sax);
  sax.initialized = XML_SAX2_MAGIC;
  sax.startElementNs = [](void*, const xmlChar*, const xmlChar*, const xmlChar*, int,
                          const xmlChar**, int, int, const xmlChar**) {};
  sax.endElementNs = [](void*, const xmlChar*, const xmlChar*, const xmlChar*) {};
  for (auto _ : state) {
    xmlParserCtxtPtr pContext =
        xmlCreateMemoryParserCtxt(bench.text.data(), static_cast<int>(bench.text.size()));
    std::memcpy(pContext->sax, &sax, sizeof sax);
    xmlCtxtUseOptions(pContext, XML_PARSE_NONET);
    xmlParseDocument(pContext);
    if (pContext->wellFormed == 0) state.SkipWithError("not well-formed");
    xmlFreeParserCtxt(pContext);
  }
  Report(state, bench.text.size());
}

void BM_LenexBaselineTreeParse(benchmark::State& state) {
  const BenchDocument& bench = Bench();
  for (auto _ : state) {
    xmlDocPtr pDoc = xmlReadMemory(bench.text.data(), static_cast<int>(bench.text.size()), nullptr,
                                   nullptr, XML_PARSE_NONET);
    if (pDoc == nullptr) state.SkipWithError("not well-formed");
    xmlFreeDoc(pDoc);
  }
  Report(state, bench.text.size());
}

// The text writer alone writing `items`.
std::string WriteItems(const std::vector<BenchDocument::Item>& items) {
  xmlBufferPtr pBuffer = xmlBufferCreate();
  xmlTextWriterPtr pWriter = xmlNewTextWriterMemory(pBuffer, 0);
  xmlTextWriterSetIndent(pWriter, 1);
  xmlTextWriterSetIndentString(pWriter, BAD_CAST "  ");
  xmlTextWriterStartDocument(pWriter, "1.0", "UTF-8", nullptr);
  for (const BenchDocument::Item& item : items) {
    if (item.depthChange < 0) {
      xmlTextWriterEndElement(pWriter);
      continue;
    }
    xmlTextWriterStartElement(pWriter, BAD_CAST item.name.c_str());
    for (const auto& [name, value] : item.attributes)
      xmlTextWriterWriteAttribute(pWriter, BAD_CAST name.c_str(), BAD_CAST value.c_str());
  }
  xmlTextWriterEndDocument(pWriter);
  xmlFreeTextWriter(pWriter);
  std::string csText(reinterpret_cast<const char*>(xmlBufferContent(pBuffer)),
                     static_cast<size_t>(xmlBufferLength(pBuffer)));
  xmlBufferFree(pBuffer);
  return csText;
}

void BM_LenexBaselineWrite(benchmark::State& state) {
  const BenchDocument& bench = Bench();
  for (auto _ : state) {
    std::string csText = WriteItems(bench.items);
    benchmark::DoNotOptimize(csText);
  }
  Report(state, bench.text.size());
}

// ---------------------------------------------------------------------------
// Through the object face, on the reference kernel built here
// (bench/BenchKernel.h).

namespace V = Tarvex::Orb::Data::Varnox;

template <class F>
std::shared_ptr<F> CreateFile(const std::filesystem::path& path) {
  auto pFile = F::Create();
  if (pFile->Open(KxText::Utf8ToUtf16(path.string()), std::nullopt, std::nullopt, u"rw", u"", true,
                  nullptr, 0, 0) <= 0)
    throw std::runtime_error("cannot open " + path.string());
  return pFile;
}

// A new empty meet in its own folder.
MeetFiles NewMeet() {
  static int s_iMeets = 0;
  varnox_bench::UseKernel();
  const std::filesystem::path dir = std::filesystem::path(varnox_bench::Scratch().csFiles) /
                                    ("meet" + std::to_string(++s_iMeets));
  std::filesystem::create_directories(dir);
  const MeetPaths paths = MeetPaths::In(dir);
  return {CreateFile<V::D2fVarnox_FT_COMPETITORS>(paths.competitors),
          CreateFile<V::D2fVarnox_FT_GLOBALS>(paths.globals),
          CreateFile<V::D2fVarnox_FT_RACES>(paths.races)};
}

void BM_LenexImport(benchmark::State& state) {
  const BenchDocument& bench = Bench();
  for (auto _ : state) {
    state.PauseTiming();
    MeetFiles files = NewMeet();
    state.ResumeTiming();
    ImportLef(bench.text, files);
    state.PauseTiming();
    CloseMeetFiles(files);
    state.ResumeTiming();
  }
  Report(state, bench.text.size());
}

// The bench meet imported once, and its export with the export's elements.
struct ExportBed {
  MeetFiles files;
  std::string text;
  std::vector<BenchDocument::Item> items;
};

ExportBed& Exported() {
  static ExportBed bed = [] {
    ExportBed made;
    made.files = NewMeet();
    ImportDocument(Bench().document, made.files);
    made.text = WriteLef(ExportDocument(made.files));
    xmlDocPtr pDoc = xmlReadMemory(made.text.data(), static_cast<int>(made.text.size()), nullptr,
                                   nullptr, XML_PARSE_NONET | XML_PARSE_HUGE);
    if (pDoc == nullptr) throw std::runtime_error("the export does not parse");
    Flatten(xmlDocGetRootElement(pDoc), made.items);
    xmlFreeDoc(pDoc);
    return made;
  }();
  return bed;
}

void BM_LenexExport(benchmark::State& state) {
  ExportBed& bed = Exported();
  for (auto _ : state) {
    std::string csText = WriteLef(ExportDocument(bed.files));
    benchmark::DoNotOptimize(csText);
  }
  Report(state, bed.text.size());
}

void BM_LenexExportBaselineWrite(benchmark::State& state) {
  const ExportBed& bed = Exported();
  for (auto _ : state) {
    std::string csText = WriteItems(bed.items);
    benchmark::DoNotOptimize(csText);
  }
  Report(state, bed.text.size());
}

}  // namespace

BENCHMARK(BM_LenexRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LenexBaselineSaxParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LenexBaselineTreeParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LenexWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LenexBaselineWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LenexImport)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LenexExport)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LenexExportBaselineWrite)->Unit(benchmark::kMillisecond);
