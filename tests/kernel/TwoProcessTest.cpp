// Two processes on one file through the native face: the child attaches to
// the parent's live data and enumerates under the shared lock while the
// parent adds and removes under the exclusive one. Every record keeps
// CompetitorId == 2 * CategoryId == 2 * key and the name "Swimmer <key>", so a
// half-written node shows. Both end with the same elements in the same
// order, and what the child then adds the parent reads without a save.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "templates/Varnox.h"
#include "tests/kernel/KernelEngineSupport.h"
#include "tests/kernel/KernelTestSupport.h"

namespace {

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

using Clock = std::chrono::steady_clock;

constexpr uint32_t kInitial = 500;      // elements before the writer starts
constexpr uint32_t kMaxLive = 800;      // the writer removes above this
constexpr uint32_t kMaxWrites = 50000;  // bounds of the concurrent phase
constexpr auto kWritePeriod = std::chrono::seconds(1);
constexpr uint32_t kMaxEnumerations = 200000;
constexpr uint32_t kChildAdds = 4000;  // enough to grow the storage
constexpr uint64_t kChildKeyBase = 100000000;
constexpr int kWaitMs = 30000;  // any wait for the other process

// Where the two processes meet: an anonymous shared mapping made before the
// fork. Stages move forward only.
enum Stage : uint32_t {
  kStart,
  kParentFilled,   // the parent created the file and added kInitial elements
  kChildAttached,  // the child opened the same path and enumerated once
  kParentDone,     // the parent stopped writing and published its elements
  kChildCompared,  // the child compared its view with the parent's
  kChildAdded,     // the child added kChildAdds elements
};

struct Meeting {
  std::atomic<uint32_t> uiStage{kStart};
  std::atomic<uint32_t> uiWriting{0};
  std::atomic<uint64_t> uiWrites{0};
  std::atomic<uint64_t> uiEnumerations{0};
  std::atomic<uint64_t> uiEnumerationsWhileWriting{0};
  std::atomic<uint64_t> uiViolations{0};
  uint32_t uiParentCount = 0;
  uint64_t aParentKeys[kMaxLive + 1] = {};
  char acFirstViolation[256] = {};
};

// Waits (polling) until the stage is at least `eStage`; false after kWaitMs
// or when `pOther` ended first.
bool WaitFor(const Meeting& meeting, Stage eStage, ForkedChild* pOther = nullptr) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
  while (meeting.uiStage.load() < eStage) {
    if (Clock::now() > deadline || (pOther != nullptr && !pOther->Running())) {
      return meeting.uiStage.load() >= eStage;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

using Competitors = CkxD2MapObjA<CkxCompetitor>;

// Adds `uiKey` with the writer's invariant; the caller holds the exclusive lock.
void AddCompetitor(Competitors& map, uint64_t uiKey) {
  const uint32_t uiHandle = map(D2MapCmd::Add, uiKey, nullptr);
  CkxCompetitor& swimmer = map[uiHandle];
  // The kernel call of the name between the two fields widens the window in
  // which a reader without the lock would see the record half-written.
  swimmer.CategoryId = static_cast<int32_t>(uiKey);
  SetText(swimmer.Name, EngineCompetitors::NameOf(uiKey));
  swimmer.CompetitorId = static_cast<int32_t>(2 * uiKey);
}

// Walks the map in order with [] reads and checks the writer's invariant on
// every node. Answers the keys met; a fault goes to `csFault`. The caller
// holds the shared lock.
std::vector<uint64_t> Enumerate(Competitors& map, std::string& csFault) {
  std::vector<uint64_t> keys;
  try {
    const uint32_t uiCount = map.GetCount();
    for (uint32_t h = map(D2MapCmd::Head, 0, nullptr); h != 0;
         h = map(D2MapCmd::Next, h, nullptr)) {
      CkxCompetitor& swimmer = map[h];
      const uint64_t uiKey = static_cast<uint32_t>(swimmer.CategoryId);
      if (swimmer.CompetitorId != static_cast<int32_t>(2 * uiKey) ||
          TextOf(swimmer.Name) != EngineCompetitors::NameOf(uiKey)) {
        csFault = "node " + std::to_string(h) + " half-written: CategoryId " +
                  std::to_string(swimmer.CategoryId) + ", CompetitorId " +
                  std::to_string(swimmer.CompetitorId);
        return keys;
      }
      keys.push_back(uiKey);
      if (keys.size() > uiCount) break;
    }
    if (keys.size() != uiCount) {
      csFault =
          "walked " + std::to_string(keys.size()) + " nodes, count " + std::to_string(uiCount);
    }
  } catch (const CkxOrbUnmanException& e) {
    std::string csText;
    csFault = "exception during the enumeration: " + e.GetErrorText(csText);
  }
  return keys;
}

// The child: attaches, enumerates while the parent writes, compares the end
// state, then adds elements of its own. Answers its exit code.
int Child(Meeting& meeting, const std::string& csPath) {
  if (!WaitFor(meeting, kParentFilled)) return 10;
  CkxVarnoxFT_COMPETITORS file;
  // No create, and no saved file exists: the open succeeds only by attaching.
  if (!OpenNative(file, csPath, "rw", false)) return 11;
  auto& map = file.m_CompetitorsStringMap.m_Container;
  auto violation = [&](const std::string& csFault) {
    if (meeting.uiViolations.fetch_add(1) == 0) {
      std::strncpy(meeting.acFirstViolation, csFault.c_str(), sizeof meeting.acFirstViolation - 1);
    }
  };

  while (meeting.uiStage.load() < kParentDone && meeting.uiEnumerations.load() < kMaxEnumerations) {
    const bool bWriting = meeting.uiWriting.load() != 0;
    std::string csFault;
    map.GetRWELock();
    Enumerate(map, csFault);
    map.ReleaseRWELock();
    if (!csFault.empty()) violation(csFault);
    meeting.uiEnumerations.fetch_add(1);
    if (bWriting && meeting.uiWriting.load() != 0) meeting.uiEnumerationsWhileWriting.fetch_add(1);
    uint32_t uiStage = kParentFilled;
    meeting.uiStage.compare_exchange_strong(uiStage, kChildAttached);
    // Leave the writer room: lock takers poll every millisecond.
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  if (!WaitFor(meeting, kParentDone)) return 12;

  // The end state: the same elements in the same order as the parent's.
  std::string csFault;
  map.GetRWELock();
  const std::vector<uint64_t> keys = Enumerate(map, csFault);
  map.ReleaseRWELock();
  if (!csFault.empty()) violation(csFault);
  if (keys !=
      std::vector<uint64_t>(meeting.aParentKeys, meeting.aParentKeys + meeting.uiParentCount)) {
    violation("the child sees " + std::to_string(keys.size()) + " elements, not the parent's " +
              std::to_string(meeting.uiParentCount));
  }
  meeting.uiStage.store(kChildCompared);

  // Changes of this process, for the parent to read without a save.
  map.GetARLock();
  for (uint64_t i = 0; i < kChildAdds; ++i) AddCompetitor(map, kChildKeyBase + i);
  map[map(D2MapCmd::Find, meeting.aParentKeys[0], nullptr)].CategoryId = -1;
  map.ReleaseARLock();
  meeting.uiStage.store(kChildAdded);
  file.UnLoad();
  return 0;
}

TEST(TwoProcess, EnumerationUnderTheSharedLockNeverMeetsAHalfWrittenNode) {
  const std::string csPath = KernelScratch::Get().Path("two-process.orb");
  Shared<Meeting> shared;
  Meeting& meeting = *shared;

  // Forked before the parent opens the file, so that the child inherits
  // nothing of it and has to open the path itself.
  ForkedChild child([&] { return Child(meeting, csPath); });
  ASSERT_GT(child.Pid(), 0);

  CkxVarnoxFT_COMPETITORS file;
  ASSERT_TRUE(OpenNative(file, csPath)) << KernelScratch::Get().Log();
  auto& map = file.m_CompetitorsStringMap.m_Container;
  std::vector<uint64_t> live;  // the parent's own account, in insertion order
  map.GetARLock();
  for (uint64_t uiKey = 1; uiKey <= kInitial; ++uiKey) {
    AddCompetitor(map, uiKey);
    live.push_back(uiKey);
  }
  map.ReleaseARLock();
  meeting.uiStage.store(kParentFilled);
  ASSERT_TRUE(WaitFor(meeting, kChildAttached, &child))
      << "the child did not attach; exit " << child.Wait() << KernelScratch::Get().Log();

  // Adds one element per round and, above kMaxLive, removes one: by key from
  // the middle, or by handle from the front.
  meeting.uiWriting.store(1);
  uint64_t uiNextKey = kInitial + 1;
  uint32_t uiSeed = 12345;
  const auto end = Clock::now() + kWritePeriod;
  for (uint32_t uiRound = 0; uiRound < kMaxWrites && Clock::now() < end; ++uiRound) {
    map.GetARLock();
    AddCompetitor(map, uiNextKey);
    live.push_back(uiNextKey++);
    if (live.size() > kMaxLive) {
      uiSeed = uiSeed * 1103515245 + 12345;
      if (uiRound % 2 == 0) {
        const size_t uiAt = (uiSeed >> 8) % live.size();
        EXPECT_NE(map(D2MapCmd::Remove, live[uiAt], nullptr), 0u);
        live.erase(live.begin() + static_cast<ptrdiff_t>(uiAt));
      } else {
        const uint32_t uiHead = map(D2MapCmd::Head, 0, nullptr);
        EXPECT_EQ(map(D2MapCmd::RemoveAt, uiHead, nullptr), uiHead);
        live.erase(live.begin());
      }
    }
    map.ReleaseARLock();
    meeting.uiWrites.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  meeting.uiWriting.store(0);

  // The parent's view agrees with its own account; publish it for the child.
  std::string csFault;
  map.GetRWELock();
  const std::vector<uint64_t> keys = Enumerate(map, csFault);
  map.ReleaseRWELock();
  EXPECT_EQ(csFault, "");
  ASSERT_EQ(keys, live);
  ASSERT_LE(keys.size(), kMaxLive);
  meeting.uiParentCount = static_cast<uint32_t>(keys.size());
  std::copy(keys.begin(), keys.end(), meeting.aParentKeys);
  meeting.uiStage.store(kParentDone);

  // What the child added and changed, seen here without a save.
  ASSERT_TRUE(WaitFor(meeting, kChildAdded, &child))
      << "exit " << child.Wait() << ": " << meeting.acFirstViolation << KernelScratch::Get().Log();
  EXPECT_EQ(map.GetCount(), keys.size() + kChildAdds);
  EXPECT_EQ(map[map(D2MapCmd::Find, keys[0], nullptr)].CategoryId, -1);
  for (uint64_t uiKey = kChildKeyBase; uiKey < kChildKeyBase + kChildAdds; ++uiKey) {
    const uint32_t uiHandle = map(D2MapCmd::Find, uiKey, nullptr);
    ASSERT_NE(uiHandle, 0u) << uiKey;
    ASSERT_EQ(TextOf(map[uiHandle].Name), EngineCompetitors::NameOf(uiKey));
  }

  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(meeting.uiViolations.load(), 0u) << meeting.acFirstViolation;
  EXPECT_GT(meeting.uiWrites.load(), 0u);
  EXPECT_GT(meeting.uiEnumerationsWhileWriting.load(), 0u)
      << "the enumerations did not overlap the writes";
  // No lock was forced open after its time-out (that would void the check).
  EXPECT_EQ(KernelScratch::Get().Log().find("Timed Out"), std::string::npos)
      << KernelScratch::Get().Log();
  EXPECT_FALSE(std::filesystem::exists(csPath)) << "nothing was saved";
  file.UnLoad();
}

}  // namespace
