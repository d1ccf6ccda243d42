#include "web/PathTrace.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace varnox::web::trace {

namespace {

constexpr size_t kStages = static_cast<size_t>(Stage::Count);

// The trace file, opened on first use; null when tracing is off.
std::FILE* TraceFile() {
  static std::FILE* const pFile = [] {
    const char* csPath = std::getenv("VARNOX_WEB_TRACE");
    return csPath != nullptr && *csPath != '\0' ? std::fopen(csPath, "a") : nullptr;
  }();
  return pFile;
}

// Each notification thread stamps its own update.
thread_local std::array<int64_t, kStages> t_Stamps{};

}  // namespace

void Mark(Stage stage) {
  if (TraceFile() == nullptr) return;
  t_Stamps[static_cast<size_t>(stage)] = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                             std::chrono::system_clock::now().time_since_epoch())
                                             .count();
}

void Finish() {
  std::FILE* pFile = TraceFile();
  if (pFile == nullptr) return;
  if (t_Stamps[static_cast<size_t>(Stage::Notified)] != 0) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    for (size_t i = 0; i < kStages; ++i)
      std::fprintf(pFile, "%lld%c", static_cast<long long>(t_Stamps[i]),
                   i + 1 < kStages ? ' ' : '\n');
    std::fflush(pFile);
  }
  t_Stamps.fill(0);
}

}  // namespace varnox::web::trace
