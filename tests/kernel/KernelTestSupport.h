// What tests on the reference kernel share: a scratch directory for saved
// files, live storage and the kernel log, and the start of the native face
// on the kernel built with the tests. Tests that drive the kernel's engine
// directly (linked into the test, not the copy inside the component manager)
// also share file types of the catalogue by name, live files opened in this
// process, competitors written and read in engine storage, and the problems
// a check found.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "kernel/KxCheck.h"
#include "kernel/KxLiveFile.h"
#include "templates/Varnox.h"
#include "templates/VarnoxCatalogue.h"
#include "templates/VarnoxRecords.h"
#include "tests/support/ForkedChild.h"
#include "tests/testkernel/TestKernelSupport.h"

// A path in the scratch directory, and the kernel log so far.
inline std::string Scratch(const std::string& csName) { return KernelScratch::Get().Path(csName); }
inline std::string KernelLog() { return KernelScratch::Get().Log(); }

// Names of the entries of `csDir` that contain `csPart`.
inline std::vector<std::string> EntriesWith(const std::string& csDir, const std::string& csPart) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(csDir)) {
    const std::string csName = entry.path().filename().string();
    if (csName.find(csPart) != std::string::npos) names.push_back(entry.path().string());
  }
  return names;
}

// A new, empty directory `csName` in the scratch directory.
inline std::string FreshDir(const std::string& csName) {
  const std::string csDir = Scratch(csName);
  std::filesystem::remove_all(csDir);
  std::filesystem::create_directories(csDir);
  return csDir;
}

// A new `T` in memory shared with the children forked after, kept for the
// life of the process.
template <class T>
T& SharedWithChildren() {
  void* p = mmap(nullptr, sizeof(T), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::runtime_error("cannot map shared memory");
  return *new (p) T{};
}

// A table row's name as a test name: its dashes made underscores.
inline const auto NameOfCase = [](const auto& info) {
  std::string csName = info.param.csName;
  std::replace(csName.begin(), csName.end(), '-', '_');
  return csName;
};

// Starts the native face on the reference kernel for the test program.
class KernelEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    KernelScratch::Get();
    setenv("KxOrb64", ReferenceOrbRoot().c_str(), 1);
    KxInitCatAssembly(false);
  }
  void TearDown() override {
    KxEndCatAssembly();
    std::filesystem::remove_all(KernelScratch::Get().Dir());
  }
};

// Opens `csPath` through the native face of `file` (mode "rw" or "r"),
// updates going to `pfCallBack`; answers whether the kernel gave it an id.
template <class File>
bool OpenNative(File& file, const std::string& csPath, const char* csMode = "rw",
                bool bCreate = true, void (*pfCallBack)(int32_t, uint64_t) = nullptr) {
  return file.OpenUnm(csPath.c_str(), nullptr, nullptr, csMode, "", bCreate, nullptr, 0, 0,
                      pfCallBack) > 0;
}

// A file of the type named `csType` ("FT_RACES"), not yet opened.
inline std::unique_ptr<CkxVarnoxFile> NewFile(const std::string& csType) {
  std::unique_ptr<CkxVarnoxFile> pFile;
  VarnoxFileTemplates::ForEach([&](auto type) {
    using File = typename decltype(type)::type;
    if (csType == File::kFileType) pFile = std::make_unique<File>();
  });
  return pFile;
}

// Writes a dynamic string field (UTF-16 or ANSI) of a record reached
// through its container on this thread.
template <class Field, class Char>
void SetText(Field& field, const std::basic_string<Char>& csText) {
  field.ReserveNet(static_cast<int>(csText.size()));
  field.SetNet(csText.data(), static_cast<int>(csText.size()));
}
inline void SetText(CkxD2StrDU& field, const std::u16string& csText) {
  SetText<CkxD2StrDU, char16_t>(field, csText);
}
inline void SetText(CkxD2StrD& field, const std::string& csText) {
  SetText<CkxD2StrD, char>(field, csText);
}

// A string field's text; nullopt for a dynamic string never written.
template <class Field>
auto TextOf(const Field& field) {
  int iLength = 0;
  const auto* p = field.GetNet(&iLength);
  using Text = std::basic_string<std::remove_cv_t<std::remove_pointer_t<decltype(p)>>>;
  return iLength < 0 ? std::optional<Text>() : std::optional<Text>(Text(p, iLength));
}

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
