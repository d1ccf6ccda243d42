// The fields of records over hand-laid kernel storage: dynamic arrays
// (top-level and embedded), fixed arrays and the single object pointer with
// their range checks, element addressing, diagnostic line and resize calls;
// the dynamic texts of the current object with the reserve and copy protocol
// and its clamps, and the static string.
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

// ---------------------------------------------------------------------------
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

}  // namespace
