// Fuzz target: the LENEX reader on any bytes, as a .lef or (when they start
// like a ZIP) as a .lxf. Whatever it refuses must be refused with a
// LenexError; whatever it takes must write, read back equal and write the
// same text again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "lenex/Lenex.h"

namespace {

using namespace Varnox::Lenex;

[[noreturn]] void Fail(const char* csWhat, const std::string& csDetail) {
  std::fprintf(stderr, "LenexFuzz: %s\n%s\n", csWhat, csDetail.c_str());
  std::abort();
}

// Small limits, so the fuzzer reaches them.
LenexLimits FuzzLimits() {
  LenexLimits limits;
  limits.uiMaxDocumentBytes = 1 << 20;
  limits.uiMaxElements = 20'000;
  return limits;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uiSize) {
  const LenexLimits limits = FuzzLimits();
  std::string_view input(reinterpret_cast<const char*>(pData), uiSize);
  Document document;
  try {
    const std::string csLef =
        input.substr(0, 2) == "PK" ? ExtractLxf(input, limits) : std::string(input);
    document = ReadLef(csLef, limits);
  } catch (const LenexError&) {
    return 0;
  }
  std::string csWritten;
  try {
    csWritten = WriteLef(document);
  } catch (const LenexError& error) {
    Fail("a document read does not write", error.what());
  }
  try {
    if (!(ReadLef(csWritten, limits) == document)) Fail("the written document reads back different", csWritten);
    if (WriteLef(ReadLef(csWritten, limits)) != csWritten) Fail("the second write differs", csWritten);
  } catch (const LenexError& error) {
    Fail("the written document is refused", std::string(error.what()) + "\n" + csWritten);
  }
  return 0;
}
