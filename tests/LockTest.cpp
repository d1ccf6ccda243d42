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
struct LockTarget : LockOps {
  std::string csName;
  uint32_t* pWord;
  uint32_t uiIdle;  // the word with no lock held
  std::string csARTimeout, csRWEOverflow, csRWETimeout;
  std::function<void()> Change;  // what an upgrade must notice
};

// `csWho` names the container in time-out traces, `csOverflowWho` in the
// overflow trace.
template <class C>
LockTarget Target(const char* csName, C& c, uint32_t& uiWord, uint32_t uiIdle,
                  const std::string& csWho, const std::string& csOverflowWho,
                  std::function<void()> change) {
  return {OpsOf(c),
          csName,
          &uiWord,
          uiIdle,
          "###" + csWho + ".GetARLock: Timed Out !!!!",
          csOverflowWho +
              ".GetRWELock: More then 65000 Read, Write, Enumeration operations concurrently in "
              "progress !!!!",
          "###" + csWho + ".GetRWELock: Timed Out !!!!",
          std::move(change)};
}

// A top-level map whose record holds an embedded map and array, and a
// top-level array; the map's element access made its owner current.
struct LockWorld {
  LockWorld() : header(storage.NewMap()) {
    const uint32_t h = storage.AddNode(header, sizeof(Holder));
    storage.Record<Holder>(h).m_Map.m_Slot.header.lockWord = KxLockWord::kSignature;
    // Versions not 0, so that an upgrade must compare them to see a change.
    header.version = 7;
    storage.Record<Holder>(h).m_Map.m_Slot.header.version = 7;
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

// One lock operation from a given word: the word it leaves, the sleeps it
// took and its trace line. A shared holder that never releases makes the
// exclusive lock wait 10 s and then force it; a wrap of the tick restarts the
// period (5 sleeps up to the wrap, then 10,001 more).
TEST_F(LockTest, EachOperationLeavesItsWordAfterItsSleepsWithItsTrace) {
  enum Op { kGetAR, kReleaseAR, kGetRWE, kReleaseRWE };
  enum Trace { kNone, kARTimeout, kRWEOverflow, kRWETimeout };
  struct Case {
    const char* csName;
    uint32_t uiStartTick;
    uint32_t uiWord;  // added to the idle word
    Op eOp;
    uint32_t uiExpected;  // added to the idle word
    uint32_t uiSleeps;
    Trace eTrace;
  };
  const Case aCases[] = {
      {"shared from idle", 1000, 0, kGetRWE, kUnit, 0, kNone},
      {"second shared", 1000, kUnit, kGetRWE, 2 * kUnit, 0, kNone},
      {"shared release", 1000, 2 * kUnit, kReleaseRWE, kUnit, 0, kNone},
      {"shared release at zero", 1000, 0, kReleaseRWE, 0, 0, kNone},
      {"exclusive from idle", 1000, 0, kGetAR, kAR, 0, kNone},
      {"exclusive release", 1000, kAR, kReleaseAR, 0, 0, kNone},
      {"exclusive release clears units", 1000, kAR | 3 * kUnit, kReleaseAR, 0, 0, kNone},
      {"exclusive forced", 1000, kUnit, kGetAR, kAR, 10001, kARTimeout},
      {"exclusive forced over a wrap", 0xFFFFFFFB, kUnit, kGetAR, kAR, 10006, kARTimeout},
      {"shared timed out", 1000, kAR | 2 * kUnit, kGetRWE, 0, 10001, kRWETimeout},
      {"shared at 65000", 1000, 65000 * kUnit, kGetRWE, 65001 * kUnit, 0, kNone},
      {"shared above 65000", 1000, 65001 * kUnit, kGetRWE, kUnit, 0, kRWEOverflow},
  };
  for (LockTarget& t : m_World->Targets()) {
    const std::function<void()> aOps[] = {t.GetAR, t.ReleaseAR, t.GetRWE, t.ReleaseRWE};
    const std::string aTraces[] = {"", t.csARTimeout, t.csRWEOverflow, t.csRWETimeout};
    for (const Case& c : aCases) {
      SCOPED_TRACE(t.csName + ": " + c.csName);
      Restart(c.uiStartTick);
      *t.pWord = t.uiIdle + c.uiWord;
      aOps[c.eOp]();
      EXPECT_EQ(*t.pWord, t.uiIdle + c.uiExpected);
      EXPECT_EQ(FakeClock::uiSleeps, c.uiSleeps);
      const std::vector<std::string> aExpected =
          c.eTrace == kNone ? std::vector<std::string>{} : std::vector{aTraces[c.eTrace]};
      EXPECT_EQ(TraceMessages(kernel), aExpected);
    }
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
