// Texts and codes of the native exceptions, as the object face reads them
// through a reference to the base: one case per exception thrown.
#include "NetInterface/CkxOrbNetInterface/CkxOrbUnmanException.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

struct Case {
  std::function<void()> raise;  // throws the exception by value
  int32_t iCode;
  std::string csText;
};

CkxD2RangeException Range(int32_t iDimension, int32_t iDimCount) {
  CkxD2RangeException exception(iDimension, 4, 9);
  exception.m_iDimCount = iDimCount;
  return exception;
}

std::string NodeText(const char* csHandle, const char* csSignature, const char* csType) {
  return std::string("Node Handle: ") + csHandle + "  is Not Valid\r\nSignature is: 0x0" +
         csSignature + "\r\nLast valid handle is: 100\r\nNode type: " + csType;
}

const std::string kUnknown = "Unknown ORB exception";

// The one-dimensional texts of the arrays are in RecordFieldTest.
const Case kCases[] = {
    // The dimension shown: itself without a count, else count - dimension + 1
    // while the count reaches the dimension.
    {[] { throw Range(2, 0); }, 6, "ORB Array Index: [9]  In Dimension: 2  Is out of range: 0..3"},
    {[] { throw Range(1, 3); }, 6, "ORB Array Index: [9]  In Dimension: 3  Is out of range: 0..3"},
    {[] { throw Range(3, 3); }, 6, "ORB Array Index: [9]  In Dimension: 1  Is out of range: 0..3"},
    {[] { throw Range(3, 2); }, 6, "ORB Array Index: [9]  In Dimension: 3  Is out of range: 0..3"},
    // Handles below 15 and from the last valid one up cannot hold a node: no
    // signature shown.
    {[] { throw CkxD2LstNodeException(14, 0xABC, 100, OrbNodeMap); }, 7,
     NodeText("14", "????????", "Map")},
    {[] { throw CkxD2LstNodeException(15, 0xFEFFAA0F, 100, OrbNodeMap); }, 7,
     NodeText("15", "FEFFAA0F", "Map")},
    {[] { throw CkxD2LstNodeException(100, 0, 100, OrbNodeMap); }, 7,
     NodeText("100", "????????", "Map")},
    {[] { throw CkxD2LstNodeException(20, 0xA, 100, 0); }, 7, NodeText("20", "A", "Linked List")},
    {[] { throw CkxD2LstNodeException(20, 0xA, 100, 1); }, 7, NodeText("20", "A", "Tree")},
    {[] { throw CkxD2LstNodeException(20, 0xA, 100, 3); }, 7, NodeText("20", "A", "Dynamic Array")},
    {[] { throw CkxD2LstNodeException(20, 0xA, 100, 4); }, 7, NodeText("20", "A", "")},
    {[] { throw CkxD2LstNodeException(20, 0xA, 100, -1); }, 7, NodeText("20", "A", "")},
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
  for (size_t i = 0; i < std::size(kCases); ++i) {
    const Case& c = kCases[i];
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
