// Texts and codes of the native exceptions, as the object face reads them
// through a reference to the base.
#include "NetInterface/CkxOrbNetInterface/CkxOrbUnmanException.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Throws by value and reads the text through the base, as the guards do.
template <class E>
std::string TextThrown(const E& exception, int32_t* pCode = nullptr) {
  try {
    throw exception;
  } catch (const CkxOrbUnmanException& caught) {
    if (pCode != nullptr) *pCode = caught.m_eCode;
    std::string strText = "previous content";
    std::string& strResult = caught.GetErrorText(strText);
    EXPECT_EQ(&strResult, &strText);
    return strText;
  }
  ADD_FAILURE() << "not caught as CkxOrbUnmanException";
  return {};
}

TEST(CkxOrbUnmanExceptionTest, RangeTextsAndCode) {
  int32_t iCode = 0;
  EXPECT_EQ(TextThrown(CkxD2RangeException(1, 0, 0), &iCode),
            "ORB Array Index: [0]  In Dimension: 1  Is out of range: 0..0");
  EXPECT_EQ(iCode, 6);
  EXPECT_EQ(TextThrown(CkxD2RangeException(1, 5, 5)),
            "ORB Array Index: [5]  In Dimension: 1  Is out of range: 0..4");
  EXPECT_EQ(TextThrown(CkxD2RangeException(2, 64, 1000)),
            "ORB Array Index: [1000]  In Dimension: 2  Is out of range: 0..63");
}

TEST(CkxOrbUnmanExceptionTest, RangeDimensionShownFollowsTheDimensionCount) {
  struct Case {
    int32_t iDimCount;
    int32_t iDimension;
    const char* csShown;
  };
  const Case cases[] = {
      {0, 2, "2"},  // no count: the dimension itself
      {3, 1, "3"},  // count - dimension + 1
      {3, 3, "1"},  // count equal to the dimension
      {2, 3, "3"},  // count below the dimension: unchanged
  };
  for (const Case& c : cases) {
    CkxD2RangeException exception(c.iDimension, 4, 9);
    exception.m_iDimCount = c.iDimCount;
    EXPECT_EQ(TextThrown(exception), std::string("ORB Array Index: [9]  In Dimension: ") +
                                         c.csShown + "  Is out of range: 0..3")
        << "count " << c.iDimCount << ", dimension " << c.iDimension;
  }
}

TEST(CkxOrbUnmanExceptionTest, NodeTextsOfALiveMap) {
  int32_t iCode = 0;
  // Handle 3 cannot hold a node: its signature is not shown.
  EXPECT_EQ(TextThrown(CkxD2LstNodeException(3, 0x12345678, 100, OrbNodeMap), &iCode),
            "Node Handle: 3  is Not Valid\r\nSignature is: 0x0????????\r\n"
            "Last valid handle is: 100\r\nNode type: Map");
  EXPECT_EQ(iCode, 7);
  EXPECT_EQ(TextThrown(CkxD2LstNodeException(14, 0xABC, 100, OrbNodeMap)),
            "Node Handle: 14  is Not Valid\r\nSignature is: 0x0????????\r\n"
            "Last valid handle is: 100\r\nNode type: Map");
  // From 15 up to the last valid handle the signature found is shown.
  EXPECT_EQ(TextThrown(CkxD2LstNodeException(15, 0xFEFFAA0F, 100, OrbNodeMap)),
            "Node Handle: 15  is Not Valid\r\nSignature is: 0x0FEFFAA0F\r\n"
            "Last valid handle is: 100\r\nNode type: Map");
  EXPECT_EQ(TextThrown(CkxD2LstNodeException(99, 0xAB, 100, OrbNodeMap)),
            "Node Handle: 99  is Not Valid\r\nSignature is: 0x0AB\r\n"
            "Last valid handle is: 100\r\nNode type: Map");
  // At or past the last valid handle it is not.
  EXPECT_EQ(TextThrown(CkxD2LstNodeException(100, 0, 100, OrbNodeMap)),
            "Node Handle: 100  is Not Valid\r\nSignature is: 0x0????????\r\n"
            "Last valid handle is: 100\r\nNode type: Map");
  EXPECT_EQ(TextThrown(CkxD2LstNodeException(5000, 0, 100, OrbNodeMap)),
            "Node Handle: 5000  is Not Valid\r\nSignature is: 0x0????????\r\n"
            "Last valid handle is: 100\r\nNode type: Map");
}

TEST(CkxOrbUnmanExceptionTest, NodeTextOfADestroyedInstance) {
  EXPECT_EQ(TextThrown(CkxD2LstNodeException(0, static_cast<uint32_t>(-1), -1, OrbNodeMap)),
            "The Handle: 0  is located inside a Destroyed instance.\r\n"
            "Signature is: 0x0FFFFFFFF\r\nInstance type: Map");
  EXPECT_EQ(TextThrown(CkxD2LstNodeException(42, 0x1A600000, -1, OrbNodeDynArray)),
            "The Handle: 42  is located inside a Destroyed instance.\r\n"
            "Signature is: 0x01A600000\r\nInstance type: Dynamic Array");
}

TEST(CkxOrbUnmanExceptionTest, NodeTypeTexts) {
  const char* const kTypes[] = {"Linked List", "Tree", "Map", "Dynamic Array", "", ""};
  const int32_t kValues[] = {0, 1, 2, 3, 4, -1};
  for (size_t i = 0; i < std::size(kValues); ++i) {
    EXPECT_EQ(TextThrown(CkxD2LstNodeException(20, 0xA, 100, kValues[i])),
              std::string("Node Handle: 20  is Not Valid\r\nSignature is: 0x0A\r\n"
                          "Last valid handle is: 100\r\nNode type: ") +
                  kTypes[i])
        << "node type " << kValues[i];
  }
}

TEST(CkxOrbUnmanExceptionTest, OtherExceptionsGiveTheBaseTextAndTheirOwnCodes) {
  int32_t iCode = -1;
  EXPECT_EQ(TextThrown(CkxOrbUnmanException(), &iCode), "Unknown ORB exception");
  EXPECT_EQ(iCode, OrbUnmanExcUnknown);
  EXPECT_EQ(TextThrown(CkxDynAllocDeniedException(), &iCode), "Unknown ORB exception");
  EXPECT_EQ(iCode, OrbUnmanExcDynAllocDenied);
  EXPECT_EQ(TextThrown(CkxD2ValDataException(), &iCode), "Unknown ORB exception");
  EXPECT_EQ(iCode, OrbUnmanExcValData);
  EXPECT_EQ(TextThrown(CkxD2ValDynDataException(), &iCode), "Unknown ORB exception");
  EXPECT_EQ(iCode, OrbUnmanExcValDynData);
  EXPECT_EQ(TextThrown(CkxD2ValDynCopyException(), &iCode), "Unknown ORB exception");
  EXPECT_EQ(iCode, OrbUnmanExcValDynCopy);
  EXPECT_EQ(TextThrown(CkxOrbOutOfMemoryException(), &iCode), "Unknown ORB exception");
  EXPECT_EQ(iCode, OrbUnmanExcOutOfMemory);
}

}  // namespace
