// The framework's notification costs, each beside its floor in the same run:
//   - a property-changed dispatch to one handler against a plain
//     std::function call, and a user-interface write of a value (lock,
//     compare, write to the record, both events) beside them;
//   - refreshing an observable collection of 10,000 elements after one
//     element's value changed against enumerating the 10,000 handles
//     through the container alone (Head, Next), with no element view model
//     made, with a screenful (50) made and with all of them made; the
//     update names the changed element, or names nothing (then every
//     element made compares its record's stamp).
// The container is the framework tests' fake map with a linked list for
// Head and Next, so that both sides pay the same per handle.
#include <benchmark/benchmark.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "tests/framework/FakeContainers.h"

namespace {

using namespace fake;

constexpr uint32_t kElements = 10'000;

// The fake map with O(1) Head and Next over handles 1..kElements; element
// kToggled can be unlinked and linked again.
class LinkedMap : public Map {
 public:
  static constexpr uint32_t kToggled = kElements / 2;

  LinkedMap(std::shared_ptr<Store> pStore) : Map(std::move(pStore)), m_Next(kElements + 1) {
    for (uint32_t h = 1; h <= kElements; ++h) m_Next[h] = h < kElements ? h + 1 : 0;
  }
  uint32_t Head() override { return 1; }
  uint32_t Next(uint32_t h) override { return m_Next[h]; }
  void Toggle() {
    m_Next[kToggled - 1] = m_Next[kToggled - 1] == kToggled ? kToggled + 1 : kToggled;
  }

 private:
  std::vector<uint32_t> m_Next;
};

struct TenThousand {
  std::shared_ptr<Store> pStore = std::make_shared<Store>();
  std::shared_ptr<LinkedMap> pMap;
  TenThousand() {
    for (uint32_t i = 0; i < kElements; ++i) pStore->Insert(i, static_cast<int32_t>(i));
    pMap = std::make_shared<LinkedMap>(pStore);
  }
};

void BM_PlainFunctionCall(benchmark::State& state) {
  int32_t iSum = 0;
  std::function<void(const int32_t&, const int32_t&)> handler =
      [&](const int32_t& o, const int32_t& n) { iSum += n - o; };
  benchmark::DoNotOptimize(handler);
  int32_t i = 0;
  for (auto _ : state) {
    handler(i, i + 1);
    ++i;
  }
  benchmark::DoNotOptimize(iSum);
}
BENCHMARK(BM_PlainFunctionCall);

void BM_PropertyChangedDispatch(benchmark::State& state) {
  auto pValue = std::make_shared<OrbSimpleDataWrapper<int32_t>>(nullptr, 0, 0);
  int32_t iSum = 0;
  pValue->PropertyChanged().Add([&](const int32_t& o, const int32_t& n) { iSum += n - o; });
  int32_t i = 0;
  for (auto _ : state) {
    pValue->PropertyChanged().Raise(i, i + 1);
    ++i;
  }
  benchmark::DoNotOptimize(iSum);
}
BENCHMARK(BM_PropertyChangedDispatch);

void BM_UserWriteOfAValue(benchmark::State& state) {
  auto pStore = std::make_shared<Store>();
  const uint32_t h = pStore->Insert(0, 0);
  auto pVm = std::make_shared<ViewModel>(std::make_shared<Proxy>(pStore, h), nullptr);
  auto pNumber = pVm->NumberSlot();
  int32_t iSum = 0;
  pNumber->PropertyChanged().Add([&](const int32_t& o, const int32_t& n) { iSum += n - o; });
  int32_t i = 0;
  for (auto _ : state) pNumber->set_Value(++i);
  benchmark::DoNotOptimize(iSum);
}
BENCHMARK(BM_UserWriteOfAValue);

void BM_EnumerateHandlesThroughTheContainer(benchmark::State& state) {
  TenThousand bed;
  IOrbMap<uint64_t, Proxy>& map = *bed.pMap;
  for (auto _ : state) {
    bed.pMap->Toggle();
    uint32_t uiCount = 0;
    for (uint32_t h = map.Head(); h != 0; h = map.Next(h)) ++uiCount;
    benchmark::DoNotOptimize(uiCount);
  }
}
BENCHMARK(BM_EnumerateHandlesThroughTheContainer);

// Args: how many element view models were made (their Number read), and
// whether the update names the one element whose Number changed (1) or
// names nothing (0: each element made checks its record's stamp).
void BM_RefreshAfterOneChange(benchmark::State& state) {
  TenThousand bed;
  auto pRoot = std::make_shared<MapRoot>(bed.pMap, nullptr, 0);
  pRoot->Count();
  const auto iMade = static_cast<int32_t>(state.range(0));
  int32_t iChanges = 0;
  for (int32_t i = 0; i < iMade; ++i) {
    const auto pNumber = pRoot->Item(i)->NumberSlot();
    pNumber->Value();
    pNumber->PropertyChanged().Add([&](const int32_t&, const int32_t&) { ++iChanges; });
  }
  pRoot->Refresh();  // the stamps of the records shown
  constexpr uint32_t kChanged = LinkedMap::kToggled;
  const auto named = state.range(1) != 0
                         ? std::optional<std::vector<uint32_t>>(std::vector<uint32_t>{kChanged})
                         : std::nullopt;
  int32_t& iNumber = bed.pStore->records.at(kChanged).number;
  for (auto _ : state) {
    ++iNumber;
    pRoot->Tree().RefreshNamed(named);
  }
  const bool bShown = static_cast<int32_t>(kChanged) <= iMade;  // handle h is position h - 1
  if (iChanges != (bShown ? static_cast<int32_t>(state.iterations()) : 0))
    state.SkipWithError("missed a change");
}
BENCHMARK(BM_RefreshAfterOneChange)
    ->ArgsProduct({{0, 50, kElements}, {1, 0}})
    ->ArgNames({"made", "named"});

}  // namespace
