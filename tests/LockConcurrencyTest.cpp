// Several threads take and release shared, exclusive and upgraded locks on
// one lock word with the real clock, counting holders beside the lock: a
// shared holder never meets an exclusive one, an exclusive holder is alone.
// Bounded by time and by rounds; run it under the thread sanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "tests/StorageBuilder.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

struct Tally {
  std::atomic<int> iShared{0};
  std::atomic<int> iExclusive{0};
  std::atomic<int> iOverlaps{0};
  std::atomic<int> iExclusiveRounds{0};
};

void Shared(Tally& tally) {
  ++tally.iShared;
  if (tally.iExclusive.load() != 0) ++tally.iOverlaps;
  --tally.iShared;
}

void Exclusive(Tally& tally) {
  if (++tally.iExclusive != 1 || tally.iShared.load() != 0) ++tally.iOverlaps;
  ++tally.iExclusiveRounds;
  --tally.iExclusive;
}

// Four threads, each starting with an exclusive round, then mostly shared
// rounds with an exclusive and an upgraded one in every eight.
void Hammer(const LockOps& ops, Tally& tally) {
  constexpr int kThreads = 4;
  constexpr int kMaxRounds = 40000;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kMaxRounds && (i == 0 || std::chrono::steady_clock::now() < deadline);
           ++i) {
        if (i % 8 == 0) {
          ops.GetAR();
          Exclusive(tally);
          ops.ReleaseAR();
        } else if (i % 8 == 4) {
          ops.GetRWE();
          Shared(tally);
          ops.Upgrade();
          Exclusive(tally);
          ops.ReleaseAR();
        } else {
          ops.GetRWE();
          Shared(tally);
          ops.ReleaseRWE();
        }
        std::this_thread::yield();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
}

struct Holder {
  int32_t m_iPad;
  CkxD2a1dDA<int32_t> m_Array;
};

// A top-level map of `iNodes` nodes, each holding an embedded array.
class LockConcurrencyTest : public TkNativeFaceTest {
 protected:
  uint32_t Build(int iNodes) {
    uint32_t hLast = 0;
    for (int i = 0; i < iNodes; ++i) hLast = storage.AddNode(header, sizeof(Holder));
    member.Attach(storage, &header);
    return hLast;
  }
  StorageBuilder storage;
  TestMember<CkxD2MapObjA<Holder>> member;
  KxContainerHeader& header = storage.NewMap();
  CkxD2MapObjA<Holder>& map = member.m_Container;
};

TEST_F(LockConcurrencyTest, SharedAndExclusiveHoldersNeverOverlapOnAMapOrAnArray) {
  // Embedded arrays find nothing through the current object for locking:
  // the lock word is all they need, on any thread.
  CkxD2a1dDA<int32_t>& array = map[Build(1)].m_Array;
  kernel.ClearCalls();
  for (const auto& [csName, ops, pWord, uiIdle] :
       {std::tuple{"map", OpsOf(map), &header.lockWord, KxLockWord::kSignature},
        std::tuple{"array", OpsOf(array), &array.m_Header.lockWord, 0u}}) {
    SCOPED_TRACE(csName);
    Tally tally;
    Hammer(ops, tally);
    EXPECT_EQ(tally.iOverlaps.load(), 0);
    EXPECT_GE(tally.iExclusiveRounds.load(), 4);
    EXPECT_EQ(*pWord, uiIdle);
  }
  EXPECT_TRUE(TraceMessages(kernel).empty());
}

// A walk holds its shared unit while it reads the chain: a writer that
// damages a node only under the exclusive lock is never seen by a walker.
TEST_F(LockConcurrencyTest, AWalkNeverSeesWhatAWriterRestoresBeforeReleasing) {
  uint32_t& uiSignature = storage.At<KxMapNode>(Build(200)).signature;
  std::atomic<bool> bDone{false};
  std::atomic<int> iSeen{0};
  std::thread writer([&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    for (int i = 0; i < 20000 && std::chrono::steady_clock::now() < deadline; ++i) {
      map.GetARLock();
      uiSignature = 0x12345678;
      for (int j = 0; j < 1000; ++j) std::this_thread::yield();
      uiSignature = KxNodeState::kClean;
      map.ReleaseARLock();
    }
    bDone = true;
  });
  while (!bDone) {
    if (Fault([&] { map(D2MapCmd::AtIndex, 200, nullptr); }) != "none") ++iSeen;
  }
  writer.join();
  EXPECT_EQ(iSeen.load(), 0);
}

}  // namespace
