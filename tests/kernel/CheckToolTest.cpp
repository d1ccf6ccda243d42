// `varnox check` on saved files and on live data this test process holds
// open: whole files pass, and what is wrong is listed with where it lies.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/kernel/KernelEngineSupport.h"
#include "tests/kernel/KernelTestSupport.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

#ifdef VARNOX_TOOL

// A block of the Records member that no structure names.
void LoseABlock(KxLiveFile& file) {
  KxSegmentLock lock(file.Segment(7));
  file.Segment(7).Allocate(100);
}

struct CheckCase {
  const char* csName;
  bool bKeepOpen;                            // checked while this process holds it open
  std::function<void(KxLiveFile&)> change;  // made before the save (and the check)
  int iExit;
  std::vector<std::string> says;  // on standard output
};

class CheckTool : public ::testing::TestWithParam<CheckCase> {};

TEST_P(CheckTool, ListsWhatIsWrongWithWhereItLies) {
  const CheckCase& check = GetParam();
  const std::string csDir = KernelScratch::Get().Path(std::string("check-") + check.csName);
  std::filesystem::create_directories(csDir);
  const std::string csPath = csDir + "/globals.orb";
  std::shared_ptr<KxLiveFile> pFile = EngineOpen(csPath, "FT_GLOBALS", true);
  check.change(*pFile);
  std::string csWhy;
  ASSERT_TRUE(pFile->Save("", false, csWhy)) << csWhy;
  if (!check.bKeepOpen) pFile.reset();

  const TkChildResult result = TkRunProgram({VARNOX_TOOL, "check", csPath});
  EXPECT_EQ(result.exitCode, check.iExit) << result.out << result.err;
  for (const std::string& csText : check.says) {
    EXPECT_NE(result.out.find(csText), std::string::npos) << csText << " not in:\n" << result.out;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Check, CheckTool,
    ::testing::Values(
        CheckCase{"Saved", false, [](KxLiveFile&) {}, 0, {"(saved file, FT_GLOBALS): whole"}},
        CheckCase{"Live", true, [](KxLiveFile&) {}, 0, {"(live data, open in a process"}},
        CheckCase{"SavedLostBlock", false, LoseABlock, 1,
                  {"Records: the live block at unit", "named by no structure", "1 problem"}},
        CheckCase{"LiveLostBlock", true, LoseABlock, 1,
                  {"Records: the live block at unit", "live data"}}),
    [](const auto& check) { return std::string(check.param.csName); });

TEST(CheckToolOnOtherFiles, SaysWhyItCannotCheck) {
  const std::string csPath = KernelScratch::Get().Path("not-a-kernel-file.orb");
  WriteBytes(csPath, std::vector<uint8_t>(300, 'x'));
  const TkChildResult result = TkRunProgram({VARNOX_TOOL, "check", csPath});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.out.find("not a saved kernel file"), std::string::npos) << result.out;
}

#endif

}  // namespace
