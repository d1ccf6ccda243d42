// Fuzz target: a saved file of any of the five types, damaged at will and
// resealed (its length and both checksums made right again) so that the
// damage reaches the structure checks. A file the kernel refuses is fine;
// a file that opens must survive the round trip of FuzzSupport.h.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"

namespace {

// The file type the header names, so that the matching template opens it.
std::string FileTypeOf(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < sizeof(KxSavedHeader)) return "FT_GLOBALS";
  const char* pType =
      reinterpret_cast<const char*>(bytes.data()) + offsetof(KxSavedHeader, fileType);
  const std::string csType(pType, strnlen(pType, sizeof(KxSavedHeader::fileType)));
  return fuzz::IsFileType(csType) ? csType : "FT_GLOBALS";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SayCountsAtExit();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uiSize) {
  // One buffer for every input: under AddressSanitizer a fresh allocation
  // per input costs its pages' faults (freed memory waits in quarantine).
  static std::vector<uint8_t> bytes;
  bytes.assign(pData, pData + uiSize);
  KxResealSavedBytes(bytes.data(), bytes.size());
  static const std::string csPath = fuzz::ScratchPath("input.orb");
  fuzz::WriteFile(csPath, bytes.data(), bytes.size());
  // One file object per type serves every input: making one registers its
  // members with the kernel, which costs as much as a refused open.
  static std::map<std::string, fuzz::OpenFile> files;
  const std::string csType = FileTypeOf(bytes);
  fuzz::OpenFile& open = files[csType];
  if (!open.pFile) open = fuzz::MakeFile(csType);
  if (open.pFile->OpenUnm(csPath.c_str(), nullptr, nullptr, "rw", "", false, nullptr, 0, 0,
                          nullptr) <= 0) {
    ++fuzz::g_uiRefused;
    return 0;  // refused cleanly
  }
  ++fuzz::g_uiTaken;
  fuzz::RoundTrip(open, true);
  return 0;
}
