// Fuzz target: an XML document imported into a file of the type its root
// names (a copy of the demo file of that type). A document the kernel
// refuses must leave the file as it was; one it takes must leave a file that
// survives the round trip of FuzzSupport.h.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"

namespace {

// The file type the document's root names, else FT_GLOBALS.
std::string FileTypeOf(std::string_view csDocument) {
  const size_t uiType = csDocument.find("type=\"");
  if (uiType == std::string_view::npos) return "FT_GLOBALS";
  const size_t uiEnd = csDocument.find('"', uiType + 6);
  if (uiEnd == std::string_view::npos) return "FT_GLOBALS";
  const std::string csType(csDocument.substr(uiType + 6, uiEnd - uiType - 6));
  return fuzz::IsFileType(csType) ? csType : "FT_GLOBALS";
}

// The file an import goes into: the demo file of its type when
// VARNOX_FUZZ_FILES names a directory of them, else a new empty file.
std::string TargetOf(const std::string& csType) {
  const std::string csPath = fuzz::ScratchPath(("target-" + csType + ".orb").c_str());
  std::filesystem::remove(csPath);
  const char* csFiles = std::getenv("VARNOX_FUZZ_FILES");
  if (csFiles != nullptr) {
    const std::string csSource = std::string(csFiles) + "/" + csType + ".orb";
    std::error_code ec;
    std::filesystem::copy_file(csSource, csPath, ec);
  }
  return csPath;
}

// The target of one file type, kept open from one refused import to the next
// (opening costs more than a refused import), with its bytes as saved when it
// was opened. A refused import must leave those bytes as they were: a save
// is byte-exact and costs a fraction of an export.
struct Target {
  fuzz::OpenFile open;
  bool bOpen = false;
  std::string csBefore;
};

// The file's bytes as a save writes them now.
std::string SavedBytes(CkxVarnoxFile& file) {
  static const std::string csSaved = fuzz::ScratchPath("state.orb");
  if (!file.Save(0, false, csSaved)) fuzz::Fail("the import's target does not save");
  return fuzz::ReadText(csSaved);
}

Target& OpenTarget(const std::string& csType) {
  static std::map<std::string, Target> targets;
  Target& target = targets[csType];
  if (target.bOpen) return target;
  target.open = fuzz::MakeFile(csType);
  const std::string csPath = TargetOf(csType);
  if (target.open.pFile->OpenUnm(csPath.c_str(), nullptr, nullptr, "rw", "", true, nullptr, 0, 0,
                                 nullptr) <= 0) {
    fuzz::Fail("the import's target does not open");
  }
  target.csBefore = SavedBytes(*target.open.pFile);
  target.bOpen = true;
  return target;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SayCountsAtExit();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uiSize) {
  static const std::string csXml = fuzz::ScratchPath("input.xml");
  fuzz::WriteFile(csXml, pData, uiSize);
  Target& target = OpenTarget(FileTypeOf({reinterpret_cast<const char*>(pData), uiSize}));
  CkxVarnoxFile& file = *target.open.pFile;
  if (!file.UpdateFileFromXml(csXml.c_str())) {
    // Refused: the file must be as it was.
    ++fuzz::g_uiRefused;
    if (SavedBytes(file) != target.csBefore) fuzz::Fail("a refused import changed the file");
    return 0;
  }
  // Taken: the round trip ends with the file unloaded; the next input of
  // this type opens the target afresh.
  target.bOpen = false;
  ++fuzz::g_uiTaken;
  fuzz::RoundTrip(target.open, false);
  return 0;
}
