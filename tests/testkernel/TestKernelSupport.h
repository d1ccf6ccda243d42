// What tests need around the test kernel: loading it where the library will
// look for it, a scratch directory, and running code in a child process.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "NetInterface/OrbCategBaseClass/CkxNetCatDtb2.h"
#include "tests/testkernel/TestKernel.h"

// The KxOrb64 directory the test kernel is built into, ending with '/'.
const std::string& TkOrbRoot();
// The KxOrb64 directory the reference kernel is built into, ending with '/'.
// (Kept out of the test sources so that their objects do not depend on
// where the build tree lies.)
const std::string& ReferenceOrbRoot();

// The component manager file the library loads below `csRoot`:
// csRoot + "Kernel/Lib/CkxCompManagerR.dll" (or ...D.dll).
std::string TkKernelPath(const std::string& csRoot, bool bDebug = false);

// Sets KxOrb64 to TkOrbRoot(), loads the release copy of the test kernel from
// the path the library will load, and returns its state (the debug copy is a
// separate library with its own state). Throws std::runtime_error when the
// library or its symbol cannot be loaded.
TestKernel& TkLoad();

// Outcome of TkRunChild.
struct TkChildResult {
  bool exited = false;  // ended through exit / _exit
  int exitCode = -1;    // when exited
  int signal = 0;       // when killed by a signal (SIGKILL after the timeout)
  std::string out;      // what the child wrote to standard output
  std::string err;      // what the child wrote to standard error
};

// Runs `fn` in a ForkedChild with standard output and error captured: exit 0
// when `fn` returns, 98 after an uncaught exception; killed after
// `iTimeoutMs`. The child inherits the parent's state, a component manager
// already loaded included.
TkChildResult TkRunChild(const std::function<void()>& fn, int iTimeoutMs = 30000);

// Runs program argv[0] (looked up in PATH) in a fresh process. Exit code
// 127: it could not be run.
TkChildResult TkRunProgram(const std::vector<std::string>& argv, int iTimeoutMs = 30000);

// The bytes of a file ("" when it cannot be read), and a file made of
// `csText`.
inline std::string Slurp(const std::string& csPath) {
  std::ifstream in(csPath, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}
inline void Spit(const std::string& csPath, const std::string& csText) {
  std::ofstream out(csPath, std::ios::binary | std::ios::trunc);
  out << csText;
}

// A scratch directory that holds the saved files, the live storage
// (VARNOX_LIVE_DIR) and the kernel log (VARNOX_KERNEL_LOG) of one test
// program. Set before the kernel is loaded: the log's place is read once.
// KxOrb64 names the reference kernel unless already set: TkLoad sets it to
// the recording kernel.
class KernelScratch {
 public:
  static KernelScratch& Get() {
    static KernelScratch scratch;
    return scratch;
  }
  const std::string& Dir() const { return m_csDir; }
  std::string Path(const std::string& csName) const { return m_csDir + "/" + csName; }
  std::string Log() const { return Slurp(m_csDir + "/kernel.log"); }
  // Only the process that made it removes it: a forked child that ends
  // through exit() must not take the parent's files.
  ~KernelScratch() {
    std::error_code ec;
    if (getpid() == m_pid) std::filesystem::remove_all(m_csDir, ec);
  }

 private:
  KernelScratch() {
    char aTemplate[] = "/tmp/varnox-kernel-test-XXXXXX";
    m_csDir = mkdtemp(aTemplate);
    std::filesystem::create_directories(m_csDir + "/live");
    setenv("VARNOX_LIVE_DIR", (m_csDir + "/live").c_str(), 1);
    setenv("VARNOX_KERNEL_LOG", (m_csDir + "/kernel.log").c_str(), 1);
    setenv("KxOrb64", ReferenceOrbRoot().c_str(), 0);
  }
  std::string m_csDir;
  pid_t m_pid = getpid();
};

// A test of the native face on the test kernel: the kernel's record reset
// and the native face started afresh for each test, and ended after it,
// however many starts the test left behind.
class TkNativeFaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kernel.Reset();
    KxInitCatAssembly(false);
  }
  void TearDown() override {
    while (catRefCnt > 0) KxEndCatAssembly();
  }

  // The scratch directory is laid out before the kernel is loaded.
  TestKernel& kernel = (KernelScratch::Get(), TkLoad());
};

// The texts of the log records sent since the last ClearCalls, as
// "<event type>/<index> <text>".
inline std::vector<std::string> LogTexts(const TestKernel& kernel) {
  std::vector<std::string> out;
  for (const TkCall& call : kernel.CallsOf("CkxTask")) {
    if (call.op != "SendLog" || call.logData.size() < 6) continue;
    uint32_t uiIndex = 0;
    uint16_t usLength = 0;
    std::memcpy(&uiIndex, call.logData.data(), 4);
    std::memcpy(&usLength, call.logData.data() + 4, 2);
    const auto* pText = reinterpret_cast<const char*>(call.logData.data() + 6);
    out.push_back(call.args.at(0) + "/" + std::to_string(uiIndex) + " " +
                  std::string(pText, std::min<size_t>(usLength, call.logData.size() - 6)));
  }
  return out;
}
