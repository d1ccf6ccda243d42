// What tests on the reference kernel share: a scratch directory for saved
// files, live storage and the kernel log, and the start of the native face
// on the kernel built with the tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mman.h>

#include <filesystem>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "tests/support/ForkedChild.h"
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

// A new, empty directory `csName` in the scratch directory.
inline std::string FreshDir(const std::string& csName) {
  const std::string csDir = KernelScratch::Get().Path(csName);
  std::filesystem::remove_all(csDir);
  std::filesystem::create_directories(csDir);
  return csDir;
}

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

// Opens `csPath` through the native face of `file` (mode "rw" or "r"),
// updates going to `pfCallBack`; answers whether the kernel gave it an id.
template <class File>
bool OpenNative(File& file, const std::string& csPath, const char* csMode = "rw",
                bool bCreate = true, void (*pfCallBack)(int32_t, uint64_t) = nullptr) {
  return file.OpenUnm(csPath.c_str(), nullptr, nullptr, csMode, "", bCreate, nullptr, 0, 0,
                      pfCallBack) > 0;
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
