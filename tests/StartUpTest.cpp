// Start-up of the native face: the loader's fatal paths (in fresh
// processes), the process-wide objects and their order, version
// negotiation, the schema handshake, the reference-counted end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "templates/VarnoxSchema.h"
#include "tests/testkernel/TestKernelSupport.h"

using ::testing::HasSubstr;

namespace {

// The loader runs in a fresh process each time.
const char* const kNoLocationMessage =
    "Environment Variable KxOrb64 Not Defined !!\n"
    "The environment variable KxOrb64 MUST define the\n"
    "directory where all Tarvex components are stored:\n"
    "For example:  E:\\ORB\\\n";

// Runs the probe with KxOrb64 set to `csRoot`, or unset when null.
TkChildResult RunProbe(const char* csRoot, const char* csArg = nullptr) {
  std::vector<std::string> argv = {STARTUP_PROBE};
  if (csArg != nullptr) argv.push_back(csArg);
  const char* csSaved = std::getenv("KxOrb64");
  const std::string csRestore = csSaved != nullptr ? csSaved : "";
  unsetenv("KxOrb64");
  std::vector<std::string> env;
  if (csRoot != nullptr) env.push_back(std::string("KxOrb64=") + csRoot);
  TkChildResult result = TkRunProgram(argv, env);
  if (csSaved != nullptr) setenv("KxOrb64", csRestore.c_str(), 1);
  return result;
}

void ExpectFailure(const TkChildResult& result, const std::string& csStderr) {
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, csStderr);
  EXPECT_EQ(result.out, "");
}

// An unset or one-character KxOrb64, a value used as it stands (no '/'
// added), a missing library or entry point, a path beyond its buffer.
TEST(ComponentManagerLoader, EachLoadFailureEndsTheProcessWithItsMessage) {
  auto notFound = [](const std::string& csRoot, int iError) {
    return "Tarvex Components Manager NOT FOUND !!\nThe file:  " + csRoot +
           "Kernel/Lib/CkxCompManagerR.dll  was not found\nSystem Error code is:  " +
           std::to_string(iError) + "\n";
  };
  const TkTempOrb empty(TkTempOrb::Kind::Empty), noEntry(TkTempOrb::Kind::NoEntry);
  std::string csNoSlash = TkOrbRoot();
  csNoSlash.pop_back();
  // 512 bytes hold the value, "Kernel/Lib/CkxCompManagerR.dll" (30) and the
  // terminator: 482 + 30 = 512 is too long.
  const std::string csTooLong = "/" + std::string(480, 'a') + "/";
  const std::pair<std::optional<std::string>, std::string> cases[] = {
      {std::nullopt, kNoLocationMessage},
      {"/", kNoLocationMessage},
      {"", kNoLocationMessage},
      {csNoSlash, notFound(csNoSlash, 2)},
      {empty.Root(), notFound(empty.Root(), 2)},
      {noEntry.Root(),
       "DLL Entry Point NOT FOUND !!\nThe Entry Point:  CreateKxComponent  was not "
       "found\nin the Component Manager:  " +
           TkKernelPath(noEntry.Root()) + "\n"},
      {csTooLong, notFound(csTooLong, 36)},
  };
  for (const auto& [csRoot, csMessage] : cases) {
    SCOPED_TRACE(csRoot.value_or("unset"));
    ExpectFailure(RunProbe(csRoot ? csRoot->c_str() : nullptr), csMessage);
  }
}

TEST(ComponentManagerLoader, LoadsTheReleaseOrDebugBuildOfTheComponentManager) {
  const TkChildResult release = RunProbe(TkOrbRoot().c_str());
  EXPECT_EQ(release.exitCode, 0) << release.err;
  EXPECT_EQ(release.out, "loaded " + TkKernelPath(TkOrbRoot(), false) + "\n");

  const TkChildResult debug = RunProbe(TkOrbRoot().c_str(), "debug");
  EXPECT_EQ(debug.exitCode, 0) << debug.err;
  EXPECT_EQ(debug.out, "loaded " + TkKernelPath(TkOrbRoot(), true) + "\n");
}

// Start-up and end, in this process against the test kernel.
class StartUpTest : public ::testing::Test {
 protected:
  void SetUp() override { kernel.Reset(); }
  void TearDown() override {
    while (catRefCnt > 0) KxEndCatAssembly();
  }

  TestKernel& kernel = TkLoad();
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

TEST_F(StartUpTest, ConnectionBelowVersion8LeavesNoThreadSlot) {
  kernel.Grant("CkxDtb2Connection", 7);
  KxInitCatAssembly(false);
  EXPECT_EQ(dwIObjTlsInd, 0xFFFFFFFFu);
  EXPECT_EQ(kernel.CallsOf("CkxDtb2Connection").size(), 1u);  // the request only: no
                                                              // handshake either

  KxEndCatAssembly();
  kernel.Grant("CkxDtb2Connection", 8);
  KxInitCatAssembly(false);
  EXPECT_NE(dwIObjTlsInd, 0xFFFFFFFFu);
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
  EXPECT_EQ(kernel.Handed("CkxTaskOnly"), 0);   // slot 0 was never called
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
  EXPECT_EQ(kernel.Handed("CkxD2MessMan"), 2);
  EXPECT_EQ(kernel.Live("CkxD2MessMan"), 1);
  EXPECT_EQ(kernel.Live("CkxDtbAccByStr"), 1);
}

}  // namespace
