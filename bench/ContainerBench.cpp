// Element access of a top-level keyed map over hand-laid storage, each beside
// its floor in the same run:
//   - [] by handle (validation and the current object included) against the
//     record address computed from base and handle;
//   - a field read through [] against the same read through that address;
//   - an uncontended shared lock taken and released against a plain read of
//     the lock word, and against a bare atomic add and subtract on it.
// Handles cycle over 64 nodes in every loop; read fields are summed so that
// the read cannot be dropped.
#include <benchmark/benchmark.h>

#include <atomic>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"

namespace {

struct Rec {
  int32_t m_iValue;
  int32_t m_iPad;
};

// No kernel: every interface request is refused.
int RefuseAll(const char*, const char*, const int, void** ppInterface, uint32_t& uiVersion, void*) {
  *ppInterface = nullptr;
  uiVersion = 0;
  return 0;
}

constexpr uint32_t kNodes = 64;
constexpr uint32_t kNodeWords = (sizeof(KxMapNode) + sizeof(Rec)) / 4;

// No kernel, and thread slot 0 for the current object. Runs before the
// owner below asks for its interface.
bool NoKernel() {
  pfCreateKxComp = RefuseAll;
  dwIObjTlsInd = 0;
  KxBeginCurrentObjects(true);
  return true;
}

struct Bed {
  Bed() : aWords(16 + 8 + kNodes * kNodeWords) {
    pBase = reinterpret_cast<uint8_t*>(aWords.data());
    auto* pHeader = reinterpret_cast<KxContainerHeader*>(pBase + 4 * 16);
    pHeader->lockWord = KxLockWord::kSignature;
    pHeader->count = kNodes;
    for (uint32_t i = 0; i < kNodes; ++i) {
      aHandles[i] = 24 + i * kNodeWords;
      auto* pNode = reinterpret_cast<KxMapNode*>(pBase + 4 * aHandles[i]);
      pNode->signature = KxNodeState::kClean;
      pNode->nextHandle = i + 1 < kNodes ? aHandles[i] + kNodeWords : 0;
      reinterpret_cast<Rec*>(pNode + 1)->m_iValue = static_cast<int32_t>(i);
    }
    pHeader->headHandle = aHandles[0];
    uiLastValid = static_cast<uint32_t>(aWords.size());
    owner.m_ppStorageBase = &pBase;
    owner.m_pLastValidHandle = &uiLastValid;
    map.m_pHeader = pHeader;
    map.m_pOwner = &owner;
  }
  // The floor's way to a record: base plus handle, no checks.
  Rec* Plain(uint32_t uiHandle) const {
    return reinterpret_cast<Rec*>(*owner.m_ppStorageBase + 4 * size_t{uiHandle} +
                                  sizeof(KxMapNode));
  }

  bool bNoKernel = NoKernel();
  std::vector<uint64_t> aWords;
  uint8_t* pBase;
  uint32_t uiLastValid;
  uint32_t aHandles[kNodes];
  CkxDtb2Obj owner;
  CkxD2MapObjA<Rec> map;
};

Bed& TheBed() {
  static Bed bed;
  return bed;
}

void BM_MapElementAccess(benchmark::State& state) {
  Bed& bed = TheBed();
  uint32_t i = 0;
  for (auto _ : state) {
    Rec* pRec = &bed.map[bed.aHandles[i++ % kNodes]];
    benchmark::DoNotOptimize(pRec);
  }
}
BENCHMARK(BM_MapElementAccess);

void BM_Floor_RecordAddress(benchmark::State& state) {
  Bed& bed = TheBed();
  uint32_t i = 0;
  for (auto _ : state) {
    Rec* pRec = bed.Plain(bed.aHandles[i++ % kNodes]);
    benchmark::DoNotOptimize(pRec);
  }
}
BENCHMARK(BM_Floor_RecordAddress);

void BM_MapFieldRead(benchmark::State& state) {
  Bed& bed = TheBed();
  uint32_t i = 0;
  int32_t iSum = 0;
  for (auto _ : state) {
    iSum += bed.map[bed.aHandles[i++ % kNodes]].m_iValue;
    benchmark::DoNotOptimize(iSum);
  }
}
BENCHMARK(BM_MapFieldRead);

void BM_Floor_FieldRead(benchmark::State& state) {
  Bed& bed = TheBed();
  uint32_t i = 0;
  int32_t iSum = 0;
  for (auto _ : state) {
    iSum += bed.Plain(bed.aHandles[i++ % kNodes])->m_iValue;
    benchmark::DoNotOptimize(iSum);
  }
}
BENCHMARK(BM_Floor_FieldRead);

void BM_RWELockPair(benchmark::State& state) {
  Bed& bed = TheBed();
  for (auto _ : state) {
    bed.map.GetRWELock();
    bed.map.ReleaseRWELock();
  }
  benchmark::DoNotOptimize(bed.map.m_pHeader->lockWord);
}
BENCHMARK(BM_RWELockPair);

void BM_Floor_LockWordRead(benchmark::State& state) {
  Bed& bed = TheBed();
  uint32_t* pWord = &bed.map.m_pHeader->lockWord;
  benchmark::DoNotOptimize(pWord);
  for (auto _ : state) {
    uint32_t uiWord = *pWord;
    benchmark::DoNotOptimize(uiWord);
  }
}
BENCHMARK(BM_Floor_LockWordRead);

void BM_Floor_AtomicAddSub(benchmark::State& state) {
  Bed& bed = TheBed();
  std::atomic_ref<uint32_t> word(bed.map.m_pHeader->lockWord);
  for (auto _ : state) {
    word.fetch_add(KxLockWord::kRWEUnit, std::memory_order_acq_rel);
    word.fetch_sub(KxLockWord::kRWEUnit, std::memory_order_acq_rel);
  }
}
BENCHMARK(BM_Floor_AtomicAddSub);

}  // namespace
