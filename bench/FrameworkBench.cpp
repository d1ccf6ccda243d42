// The framework's costs, each beside its baseline in the same run:
//   - a call through an update callback's C entry (libffi closure, the
//     target's lock, the std::function) against calling the same
//     std::function directly.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>

#include "contracts/framework/OrbApp.h"

namespace {

using Tarvex::Orb::KxUpdateUmCallBack;

void BM_UpdateCallbackEntry(benchmark::State& state) {
  uint64_t uiSum = 0;
  KxUpdateUmCallBack callback(
      [&uiSum](int32_t iObjId, uint64_t uiInfo) { uiSum += uiInfo + iObjId; });
  KxUpdateUmCallBack::NativeEntry entry = callback.GetNativeEntry();
  benchmark::DoNotOptimize(entry);
  for (auto _ : state) entry(1, 2);
  benchmark::DoNotOptimize(uiSum);
}
BENCHMARK(BM_UpdateCallbackEntry);

void BM_Baseline_StdFunctionCall(benchmark::State& state) {
  uint64_t uiSum = 0;
  std::function<void(int32_t, uint64_t)> target = [&uiSum](int32_t iObjId, uint64_t uiInfo) {
    uiSum += uiInfo + iObjId;
  };
  benchmark::DoNotOptimize(target);
  for (auto _ : state) target(1, 2);
  benchmark::DoNotOptimize(uiSum);
}
BENCHMARK(BM_Baseline_StdFunctionCall);

}  // namespace
