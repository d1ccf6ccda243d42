// Texts of the native exceptions.
#include "NetInterface/CkxOrbNetInterface/CkxOrbUnmanException.h"

#include "NetInterface/CkxOrbNetInterface/KxFormat.h"

namespace {

constexpr const char* kBaseText = "Unknown ORB exception";

const char* NodeTypeText(int32_t iNodeType) {
  switch (iNodeType) {
    case OrbNodeLinkedList:
      return "Linked List";
    case OrbNodeTree:
      return "Tree";
    case OrbNodeMap:
      return "Map";
    case OrbNodeDynArray:
      return "Dynamic Array";
    default:
      return "";
  }
}

// The formats below are fixed and match their arguments; should formatting
// still fail, the base text is better than a partial one.
template <class... A>
std::string& FormatText(std::string& strText, const char* csFormat, const A&... args) {
  if (!KxFormat(strText, csFormat, args...)) strText = kBaseText;
  return strText;
}

}  // namespace

std::string& CkxOrbUnmanException::GetErrorText(std::string& strText) const {
  strText = kBaseText;
  return strText;
}

std::string& CkxD2RangeException::GetErrorText(std::string& strText) const {
  int32_t iShown = m_iDimension;
  if (m_iDimCount != 0 && m_iDimCount >= m_iDimension) iShown = m_iDimCount - m_iDimension + 1;
  return FormatText(strText, "ORB Array Index: [%d]  In Dimension: %d  Is out of range: 0..%d",
                    m_iIndex, iShown, m_iHighValid);
}

std::string& CkxD2LstNodeException::GetErrorText(std::string& strText) const {
  const char* csType = NodeTypeText(m_iNodeType);
  if (m_iLastValid == -1) {
    return FormatText(strText,
                      "The Handle: %d  is located inside a Destroyed instance.\r\n"
                      "Signature is: 0x0%X\r\nInstance type: %s",
                      m_iHandle, m_uiSignature, csType);
  }
  // Handles are unsigned offsets: compare them as such.
  const uint32_t uiHandle = static_cast<uint32_t>(m_iHandle);
  std::string strSignature = "0x0????????";
  if (uiHandle >= 15 && uiHandle < static_cast<uint32_t>(m_iLastValid)) {
    FormatText(strSignature, "0x0%X", m_uiSignature);
  }
  return FormatText(strText,
                    "Node Handle: %d  is Not Valid\r\nSignature is: %s\r\n"
                    "Last valid handle is: %d\r\nNode type: %s",
                    m_iHandle, strSignature, m_iLastValid, csType);
}
