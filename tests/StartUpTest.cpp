// Start-up of the native face: the loader's fatal paths (in fresh
// processes), the process-wide objects and their order, version
// negotiation, the schema handshake, the reference-counted end.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "templates/VarnoxSchema.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

// The loader runs in a fresh process each time.
const char* const kNoLocationMessage =
    "Environment Variable KxOrb64 Not Defined !!\n"
    "The environment variable KxOrb64 MUST define the\n"
    "directory where all Tarvex components are stored:\n"
    "For example:  E:\\ORB\\\n";

// An unset or one-character KxOrb64, a value used as it stands (no '/'
// added), a missing library or entry point, a path beyond its buffer end the
// process with their message; a good one loads the release or debug build.
TEST(ComponentManagerLoader, EachLoadFailureEndsTheProcessAndAGoodRootLoadsTheManager) {
  auto notFound = [](const std::string& csRoot, int iError) {
    return "Tarvex Components Manager NOT FOUND !!\nThe file:  " + csRoot +
           "Kernel/Lib/CkxCompManagerR.dll  was not found\nSystem Error code is:  " +
           std::to_string(iError) + "\n";
  };
  // A KxOrb64 without component manager, and one whose manager has no entry.
  const std::string csEmpty = KernelScratch::Get().Path("empty/");
  const std::string csNoEntry = KernelScratch::Get().Path("noentry/");
  std::filesystem::create_directories(csEmpty);
  std::filesystem::create_directories(csNoEntry + "Kernel/Lib");
  std::filesystem::copy_file(TK_NOENTRY_LIBRARY, TkKernelPath(csNoEntry),
                             std::filesystem::copy_options::overwrite_existing);
  const std::string& csGood = TkOrbRoot();
  const std::string csNoSlash = csGood.substr(0, csGood.size() - 1);
  // 512 bytes hold the value, "Kernel/Lib/CkxCompManagerR.dll" (30) and the
  // terminator: 482 + 30 = 512 is too long.
  const std::string csTooLong = "/" + std::string(480, 'a') + "/";
  struct Case {
    std::optional<std::string> csRoot;
    bool bDebug;
    int iExitCode;
    std::string csOut, csErr;
  };
  const Case aCases[] = {
      {std::nullopt, false, 1, "", kNoLocationMessage},
      {"/", false, 1, "", kNoLocationMessage},
      {"", false, 1, "", kNoLocationMessage},
      {csNoSlash, false, 1, "", notFound(csNoSlash, 2)},
      {csEmpty, false, 1, "", notFound(csEmpty, 2)},
      {csNoEntry, false, 1, "",
       "DLL Entry Point NOT FOUND !!\nThe Entry Point:  CreateKxComponent  was not "
       "found\nin the Component Manager:  " +
           TkKernelPath(csNoEntry) + "\n"},
      {csTooLong, false, 1, "", notFound(csTooLong, 36)},
      {csGood, false, 0, "loaded " + TkKernelPath(csGood, false) + "\n", ""},
      {csGood, true, 0, "loaded " + TkKernelPath(csGood, true) + "\n", ""},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(c.csRoot.value_or("unset") + (c.bDebug ? " debug" : ""));
    // The probe, debug or release, with KxOrb64 set to the root, or unset.
    std::vector<std::string> argv = {"env", "-u", "KxOrb64"};
    if (c.csRoot) argv.push_back("KxOrb64=" + *c.csRoot);
    argv.push_back(STARTUP_PROBE);
    if (c.bDebug) argv.push_back("debug");
    const TkChildResult result = TkRunProgram(argv);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, c.iExitCode);
    EXPECT_EQ(result.err, c.csErr);
    EXPECT_EQ(result.out, c.csOut);
  }
}

// Start-up and end, in this process against the test kernel.
class StartUpTest : public TkNativeFaceTest {
 protected:
  void SetUp() override { kernel.Reset(); }
};

TEST_F(StartUpTest, CreatesTheProcessWideObjectsInOrder) {
  KxInitCatAssembly(false);

  EXPECT_EQ(kernel.Log(),
            "CreateKxComponent(\"CkxBase\",\"CkxTask\",2,32,32,ptr) -> CkxTask#1\n"
            "CkxTask#1 CreateTaskOnly(1,7,7,0) -> CkxTaskOnly#1\n"
            "CkxTaskOnly#1 GetTaskId()\n"
            "CreateKxComponent(\"CkxDtb2\",\"CkxDtb2Connection\",1,36,36,null) -> "
            "CkxDtb2Connection#1\n"
            "CkxDtb2Connection#1 AcceptSchema(" +
                std::to_string(kVarnoxSchemaFingerprint) +
                ",ptr)\n"
                "CreateKxComponent(\"CkxBase\",\"CkxD2MessMan\",1,10,10,null) -> CkxD2MessMan#1\n"
                "CreateKxComponent(\"CkxBase\",\"CkxDtbAccByStr\",1,4,4,null) -> CkxDtbAccByStr#1\n"
                "CkxDtb2Connection#1 GetObjTlsIndex()\n");
  EXPECT_EQ(pTasks->TaskId(), kernel.AnswerOf("CkxTaskOnly", "GetTaskId"));
  EXPECT_EQ(dwIObjTlsInd, kernel.AnswerOf("CkxDtb2Connection", "GetObjTlsIndex"));
  EXPECT_EQ(catRefCnt, 1);
}

TEST_F(StartUpTest, RefusedTaskInterfacesLeaveAUsableTaskWithoutId) {
  kernel.Refuse("CkxTaskOnly");
  KxInitCatAssembly(false);
  EXPECT_EQ(pTasks->m_TaskOnly.p, nullptr);
  EXPECT_EQ(pTasks->m_TaskOnly.version, 0u);
  EXPECT_EQ(pTasks->TaskId(), 0);
  EXPECT_EQ(kernel.Log("CkxTaskOnly"), "");  // no GetTaskId, no call at all

  KxEndCatAssembly();
  kernel.Reset();
  kernel.Refuse("CkxTask");
  KxInitCatAssembly(false);
  ASSERT_NE(pTasks, nullptr);
  EXPECT_EQ(kernel.Log("CkxTaskOnly"), "");     // slot 0 was never called
  KxTraceNet(0, kKxTraceSource, 1, "dropped");  // no interface: nothing happens
  EXPECT_FALSE(pTasks->IsKernelRunning());
}

// A second start only counts (the first start's debug flag stays); the
// objects go after as many ends, all but the message manager, which files
// may still use; a start after the end creates fresh objects.
TEST_F(StartUpTest, StartsAndEndsAreCountedAndAStartAfterTheEndStartsAfresh) {
  KxInitCatAssembly(false);
  CkxTask* pFirstTask = pTasks;
  kernel.ClearCalls();
  KxInitCatAssembly(true);
  KxEndCatAssembly();
  EXPECT_EQ(kernel.Log(), "");
  EXPECT_EQ(pTasks, pFirstTask);
  EXPECT_FALSE(bDebugVersion);

  KxEndCatAssembly();
  EXPECT_EQ(pTasks, nullptr);
  EXPECT_EQ(pDtb2, nullptr);
  EXPECT_NE(pMessMan, nullptr);
  for (const auto& [csItf, iLive] : {std::pair{"CkxTask", 0},
                                     {"CkxTaskOnly", 0},
                                     {"CkxDtb2Connection", 0},
                                     {"CkxD2MessMan", 1}}) {
    EXPECT_EQ(kernel.Live(csItf), iLive) << csItf;
  }

  KxInitCatAssembly(false);
  EXPECT_NE(pTasks, nullptr);
  EXPECT_NE(kernel.Log().find("-> CkxD2MessMan#2\n"), std::string::npos);
  EXPECT_EQ(kernel.Live("CkxD2MessMan"), 1);
  EXPECT_EQ(kernel.Live("CkxDtbAccByStr"), 1);
}

}  // namespace
