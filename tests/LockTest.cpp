// The lock protocol on the lock words of the four lockable containers, with
// a fake clock whose 1 ms sleep advances a fake tick: the 10 s time-outs
// run in milliseconds and the number of sleeps is exact.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "tests/StorageBuilder.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

struct FakeClock {
  static inline uint32_t uiTick = 0;
  static inline uint32_t uiSleeps = 0;
  static inline std::function<void()> onSleep;

  static void Sleep1ms() {
    ++uiSleeps;
    ++uiTick;
    if (onSleep) onSleep();
  }
  static uint32_t TickMs() { return uiTick; }
};

struct Holder {
  CkxD2MapA<int32_t> m_Map;
  CkxD2a1dDA<int32_t> m_Array;
};

// One container kind seen through its lock operations.
struct LockTarget {
  std::string csName;
  uint32_t* pWord;
  uint32_t uiIdle;  // the word with no lock held
  std::string csARTimeout, csRWEOverflow, csRWETimeout;
  std::function<void()> GetAR, ReleaseAR, GetRWE, ReleaseRWE;
  std::function<bool()> Upgrade;
  std::function<void()> Change;  // what an upgrade must notice
};

// `csWho` names the container in time-out traces, `csOverflowWho` in the
// overflow trace.
template <class C>
LockTarget Target(const char* csName, C& c, uint32_t& uiWord, uint32_t uiIdle,
                  const std::string& csWho, const std::string& csOverflowWho,
                  std::function<void()> change) {
  return {csName,
          &uiWord,
          uiIdle,
          "###" + csWho + ".GetARLock: Timed Out !!!!",
          csOverflowWho +
              ".GetRWELock: More then 65000 Read, Write, Enumeration operations concurrently in "
              "progress !!!!",
          "###" + csWho + ".GetRWELock: Timed Out !!!!",
          [&c] { c.GetARLock(); },
          [&c] { c.ReleaseARLock(); },
          [&c] { c.GetRWELock(); },
          [&c] { c.ReleaseRWELock(); },
          [&c] { return c.GetARLockFromRWELock(); },
          std::move(change)};
}

// A top-level map whose record holds an embedded map and array, and a
// top-level array; the map's element access made its owner current.
struct LockWorld {
  LockWorld() : header(storage.NewMap()) {
    const uint32_t h = storage.AddNode(header, sizeof(Holder));
    storage.Record<Holder>(h).m_Map.m_Slot.header.lockWord = KxLockWord::kSignature;
    KxArrayHeader& arrayHeader = storage.At<KxArrayHeader>(storage.Alloc(sizeof(KxArrayHeader)));
    maps.Attach(storage, &header);
    arrays.Attach(storage, &arrayHeader);
    pHolder = &maps.m_Container[h];
  }

  std::vector<LockTarget> Targets() {
    // Kernel bits and a key-case bit that no lock operation may touch.
    constexpr uint32_t kMapIdle = KxLockWord::kSignature | 0x3 | KxLockWord::kKeyCase;
    auto& embedded = pHolder->m_Map;
    KxArrayHeader& arrayHeader = *arrays.m_Container.m_pHeader;
    KxArrayHeader& embeddedArray = pHolder->m_Array.m_Header;
    return {
        Target("top-level map", maps.m_Container, header.lockWord, kMapIdle, "CkxD2MapObjO",
               "CkxD2MapObjA", [this] { ++header.version; }),
        Target("embedded map", embedded, embedded.m_Slot.header.lockWord, kMapIdle, "CkxD2MapM",
               "CkxD2MapA", [&embedded] { embedded.IncrementVersion(); }),
        Target("top-level array", arrays.m_Container, arrayHeader.lockWord, 0, "CkxD2a1dDO",
               "CkxD2a1dDO", [&arrayHeader] { ++arrayHeader.size; }),
        Target("embedded array", pHolder->m_Array, embeddedArray.lockWord, 0, "CkxD2a1dDM",
               "CkxD2a1dDM", [&embeddedArray] { ++embeddedArray.size; }),
    };
  }

  StorageBuilder storage;
  TestMember<CkxD2MapObjA<Holder>> maps;
  TestMember<CkxD2a1dObjDA<int32_t>> arrays;
  KxContainerHeader& header;
  Holder* pHolder;
};

constexpr uint32_t kAR = KxLockWord::kARLock;
constexpr uint32_t kUnit = KxLockWord::kRWEUnit;

class LockTest : public TkNativeFaceTest {
 protected:
  void SetUp() override {
    TkNativeFaceTest::SetUp();
    m_World.emplace();  // its element access needs the thread slot
    m_Saved = KxLockClock();
    KxLockClock() = KxClock{FakeClock::Sleep1ms, FakeClock::TickMs};
    Restart(1000);
  }
  void TearDown() override {
    KxLockClock() = m_Saved;
    FakeClock::onSleep = nullptr;
    TkNativeFaceTest::TearDown();
  }
  // The fake time starts at `uiTick`; sleeps and calls are forgotten.
  void Restart(uint32_t uiTick) {
    FakeClock::uiTick = uiTick;
    FakeClock::uiSleeps = 0;
    FakeClock::onSleep = nullptr;
    kernel.ClearCalls();
  }

  KxClock m_Saved{};
  std::optional<LockWorld> m_World;
};

TEST_F(LockTest, SharedUnitsCountAndNeverGoBelowZeroAndTheExclusiveBitClearsThem) {
  for (LockTarget& t : m_World->Targets()) {
    SCOPED_TRACE(t.csName);
    Restart(1000);
    *t.pWord = t.uiIdle;
    t.GetRWE();
    t.GetRWE();
    EXPECT_EQ(*t.pWord, t.uiIdle + 2 * kUnit);
    for (int i = 0; i < 3; ++i) t.ReleaseRWE();
    EXPECT_EQ(*t.pWord, t.uiIdle);
    t.GetAR();
    EXPECT_EQ(*t.pWord, t.uiIdle | kAR);
    t.ReleaseAR();
    EXPECT_EQ(*t.pWord, t.uiIdle);
    *t.pWord = t.uiIdle | kAR | 3 * kUnit;  // as a forced lock may leave it
    t.ReleaseAR();
    EXPECT_EQ(*t.pWord, t.uiIdle);
    EXPECT_EQ(FakeClock::uiSleeps, 0u);
    EXPECT_TRUE(TraceMessages(kernel).empty());
  }
}

// A shared holder that never releases: after 10 s the exclusive lock is
// forced. A wrap of the tick restarts the period: 5 sleeps up to the wrap,
// then 10,001 more.
TEST_F(LockTest, ExclusiveLockIsForcedAfterTenSecondsAndATickWrapRestartsThePeriod) {
  const std::pair<uint32_t, uint32_t> aRuns[] = {{1000, 10001}, {0xFFFFFFFB, 10006}};
  for (const auto& [uiStart, uiSleeps] : aRuns) {
    for (LockTarget& t : m_World->Targets()) {
      SCOPED_TRACE(t.csName + " from tick " + std::to_string(uiStart));
      Restart(uiStart);
      *t.pWord = t.uiIdle + kUnit;
      t.GetAR();
      EXPECT_EQ(FakeClock::uiSleeps, uiSleeps);
      EXPECT_EQ(*t.pWord, t.uiIdle | kAR);
      EXPECT_EQ(TraceMessages(kernel), std::vector<std::string>{t.csARTimeout});
    }
  }
}

TEST_F(LockTest, SharedLockTimeOutClearsTheExclusiveBitAndTakesNoUnit) {
  for (LockTarget& t : m_World->Targets()) {
    SCOPED_TRACE(t.csName);
    Restart(1000);
    *t.pWord = t.uiIdle | kAR | 2 * kUnit;
    t.GetRWE();
    EXPECT_EQ(FakeClock::uiSleeps, 10001u);
    EXPECT_EQ(*t.pWord, t.uiIdle);
    EXPECT_EQ(TraceMessages(kernel), std::vector<std::string>{t.csRWETimeout});
  }
}

TEST_F(LockTest, MoreThan65000SharedUnitsResetTheCountBeforeTakingOne) {
  for (LockTarget& t : m_World->Targets()) {
    SCOPED_TRACE(t.csName);
    Restart(1000);
    *t.pWord = t.uiIdle + 65000 * kUnit;
    t.GetRWE();
    EXPECT_EQ(*t.pWord, t.uiIdle + 65001 * kUnit);
    EXPECT_TRUE(TraceMessages(kernel).empty());
    t.GetRWE();
    EXPECT_EQ(*t.pWord, t.uiIdle + kUnit);
    EXPECT_EQ(TraceMessages(kernel), std::vector<std::string>{t.csRWEOverflow});
  }
}

// The caller holds a unit, another reader one more that it gives back
// during the first wait, possibly after changing the container.
TEST_F(LockTest, UpgradeTellsWhetherTheContainerChangedWhileItWaited) {
  for (bool bChange : {false, true}) {
    for (LockTarget& t : m_World->Targets()) {
      SCOPED_TRACE(t.csName + (bChange ? " changed" : " unchanged"));
      Restart(1000);
      *t.pWord = t.uiIdle + 2 * kUnit;
      FakeClock::onSleep = [&] {
        if (FakeClock::uiSleeps != 1) return;
        if (bChange) t.Change();
        t.ReleaseRWE();
      };
      EXPECT_EQ(t.Upgrade(), bChange);
      EXPECT_EQ(FakeClock::uiSleeps, 1u);
      EXPECT_EQ(*t.pWord, t.uiIdle | kAR);
      t.ReleaseAR();
    }
  }
}

TEST_F(LockTest, ADestroyedMapMakesTheTakersThrowEvenWhileWaitingAndTheReleasesIdle) {
  const std::string csDestroyed = NodeFault(0, -1, -1);
  std::vector<LockTarget> targets = m_World->Targets();
  for (int i : {0, 1}) {
    LockTarget& t = targets[i];
    SCOPED_TRACE(t.csName);
    for (uint32_t uiWord : {KxLockWord::kDestroyed, 0x1A400000u | kUnit}) {
      Restart(1000);
      *t.pWord = uiWord;
      EXPECT_EQ(Fault(t.GetAR), csDestroyed);
      EXPECT_EQ(Fault(t.GetRWE), csDestroyed);
      EXPECT_EQ(Fault(t.Upgrade), csDestroyed);
      t.ReleaseRWE();
      t.ReleaseAR();
      EXPECT_EQ(*t.pWord, uiWord);
    }
    for (uint32_t uiHeld : {kUnit, kAR}) {
      Restart(1000);
      *t.pWord = t.uiIdle | uiHeld;
      FakeClock::onSleep = [&] { *t.pWord = KxLockWord::kDestroyed; };
      EXPECT_EQ(Fault(uiHeld == kUnit ? t.GetAR : t.GetRWE), csDestroyed);
      EXPECT_EQ(FakeClock::uiSleeps, 1u);
    }
    EXPECT_TRUE(TraceMessages(kernel).empty());
  }
}

}  // namespace
