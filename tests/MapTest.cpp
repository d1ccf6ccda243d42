// Keyed maps over hand-laid kernel storage: handle checks, node states, the
// local walk, the thread's current object and what goes to the kernel.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "tests/StorageBuilder.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

struct Contact {
  int32_t m_iId, m_iPad;
};
struct Lane {
  int32_t m_iLane, m_iPad;
  CkxD2MapA<Contact> m_Contacts;
};

// A top-level map of three lanes; the first lane holds two contacts.
struct MapWorld {
  MapWorld() : header(storage.NewMap()) {
    for (int i = 0; i < 3; ++i) {
      aLanes[i] = storage.AddNode(header, sizeof(Lane));
      storage.Record<Lane>(aLanes[i]).m_iLane = i + 1;
    }
    Embedded().m_Slot.header.lockWord = KxLockWord::kSignature;
    for (int i = 0; i < 2; ++i) {
      aContacts[i] = storage.AddNode(Embedded().m_Slot.header, sizeof(Contact));
      storage.Record<Contact>(aContacts[i]).m_iId = 10 + i;
    }
    member.Attach(storage, &header);
  }
  CkxD2MapObjA<Lane>& Map() { return member.m_Container; }
  CkxD2MapA<Contact>& Embedded() { return storage.Record<Lane>(aLanes[0]).m_Contacts; }
  uint32_t& Signature(uint32_t uiHandle) { return storage.At<KxMapNode>(uiHandle).signature; }

  StorageBuilder storage;
  TestMember<CkxD2MapObjA<Lane>> member;
  KxContainerHeader& header;
  uint32_t aLanes[3], aContacts[2];
};

constexpr uint32_t kClean = KxNodeState::kClean, kCandidate = KxNodeState::kDeleteCandidate;
constexpr uint32_t Modified(uint32_t n) { return KxNodeState::kModifiedBase + 8 * n; }

class MapTest : public TkNativeFaceTest {};

// The instance is checked first, then the handle, then the node's word; a
// good one answers the record behind the node.
TEST_F(MapTest, ElementAccessChecksInstanceThenHandleThenNodeSignature) {
  enum Handle { kLane, kLastValid, kTopBit, kInsideRecord };
  enum Outcome { kRecord, kDestroyed, kOutside, kBadNode };
  struct Case {
    uint32_t uiLockWord, uiSignature;
    Handle eHandle;
    Outcome eOutcome;
  };
  constexpr uint32_t kLive = KxLockWord::kSignature;
  const Case aCases[] = {
      {kLive, kClean, kLane, kRecord},
      {kLive, kCandidate, kLane, kRecord},
      {kLive, Modified(31), kLane, kRecord},
      {KxLockWord::kDestroyed, kClean, kLastValid, kDestroyed},
      {0x1A400000, kClean, kLane, kDestroyed},  // another instance's signature
      {kLive, kClean, kLastValid, kOutside},
      {kLive, kClean, kTopBit, kOutside},
      {kLive, Modified(32), kLane, kBadNode},
      {kLive, Modified(0), kLane, kBadNode},
      {kLive, kClean, kInsideRecord, kBadNode},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(&c - aCases);
    MapWorld world;
    const uint32_t uiLast = world.storage.m_uiLastValid;
    const uint32_t h =
        std::vector{world.aLanes[1], uiLast, 0x80000010u, world.aLanes[1] + 4}[c.eHandle];
    world.header.lockWord = c.uiLockWord;
    world.Signature(world.aLanes[1]) = c.uiSignature;
    Lane* pLane = nullptr;
    const std::string aExpected[] = {
        "none", NodeFault(h, -1, -1), NodeFault(h, 0, uiLast),
        c.eOutcome == kBadNode ? NodeFault(h, world.Signature(h), uiLast) : ""};
    EXPECT_EQ(Fault([&] { pLane = &world.Map()[h]; }), aExpected[c.eOutcome]);
    if (c.eOutcome == kRecord) {
      EXPECT_EQ(pLane->m_iLane, 2);
    }
  }
  MapWorld world;
  world.Map().m_pHeader = nullptr;
  EXPECT_EQ(Fault([&] { world.Map()[world.aLanes[0]]; }), NodeFault(world.aLanes[0], -1, -1));
}

// Argument 1 sets, 0 clears, -1 asks: a delete candidate is not alive,
// modifications nest up to 31 and unwind to clean, a modified node that
// becomes a candidate forgets its count, what is no node keeps its word.
TEST_F(MapTest, NodeStatesMoveAlongTheirTransitions) {
  constexpr uint32_t kNoNode = 0x12345678;
  enum Op { kCandidacy, kModification };
  struct Case {
    uint32_t uiBefore;
    Op eOp;
    int iArg, iAnswer;
    uint32_t uiAfter;
  };
  const Case aCases[] = {
      {kClean, kCandidacy, 1, KxNodeDeleteCandidate, kCandidate},
      {kCandidate, kCandidacy, -1, KxNodeDeleteCandidate, kCandidate},
      {kCandidate, kModification, 1, KxNodeNone, kCandidate},
      {kCandidate, kCandidacy, 0, KxNodeClean, kClean},
      {kClean, kModification, 1, KxNodeModified, Modified(1)},
      {Modified(30), kModification, 1, KxNodeModified, Modified(31)},
      {Modified(31), kModification, 1, KxNodeModified, Modified(31)},
      {Modified(31), kCandidacy, 0, KxNodeModified, Modified(31)},
      {Modified(2), kModification, 0, KxNodeModified, Modified(1)},
      {Modified(1), kModification, 0, KxNodeClean, kClean},
      {kClean, kModification, 0, KxNodeClean, kClean},
      {Modified(5), kCandidacy, 1, KxNodeDeleteCandidate, kCandidate},
      {kNoNode, kCandidacy, 1, KxNodeNone, kNoNode},
      {kNoNode, kModification, 1, KxNodeNone, kNoNode},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(&c - aCases);
    MapWorld world;
    auto& map = world.Map();
    const uint32_t h = world.aLanes[1];
    world.Signature(h) = c.uiBefore;
    EXPECT_EQ(
        c.eOp == kCandidacy ? map.SetDeleteCandidate(h, c.iArg) : map.SetAsModified(h, c.iArg),
        c.iAnswer);
    EXPECT_EQ(world.Signature(h), c.uiAfter);
    EXPECT_EQ(map.IsAlive(h), c.uiAfter != kCandidate && c.uiAfter != kNoNode);
  }
  // Handles that hold no node and a destroyed map have no state.
  MapWorld world;
  for (uint32_t uiHandle : {world.storage.m_uiLastValid, 0u, world.aLanes[0]}) {
    if (uiHandle == world.aLanes[0]) world.header.lockWord = KxLockWord::kDestroyed;
    EXPECT_FALSE(world.Map().IsAlive(uiHandle));
    EXPECT_EQ(world.Map().SetDeleteCandidate(uiHandle, 1), KxNodeNone);
    EXPECT_EQ(world.Map().SetAsModified(uiHandle, 1), KxNodeNone);
  }
}

// Head, Next and AtIndex walk the chain here, without the kernel, and give
// back their shared unit, also when they meet a bad node.
TEST_F(MapTest, TheWalkRunsHereAndLeavesNoSharedUnit) {
  MapWorld world, empty;
  empty.header = KxContainerHeader{0, 0, 0, KxLockWord::kSignature, 0, 0};
  auto& map = world.Map();
  map[world.aLanes[0]];
  kernel.ClearCalls();
  const std::vector<std::pair<std::function<uint32_t()>, uint32_t>> aWalks = {
      {[&] { return map(D2MapCmd::Head, 0, nullptr); }, world.aLanes[0]},
      {[&] { return map(D2MapCmd::Next, world.aLanes[0], nullptr); }, world.aLanes[1]},
      {[&] { return map(D2MapCmd::Next, world.aLanes[2], nullptr); }, 0},
      {[&] { return map(D2MapCmd::AtIndex, 2, nullptr); }, world.aLanes[2]},
      {[&] { return map(D2MapCmd::AtIndex, 3, nullptr); }, 0},
      {[&] { return world.Embedded()(D2MapCmd::Head, 0, nullptr); }, world.aContacts[0]},
      {[&] { return world.Embedded()(D2MapCmd::Next, world.aContacts[0], nullptr); },
       world.aContacts[1]},
      {[&] { return empty.Map()(D2MapCmd::AtIndex, 0, nullptr); }, 0},
      {[&] { return empty.Map()(D2MapCmd::Head, 0, nullptr); }, 0},
  };
  for (size_t i = 0; i < aWalks.size(); ++i) EXPECT_EQ(aWalks[i].first(), aWalks[i].second) << i;
  EXPECT_EQ(Fault([&] { map(D2MapCmd::Next, world.storage.m_uiLastValid, nullptr); }),
            NodeFault(world.storage.m_uiLastValid, 0, world.storage.m_uiLastValid));
  EXPECT_EQ(world.header.lockWord, KxLockWord::kSignature);
  EXPECT_EQ(empty.header.lockWord, KxLockWord::kSignature);
  EXPECT_EQ(kernel.Log("CkxDtb2Obj"), "");

  world.Signature(world.aLanes[1]) = 0x12345678;
  world.header.lockWord += KxLockWord::kRWEUnit;  // another reader
  EXPECT_EQ(Fault([&] { map(D2MapCmd::AtIndex, 2, nullptr); }),
            NodeFault(world.aLanes[1], 0x12345678, world.storage.m_uiLastValid));
  EXPECT_EQ(world.header.lockWord, KxLockWord::kSignature + KxLockWord::kRWEUnit);
}

// An embedded map addresses its nodes in the storage of the object the
// calling thread last reached by element access (not by a count).
TEST_F(MapTest, EmbeddedMapsUseTheCallingThreadsCurrentObject) {
  MapWorld world, other;
  Lane& lane = world.Map()[world.aLanes[0]];
  std::string csBefore, csAfter;
  std::thread([&] {
    csBefore = Fault([&] { lane.m_Contacts[world.aContacts[1]]; });
    world.Map()[world.aLanes[0]];
    csAfter = Fault([&] { EXPECT_EQ(lane.m_Contacts[world.aContacts[1]].m_iId, 11); });
  }).join();
  EXPECT_EQ(csBefore, NodeFault(world.aContacts[1], -1, -1));
  EXPECT_EQ(csAfter, "none");

  other.storage.Record<Contact>(other.aContacts[0]).m_iId = 99;
  other.Map().GetCount();
  EXPECT_EQ(lane.m_Contacts[world.aContacts[0]].m_iId, 10);
  other.Map()[other.aLanes[2]];
  EXPECT_EQ(lane.m_Contacts[world.aContacts[0]].m_iId, 99);
}

// Without the kernel's thread-slot index (a connection below version 8,
// which asks the kernel nothing but the connection) nothing is current and an
// embedded map looks destroyed; an object made current under an earlier
// start-up does not count under the next one.
TEST_F(MapTest, TheThreadSlotHoldsTheCurrentObjectForOneStartUpOnly) {
  for (bool bSlot : {true, false}) {
    SCOPED_TRACE(bSlot ? "connection version 8" : "connection version 7");
    KxEndCatAssembly();
    kernel.Reset();
    if (!bSlot) kernel.Grant("CkxDtb2Connection", 7);
    KxInitCatAssembly(false);
    EXPECT_EQ(dwIObjTlsInd != 0xFFFFFFFFu, bSlot);
    EXPECT_EQ(kernel.CallsOf("CkxDtb2Connection").size(), bSlot ? 3u : 1u);
    MapWorld world;
    Lane& lane = world.Map()[world.aLanes[0]];
    EXPECT_EQ(KxCurrentObject(), bSlot ? &world.member : nullptr);
    EXPECT_EQ(Fault([&] { EXPECT_EQ(lane.m_Contacts[world.aContacts[1]].m_iId, 11); }),
              bSlot ? "none" : NodeFault(world.aContacts[1], -1, -1));
    KxEndCatAssembly();
    KxInitCatAssembly(false);
    EXPECT_EQ(KxCurrentObject(), nullptr);
  }
}

// Every other command goes to the kernel in one call with the map's header,
// the top-level form with key and text; a refused object sends nothing.
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
      EXPECT_EQ(calls[0].text, std::string(bTopLevel ? "MapCmd(" : "EmbeddedMapCmd(") +
                                   std::to_string(eCmd) +
                                   (bTopLevel ? ",5000000000,\"R1\",ptr)" : ",7,null,ptr)"));
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

// A batch of additions goes to the kernel as one call from version 12 on,
// and as one Add each before, stopping at the first the kernel refuses
// (this storage is no kernel's: it adds none).
TEST_F(MapTest, AdditionsGoAsOneBatchFromVersion12AndOneByOneBefore) {
  const std::pair<uint32_t, const char*> aCases[] = {
      {12, "EmbeddedMapAddMany(ptr,2,ptr)"},
      {11, "EmbeddedMapCmd(0,7,null,ptr)"},
  };
  for (const auto& [uiVersion, csCall] : aCases) {
    kernel.Grant("CkxDtb2Obj", uiVersion);
    MapWorld world;
    world.Map()[world.aLanes[0]];
    kernel.ClearCalls();
    const KxMapAddition aAdditions[] = {world.Embedded().Addition(7), world.Embedded().Addition(8)};
    uint32_t aHandles[] = {5, 5};
    KxAddToMaps(aAdditions, 2, aHandles);
    EXPECT_EQ(aHandles[0], 0u);
    EXPECT_EQ(aHandles[1], 0u);
    const auto calls = kernel.CallsOf("CkxDtb2Obj");
    ASSERT_EQ(calls.size(), 1u) << uiVersion;
    EXPECT_EQ(calls[0].text, csCall);
  }
}

// An embedded map switches its key case here, changing only the case bits.
TEST_F(MapTest, KeyCaseSwitchesOfEmbeddedMapsChangeOnlyAChosenCase) {
  constexpr uint32_t kCase = KxLockWord::kKeyCase, kNoCase = KxLockWord::kKeyNoCase;
  constexpr uint32_t kOther = KxLockWord::kSignature | 0x3 | KxLockWord::kRWEUnit;
  const std::tuple<uint32_t, D2MapCmd::Cmd, uint32_t> aCases[] = {
      {kCase, D2MapCmd::KeyNoCase, kNoCase},
      {kNoCase, D2MapCmd::KeyCase, kCase},
      {kCase | kNoCase, D2MapCmd::KeyCase, kCase},
      {0, D2MapCmd::KeyNoCase, 0},
  };
  MapWorld world;
  world.Map()[world.aLanes[0]];
  kernel.ClearCalls();
  for (const auto& [uiBits, eCmd, uiExpected] : aCases) {
    uint32_t& uiWord = world.Embedded().m_Slot.header.lockWord;
    uiWord = kOther | uiBits;
    EXPECT_EQ(world.Embedded()(eCmd, 0, nullptr), 0u);
    EXPECT_EQ(uiWord, kOther | uiExpected) << uiBits << " " << eCmd;
  }
  EXPECT_EQ(kernel.Log("CkxDtb2Obj"), "");
}

// GetKey reaches the kernel from version 2, its unprotected form from 9;
// either way the caller's stale key is cleared.
TEST_F(MapTest, GetKeyNeedsVersion2AndItsUnprotectedFormVersion9) {
  for (uint32_t uiVersion : {1u, 2u, 8u, 9u}) {
    kernel.Grant("CkxDtb2Obj", uiVersion);
    MapWorld world;
    world.Map()[world.aLanes[0]];
    for (int iForm = 0; iForm < 4; ++iForm) {
      const bool bTopLevel = iForm % 2 == 0, bProtected = iForm < 2;
      SCOPED_TRACE(std::to_string(iForm) + " at version " + std::to_string(uiVersion));
      kernel.ClearCalls();
      uint64_t uiKey = 5;
      std::string csKey = "stale";
      const uint32_t h = bTopLevel ? world.aLanes[2] : world.aContacts[1];
      auto getKey = [&](auto& map) {
        bProtected ? map.GetKey(h, uiKey, csKey, bTopLevel)
                   : map.GetKeyNotProt(h, uiKey, csKey, bTopLevel);
      };
      bTopLevel ? getKey(world.Map()) : getKey(world.Embedded());
      EXPECT_EQ(uiKey, 0u);
      EXPECT_EQ(csKey, "");
      const auto calls = kernel.CallsOf("CkxDtb2Obj");
      ASSERT_EQ(calls.size(), uiVersion >= (bProtected ? 2u : 9u) ? 1u : 0u);
      if (calls.empty()) continue;
      EXPECT_EQ(calls[0].text, std::string(bTopLevel ? "Map" : "EmbeddedMap") + "GetKey" +
                                   (bProtected ? "" : "NotProt") + "(" + std::to_string(h) +
                                   ",ptr,out," + (bTopLevel ? "true" : "false") + ",ptr)");
      EXPECT_EQ(calls[0].ptrs[1], bTopLevel ? &world.header : &world.Embedded().m_Slot.header);
    }
  }
}

// The version wraps and tells a change; a destroyed map refuses the count,
// the version and the walk, and keeps its words.
TEST_F(MapTest, VersionAndCountOfALiveMapAndWhatADestroyedOneDoes) {
  MapWorld world;
  auto& map = world.Map();
  world.header.version = 0xFFFFFFFF;
  EXPECT_EQ(map.GetCount(), 3u);
  map.IncrementVersion();
  EXPECT_EQ(map.IsNewVersion(0), 0u);
  map.IncrementVersion();
  EXPECT_EQ(map.IsNewVersion(0xFFFFFFFF), 1u);

  world.header.lockWord = KxLockWord::kDestroyed;
  const std::function<void()> aRefused[] = {
      [&] { map.GetCount(); }, [&] { map.IncrementVersion(); },
      [&] { map(D2MapCmd::Head, 0, nullptr); }, [&] { map(D2MapCmd::AtIndex, 0, nullptr); }};
  for (const auto& refused : aRefused)
    EXPECT_EQ(Fault(refused), NodeFault(0, -1, -1)) << &refused - aRefused;
  EXPECT_EQ(map.IsNewVersion(7), 0u);
  EXPECT_EQ(world.header.version, 1u);
  EXPECT_EQ(world.header.lockWord, KxLockWord::kDestroyed);
}

}  // namespace
