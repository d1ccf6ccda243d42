#include "kernel/KxComponents.h"
#include "kernel/KxKernelLog.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace KxComponents {

namespace {
constexpr uint32_t kMessageBase = 0xC000;
}  // namespace

KxKernel& Kernel() {
  static KxKernel* pKernel = new KxKernel();
  return *pKernel;
}

std::string KxHex(uint64_t uiValue) {
  char aText[24];
  std::snprintf(aText, sizeof aText, "0x%016" PRIX64, uiValue);
  return aText;
}

void KxLogEscaped(const char* csSlot, const char* csWhat) noexcept {
  try {
    KxKernelLog("KERNEL", std::string(csSlot) + " failed: " + csWhat);
  } catch (...) {
    // No memory even for the line: the slot's failure value says enough.
  }
}

void KxLogCaught(const char* csSlot) noexcept {
  try {
    throw;
  } catch (const std::exception& e) {
    KxLogEscaped(csSlot, e.what());
  } catch (...) {
    KxLogEscaped(csSlot, "an exception of unknown type");
  }
}

void RunDeferred(KxDeferred& deferred) {
  for (auto& fn : deferred) fn();
}

std::string ResolvePath(const std::string& csPath, const std::string& csFileSet) {
  std::string csFull = csPath;
  if (!csFull.empty() && csFull[0] != '/') {
    std::string csDir = csFileSet;
    if (csDir.empty() || csDir[0] != '/') {
      char aCwd[PATH_MAX];
      const std::string csCwd = getcwd(aCwd, sizeof aCwd) != nullptr ? aCwd : ".";
      csDir = csDir.empty() ? csCwd : csCwd + "/" + csDir;
    }
    csFull = csDir + "/" + csFull;
  }
  // The directory resolved, the name kept: the file need not exist yet.
  const size_t uiSlash = csFull.rfind('/');
  char aReal[PATH_MAX];
  const std::string csDir = uiSlash == 0 ? "/" : csFull.substr(0, uiSlash);
  if (realpath(csDir.c_str(), aReal) == nullptr) return csFull;
  return std::string(aReal) + (std::strcmp(aReal, "/") == 0 ? "" : "/") +
         csFull.substr(uiSlash + 1);
}

uint32_t MessageValue(const std::string& csName) {
  auto& names = Kernel().messageNames;
  auto it = std::find(names.begin(), names.end(), csName);
  if (it == names.end()) it = names.insert(names.end(), csName);
  return kMessageBase + static_cast<uint32_t>(it - names.begin());
}

void PublishFileUpdate(KxLiveFile& live, uint32_t uiFlags) {
  for (size_t i = 0; i < live.MemberCount(); ++i) {
    KxUpdateRecord record{};
    record.flags = KxUpdateRecord::kFlagsWord;
    record.kind = KxUpdateRecord::kKind;
    record.word24 = uiFlags;
    live.Events().PublishUpdate(static_cast<uint32_t>(i), record);
  }
}

}  // namespace KxComponents
