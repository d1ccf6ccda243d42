// The object face's access layer on the reference kernel, each figure beside
// its baselines in the same run:
//   - an int32 field at depth 0 (a competitor's CategoryId) and a lap time at
//     depth 4 read through a member proxy or value-array wrapper, through the
//     native face's element access along the same containers, and through a
//     raw pointer taken once;
//   - a string field (a competitor's Name) through a proxy, beside the native
//     GetNet plus a copy into a std::u16string;
//   - a range-for over 100,000 competitors reading one field, beside the
//     native Head/Next enumeration of the same map.
// Read values are summed so that the reads cannot be dropped.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "bench/BenchKernel.h"
#include "access/VarnoxAccess.h"
#include "templates/Varnox.h"

namespace {

using namespace Tarvex::Orb::Data::Varnox;
using namespace Tarvex::Orb::DataDirectAcces;

constexpr uint32_t kCompetitors = 100000;

// 100,000 competitors and one schedule entry down to its lap times, made
// natively; the object face's wrappers over them.
struct Bed {
  Bed() {
    Open(competitors, varnox_bench::Scratch().csFiles + "/competitors.orb");
    Open(races, varnox_bench::Scratch().csFiles + "/races.orb");
    auto& map = competitors.m_CompetitorsStringMap.m_Container;
    for (uint32_t i = 0; i < kCompetitors; ++i) {
      const uint32_t h = map(D2MapCmd::Add, uint64_t{i} * 7919, nullptr);
      map[h].CategoryId = static_cast<int32_t>(i % 97);
      map[h].Name.ReserveNet(16);
      map[h].Name.SetNet(u"Competitor name!", 16);
    }
    uiCompetitor = map(D2MapCmd::Find, uint64_t{4242} * 7919, nullptr);

    auto& entries = races.m_ScheduleEntries.m_Container;
    uiEntry = entries(D2MapCmd::Add, 0, "R1");
    uiHeat = entries[uiEntry].Heats(D2MapCmd::Add, 0, "H1");
    uiLane = entries[uiEntry].Heats[uiHeat].LaneResults(D2MapCmd::Add, 4, nullptr);
    entries[uiEntry].Heats[uiHeat].LaneResults[uiLane].Laps.SetSize(2);
    for (uint32_t i = 0; i < 8; ++i)
      entries[uiEntry].Heats[uiHeat].LaneResults[uiLane].Laps[1].Time[i] = 1000 + i;

    pCompetitors = std::make_shared<D2oVarnox_FT_COMPETITORS_CompetitorsStringMap>(
        &competitors.m_CompetitorsStringMap, nullptr);
    pCompetitor = pCompetitors->Item(uiCompetitor);
    pTimes = std::make_shared<D2oVarnox_FT_RACES_ScheduleEntries>(&races.m_ScheduleEntries, nullptr)
                 ->Item(u"R1")
                 ->Heats()
                 ->Item(u"H1")
                 ->LaneResults()
                 ->Item(uint64_t{4})
                 ->Laps()
                 ->Item(1)
                 ->Time();
  }

  template <class File>
  static void Open(File& file, const std::string& csPath) {
    if (file.OpenUnm(csPath.c_str(), nullptr, nullptr, "rw", "", true, nullptr, 0, 0, nullptr) <= 0) {
      std::fprintf(stderr, "varnox bench: cannot open %s\n", csPath.c_str());
      std::exit(1);
    }
  }

  // First: the kernel is loaded before the file templates ask for it.
  const bool bKernelStarted = (varnox_bench::UseKernel(), true);
  CkxVarnoxFT_COMPETITORS competitors;
  CkxVarnoxFT_RACES races;
  uint32_t uiCompetitor, uiEntry, uiHeat, uiLane;
  std::shared_ptr<D2oVarnox_FT_COMPETITORS_CompetitorsStringMap> pCompetitors;
  std::shared_ptr<Id2sCkxCompetitor> pCompetitor;
  std::shared_ptr<IOrbArray1D<uint32_t>> pTimes;
};

Bed& TheBed() {
  static Bed* s_pBed = new Bed();  // kept to the end: the files stay open
  return *s_pBed;
}

// --- an int32 at depth 0 ---------------------------------------------------

void BM_Depth0Int_Proxy(benchmark::State& state) {
  Bed& bed = TheBed();
  int64_t liSum = 0;
  for (auto _ : state) liSum += bed.pCompetitor->CategoryId();
  benchmark::DoNotOptimize(liSum);
}
BENCHMARK(BM_Depth0Int_Proxy);

void BM_Depth0Int_Native(benchmark::State& state) {
  Bed& bed = TheBed();
  auto& map = bed.competitors.m_CompetitorsStringMap.m_Container;
  int64_t liSum = 0;
  for (auto _ : state) liSum += map[bed.uiCompetitor].CategoryId;
  benchmark::DoNotOptimize(liSum);
}
BENCHMARK(BM_Depth0Int_Native);

void BM_Depth0Int_RawPointer(benchmark::State& state) {
  Bed& bed = TheBed();
  const int32_t* pField = &bed.competitors.m_CompetitorsStringMap.m_Container[bed.uiCompetitor].CategoryId;
  int64_t liSum = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pField);
    liSum += *pField;
  }
  benchmark::DoNotOptimize(liSum);
}
BENCHMARK(BM_Depth0Int_RawPointer);

// --- a lap time at depth 4 -------------------------------------------------

void BM_Depth4LapTime_Proxy(benchmark::State& state) {
  Bed& bed = TheBed();
  int64_t liSum = 0;
  for (auto _ : state) liSum += bed.pTimes->Item(3);
  benchmark::DoNotOptimize(liSum);
}
BENCHMARK(BM_Depth4LapTime_Proxy);

void BM_Depth4LapTime_Native(benchmark::State& state) {
  Bed& bed = TheBed();
  auto& entries = bed.races.m_ScheduleEntries.m_Container;
  int64_t liSum = 0;
  for (auto _ : state)
    liSum += entries[bed.uiEntry].Heats[bed.uiHeat].LaneResults[bed.uiLane].Laps[1].Time[3];
  benchmark::DoNotOptimize(liSum);
}
BENCHMARK(BM_Depth4LapTime_Native);

void BM_Depth4LapTime_RawPointer(benchmark::State& state) {
  Bed& bed = TheBed();
  auto& entries = bed.races.m_ScheduleEntries.m_Container;
  const uint32_t* pTime = &entries[bed.uiEntry].Heats[bed.uiHeat].LaneResults[bed.uiLane].Laps[1].Time[3];
  int64_t liSum = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pTime);
    liSum += *pTime;
  }
  benchmark::DoNotOptimize(liSum);
}
BENCHMARK(BM_Depth4LapTime_RawPointer);

// --- a string field ----------------------------------------------------------

void BM_String_Proxy(benchmark::State& state) {
  Bed& bed = TheBed();
  size_t uiSum = 0;
  for (auto _ : state) uiSum += bed.pCompetitor->Name().size();
  benchmark::DoNotOptimize(uiSum);
}
BENCHMARK(BM_String_Proxy);

void BM_String_NativeGetNetAndCopy(benchmark::State& state) {
  Bed& bed = TheBed();
  auto& map = bed.competitors.m_CompetitorsStringMap.m_Container;
  size_t uiSum = 0;
  for (auto _ : state) {
    int iLength = 0;
    const char16_t* p = map[bed.uiCompetitor].Name.GetNet(&iLength);
    std::u16string csName = iLength > 0 ? std::u16string(p, static_cast<size_t>(iLength)) : std::u16string();
    uiSum += csName.size();
  }
  benchmark::DoNotOptimize(uiSum);
}
BENCHMARK(BM_String_NativeGetNetAndCopy);

void BM_String_RawPointerCopy(benchmark::State& state) {
  Bed& bed = TheBed();
  int iLength = 0;
  const char16_t* p =
      bed.competitors.m_CompetitorsStringMap.m_Container[bed.uiCompetitor].Name.GetNet(&iLength);
  size_t uiSum = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(p);
    std::u16string csName(p, static_cast<size_t>(iLength));
    uiSum += csName.size();
  }
  benchmark::DoNotOptimize(uiSum);
}
BENCHMARK(BM_String_RawPointerCopy);

// --- 100,000 competitors ----------------------------------------------------

void BM_Enumerate100k_RangeFor(benchmark::State& state) {
  Bed& bed = TheBed();
  int64_t liSum = 0;
  for (auto _ : state) {
    for (const auto& competitor : *bed.pCompetitors) liSum += competitor->CategoryId();
  }
  benchmark::DoNotOptimize(liSum);
  state.SetItemsProcessed(state.iterations() * kCompetitors);
}
BENCHMARK(BM_Enumerate100k_RangeFor)->Unit(benchmark::kMillisecond);

void BM_Enumerate100k_Native(benchmark::State& state) {
  Bed& bed = TheBed();
  auto& map = bed.competitors.m_CompetitorsStringMap.m_Container;
  int64_t liSum = 0;
  for (auto _ : state) {
    for (uint32_t h = map(D2MapCmd::Head, 0, nullptr); h != 0; h = map(D2MapCmd::Next, h, nullptr))
      liSum += map[h].CategoryId;
  }
  benchmark::DoNotOptimize(liSum);
  state.SetItemsProcessed(state.iterations() * kCompetitors);
}
BENCHMARK(BM_Enumerate100k_Native)->Unit(benchmark::kMillisecond);

}  // namespace
