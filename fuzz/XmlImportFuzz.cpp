// Fuzz target: an XML document imported into a file of the type its root
// names (a copy of the demo file of that type). A document the kernel
// refuses must leave the file as it was; one it takes must leave a file that
// survives the round trip of FuzzSupport.h.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzSupport.h"

namespace {

const char* const kTypes[] = {"FT_COMPETITORS", "FT_GLOBALS", "FT_RACES", "FT_RAW_PULSES",
                              "FT_IOSETUP"};

// The file type the document's root names, else FT_GLOBALS.
std::string FileTypeOf(const std::string& csDocument) {
  const size_t uiType = csDocument.find("type=\"");
  for (const char* csType : kTypes) {
    if (uiType != std::string::npos &&
        csDocument.compare(uiType + 6, std::strlen(csType), csType) == 0)
      return csType;
  }
  return "FT_GLOBALS";
}

// The file an import goes into: the demo file of its type when
// VARNOX_FUZZ_FILES names a directory of them, else a new empty file.
std::string TargetOf(const std::string& csType) {
  const std::string csPath = fuzz::ScratchPath("target.orb");
  std::filesystem::remove(csPath);
  const char* csFiles = std::getenv("VARNOX_FUZZ_FILES");
  if (csFiles != nullptr) {
    const std::string csSource = std::string(csFiles) + "/" + csType + ".orb";
    std::error_code ec;
    std::filesystem::copy_file(csSource, csPath, ec);
  }
  return csPath;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uiSize) {
  const std::string csDocument(reinterpret_cast<const char*>(pData), uiSize);
  const std::string csType = FileTypeOf(csDocument);
  const std::string csXml = fuzz::ScratchPath("input.xml");
  fuzz::WriteFile(csXml, pData, uiSize);
  const std::string csPath = TargetOf(csType);
  fuzz::OpenFile open = fuzz::MakeFile(csType);
  if (open.pFile->OpenUnm(csPath.c_str(), nullptr, nullptr, "rw", "", true, nullptr, 0, 0,
                          nullptr) <= 0) {
    fuzz::Fail("the import's target does not open");
  }
  const std::string csBefore = fuzz::ScratchPath("before.xml");
  const std::string csAfter = fuzz::ScratchPath("after.xml");
  if (!open.pFile->SaveFileAsXml(csBefore.c_str()))
    fuzz::Fail("the import's target does not export");
  if (!open.pFile->UpdateFileFromXml(csXml.c_str())) {
    // Refused: the file must be as it was.
    if (!open.pFile->SaveFileAsXml(csAfter.c_str()) ||
        fuzz::ReadText(csBefore) != fuzz::ReadText(csAfter)) {
      fuzz::Fail("a refused import changed the file");
    }
    open.pFile->UnLoad();
    return 0;
  }
  fuzz::RoundTrip(open, false);
  return 0;
}
