// What a file wrapper hands the kernel file, on the recording kernel: Open's
// texts (a null text as a null pointer) and its dimensions cut to their low
// 32 bits; SelectFileDlg's out-texts written though the kernel (which has no
// user interface) refuses.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "files/VarnoxFiles.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

using namespace Tarvex::Orb::Data::Varnox;
using Text = std::optional<std::u16string>;

// The object face starts the release kernel that TkLoad loaded.
TestKernel& Kernel() {
  static TestKernel& kernel = [&]() -> TestKernel& {
    setenv("VARNOX_KERNEL_DEBUG", "0", 1);
    KernelScratch::Get();
    return TkLoad();
  }();
  return kernel;
}

// The arguments of the last call `csOperation` on a kernel file interface.
std::vector<std::string> LastCall(const std::string& csOperation) {
  std::vector<std::string> args;
  for (const TkCall& call : Kernel().CallsOf("CkxDtb2File")) {
    if (call.op == csOperation) args = call.args;
  }
  return args;
}

// Open's texts and dimensions, and what the kernel receives: alias 1, alias 2,
// file set (the native open passes its own copy, "" for null), the two
// dimensions.
struct OpenCase {
  Text csAlias1, csAlias2, csFileSet;
  int64_t liDimDyn, liDimExp;
  std::vector<std::string> expected;
};

TEST(FileWrapper, OpenSendsNullTextsAndTheLowWordsOfTheDimensions) {
  // clang-format off
  const OpenCase kCases[] = {
      {std::nullopt, std::nullopt, std::nullopt, (int64_t{1} << 32) + 5, 7,
       {"null", "null", "\"\"", "5", "7"}},
      {u"A1", u"", u"set", -1, (int64_t{3} << 32) + 9,
       {"\"A1\"", "\"\"", "\"set\"", "4294967295", "9"}}};
  // clang-format on
  for (const OpenCase& c : kCases) {
    Kernel().Reset();
    const auto pFile = D2fVarnox_FT_RACES::Create();
    const std::string csPath = KernelScratch::Get().Path("races.orb");
    EXPECT_GT(pFile->Open(std::u16string(csPath.begin(), csPath.end()), c.csAlias1, c.csAlias2,
                          u"rw", c.csFileSet, true, nullptr, c.liDimDyn, c.liDimExp),
              0);
    const std::vector<std::string> args = LastCall("Open");
    ASSERT_EQ(args.size(), 9u);
    EXPECT_EQ(args[0], "\"" + csPath + "\"");
    EXPECT_EQ((std::vector<std::string>{args[1], args[2], args[4], args[7], args[8]}), c.expected);
    pFile->Dispose();
  }
}

// SelectFileDlg, refused, empties both out-texts; alias 1 goes as given, a
// null one as a null pointer.
TEST(FileWrapper, SelectWritesBothOutTextsWhenRefused) {
  for (const auto& [csAlias1, csAlias1Sent] :
       {std::pair<Text, std::string>{u"Meet", "\"Meet\""}, {std::nullopt, "null"}}) {
    Kernel().Reset();
    const auto pFile = D2fVarnox_FT_GLOBALS::Create();
    std::u16string csPath = u"stale", csFileSet = u"stale";
    EXPECT_FALSE(pFile->SelectFileDlg(csAlias1, std::nullopt, csPath, csFileSet, true, false));
    EXPECT_EQ(csPath + csFileSet, u"");
    const std::vector<std::string> args = LastCall("SelectFileDlg");
    ASSERT_EQ(args.size(), 8u);
    EXPECT_EQ((std::vector<std::string>{args[0], args[1]}),
              (std::vector<std::string>{csAlias1Sent, "null"}));
    pFile->Dispose();
  }
}

}  // namespace
