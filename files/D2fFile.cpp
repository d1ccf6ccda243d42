#include "files/D2fFile.h"

#include <algorithm>
#include <cstring>

#include "access/OrbAnsi.h"
#include "contracts/kernel/KxRecords.h"
#include "contracts/kernel/KxText.h"

namespace Tarvex::Orb::DataDirectAcces {

OrbNarrowText::OrbNarrowText(OrbTextArg csText) {
  if (csText) m_csText = KxText::Utf16ToUtf8(*csText);
}

OrbUpdateInfo OrbReadUpdateInfo(uint64_t uiAddress) {
  // Field by field through memcpy: the kernel gives an address, not an
  // aligned object of ours.
  const auto* pRecord = reinterpret_cast<const char*>(static_cast<uintptr_t>(uiAddress));
  OrbUpdateInfo info;
  std::memcpy(&info.uiUpdateId, pRecord + offsetof(KxUpdateRecord, updateId), sizeof(uint64_t));
  std::memcpy(&info.uiWord, pRecord + offsetof(KxUpdateRecord, word24), sizeof(uint32_t));
  uint16_t uiLength = 0;
  std::memcpy(&uiLength, pRecord + offsetof(KxUpdateRecord, textLength), sizeof(uint16_t));
  if (uiLength == KxUpdateRecord::kFormatFailed) uiLength = 0;
  const size_t uiCount = std::min<size_t>(uiLength, KxUpdateRecord::kTextCapacity);
  info.csText = OrbFromAnsi(pRecord + offsetof(KxUpdateRecord, text), uiCount);
  return info;
}

std::u16string OrbNotOpenMessage(std::u16string_view csClassName) {
  std::u16string csMessage = u"Illegal usage of a not yet Opened ORB file of type:\r\n";
  csMessage += csClassName;
  csMessage += u"\r\nPlease OPEN this ORB file before using it !!!!!";
  return csMessage;
}

OrbMemberInfo OrbMemberInfoOf(const VarnoxMemberInfo& member) {
  const std::string_view csName(member.name);
  return OrbMemberInfo(std::u16string(csName.begin(), csName.end()),
                       static_cast<int32_t>(member.size), static_cast<int32_t>(member.elementSize),
                       member.variable);
}

void OrbThrowDeadFile(std::u16string_view csClassName, std::u16string_view csOperation) {
  throw OrbKernelException(OrbOperationMessage(csClassName, csOperation) +
                           u"This file wrapper was unloaded or disposed; construct a new one "
                           u"to open the file again\r\n");
}

}  // namespace Tarvex::Orb::DataDirectAcces
