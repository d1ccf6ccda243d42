// The native frame's own costs, each beside its floor in the same run:
//   - a version-guarded kernel call against the same indirect call unguarded;
//   - building an update record (checked formatting) against snprintf of the
//     same text into a buffer of the same size.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "NetInterface/CkxOrbNetInterface/CkxDtb2Obj.h"

namespace {

bool IsOpenStub(IkxDtb2File* self) { return self != nullptr; }

const IkxDtb2FileOps kFileOps = [] {
  IkxDtb2FileOps ops{};
  ops.IsOpen = IsOpenStub;
  return ops;
}();

void BM_GuardedKernelCall(benchmark::State& state) {
  IkxDtb2File file{&kFileOps};
  KxItf<IkxDtb2File> itf;
  itf.p = &file;
  itf.version = IkxDtb2FileOps::kVersion;
  benchmark::DoNotOptimize(itf);
  for (auto _ : state) {
    bool bOpen = itf.Call<&IkxDtb2FileOps::IsOpen>(false);
    benchmark::DoNotOptimize(bOpen);
  }
}
BENCHMARK(BM_GuardedKernelCall);

void BM_Floor_IndirectCall(benchmark::State& state) {
  IkxDtb2File file{&kFileOps};
  IkxDtb2File* p = &file;
  benchmark::DoNotOptimize(p);
  for (auto _ : state) {
    bool bOpen = p->ops->IsOpen(p);
    benchmark::DoNotOptimize(bOpen);
  }
}
BENCHMARK(BM_Floor_IndirectCall);

void BM_UpdateRecord(benchmark::State& state) {
  KxUpdateRecord record;
  const KxArg args[] = {KxArg(4), KxArg("H1"), KxArg(12345u)};
  for (auto _ : state) {
    KxBuildUpdateRecord(record, "Lane %d of heat %s: %u", args);
    benchmark::DoNotOptimize(record);
  }
}
BENCHMARK(BM_UpdateRecord);

void BM_Floor_Snprintf(benchmark::State& state) {
  KxUpdateRecord record;
  for (auto _ : state) {
    std::snprintf(record.text, sizeof record.text, "Lane %d of heat %s: %u", 4, "H1", 12345u);
    benchmark::DoNotOptimize(record);
  }
}
BENCHMARK(BM_Floor_Snprintf);

}  // namespace
