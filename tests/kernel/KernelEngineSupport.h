// What tests that drive the reference kernel's engine directly (linked into
// the test, not the copy inside the component manager) share: file types of
// the catalogue by name, live files opened in this process, competitors
// written and read in engine storage, and the problems a check found.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "kernel/KxCheck.h"
#include "kernel/KxLiveFile.h"
#include "templates/VarnoxCatalogue.h"
#include "templates/VarnoxRecords.h"

// The record types of the Varnox catalogue, numbered once for the process.
inline const KxRecordTypes& EngineTypes() {
  static const KxRecordTypes types(VarnoxCatalogue());
  return types;
}

// A file type of the Varnox catalogue by name ("FT_COMPETITORS").
inline const KxFileType& EngineFileType(const std::string& csName) {
  const KxCatalogue& catalogue = VarnoxCatalogue();
  for (uint32_t i = 0; i < catalogue.fileCount; ++i) {
    if (csName == catalogue.files[i].name) return catalogue.files[i];
  }
  throw std::invalid_argument("no file type " + csName);
}

// The field `csName` of record type `type`.
inline const KxRecordField& EngineField(const KxRecordType& type, const std::string& csName) {
  for (uint32_t i = 0; i < type.fieldCount; ++i) {
    if (csName == type.fields[i].name) return type.fields[i];
  }
  throw std::invalid_argument("no field " + csName + " in " + type.name);
}

// Opens `csPath` as file type `csType` through the engine; throws with the
// kernel's reason when it is refused.
inline std::shared_ptr<KxLiveFile> EngineOpen(const std::string& csPath, const std::string& csType,
                                              bool bCreate) {
  int32_t iFailure = 0;
  std::string csWhy;
  std::shared_ptr<KxLiveFile> pFile =
      KxLiveFile::Open(csPath, EngineFileType(csType), EngineTypes(), bCreate, iFailure, csWhy);
  if (!pFile)
    throw std::runtime_error("open " + csPath + " refused (" + std::to_string(iFailure) +
                             "): " + csWhy);
  return pFile;
}

// The competitors member of an FT_COMPETITORS live file, driven through the
// engine: keys 1..n, every record's CategoryId set to a generation number
// and its Name to "Swimmer <key>", so that a whole file tells which
// generation it holds and a file mixing two generations shows.
class EngineCompetitors {
 public:
  explicit EngineCompetitors(KxLiveFile& file)
      : m_File(file), m_pSlot(static_cast<KxEmbeddedMap*>(file.Container(0))) {}

  // Makes the map hold keys 1..uiCount in order (adding those missing at
  // the end) with every CategoryId set to `iGeneration`.
  void Set(uint32_t uiCount, int32_t iGeneration) {
    KxSegment& segment = m_File.Segment(0);
    KxStore& store = m_File.Store(0);
    KxSegmentLock lock(segment);
    for (uint64_t uiKey = m_pSlot->header.count + 1; uiKey <= uiCount; ++uiKey) {
      const uint32_t uiHandle = store.MapCommand(m_pSlot, D2MapCmd::Add, uiKey, nullptr);
      if (uiHandle == 0) throw std::runtime_error("add failed");
      CkxCompetitor& record = Record(uiHandle);
      record.CompetitorId = static_cast<int32_t>(uiKey);
      const std::string csName = "Swimmer " + std::to_string(uiKey);
      KxDynString* pName = reinterpret_cast<KxDynString*>(&record.Name);
      if (!store.ResizeString(pName, static_cast<uint32_t>(csName.size())))
        throw std::runtime_error("resize failed");
      std::copy(csName.begin(), csName.end(),
                reinterpret_cast<char16_t*>(segment.At(pName->textOffset)));
    }
    for (uint32_t uiHandle : store.Nodes(m_pSlot)) Record(uiHandle).CategoryId = iGeneration;
  }

 private:
  CkxCompetitor& Record(uint32_t uiHandle) {
    return *reinterpret_cast<CkxCompetitor*>(m_File.Segment(0).At(uiHandle) + sizeof(KxMapNode));
  }

  KxLiveFile& m_File;
  KxEmbeddedMap* m_pSlot;
};

// The problems a check found, one a line, with where each lies.
inline std::string Problems(const KxFileCheck& check) {
  std::string csText;
  for (const KxProblem& problem : check.problems)
    csText += problem.csWhere + ": " + problem.csWhat + "\n";
  return csText;
}
