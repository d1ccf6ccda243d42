// XML export and import throughput of kernel files of 100,000 records, each
// beside libxml2 alone on a document of the same size, in one run:
//   - export (KxExportXml: the walk of the live storage, the text forms,
//     libxml2's text writer) against libxml2's text writer writing the very
//     same document from a list of its elements held in memory;
//   - import (KxImportXml: parse, check, stage, clear and rebuild) against
//     libxml2 parsing the same document with SAX callbacks that do nothing,
//     and against libxml2 building its tree of it.
// Two files: competitors (five strings a record, text-heavy) and raw pulses
// (numbers, times, bools). Figures are MB/s of XML (10^6 bytes).
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <libxml/xmlwriter.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "contracts/kernel/KxComponent.h"
#include "kernel/KxLiveFile.h"
#include "kernel/KxXml.h"
#include "templates/VarnoxCatalogue.h"

namespace {

constexpr uint64_t kRecords = 100'000;

const KxFileType& FileTypeNamed(const char* csName) {
  const KxCatalogue& catalogue = VarnoxCatalogue();
  for (uint32_t i = 0; i < catalogue.fileCount; ++i) {
    if (std::strcmp(catalogue.files[i].name, csName) == 0) return catalogue.files[i];
  }
  throw std::invalid_argument(csName);
}

uint32_t OffsetOf(const KxRecordType& type, const char* csField) {
  for (uint32_t i = 0; i < type.fieldCount; ++i) {
    if (std::strcmp(type.fields[i].name, csField) == 0) return type.fields[i].offset;
  }
  throw std::invalid_argument(csField);
}

// A scratch directory in memory for the live storage and the documents.
struct Scratch {
  Scratch() {
    char aTemplate[] = "/dev/shm/varnox-xml-bench-XXXXXX";
    if (mkdtemp(aTemplate) == nullptr) throw std::runtime_error("no scratch directory");
    csDir = aTemplate;
  }
  ~Scratch() { std::filesystem::remove_all(csDir); }
  std::string csDir;
};

// Opens a live file whose live storage lies in the scratch directory; the
// other benchmarks' live directory setting is left as it was.
std::shared_ptr<KxLiveFile> OpenInScratch(const std::string& csDir, const std::string& csPath,
                                          const KxFileType& fileType) {
  static const KxRecordTypes types(VarnoxCatalogue());
  const char* csOld = std::getenv("VARNOX_LIVE_DIR");
  const std::string csKept = csOld != nullptr ? csOld : "";
  setenv("VARNOX_LIVE_DIR", csDir.c_str(), 1);
  int32_t iFailure = 0;
  std::string csWhy;
  std::shared_ptr<KxLiveFile> pFile =
      KxLiveFile::Open(csPath, fileType, types, true, iFailure, csWhy);
  if (csOld != nullptr) {
    setenv("VARNOX_LIVE_DIR", csKept.c_str(), 1);
  } else {
    unsetenv("VARNOX_LIVE_DIR");
  }
  if (!pFile) throw std::runtime_error(csWhy);
  return pFile;
}

// A live file of one of the two kinds, filled through the engine, and its
// export.
struct BenchFile {
  std::shared_ptr<KxLiveFile> pFile;
  std::string csXml;  // the file exported
  uint64_t uiXmlBytes = 0;
};

void WriteText(KxSegment& segment, KxStore& store, uint8_t* pRecord, uint32_t uiOffset,
               const std::u16string& csText) {
  KxDynString* pString = reinterpret_cast<KxDynString*>(pRecord + uiOffset);
  store.ResizeString(pString, static_cast<uint32_t>(csText.size()));
  std::memcpy(segment.At(pString->textOffset), csText.data(), 2 * csText.size());
}

std::u16string Wide(const std::string& csText) {
  return std::u16string(csText.begin(), csText.end());
}

void FillCompetitors(KxLiveFile& file) {
  const KxRecordType& type = *file.FileType().members[0].memberClass->element;
  KxSegment& segment = file.Segment(0);
  KxStore& store = file.Store(0);
  KxSegmentLock lock(segment);
  auto* pSlot = static_cast<KxEmbeddedMap*>(file.Container(0));
  const char* aClubs[] = {"SC Basel", "SV W\xFCrzburg", "G\xF6teborg Sim", "AZS Krak\xF3w"};
  for (uint64_t uiKey = 1; uiKey <= kRecords; ++uiKey) {
    const uint32_t uiHandle = store.MapCommand(pSlot, D2MapCmd::Add, uiKey, nullptr);
    uint8_t* pRecord = segment.At(uiHandle) + sizeof(KxMapNode);
    const int32_t iId = static_cast<int32_t>(uiKey);
    std::memcpy(pRecord + OffsetOf(type, "CompetitorId"), &iId, 4);
    const int32_t iCategory = static_cast<int32_t>(uiKey % 4);
    std::memcpy(pRecord + OffsetOf(type, "CategoryId"), &iCategory, 4);
    WriteText(segment, store, pRecord, OffsetOf(type, "Name"),
              u"Swimmer " + Wide(std::to_string(uiKey)) + u" Keller");
    WriteText(segment, store, pRecord, OffsetOf(type, "Nation"), u"SUI");
    WriteText(segment, store, pRecord, OffsetOf(type, "BirthYear"),
              Wide(std::to_string(1990 + uiKey % 20)));
    const std::string csClub = aClubs[uiKey % 4];
    std::u16string csWide;
    for (unsigned char c : csClub) csWide += static_cast<char16_t>(c);  // Latin-1 = UTF-16 here
    WriteText(segment, store, pRecord, OffsetOf(type, "Club"), csWide);
  }
}

void FillPulses(KxLiveFile& file) {
  const KxRecordType& type = *file.FileType().members[0].memberClass->element;
  KxSegment& segment = file.Segment(0);
  KxStore& store = file.Store(0);
  KxSegmentLock lock(segment);
  auto* pSlot = static_cast<KxEmbeddedMap*>(file.Container(0));
  for (uint64_t uiKey = 1; uiKey <= kRecords; ++uiKey) {
    const uint32_t uiHandle = store.MapCommand(pSlot, D2MapCmd::Add, uiKey, nullptr);
    uint8_t* pRecord = segment.At(uiHandle) + sizeof(KxMapNode);
    const uint32_t uiSeq = static_cast<uint32_t>(uiKey);
    const int32_t aInts[] = {static_cast<int32_t>(uiKey % 8 + 1),
                             static_cast<int32_t>(101 + uiKey % 10), 0, -1};
    std::memcpy(pRecord + OffsetOf(type, "SeqID"), &uiSeq, 4);
    std::memcpy(pRecord + OffsetOf(type, "Lap"), &aInts[0], 4);
    std::memcpy(pRecord + OffsetOf(type, "InputID"), &aInts[1], 4);
    std::memcpy(pRecord + OffsetOf(type, "Status"), &aInts[2], 4);
    std::memcpy(pRecord + OffsetOf(type, "LapInitial"), &aInts[3], 4);
    const uint64_t uiTime = (uiKey * 3049 % 1000000) | (uint64_t{2} << 43);
    std::memcpy(pRecord + OffsetOf(type, "TimeOfPulse"), &uiTime, 8);
    pRecord[OffsetOf(type, "Armed")] = 1;
    pRecord[OffsetOf(type, "RealPulse")] = uiKey % 7 != 0 ? 1 : 0;
  }
}

Scratch& TheScratch() {
  static Scratch scratch;
  return scratch;
}

BenchFile& File(const char* csType) {
  const Scratch& scratch = TheScratch();  // made first, so that it goes last
  static std::vector<std::pair<std::string, std::unique_ptr<BenchFile>>> files;
  for (auto& [csName, pFile] : files) {
    if (csName == csType) return *pFile;
  }
  auto pBench = std::make_unique<BenchFile>();
  const std::string csBase = scratch.csDir + "/" + csType;
  pBench->pFile = OpenInScratch(scratch.csDir, csBase + ".orb", FileTypeNamed(csType));
  std::string csWhy;
  if (std::strcmp(csType, "FT_COMPETITORS") == 0) {
    FillCompetitors(*pBench->pFile);
  } else {
    FillPulses(*pBench->pFile);
  }
  pBench->csXml = csBase + ".xml";
  if (!KxExportXml(*pBench->pFile, kKxWholeFile, pBench->csXml, csWhy))
    throw std::runtime_error(csWhy);
  pBench->uiXmlBytes = std::filesystem::file_size(pBench->csXml);
  files.emplace_back(csType, std::move(pBench));
  return *files.back().second;
}

void Report(benchmark::State& state, uint64_t uiBytes) {
  state.counters["MB"] = benchmark::Counter(
      static_cast<double>(uiBytes) / 1e6 * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
  state.counters["doc_MB"] = static_cast<double>(uiBytes) / 1e6;
}

// ---------------------------------------------------------------------------
// Ours.

void BM_KernelExport(benchmark::State& state, const char* csType) {
  BenchFile& file = File(csType);
  const std::string csOut = file.csXml + ".export";
  std::string csWhy;
  for (auto _ : state) {
    if (!KxExportXml(*file.pFile, kKxWholeFile, csOut, csWhy)) state.SkipWithError(csWhy.c_str());
  }
  Report(state, std::filesystem::file_size(csOut));
}

void BM_KernelImport(benchmark::State& state, const char* csType) {
  BenchFile& file = File(csType);
  std::string csWhy;
  for (auto _ : state) {
    if (!KxImportXml(*file.pFile, file.csXml, csWhy)) state.SkipWithError(csWhy.c_str());
  }
  Report(state, file.uiXmlBytes);
}

// ---------------------------------------------------------------------------
// libxml2 alone.

// The document as the writer's calls: element starts with their
// attributes, texts and element ends, in order.
struct WriterEvent {
  enum Kind : uint8_t { kStart, kAttribute, kText, kEnd } eKind;
  std::string csName;
  std::string csValue;
};

std::vector<WriterEvent>& EventsOf(BenchFile& file) {
  static std::vector<std::pair<BenchFile*, std::vector<WriterEvent>>> all;
  for (auto& [pFile, events] : all) {
    if (pFile == &file) return events;
  }
  std::vector<WriterEvent> events;
  xmlSAXHandler sax;
  std::memset(&sax, 0, sizeof sax);
  sax.initialized = XML_SAX2_MAGIC;
  sax.startElementNs = [](void* pContext, const xmlChar* csName, const xmlChar*, const xmlChar*,
                          int, const xmlChar**, int iAttributes, int, const xmlChar** aAttributes) {
    auto& list = *static_cast<std::vector<WriterEvent>*>(pContext);
    list.push_back({WriterEvent::kStart, reinterpret_cast<const char*>(csName), {}});
    for (int a = 0; a < iAttributes; ++a) {
      const char* p = reinterpret_cast<const char*>(aAttributes[5 * a + 3]);
      const char* pEnd = reinterpret_cast<const char*>(aAttributes[5 * a + 4]);
      list.push_back({WriterEvent::kAttribute, reinterpret_cast<const char*>(aAttributes[5 * a]),
                      std::string(p, pEnd)});
    }
  };
  sax.endElementNs = [](void* pContext, const xmlChar*, const xmlChar*, const xmlChar*) {
    static_cast<std::vector<WriterEvent>*>(pContext)->push_back({WriterEvent::kEnd, {}, {}});
  };
  sax.characters = [](void* pContext, const xmlChar* pText, int iLength) {
    auto& list = *static_cast<std::vector<WriterEvent>*>(pContext);
    const std::string csText(reinterpret_cast<const char*>(pText), static_cast<size_t>(iLength));
    if (csText.find_first_not_of(" \n") == std::string::npos) return;  // the indentation
    if (!list.empty() && list.back().eKind == WriterEvent::kText) {
      list.back().csValue += csText;
    } else {
      list.push_back({WriterEvent::kText, {}, csText});
    }
  };
  if (xmlSAXUserParseFile(&sax, &events, file.csXml.c_str()) != 0)
    throw std::runtime_error("cannot read back " + file.csXml);
  all.emplace_back(&file, std::move(events));
  return all.back().second;
}

void BM_Libxml2Write(benchmark::State& state, const char* csType) {
  BenchFile& file = File(csType);
  const std::vector<WriterEvent>& events = EventsOf(file);
  const std::string csOut = file.csXml + ".libxml2";
  for (auto _ : state) {
    xmlTextWriterPtr pWriter = xmlNewTextWriterFilename(csOut.c_str(), 0);
    xmlTextWriterSetIndent(pWriter, 1);
    xmlTextWriterSetIndentString(pWriter, BAD_CAST " ");
    xmlTextWriterStartDocument(pWriter, "1.0", "UTF-8", nullptr);
    for (const WriterEvent& event : events) {
      switch (event.eKind) {
        case WriterEvent::kStart:
          xmlTextWriterStartElement(pWriter, BAD_CAST event.csName.c_str());
          break;
        case WriterEvent::kAttribute:
          xmlTextWriterWriteAttribute(pWriter, BAD_CAST event.csName.c_str(),
                                      BAD_CAST event.csValue.c_str());
          break;
        case WriterEvent::kText:
          xmlTextWriterWriteString(pWriter, BAD_CAST event.csValue.c_str());
          break;
        case WriterEvent::kEnd:
          xmlTextWriterEndElement(pWriter);
          break;
      }
    }
    xmlTextWriterEndDocument(pWriter);
    xmlFreeTextWriter(pWriter);
  }
  const uint64_t uiBytes = std::filesystem::file_size(csOut);
  if (uiBytes != file.uiXmlBytes) state.SkipWithError("the replayed document differs in size");
  Report(state, uiBytes);
}

void BM_Libxml2SaxParse(benchmark::State& state, const char* csType) {
  BenchFile& file = File(csType);
  xmlSAXHandler sax;
  std::memset(&sax, 0, sizeof sax);
  sax.initialized = XML_SAX2_MAGIC;
  sax.startElementNs = [](void*, const xmlChar*, const xmlChar*, const xmlChar*, int,
                          const xmlChar**, int, int, const xmlChar**) {};
  sax.endElementNs = [](void*, const xmlChar*, const xmlChar*, const xmlChar*) {};
  sax.characters = [](void*, const xmlChar*, int) {};
  for (auto _ : state) {
    if (xmlSAXUserParseFile(&sax, nullptr, file.csXml.c_str()) != 0)
      state.SkipWithError("libxml2 refused the document");
  }
  Report(state, file.uiXmlBytes);
}

void BM_Libxml2TreeParse(benchmark::State& state, const char* csType) {
  BenchFile& file = File(csType);
  for (auto _ : state) {
    xmlDocPtr pDoc = xmlReadFile(file.csXml.c_str(), nullptr, XML_PARSE_NONET);
    if (pDoc == nullptr) state.SkipWithError("libxml2 refused the document");
    xmlFreeDoc(pDoc);
  }
  Report(state, file.uiXmlBytes);
}

#define XML_BENCH(fn, type) \
  BENCHMARK_CAPTURE(fn, type, #type)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0)

XML_BENCH(BM_KernelExport, FT_COMPETITORS);
XML_BENCH(BM_Libxml2Write, FT_COMPETITORS);
XML_BENCH(BM_KernelImport, FT_COMPETITORS);
XML_BENCH(BM_Libxml2SaxParse, FT_COMPETITORS);
XML_BENCH(BM_Libxml2TreeParse, FT_COMPETITORS);
XML_BENCH(BM_KernelExport, FT_RAW_PULSES);
XML_BENCH(BM_Libxml2Write, FT_RAW_PULSES);
XML_BENCH(BM_KernelImport, FT_RAW_PULSES);
XML_BENCH(BM_Libxml2SaxParse, FT_RAW_PULSES);
XML_BENCH(BM_Libxml2TreeParse, FT_RAW_PULSES);

}  // namespace
