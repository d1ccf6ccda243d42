// What tests on the reference kernel share: a scratch directory for saved
// files, live storage and the kernel log, and the start of the native face
// on the kernel built with the tests.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <new>
#include <stdexcept>
#include <thread>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "tests/testkernel/TestKernelSupport.h"

// Names of the entries of `csDir` that contain `csPart`.
inline std::vector<std::string> EntriesWith(const std::string& csDir, const std::string& csPart) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(csDir)) {
    const std::string csName = entry.path().filename().string();
    if (csName.find(csPart) != std::string::npos) names.push_back(entry.path().string());
  }
  return names;
}

// A forked child running `fn` beside the test, ending with its answer as exit
// code (98 after an exception); killed and reaped when the object goes. The
// child shares what was mapped shared before the fork (see Shared).
class ForkedChild {
 public:
  explicit ForkedChild(const std::function<int()>& fn) {
    std::fflush(nullptr);
    m_Pid = fork();
    if (m_Pid != 0) return;
    int iCode = 98;
    try {
      iCode = fn();
    } catch (...) {
    }
    std::fflush(nullptr);
    _exit(iCode);
  }
  ~ForkedChild() { Kill(); }
  ForkedChild(const ForkedChild&) = delete;
  ForkedChild& operator=(const ForkedChild&) = delete;

  pid_t Pid() const { return m_Pid; }
  bool Running() {
    if (m_Pid <= 0 || m_bEnded) return false;
    m_bEnded = waitpid(m_Pid, &m_iStatus, WNOHANG) == m_Pid;
    return !m_bEnded;
  }
  // Its exit code, or 128 + the signal that ended it; killed after
  // `iWaitMs` (a child that hangs fails the test rather than stopping it).
  int Wait(int iWaitMs = 30000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(iWaitMs);
    while (Running()) {
      if (std::chrono::steady_clock::now() > deadline) kill(m_Pid, SIGKILL);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (m_Pid <= 0) return -1;
    return WIFEXITED(m_iStatus) ? WEXITSTATUS(m_iStatus) : 128 + WTERMSIG(m_iStatus);
  }
  // Kills it (SIGKILL) and answers as Wait.
  int Kill() {
    if (Running()) kill(m_Pid, SIGKILL);
    return Wait();
  }

 private:
  pid_t m_Pid = -1;
  bool m_bEnded = false;
  int m_iStatus = 0;
};

// A `T` in memory shared with the children forked while it lives.
template <class T>
class Shared {
 public:
  Shared() {
    void* p = mmap(nullptr, sizeof(T), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::runtime_error("cannot map shared memory");
    m_p = new (p) T{};
  }
  ~Shared() { munmap(m_p, sizeof(T)); }
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;
  T& operator*() const { return *m_p; }
  T* operator->() const { return m_p; }

 private:
  T* m_p;
};

// Starts the native face on the reference kernel for the test program.
class KernelEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    KernelScratch::Get();
    setenv("KxOrb64", ReferenceOrbRoot().c_str(), 1);
    KxInitCatAssembly(false);
  }
  void TearDown() override {
    KxEndCatAssembly();
    std::filesystem::remove_all(KernelScratch::Get().Dir());
  }
};

// Opens `csPath` through the native face of `file` (mode "rw" or "r");
// answers whether the kernel gave it an id.
template <class File>
bool OpenNative(File& file, const std::string& csPath, const char* csMode = "rw",
                bool bCreate = true) {
  return file.OpenUnm(csPath.c_str(), nullptr, nullptr, csMode, "", bCreate, nullptr, 0, 0,
                      nullptr) > 0;
}

// Writes a dynamic string field (UTF-16 or ANSI) of a record reached
// through its container on this thread.
template <class Field, class Char>
void SetText(Field& field, const std::basic_string<Char>& csText) {
  field.ReserveNet(static_cast<int>(csText.size()));
  field.SetNet(csText.data(), static_cast<int>(csText.size()));
}
inline void SetText(CkxD2StrDU& field, const std::u16string& csText) {
  SetText<CkxD2StrDU, char16_t>(field, csText);
}
inline void SetText(CkxD2StrD& field, const std::string& csText) {
  SetText<CkxD2StrD, char>(field, csText);
}

// A string field's text; nullopt for a dynamic string never written.
template <class Field>
auto TextOf(const Field& field) {
  int iLength = 0;
  const auto* p = field.GetNet(&iLength);
  using Text = std::basic_string<std::remove_cv_t<std::remove_pointer_t<decltype(p)>>>;
  return iLength < 0 ? std::optional<Text>() : std::optional<Text>(Text(p, iLength));
}
