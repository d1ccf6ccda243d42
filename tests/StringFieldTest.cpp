// String and date fields of a record reached through its top-level
// container: dynamic texts in the current object's storage, the reserve
// and copy protocol with its clamps, the static string and date kinds.
#include <gtest/gtest.h>

#include <string>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "tests/StorageBuilder.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

struct Swimmer {
  CkxD2StrDU m_Name;
  CkxD2StrD m_Club;
  CkxD2StrSU<64> m_Short;
  CkxD2DateTime m_Born;
};

// One swimmer record held by a single-object member (CkxDtb2Obj#1).
struct StringWorld {
  StringWorld() : swimmer(storage.At<Swimmer>(storage.Alloc(sizeof(Swimmer)))) {
    member.Attach(storage, &swimmer);
  }
  // Reaches the record as every caller must before touching its fields.
  Swimmer& Reach() { return *member.m_Container.operator->(); }
  template <class C>
  std::basic_string<C> Stored(const KxDynString& field, size_t uiCount) {
    return std::basic_string<C>(&storage.At<C>(field.textOffset), uiCount);
  }

  StorageBuilder storage;
  TestMember<CkxD2PntA<Swimmer>> member;
  Swimmer& swimmer;
};

class StringFieldTest : public TkNativeFaceTest {};

TEST_F(StringFieldTest, DynamicTextsReadFromTheCurrentObjectAndEmptyWhenNeverWritten) {
  StringWorld world;
  Swimmer& s = world.Reach();
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
TEST_F(StringFieldTest, ReserveMovesTheTerminatorOrAsksTheCurrentObject) {
  StringWorld world;
  Swimmer& s = world.Reach();
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
  const auto calls = kernel.CallsOf("CkxDtb2Obj#1");
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
TEST_F(StringFieldTest, SetNetClampsAndTerminatesButLeavesTheLengthWord) {
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
    StringWorld world;
    Swimmer& s = world.Reach();
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

TEST_F(StringFieldTest, StaticStringKeepsAtMost64CharactersAndTheirCount) {
  StringWorld world;
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
