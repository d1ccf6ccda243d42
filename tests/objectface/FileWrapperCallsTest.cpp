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

struct OpenCase {
  Text csAlias1, csAlias2, csFileSet;
  int64_t liDimDyn, liDimExp;
  // What the kernel receives: alias 1, alias 2, file set (the native open
  // passes its own copy, "" for null), the two dimensions.
  std::vector<std::string> expected;
};

class FileWrapperOpen : public ::testing::TestWithParam<OpenCase> {};

TEST_P(FileWrapperOpen, SendsNullTextsAndTheLowWordsOfTheDimensions) {
  const OpenCase& c = GetParam();
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

INSTANTIATE_TEST_SUITE_P(FileWrapper, FileWrapperOpen,
                         ::testing::Values(OpenCase{std::nullopt,
                                                    std::nullopt,
                                                    std::nullopt,
                                                    (int64_t{1} << 32) + 5,
                                                    7,
                                                    {"null", "null", "\"\"", "5", "7"}},
                                           OpenCase{
                                               u"A1",
                                               u"",
                                               u"set",
                                               -1,
                                               (int64_t{3} << 32) + 9,
                                               {"\"A1\"", "\"\"", "\"set\"", "4294967295", "9"}}));

struct SelectCase {
  Text csAlias1;
  const char* pAlias1Sent;
};

class FileWrapperSelect : public ::testing::TestWithParam<SelectCase> {};

TEST_P(FileWrapperSelect, WritesBothOutTextsWhenRefused) {
  const SelectCase& c = GetParam();
  Kernel().Reset();
  const auto pFile = D2fVarnox_FT_GLOBALS::Create();
  std::u16string csPath = u"stale", csFileSet = u"stale";
  EXPECT_FALSE(pFile->SelectFileDlg(c.csAlias1, std::nullopt, csPath, csFileSet, true, false));
  EXPECT_EQ(csPath, u"");
  EXPECT_EQ(csFileSet, u"");
  const std::vector<std::string> args = LastCall("SelectFileDlg");
  ASSERT_EQ(args.size(), 8u);
  EXPECT_EQ(args[0], c.pAlias1Sent);
  EXPECT_EQ(args[1], "null");
  pFile->Dispose();
}

INSTANTIATE_TEST_SUITE_P(FileWrapper, FileWrapperSelect,
                         ::testing::Values(SelectCase{u"Meet", "\"Meet\""},
                                           SelectCase{std::nullopt, "null"}));

}  // namespace
