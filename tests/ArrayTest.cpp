// Dynamic arrays (top-level and embedded), fixed arrays and the single
// object pointer over hand-laid kernel storage: range checks with their
// texts, element addressing, the diagnostic line and the resize calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "tests/StorageBuilder.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

struct Lap {
  int32_t m_iTime;
  int32_t m_iDistance;
  int32_t m_iFlags;
};

struct Heat {
  int32_t m_iHeat;
  CkxD2a1dDA<Lap> m_Laps;
};

// A top-level array of laps and a single heat object whose embedded array
// holds laps too; after a kernel reset their objects are CkxDtb2Obj#1 and #2.
struct ArrayWorld {
  ArrayWorld(uint32_t uiLaps, uint32_t uiHeatLaps)
      : header(storage.At<KxArrayHeader>(storage.Alloc(sizeof(KxArrayHeader)))),
        heat(storage.At<Heat>(storage.Alloc(sizeof(Heat)))) {
    storage.FillArray(header, uiLaps, sizeof(Lap));
    storage.FillArray(heat.m_Laps.m_Header, uiHeatLaps, sizeof(Lap));
    laps.Attach(storage, &header);
    single.Attach(storage, &heat);
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

class ArrayTest : public TkNativeFaceTest {};

std::string RangeText(uint32_t uiIndex, uint32_t uiHigh) {
  return "range 6: ORB Array Index: [" + std::to_string(uiIndex) +
         "]  In Dimension: 1  Is out of range: 0.." + std::to_string(uiHigh);
}

TEST_F(ArrayTest, AnIndexNotBelowTheSizeNamesIndexDimensionAndValidRange) {
  for (uint32_t uiSize : {0u, 5u}) {
    ArrayWorld world(uiSize, uiSize);
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

TEST_F(ArrayTest, ElementsFollowWord3InTheStorageOfTheCurrentObject) {
  ArrayWorld world(5, 2);
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
const KxArrayHeader& OnArray(ArrayWorld& world, const ArrayKind& kind, F fn) {
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
TEST_F(ArrayTest, ResizesWriteTheirLineAndReachTheKernelByVersion) {
  for (uint32_t uiVersion : {0u, 1u, 9u, 10u}) {
    for (const ArrayKind& kind : kKinds) {
      SCOPED_TRACE(std::string(kind.csPrefix) + " at version " + std::to_string(uiVersion));
      kernel.Reset();
      kernel.Grant("CkxDtb2Obj", uiVersion);
      ArrayWorld world(2, 2);
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
TEST_F(ArrayTest, ResizesGoAsOneBatchFromVersion13AndOneByOneBefore) {
  const std::pair<uint32_t, const char*> aCases[] = {
      {13, "CkxDtb2Obj#2 ResizeDynMembers(ptr,2)\n"},
      {12, "CkxDtb2Obj#2 ResizeDynMember(4,ptr)\nCkxDtb2Obj#2 ResizeDynMember(6,ptr)\n"},
  };
  for (const auto& [uiVersion, csCalls] : aCases) {
    kernel.Reset();
    kernel.Grant("CkxDtb2Obj", uiVersion);
    ArrayWorld world(2, 2);
    Heat& heat = *world.single.m_Container.operator->();  // the heat's object made current
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

}  // namespace
