// Keyed maps over hand-laid kernel storage: handle validation, node states,
// the local walk, the thread's current kernel object and what goes to the
// kernel.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "tests/StorageBuilder.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

struct Contact {
  int32_t m_iId;
  int32_t m_iPad;
};

struct Lane {
  int32_t m_iLane;
  int32_t m_iPad;
  CkxD2MapA<Contact> m_Contacts;
};

// A top-level map of three lanes; the first lane holds two contacts.
struct MapWorld {
  MapWorld() : header(storage.NewMap()) {
    for (int i = 0; i < 3; ++i) {
      aLanes[i] = storage.AddNode(header, sizeof(Lane));
      storage.Record<Lane>(aLanes[i]).m_iLane = i + 1;
    }
    KxContainerHeader& contacts = Embedded().m_Slot.header;
    contacts.lockWord = KxLockWord::kSignature;
    for (int i = 0; i < 2; ++i) {
      aContacts[i] = storage.AddNode(contacts, sizeof(Contact));
      storage.Record<Contact>(aContacts[i]).m_iId = 10 + i;
    }
    member.Attach(storage, &header);
  }
  CkxD2MapObjA<Lane>& Map() { return member.m_Container; }
  CkxD2MapA<Contact>& Embedded() { return storage.Record<Lane>(aLanes[0]).m_Contacts; }
  KxMapNode& Node(uint32_t uiHandle) { return storage.At<KxMapNode>(uiHandle); }

  StorageBuilder storage;
  TestMember<CkxD2MapObjA<Lane>> member;
  KxContainerHeader& header;
  uint32_t aLanes[3];
  uint32_t aContacts[2];
};

class MapTest : public TkNativeFaceTest {};

TEST_F(MapTest, ElementAccessChecksInstanceThenHandleThenNodeSignature) {
  enum Handle { kLane, kLastValid, kTopBit, kInsideRecord };
  enum Outcome { kRecord, kDestroyed, kOutside, kBadNode };
  struct Case {
    const char* csName;
    uint32_t uiLockWord;   // of the map header
    uint32_t uiSignature;  // of the lane's node
    Handle eHandle;
    Outcome eOutcome;
  };
  constexpr uint32_t kLive = KxLockWord::kSignature, kClean = KxNodeState::kClean;
  constexpr uint32_t kModified = KxNodeState::kModifiedBase;
  const Case aCases[] = {
      {"clean", kLive, kClean, kLane, kRecord},
      {"delete candidate", kLive, KxNodeState::kDeleteCandidate, kLane, kRecord},
      {"modified 31 times", kLive, kModified + 8 * 31, kLane, kRecord},
      {"destroyed word before the handle", KxLockWord::kDestroyed, kClean, kLastValid, kDestroyed},
      {"other instance signature", 0x1A400000, kClean, kLane, kDestroyed},
      {"handle at the last valid one", kLive, kClean, kLastValid, kOutside},
      {"handle with the top bit set", kLive, kClean, kTopBit, kOutside},
      {"modified 32 times", kLive, kModified + 8 * 32, kLane, kBadNode},
      {"modified with count 0", kLive, kModified, kLane, kBadNode},
      {"a word inside a record", kLive, kClean, kInsideRecord, kBadNode},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(c.csName);
    MapWorld world;
    const uint32_t uiLast = world.storage.m_uiLastValid;
    const uint32_t aHandles[] = {world.aLanes[1], uiLast, 0x80000010u, world.aLanes[1] + 4};
    const uint32_t h = aHandles[c.eHandle];
    world.header.lockWord = c.uiLockWord;
    world.Node(world.aLanes[1]).signature = c.uiSignature;
    Lane* pLane = nullptr;
    const std::string aExpected[] = {
        "none", NodeFault(h, -1, -1), NodeFault(h, 0, uiLast),
        c.eOutcome == kBadNode ? NodeFault(h, world.Node(h).signature, uiLast) : ""};
    EXPECT_EQ(Fault([&] { pLane = &world.Map()[h]; }), aExpected[c.eOutcome]);
    if (c.eOutcome == kRecord) {
      EXPECT_EQ(reinterpret_cast<uint8_t*>(pLane), reinterpret_cast<uint8_t*>(&world.Node(h)) + 64);
    }
  }
  MapWorld world;
  world.Map().m_pHeader = nullptr;
  EXPECT_EQ(Fault([&] { world.Map()[world.aLanes[0]]; }), NodeFault(world.aLanes[0], -1, -1));
}

// The node states as one table of transitions: a delete candidate is not
// alive, modifications nest up to 31 and unwind to clean, a modified node
// that becomes a delete candidate forgets its count, and what is no node
// has no state and keeps its word. Argument 1 sets, 0 clears, -1 asks.
TEST_F(MapTest, NodeStatesMoveAlongTheirTransitions) {
  constexpr uint32_t kClean = KxNodeState::kClean, kCandidate = KxNodeState::kDeleteCandidate,
                     kNoNode = 0x12345678;
  auto modified = [](uint32_t n) { return KxNodeState::kModifiedBase + 8 * n; };
  enum Op { kCandidacy, kModification };
  struct Case {
    uint32_t uiBefore;
    Op eOp;
    int iArg;
    int iAnswer;
    uint32_t uiAfter;
  };
  const Case aCases[] = {
      {kClean, kCandidacy, 1, KxNodeDeleteCandidate, kCandidate},
      {kCandidate, kCandidacy, -1, KxNodeDeleteCandidate, kCandidate},
      {kCandidate, kModification, 1, KxNodeNone, kCandidate},
      {kCandidate, kModification, -1, KxNodeNone, kCandidate},
      {kCandidate, kCandidacy, 0, KxNodeClean, kClean},
      {kClean, kModification, 1, KxNodeModified, modified(1)},
      {modified(1), kModification, 1, KxNodeModified, modified(2)},
      {modified(30), kModification, 1, KxNodeModified, modified(31)},
      {modified(31), kModification, 1, KxNodeModified, modified(31)},
      {modified(31), kModification, -1, KxNodeModified, modified(31)},
      {modified(31), kCandidacy, 0, KxNodeModified, modified(31)},
      {modified(2), kModification, 0, KxNodeModified, modified(1)},
      {modified(1), kModification, 0, KxNodeClean, kClean},
      {kClean, kModification, 0, KxNodeClean, kClean},
      {modified(5), kCandidacy, 1, KxNodeDeleteCandidate, kCandidate},
      {kNoNode, kCandidacy, 1, KxNodeNone, kNoNode},
      {kNoNode, kModification, 1, KxNodeNone, kNoNode},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(&c - aCases);
    MapWorld world;
    auto& map = world.Map();
    const uint32_t h = world.aLanes[1];
    world.Node(h).signature = c.uiBefore;
    const auto eAnswer = c.eOp == kCandidacy ? map.SetDeleteCandidate(h, c.iArg)
                                             : map.SetAsModified(h, c.iArg);
    EXPECT_EQ(eAnswer, c.iAnswer);
    EXPECT_EQ(world.Node(h).signature, c.uiAfter);
    EXPECT_EQ(map.IsAlive(h), c.uiAfter != kCandidate && c.uiAfter != kNoNode);
  }

  // A delete candidate's record stays readable; handles that hold no node
  // and a destroyed map have no state; nothing throws.
  MapWorld world;
  auto& map = world.Map();
  map.SetDeleteCandidate(world.aLanes[1], 1);
  EXPECT_EQ(map[world.aLanes[1]].m_iLane, 2);
  for (bool bDestroyed : {false, true}) {
    if (bDestroyed) world.header.lockWord = KxLockWord::kDestroyed;
    for (uint32_t uiHandle : {world.storage.m_uiLastValid, 0u, bDestroyed ? world.aLanes[0] : 0u}) {
      EXPECT_FALSE(map.IsAlive(uiHandle));
      EXPECT_EQ(map.SetDeleteCandidate(uiHandle, 1), KxNodeNone);
      EXPECT_EQ(map.SetAsModified(uiHandle, 1), KxNodeNone);
    }
  }
}

TEST_F(MapTest, HeadNextAndAtIndexWalkTheChainHereAndLeaveNoSharedUnit) {
  MapWorld world, empty;
  empty.header = KxContainerHeader{0, 0, 0, KxLockWord::kSignature, 0, 0};
  auto& map = world.Map();
  kernel.ClearCalls();
  EXPECT_EQ(map(D2MapCmd::Head, 0, nullptr), world.aLanes[0]);
  EXPECT_EQ(map(D2MapCmd::Next, world.aLanes[0], nullptr), world.aLanes[1]);
  EXPECT_EQ(map(D2MapCmd::Next, world.aLanes[2], nullptr), 0u);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(map(D2MapCmd::AtIndex, i, nullptr), world.aLanes[i]);
  EXPECT_EQ(map(D2MapCmd::AtIndex, 3, nullptr), 0u);
  EXPECT_EQ(map(D2MapCmd::AtIndex, 1000, nullptr), 0u);
  EXPECT_EQ(Fault([&] { map(D2MapCmd::Next, world.storage.m_uiLastValid, nullptr); }),
            NodeFault(world.storage.m_uiLastValid, 0, world.storage.m_uiLastValid));

  map[world.aLanes[0]];
  auto& contacts = world.Embedded();
  EXPECT_EQ(contacts(D2MapCmd::Head, 0, nullptr), world.aContacts[0]);
  EXPECT_EQ(contacts(D2MapCmd::Next, world.aContacts[0], nullptr), world.aContacts[1]);

  EXPECT_EQ(empty.Map()(D2MapCmd::AtIndex, 0, nullptr), 0u);
  EXPECT_EQ(empty.Map()(D2MapCmd::Head, 0, nullptr), 0u);

  EXPECT_EQ(world.header.lockWord, KxLockWord::kSignature);
  EXPECT_EQ(empty.header.lockWord, KxLockWord::kSignature);
  EXPECT_EQ(kernel.Log("CkxDtb2Obj"), "");
}

TEST_F(MapTest, AtIndexGivesBackItsSharedUnitWhenTheWalkMeetsABadNode) {
  MapWorld world;
  world.Node(world.aLanes[1]).signature = 0x12345678;
  world.header.lockWord = KxLockWord::kSignature + KxLockWord::kRWEUnit;  // another reader
  EXPECT_EQ(Fault([&] { world.Map()(D2MapCmd::AtIndex, 2, nullptr); }),
            NodeFault(world.aLanes[1], 0x12345678, world.storage.m_uiLastValid));
  EXPECT_EQ(world.header.lockWord, KxLockWord::kSignature + KxLockWord::kRWEUnit);
}

TEST_F(MapTest, TopLevelAccessMakesItsOwnerCurrentForTheCallingThreadOnly) {
  MapWorld world;
  Lane& lane = world.Map()[world.aLanes[0]];
  EXPECT_EQ(KxCurrentObject(), &world.member);
  EXPECT_EQ(lane.m_Contacts[world.aContacts[1]].m_iId, 11);
  EXPECT_EQ(lane.m_Contacts.GetCount(), 2u);

  std::string csBefore, csAfter;
  std::thread([&] {
    csBefore = Fault([&] { lane.m_Contacts[world.aContacts[1]]; });
    world.Map()[world.aLanes[0]];
    csAfter = Fault([&] { EXPECT_EQ(lane.m_Contacts[world.aContacts[1]].m_iId, 11); });
  }).join();
  EXPECT_EQ(csBefore, NodeFault(world.aContacts[1], -1, -1));
  EXPECT_EQ(csAfter, "none");

  // An embedded map addresses its nodes in the current object's storage:
  // after another owner's element access they are that owner's nodes.
  MapWorld other;
  other.storage.Record<Contact>(other.aContacts[0]).m_iId = 99;
  other.Map().GetCount();  // not an element access: the current object stays
  EXPECT_EQ(lane.m_Contacts[world.aContacts[0]].m_iId, 10);
  other.Map()[other.aLanes[2]];
  EXPECT_EQ(KxCurrentObject(), &other.member);
  EXPECT_EQ(lane.m_Contacts[world.aContacts[0]].m_iId, 99);
}

// With the thread-slot index the kernel hands out, a top-level access makes
// its owner current and embedded maps reach their nodes; without one (a
// connection below version 8) nothing is current and an embedded map looks
// destroyed.
class ThreadSlotTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    kernel.Reset();
    if (!GetParam()) kernel.Grant("CkxDtb2Connection", 7);
    KxInitCatAssembly(false);
  }
  void TearDown() override {
    while (catRefCnt > 0) KxEndCatAssembly();
  }

  TestKernel& kernel = TkLoad();
};

TEST_P(ThreadSlotTest, TheIndexHoldsTheCurrentObjectForOneStartUpOnly) {
  const bool bSlot = GetParam();
  MapWorld world;
  Lane& lane = world.Map()[world.aLanes[0]];
  EXPECT_EQ(KxCurrentObject(), bSlot ? &world.member : nullptr);
  EXPECT_EQ(Fault([&] { EXPECT_EQ(lane.m_Contacts[world.aContacts[1]].m_iId, 11); }),
            bSlot ? "none" : NodeFault(world.aContacts[1], -1, -1));

  // An object made current under an earlier start-up does not count under
  // the next one, though the kernel hands out the same index again.
  KxEndCatAssembly();
  KxInitCatAssembly(false);
  EXPECT_EQ(KxCurrentObject(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Indexes, ThreadSlotTest, ::testing::Bool());

TEST_F(MapTest, OtherCommandsGoToTheKernelWithKeyTextAndHeader) {
  using namespace D2MapCmd;
  const std::vector<Cmd> aForwarded = {
      Add,     Find,     Remove,   RemoveAt,           RemoveAll,       Clear,
      ClearAt, DispStat, ClearAll, RemoveNotProtected, AddNotProtected, FindNotProt};
  MapWorld world;
  world.Map()[world.aLanes[0]];
  for (bool bTopLevel : {true, false}) {
    std::vector<Cmd> aCommands = aForwarded;
    if (bTopLevel) aCommands.insert(aCommands.end(), {KeyNoCase, KeyCase});
    if (!bTopLevel) aCommands.push_back(AtIndex);
    for (Cmd eCmd : aCommands) {
      SCOPED_TRACE(std::to_string(eCmd) + (bTopLevel ? " top-level" : " embedded"));
      kernel.ClearCalls();
      const uint32_t uiResult =
          bTopLevel ? world.Map()(eCmd, 5000000000u, "R1") : world.Embedded()(eCmd, 7, nullptr);
      const auto calls = kernel.CallsOf("CkxDtb2Obj");
      ASSERT_EQ(calls.size(), 1u);
      EXPECT_EQ(uiResult, calls[0].answer);
      EXPECT_EQ(calls[0].Line(), "CkxDtb2Obj#1 " +
                                     std::string(bTopLevel ? "MapCmd(" : "EmbeddedMapCmd(") +
                                     std::to_string(eCmd) +
                                     (bTopLevel ? ",5000000000,\"R1\",ptr)" : ",7,null,ptr)"));
      EXPECT_EQ(calls[0].slot, bTopLevel ? 11 : 10);
      EXPECT_EQ(calls[0].ptrs.at(0), bTopLevel ? &world.header : &world.Embedded().m_Slot.header);
    }
  }

  kernel.Refuse("CkxDtb2Obj");
  MapWorld refused;
  refused.Map()[refused.aLanes[0]];
  kernel.ClearCalls();
  EXPECT_EQ(refused.Map()(D2MapCmd::Add, 1, nullptr), 0u);
  EXPECT_EQ(refused.Embedded()(D2MapCmd::AtIndex, 1, nullptr), 0u);
  EXPECT_EQ(kernel.Log("CkxDtb2Obj"), "");
}

TEST_F(MapTest, KeyCaseSwitchesOfEmbeddedMapsChangeOnlyAChosenCase) {
  constexpr uint32_t kCase = KxLockWord::kKeyCase, kNoCase = KxLockWord::kKeyNoCase;
  struct Case {
    uint32_t uiBits;
    D2MapCmd::Cmd eCmd;
    uint32_t uiExpected;
  };
  const Case aCases[] = {
      {kCase, D2MapCmd::KeyNoCase, kNoCase}, {kNoCase, D2MapCmd::KeyCase, kCase},
      {kCase, D2MapCmd::KeyCase, kCase},     {kCase | kNoCase, D2MapCmd::KeyCase, kCase},
      {0, D2MapCmd::KeyNoCase, 0},           {0, D2MapCmd::KeyCase, 0},
  };
  // Kernel bits, a shared unit and the signature stay as they are.
  constexpr uint32_t kOther = KxLockWord::kSignature | 0x3 | KxLockWord::kRWEUnit;
  MapWorld world;
  world.Map()[world.aLanes[0]];
  kernel.ClearCalls();
  for (const Case& c : aCases) {
    uint32_t& uiWord = world.Embedded().m_Slot.header.lockWord;
    uiWord = kOther | c.uiBits;
    EXPECT_EQ(world.Embedded()(c.eCmd, 0, nullptr), 0u);
    EXPECT_EQ(uiWord, kOther | c.uiExpected) << c.uiBits << " " << c.eCmd;
  }
  EXPECT_EQ(kernel.Log("CkxDtb2Obj"), "");
}

TEST_F(MapTest, GetKeyNeedsVersion2AndItsUnprotectedFormVersion9) {
  struct Form {
    bool bTopLevel, bProtected;
    uint32_t uiMinimum;
    const char* csOp;
  };
  const Form aForms[] = {
      {true, true, 2, "MapGetKey"},
      {false, true, 2, "EmbeddedMapGetKey"},
      {true, false, 9, "MapGetKeyNotProt"},
      {false, false, 9, "EmbeddedMapGetKeyNotProt"},
  };
  for (uint32_t uiVersion : {1u, 2u, 8u, 9u}) {
    kernel.Grant("CkxDtb2Obj", uiVersion);
    MapWorld world;
    world.Map()[world.aLanes[0]];
    for (const Form& f : aForms) {
      SCOPED_TRACE(std::string(f.csOp) + " at version " + std::to_string(uiVersion));
      kernel.ClearCalls();
      uint64_t uiKey = 5;
      std::string csKey = "stale";
      const uint32_t h = f.bTopLevel ? world.aLanes[2] : world.aContacts[1];
      auto& top = world.Map();
      auto& embedded = world.Embedded();
      if (f.bTopLevel) {
        f.bProtected ? top.GetKey(h, uiKey, csKey, true) : top.GetKeyNotProt(h, uiKey, csKey, true);
      } else {
        f.bProtected ? embedded.GetKey(h, uiKey, csKey, false)
                     : embedded.GetKeyNotProt(h, uiKey, csKey, false);
      }
      // The kernel finds no node in hand-laid storage: both ways the key is
      // empty, whatever the caller held.
      const bool bCalled = uiVersion >= f.uiMinimum;
      EXPECT_EQ(uiKey, 0u);
      EXPECT_EQ(csKey, "");
      const auto calls = kernel.CallsOf("CkxDtb2Obj");
      ASSERT_EQ(calls.size(), bCalled ? 1u : 0u);
      if (!bCalled) continue;
      EXPECT_EQ(calls[0].text, std::string(f.csOp) + "(" + std::to_string(h) + ",ptr,out," +
                                   (f.bTopLevel ? "true" : "false") + ",ptr)");
      EXPECT_EQ(calls[0].ptrs[1], f.bTopLevel ? &world.header : &embedded.m_Slot.header);
    }
  }
}

TEST_F(MapTest, VersionAndCountOfALiveMapAndWhatADestroyedOneDoes) {
  MapWorld world;
  auto& map = world.Map();
  world.header.version = 0xFFFFFFFF;
  EXPECT_EQ(map.GetCount(), 3u);
  map.IncrementVersion();
  EXPECT_EQ(world.header.version, 0u);
  EXPECT_EQ(map.IsNewVersion(0), 0u);
  map.IncrementVersion();
  EXPECT_EQ(map.IsNewVersion(0xFFFFFFFF), 1u);

  world.header.lockWord = KxLockWord::kDestroyed;
  const std::string csDestroyed = NodeFault(0, -1, -1);
  EXPECT_EQ(Fault([&] { map.GetCount(); }), csDestroyed);
  EXPECT_EQ(Fault([&] { map.IncrementVersion(); }), csDestroyed);
  EXPECT_EQ(Fault([&] { map(D2MapCmd::Head, 0, nullptr); }), csDestroyed);
  EXPECT_EQ(Fault([&] { map(D2MapCmd::AtIndex, 0, nullptr); }), csDestroyed);
  EXPECT_EQ(map.IsNewVersion(7), 0u);
  EXPECT_EQ(world.header.version, 1u);
  EXPECT_EQ(world.header.lockWord, KxLockWord::kDestroyed);
}

}  // namespace
