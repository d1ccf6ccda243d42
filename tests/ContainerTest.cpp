// The containers over kernel storage laid out by hand (map headers and
// nodes with their records, array elements and string texts, in one buffer
// whose handles and offsets count 4-byte units from its base), on the
// recording kernel: keyed maps, record fields, the lock protocol and the
// exceptions the containers throw.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxDtb2Obj.h"
#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "NetInterface/CkxOrbNetInterface/CkxOrbUnmanException.h"
#include "contracts/kernel/KxStorage.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

class StorageBuilder {
 public:
  // First offset handed out: handles below 15 never hold a node.
  static constexpr uint32_t kFirst = 16;

  explicit StorageBuilder(size_t uiWords = 8192) : m_aBuffer(uiWords / 2) {
    m_pBase = reinterpret_cast<uint8_t*>(m_aBuffer.data());
  }
  StorageBuilder(const StorageBuilder&) = delete;
  StorageBuilder& operator=(const StorageBuilder&) = delete;

  // Reserves `uiBytes` zeroed bytes on an 8-byte boundary; answers their
  // offset. Everything up to the end of the block becomes a valid handle.
  uint32_t Alloc(size_t uiBytes) {
    const uint32_t uiOffset = m_uiNext;
    m_uiNext += static_cast<uint32_t>((uiBytes + 7) / 8 * 2);
    if (m_uiNext > m_aBuffer.size() * 2) throw std::length_error("test storage full");
    m_uiLastValid = m_uiNext;
    return uiOffset;
  }

  template <class T>
  T& At(uint32_t uiOffset) {
    return *reinterpret_cast<T*>(m_pBase + 4 * static_cast<size_t>(uiOffset));
  }

  // A top-level map header with a live lock word.
  KxContainerHeader& NewMap() {
    KxContainerHeader& header = At<KxContainerHeader>(Alloc(sizeof(KxContainerHeader)));
    header.lockWord = KxLockWord::kSignature;
    return header;
  }

  // Appends a clean node with a zeroed record of `uiRecordBytes` to the
  // chain of `header` and counts it; answers its handle.
  uint32_t AddNode(KxContainerHeader& header, size_t uiRecordBytes) {
    const uint32_t uiHandle = Alloc(sizeof(KxMapNode) + uiRecordBytes);
    At<KxMapNode>(uiHandle).signature = KxNodeState::kClean;
    uint32_t* pLink = &header.headHandle;
    while (*pLink != 0) pLink = &At<KxMapNode>(*pLink).nextHandle;
    *pLink = uiHandle;
    ++header.count;
    return uiHandle;
  }

  // The record of node `uiHandle`.
  template <class T>
  T& Record(uint32_t uiHandle) {
    return At<T>(uiHandle + sizeof(KxMapNode) / 4);
  }

  // `uiCount` elements of `uiElementBytes` behind an array header.
  void FillArray(KxArrayHeader& header, uint32_t uiCount, size_t uiElementBytes) {
    header.size = uiCount;
    header.dataOffset = Alloc(uiCount * uiElementBytes + 4);
  }

  // A dynamic string field holding `text`, with room for `uiCapacity`
  // characters, terminator included.
  template <class C>
  void FillString(KxDynString& field, const std::basic_string<C>& text, uint32_t uiCapacity) {
    field.textOffset = Alloc(uiCapacity * sizeof(C));
    std::memcpy(&At<C>(field.textOffset), text.c_str(), (text.size() + 1) * sizeof(C));
    field.lengthWord = static_cast<uint32_t>(text.size()) + 1;
    field.capacity = uiCapacity;
  }

  // What OnAttach does to the owner of a top-level container.
  void Attach(CkxDtb2Obj& owner) {
    owner.m_ppStorageBase = &m_pBase;
    owner.m_pLastValidHandle = &m_uiLastValid;
  }

  uint8_t* m_pBase;
  uint32_t m_uiLastValid = kFirst;

 private:
  std::vector<uint64_t> m_aBuffer;
  uint32_t m_uiNext = kFirst;
};

// A member object of a file template holding one top-level container `C`,
// attached to `storage` the way the kernel attaches it.
template <class C>
struct TestMember : CkxDtb2Obj {
  template <class H>
  void Attach(StorageBuilder& storage, H* pHeader) {
    storage.Attach(*this);
    m_Container.m_pOwner = this;
    if constexpr (requires { m_Container.m_pHeader; }) {
      m_Container.m_pHeader = pHeader;
    } else {
      m_Container.m_pObject = pHeader;
    }
  }
  C m_Container;
};

// The lock operations of a lockable container.
struct LockOps {
  std::function<void()> GetAR, ReleaseAR, GetRWE, ReleaseRWE;
  std::function<bool()> Upgrade;
};
template <class C>
LockOps OpsOf(C& c) {
  return {[&c] { c.GetARLock(); }, [&c] { c.ReleaseARLock(); }, [&c] { c.GetRWELock(); },
          [&c] { c.ReleaseRWELock(); }, [&c] { return c.GetARLockFromRWELock(); }};
}

// The messages of the trace lines written since the last ClearCalls, after
// checking that each went out as the containers write them.
inline std::vector<std::string> TraceMessages(const TestKernel& kernel) {
  std::vector<std::string> out;
  for (const TkCall& call : kernel.CallsOf("CkxTask")) {
    if (call.op != "Trace") continue;
    if (call.args.size() != 7 || call.args[0] != "0" || call.args[1] != "\"CkxNetDtb2\"" ||
        call.args[4] != "\"\"" || call.args[5] != "\"\"" || call.args[6] != "\"\"") {
      out.push_back("malformed: " + call.text);
      continue;
    }
    out.push_back(call.args[3].substr(1, call.args[3].size() - 2));
  }
  return out;
}

// A node exception as "(handle,signature,last) type code".
inline std::string NodeText(int64_t iHandle, int64_t iSignature, int64_t iLast, int iType,
                            int iCode) {
  char acText[80];
  std::snprintf(acText, sizeof acText, "(%d,%d,%d) %d %d", static_cast<int32_t>(iHandle),
                static_cast<int32_t>(iSignature), static_cast<int32_t>(iLast), iType, iCode);
  return acText;
}

// The node exception the maps raise: node type 2, code 7.
inline std::string NodeFault(int64_t iHandle, int64_t iSignature, int64_t iLast) {
  return NodeText(iHandle, iSignature, iLast, 2, 7);
}

// What `fn` throws: a node exception as NodeText, a range exception as
// "range <code>: <text>", else "none" or "other".
template <class F>
std::string Fault(F fn) {
  try {
    fn();
  } catch (const CkxD2LstNodeException& e) {
    return NodeText(e.m_iHandle, e.m_uiSignature, e.m_iLastValid, e.m_iNodeType, e.m_eCode);
  } catch (const CkxD2RangeException& e) {
    std::string text;
    return "range " + std::to_string(e.m_eCode) + ": " + e.GetErrorText(text);
  } catch (...) {
    return "other";
  }
  return "none";
}

// ---------------------------------------------------------------------------
// Keyed maps: handle checks, node states, the local walk, the thread's
// current object and what goes to the kernel.

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
// either way the caller's stale key is cleared. A batch of additions goes to
// the kernel as one call from version 12 on, and as one Add each before,
// stopping at the first the kernel refuses (this storage is no kernel's: it
// adds none).
TEST_F(MapTest, GetKeyAndBatchesOfAdditionsReachTheKernelByVersion) {
  for (uint32_t uiVersion : {1u, 2u, 8u, 9u, 11u, 12u}) {
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
    kernel.ClearCalls();
    const KxMapAddition aAdditions[] = {world.Embedded().Addition(7), world.Embedded().Addition(8)};
    uint32_t aHandles[] = {5, 5};
    KxAddToMaps(aAdditions, 2, aHandles);
    EXPECT_EQ(aHandles[0], 0u);
    EXPECT_EQ(aHandles[1], 0u);
    const auto calls = kernel.CallsOf("CkxDtb2Obj");
    ASSERT_EQ(calls.size(), 1u) << uiVersion;
    EXPECT_EQ(calls[0].text,
              uiVersion >= 12 ? "EmbeddedMapAddMany(ptr,2,ptr)" : "EmbeddedMapCmd(0,7,null,ptr)");
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

// ---------------------------------------------------------------------------
// The fields of records: dynamic arrays (top-level and embedded), fixed
// arrays and the single object pointer with their range checks, element
// addressing, diagnostic line and resize calls; the dynamic texts of the
// current object with the reserve and copy protocol and its clamps, and the
// static string.

struct Lap {
  int32_t m_iTime;
  int32_t m_iDistance;
  int32_t m_iFlags;
};

struct Heat {
  int32_t m_iHeat;
  CkxD2a1dDA<Lap> m_Laps;
  CkxD2StrDU m_Name;
  CkxD2StrD m_Club;
  CkxD2StrSU<64> m_Short;
};

// A top-level array of laps and a single heat object whose embedded array
// holds laps too; after a kernel reset their objects are CkxDtb2Obj#1 and #2.
struct RecordWorld {
  explicit RecordWorld(uint32_t uiLaps = 0, uint32_t uiHeatLaps = 0)
      : header(storage.At<KxArrayHeader>(storage.Alloc(sizeof(KxArrayHeader)))),
        heat(storage.At<Heat>(storage.Alloc(sizeof(Heat)))) {
    storage.FillArray(header, uiLaps, sizeof(Lap));
    storage.FillArray(heat.m_Laps.m_Header, uiHeatLaps, sizeof(Lap));
    laps.Attach(storage, &header);
    single.Attach(storage, &heat);
  }
  // Reaches the heat as every caller must before touching its fields.
  Heat& Reach() { return *single.m_Container.operator->(); }
  template <class C>
  std::basic_string<C> Stored(const KxDynString& field, size_t uiCount) {
    return std::basic_string<C>(&storage.At<C>(field.textOffset), uiCount);
  }
  // Element `i` as the kernel lays it out.
  Lap* Expected(const KxArrayHeader& h, uint32_t i) {
    return reinterpret_cast<Lap*>(storage.m_pBase + 4 * (h.dataOffset + i * sizeof(Lap) / 4));
  }

  StorageBuilder storage;
  TestMember<CkxD2a1dObjDA<Lap>> laps;
  TestMember<CkxD2PntA<Heat>> single;
  KxArrayHeader& header;
  Heat& heat;
};

class RecordFieldTest : public TkNativeFaceTest {};

std::string RangeText(uint32_t uiIndex, uint32_t uiHigh) {
  return "range 6: ORB Array Index: [" + std::to_string(uiIndex) +
         "]  In Dimension: 1  Is out of range: 0.." + std::to_string(uiHigh);
}

TEST_F(RecordFieldTest, AnIndexNotBelowTheSizeNamesIndexDimensionAndValidRange) {
  for (uint32_t uiSize : {0u, 5u}) {
    RecordWorld world(uiSize, uiSize);
    CkxD2a1dDA<Lap>& embedded = world.single.m_Container->m_Laps;
    const uint32_t uiHigh = uiSize == 0 ? 0 : uiSize - 1;
    for (uint32_t uiIndex : {uiSize, uiSize + 3}) {
      EXPECT_EQ(Fault([&] { world.laps.m_Container[uiIndex]; }), RangeText(uiIndex, uiHigh));
      EXPECT_EQ(Fault([&] { embedded[uiIndex]; }), RangeText(uiIndex, uiHigh));
    }
  }
  CkxAs1d<int32_t, 100, 1> fixed{};
  EXPECT_EQ(fixed.Size(), 100u);
  EXPECT_EQ(&fixed[0], &fixed.m_aItems[0]);
  EXPECT_EQ(&fixed[99], &fixed.m_aItems[99]);
  EXPECT_EQ(Fault([&] { fixed[100]; }), RangeText(100, 99));
  EXPECT_EQ(Fault([&] { fixed[0xFFFFFFFF]; }),
            "range 6: ORB Array Index: [-1]  In Dimension: 1  Is out of range: 0..99");
}

TEST_F(RecordFieldTest, ElementsFollowWord3InTheStorageOfTheCurrentObject) {
  RecordWorld world(5, 2);
  auto& laps = world.laps.m_Container;
  EXPECT_EQ(&laps[4], world.Expected(world.header, 4));
  EXPECT_EQ(KxCurrentObject(), &world.laps);
  EXPECT_EQ(laps.Size(), 5u);

  Heat* pHeat = world.single.m_Container.operator->();
  EXPECT_EQ(pHeat, &world.heat);
  EXPECT_EQ(KxCurrentObject(), &world.single);
  EXPECT_EQ(&pHeat->m_Laps[1], world.Expected(pHeat->m_Laps.m_Header, 1));
  EXPECT_EQ(pHeat->m_Laps.Size(), 2u);

  // Without a current object on this thread an embedded element has no
  // storage to lie in.
  KxSetCurrentObject(nullptr);
  EXPECT_NE(Fault([&] { pHeat->m_Laps[0]; }), "none");
}

struct ArrayKind {
  bool bTopLevel;
  const char* csPrefix;         // of the labels
  const char* csObj;            // the kernel object that resizes
  const char* csResize;         // slots 7 / 6
  const char* csResizeNotProt;  // slots 25 / 24
};
const ArrayKind kKinds[] = {
    {true, "###CkxD2a1dDO.", "CkxDtb2Obj#1 ", "ResizeArray", "ResizeArrayNotProt"},
    {false, "###CkxD2a1dDM.", "CkxDtb2Obj#2 ", "ResizeDynMember", "ResizeDynMemberNotProt"},
};

// The diagnostic line of an array whose word 0 shows the exclusive bit and
// three shared units.
std::string Diagnostic(const ArrayKind& kind, const char* csLabel, const KxArrayHeader& header) {
  return "103/9000 " + std::string(kind.csPrefix) + csLabel +
         " ID: " + std::to_string(header.dataOffset) + " Locked: 1 NbRWE: 3";
}

// Runs `fn` on the array of `kind` (the top-level one, or the heat's after
// reaching the heat) with the word showing the diagnostic's lock state.
template <class F>
const KxArrayHeader& OnArray(RecordWorld& world, const ArrayKind& kind, F fn) {
  KxArrayHeader& header = kind.bTopLevel ? world.header : world.heat.m_Laps.m_Header;
  header.lockWord = KxLockWord::kARLock | 3 * KxLockWord::kRWEUnit;
  if (kind.bTopLevel) {
    fn(world.laps.m_Container);
  } else {
    fn(world.single.m_Container->m_Laps);
  }
  return header;
}

// Every resize writes its diagnostic line; only a changed size reaches the
// kernel, the protected forms from version 1, the unprotected from 10.
TEST_F(RecordFieldTest, ResizesWriteTheirLineAndReachTheKernelByVersion) {
  for (uint32_t uiVersion : {0u, 1u, 9u, 10u}) {
    for (const ArrayKind& kind : kKinds) {
      SCOPED_TRACE(std::string(kind.csPrefix) + " at version " + std::to_string(uiVersion));
      kernel.Reset();
      kernel.Grant("CkxDtb2Obj", uiVersion);
      RecordWorld world(2, 2);
      kernel.ClearCalls();
      uint32_t uiIndex = 0;
      const KxArrayHeader& header = OnArray(world, kind, [&](auto& a) {
        a.SetSize(2);
        a.SetSize(9);
        a.SetSizeNotProt(2);
        a.SetSizeNotProt(6);
        uiIndex = a.Add();  // the kernel answered without growing: still 2
      });
      EXPECT_EQ(uiIndex, 2u);
      const std::string csSetSize = Diagnostic(kind, "SetSize.......", header);
      const std::string csNotProt = Diagnostic(kind, "SetSizeNotProt", header);
      EXPECT_EQ(LogTexts(kernel),
                (std::vector<std::string>{csSetSize, csSetSize, csNotProt, csNotProt,
                                          Diagnostic(kind, "Add...........", header), csSetSize}));
      const std::string csObj = kind.csObj + std::string(kind.csResize);
      std::string csExpected;
      if (uiVersion >= 1) csExpected += csObj + "(9,ptr)\n";
      if (uiVersion >= 10)
        csExpected += kind.csObj + std::string(kind.csResizeNotProt) + "(6,ptr)\n";
      if (uiVersion >= 1) csExpected += csObj + "(3,ptr)\n";
      EXPECT_EQ(kernel.Log("CkxDtb2Obj"), csExpected);
      if (uiVersion >= 1) {
        EXPECT_EQ(kernel.CallsOf("CkxDtb2Obj").at(0).ptrs[0], &header);
      }
    }
  }
}

// A batch of resizes goes to the kernel as one call from version 13 on, and
// as one ResizeDynMember each before; neither writes a diagnostic line.
TEST_F(RecordFieldTest, ResizesGoAsOneBatchFromVersion13AndOneByOneBefore) {
  const std::pair<uint32_t, const char*> aCases[] = {
      {13, "CkxDtb2Obj#2 ResizeDynMembers(ptr,2)\n"},
      {12, "CkxDtb2Obj#2 ResizeDynMember(4,ptr)\nCkxDtb2Obj#2 ResizeDynMember(6,ptr)\n"},
  };
  for (const auto& [uiVersion, csCalls] : aCases) {
    kernel.Reset();
    kernel.Grant("CkxDtb2Obj", uiVersion);
    RecordWorld world(2, 2);
    Heat& heat = world.Reach();  // the heat's object made current
    kernel.ClearCalls();
    const KxMemberResize aResizes[] = {heat.m_Laps.Resize(4), heat.m_Laps.Resize(6)};
    KxResizeMembers(aResizes, 2);
    EXPECT_EQ(kernel.Log("CkxDtb2Obj"), csCalls) << uiVersion;
    // The batch itself, or the array's header as for SetSize.
    const void* pExpected =
        uiVersion >= 13 ? static_cast<const void*>(aResizes) : &heat.m_Laps.m_Header;
    EXPECT_EQ(kernel.CallsOf("CkxDtb2Obj").at(0).ptrs.at(0), pExpected) << uiVersion;
    EXPECT_EQ(LogTexts(kernel), std::vector<std::string>{}) << uiVersion;
  }
}

// Texts

TEST_F(RecordFieldTest, DynamicTextsReadFromTheCurrentObjectAndEmptyWhenNeverWritten) {
  RecordWorld world;
  Heat& s = world.Reach();
  int iLength = 99;
  EXPECT_EQ(s.m_Name.GetNet(&iLength), Dtb2EmptyDynStringU);
  EXPECT_EQ(iLength, -1);
  EXPECT_EQ(s.m_Club.GetNet(&iLength), Dtb2EmptyDynString);
  EXPECT_EQ(iLength, -1);

  world.storage.FillString<char16_t>(s.m_Name.m_Str, u"", 4);
  EXPECT_EQ(s.m_Name.GetNet(&iLength), Dtb2EmptyDynStringU);
  EXPECT_EQ(iLength, 0);

  world.storage.FillString<char16_t>(s.m_Name.m_Str, u"Anna", 8);
  world.storage.FillString<char>(s.m_Club.m_Str, "SC Bern", 8);
  EXPECT_EQ(std::u16string(s.m_Name.GetNet(&iLength)), u"Anna");
  EXPECT_EQ(iLength, 4);
  EXPECT_EQ(std::string(s.m_Club.GetNet(&iLength)), "SC Bern");
  EXPECT_EQ(iLength, 7);
}

// Reserving within the capacity only moves the terminator, the same length
// again not even a lost one; zero, a negative length or more than fits asks
// the current object to resize the field, whose length word is the kernel's.
TEST_F(RecordFieldTest, ReserveMovesTheTerminatorOrAsksTheCurrentObject) {
  RecordWorld world;
  Heat& s = world.Reach();
  world.storage.FillString<char16_t>(s.m_Name.m_Str, u"Marathon", 16);
  world.storage.FillString<char>(s.m_Club.m_Str, "Marathon", 16);
  kernel.ClearCalls();
  s.m_Name.ReserveNet(4);
  s.m_Club.ReserveNet(4);
  EXPECT_EQ(s.m_Name.m_Str.lengthWord, 5u);
  EXPECT_EQ(world.Stored<char16_t>(s.m_Name.m_Str, 9), std::u16string(u"Mara\0hon\0", 9));
  EXPECT_EQ(world.Stored<char>(s.m_Club.m_Str, 9), std::string("Mara\0hon\0", 9));
  char16_t* pText = &world.storage.At<char16_t>(s.m_Name.m_Str.textOffset);
  pText[4] = u'x';
  pText[10] = u'y';
  s.m_Name.ReserveNet(4);
  EXPECT_EQ(world.Stored<char16_t>(s.m_Name.m_Str, 5), u"Marax");
  s.m_Name.ReserveNet(10);
  EXPECT_EQ(s.m_Name.m_Str.lengthWord, 11u);
  EXPECT_EQ(world.Stored<char16_t>(s.m_Name.m_Str, 11), std::u16string(u"Maraxhon\0\0\0", 11));
  EXPECT_EQ(kernel.Log("CkxDtb2Obj"), "");

  for (int iLength : {0, 16, 100, -1}) {
    s.m_Name.ReserveNet(iLength);
    s.m_Club.ReserveNet(iLength);
  }
  const auto calls = kernel.CallsOf("CkxDtb2Obj#2");
  ASSERT_EQ(calls.size(), 8u);
  const char* aLengths[] = {"0", "16", "100", "4294967295"};
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].text, "ResizeDynMember(" + std::string(aLengths[i / 2]) + ",ptr)");
    EXPECT_EQ(calls[i].ptrs[0],
              i % 2 == 0 ? static_cast<void*>(&s.m_Name) : static_cast<void*>(&s.m_Club));
  }
  EXPECT_EQ(s.m_Name.m_Str.lengthWord, 11u);
}

// SetNet copies min(n, limit) characters, n taken as unsigned: the limit is
// capacity - 1 for UTF-16 texts and the reserved length for ANSI texts.
TEST_F(RecordFieldTest, SetNetClampsAndTerminatesButLeavesTheLengthWord) {
  struct Case {
    bool bAnsi;
    uint32_t uiLengthWord;
    int iCount;
    const char* csStored;  // the 8 characters of the buffer afterwards
  };
  const Case aCases[] = {
      {false, 3, 10, "ABCDEFG"}, {false, 3, -1, "ABCDEFG"}, {false, 3, 2, "AB\0____"},
      {false, 3, 0, "_______"},  {true, 5, 10, "ABCD\0__"}, {true, 5, -1, "ABCD\0__"},
      {true, 5, 3, "ABC\0___"},  {true, 1, 10, "_______"},  {true, 0, 10, "_______"},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(std::string(c.bAnsi ? "ANSI" : "UTF-16") + " n=" + std::to_string(c.iCount));
    RecordWorld world;
    Heat& s = world.Reach();
    KxDynString& field = c.bAnsi ? s.m_Club.m_Str : s.m_Name.m_Str;
    const std::string csStored(c.csStored, 8);
    if (c.bAnsi) {
      world.storage.FillString<char>(field, "_______", 8);
    } else {
      world.storage.FillString<char16_t>(field, u"_______", 8);
    }
    field.lengthWord = c.uiLengthWord;
    if (c.bAnsi) {
      s.m_Club.SetNet("ABCDEFGHIJ", c.iCount);
      EXPECT_EQ(world.Stored<char>(field, 8), csStored);
    } else {
      s.m_Name.SetNet(u"ABCDEFGHIJ", c.iCount);
      EXPECT_EQ(world.Stored<char16_t>(field, 8), std::u16string(csStored.begin(), csStored.end()));
    }
    EXPECT_EQ(field.lengthWord, c.uiLengthWord);
  }
}

TEST_F(RecordFieldTest, StaticStringKeepsAtMost64CharactersAndTheirCount) {
  RecordWorld world;
  CkxD2StrSU<64>& text = world.Reach().m_Short;
  const std::u16string cs70(70, u'w');
  for (int iCount : {70, -1, 64, 3, 0}) {
    SCOPED_TRACE(iCount);
    const int iStored = iCount < 0 || iCount > 64 ? 64 : iCount;
    text.SetNet(cs70.c_str(), iCount);
    int iLength = -5;
    EXPECT_EQ(std::u16string(text.GetNet(&iLength)), cs70.substr(0, iStored));
    EXPECT_EQ(iLength, iStored);
  }
}

// ---------------------------------------------------------------------------
// The lock protocol on the lock words of the four lockable containers, with
// a fake clock whose 1 ms sleep advances a fake tick: the 10 s time-outs
// run in milliseconds and the number of sleeps is exact.

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

// A top-level map of `iNodes` records, the last holding an embedded map and
// array, and a top-level array; the map's element access made its owner
// current.
struct LockWorld {
  explicit LockWorld(int iNodes = 1)
      : storage(8192 + iNodes * (sizeof(KxMapNode) + sizeof(Holder))), header(storage.NewMap()) {
    for (int i = 0; i < iNodes; ++i) hLast = storage.AddNode(header, sizeof(Holder));
    storage.Record<Holder>(hLast).m_Map.m_Slot.header.lockWord = KxLockWord::kSignature;
    // Versions not 0, so that an upgrade must compare them to see a change.
    header.version = 7;
    storage.Record<Holder>(hLast).m_Map.m_Slot.header.version = 7;
    KxArrayHeader& arrayHeader = storage.At<KxArrayHeader>(storage.Alloc(sizeof(KxArrayHeader)));
    maps.Attach(storage, &header);
    arrays.Attach(storage, &arrayHeader);
    pHolder = &maps.m_Container[hLast];
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
  uint32_t hLast = 0;
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

// Several threads take and release shared, exclusive and upgraded locks on
// one lock word with the real clock, counting holders beside the lock: a
// shared holder never meets an exclusive one, an exclusive holder is alone.
// Bounded by time and by rounds; run it under the thread sanitizer too.
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

// A top-level map of `iNodes` nodes, each holding an embedded array.
class LockConcurrencyTest : public TkNativeFaceTest {};

// Embedded arrays find nothing through the current object for locking: the
// lock word is all they need, on any thread (an embedded map looks destroyed
// without a current object, and these threads have none).
TEST_F(LockConcurrencyTest, SharedAndExclusiveHoldersNeverOverlapOnMapsAndArrays) {
  LockWorld world;
  kernel.ClearCalls();
  for (LockTarget& t : world.Targets()) {
    if (t.csName == "embedded map") continue;
    SCOPED_TRACE(t.csName);
    *t.pWord = t.uiIdle;
    Tally tally;
    Hammer(t, tally);
    EXPECT_EQ(tally.iOverlaps.load(), 0);
    EXPECT_GE(tally.iExclusiveRounds.load(), 4);
    EXPECT_EQ(*t.pWord, t.uiIdle);
  }
  EXPECT_TRUE(TraceMessages(kernel).empty());
}

// A walk holds its shared unit while it reads the chain: a writer that
// damages a node only under the exclusive lock is never seen by a walker.
TEST_F(LockConcurrencyTest, AWalkNeverSeesWhatAWriterRestoresBeforeReleasing) {
  LockWorld world(200);
  uint32_t& uiSignature = world.storage.At<KxMapNode>(world.hLast).signature;
  auto& map = world.maps.m_Container;
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

// ---------------------------------------------------------------------------
// Texts and codes of the native exceptions, as the object face reads them
// through a reference to the base: one case per exception thrown.

struct ExceptionCase {
  std::function<void()> raise;  // throws the exception by value
  int32_t iCode;
  std::string csText;
};

CkxD2RangeException Range(int32_t iDimension, int32_t iDimCount) {
  CkxD2RangeException exception(iDimension, 4, 9);
  exception.m_iDimCount = iDimCount;
  return exception;
}

std::string BadNode(const char* csHandle, const char* csSignature, const char* csType) {
  return std::string("Node Handle: ") + csHandle + "  is Not Valid\r\nSignature is: 0x0" +
         csSignature + "\r\nLast valid handle is: 100\r\nNode type: " + csType;
}

const std::string kUnknown = "Unknown ORB exception";

// The one-dimensional texts of the arrays are with the record fields above.
const ExceptionCase kExceptionCases[] = {
    // The dimension shown: itself without a count, else count - dimension + 1
    // while the count reaches the dimension.
    {[] { throw Range(2, 0); }, 6, "ORB Array Index: [9]  In Dimension: 2  Is out of range: 0..3"},
    {[] { throw Range(1, 3); }, 6, "ORB Array Index: [9]  In Dimension: 3  Is out of range: 0..3"},
    {[] { throw Range(3, 3); }, 6, "ORB Array Index: [9]  In Dimension: 1  Is out of range: 0..3"},
    {[] { throw Range(3, 2); }, 6, "ORB Array Index: [9]  In Dimension: 3  Is out of range: 0..3"},
    // Handles below 15 and from the last valid one up cannot hold a node: no
    // signature shown.
    {[] { throw CkxD2LstNodeException(14, 0xABC, 100, OrbNodeMap); }, 7,
     BadNode("14", "????????", "Map")},
    {[] { throw CkxD2LstNodeException(15, 0xFEFFAA0F, 100, OrbNodeMap); }, 7,
     BadNode("15", "FEFFAA0F", "Map")},
    {[] { throw CkxD2LstNodeException(100, 0, 100, OrbNodeMap); }, 7,
     BadNode("100", "????????", "Map")},
    {[] { throw CkxD2LstNodeException(20, 0xA, 100, 0); }, 7, BadNode("20", "A", "Linked List")},
    {[] { throw CkxD2LstNodeException(20, 0xA, 100, 1); }, 7, BadNode("20", "A", "Tree")},
    {[] { throw CkxD2LstNodeException(20, 0xA, 100, 3); }, 7, BadNode("20", "A", "Dynamic Array")},
    {[] { throw CkxD2LstNodeException(20, 0xA, 100, 4); }, 7, BadNode("20", "A", "")},
    {[] { throw CkxD2LstNodeException(20, 0xA, 100, -1); }, 7, BadNode("20", "A", "")},
    {[] { throw CkxD2LstNodeException(0, static_cast<uint32_t>(-1), -1, OrbNodeMap); }, 7,
     "The Handle: 0  is located inside a Destroyed instance.\r\n"
     "Signature is: 0x0FFFFFFFF\r\nInstance type: Map"},
    {[] { throw CkxD2LstNodeException(42, 0x1A600000, -1, OrbNodeDynArray); }, 7,
     "The Handle: 42  is located inside a Destroyed instance.\r\n"
     "Signature is: 0x01A600000\r\nInstance type: Dynamic Array"},
    {[] { throw CkxOrbUnmanException(); }, OrbUnmanExcUnknown, kUnknown},
    {[] { throw CkxDynAllocDeniedException(); }, OrbUnmanExcDynAllocDenied, kUnknown},
    {[] { throw CkxD2ValDataException(); }, OrbUnmanExcValData, kUnknown},
    {[] { throw CkxD2ValDynDataException(); }, OrbUnmanExcValDynData, kUnknown},
    {[] { throw CkxD2ValDynCopyException(); }, OrbUnmanExcValDynCopy, kUnknown},
    {[] { throw CkxOrbOutOfMemoryException(); }, OrbUnmanExcOutOfMemory, kUnknown},
};

TEST(CkxOrbUnmanExceptionTest, EachExceptionGivesItsTextAndCodeThroughTheBase) {
  for (size_t i = 0; i < std::size(kExceptionCases); ++i) {
    const ExceptionCase& c = kExceptionCases[i];
    SCOPED_TRACE(c.csText);
    try {
      c.raise();
      ADD_FAILURE() << "case " << i << " throws nothing";
    } catch (const CkxOrbUnmanException& caught) {
      std::string csText = "previous content";
      EXPECT_EQ(&caught.GetErrorText(csText), &csText);  // written into the caller's string
      EXPECT_EQ(csText, c.csText);
      EXPECT_EQ(caught.m_eCode, c.iCode);
    }
  }
}

}  // namespace
