// What tests on the reference kernel share: a scratch directory for saved
// files, live storage and the kernel log, and the start of the native face
// on the kernel built with the tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"

// A scratch directory that holds the saved files, the live storage
// (VARNOX_LIVE_DIR) and the kernel log (VARNOX_KERNEL_LOG) of one test
// program. Set before the kernel is loaded: the log's place is read once.
class KernelScratch {
 public:
  static KernelScratch& Get() {
    static KernelScratch scratch;
    return scratch;
  }
  const std::string& Dir() const { return m_csDir; }
  std::string Path(const std::string& csName) const { return m_csDir + "/" + csName; }
  std::string Log() const {
    std::ifstream in(m_csDir + "/kernel.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  KernelScratch() {
    char aTemplate[] = "/tmp/varnox-kernel-test-XXXXXX";
    m_csDir = mkdtemp(aTemplate);
    std::filesystem::create_directories(m_csDir + "/live");
    setenv("VARNOX_LIVE_DIR", (m_csDir + "/live").c_str(), 1);
    setenv("VARNOX_KERNEL_LOG", (m_csDir + "/kernel.log").c_str(), 1);
    setenv("KxOrb64", VARNOX_ORB_ROOT, 1);
  }
  std::string m_csDir;
};

// Starts the native face on the reference kernel for the test program.
class KernelEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    KernelScratch::Get();
    KxInitCatAssembly(false);
  }
  void TearDown() override {
    KxEndCatAssembly();
    std::filesystem::remove_all(KernelScratch::Get().Dir());
  }
};
