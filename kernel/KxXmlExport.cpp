// XML export of kernel files: each member is walked under its segment's
// mutex and written through libxml2's text writer.
#include "kernel/KxXmlExport.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "kernel/KxXmlForms.h"

namespace KxXmlDetail {

bool IsXmlName(const char* csName) {
  if (csName == nullptr ||
      !(std::isalpha(static_cast<unsigned char>(csName[0])) || csName[0] == '_'))
    return false;
  for (const char* p = csName; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (!std::isalnum(c) && c != '_' && c != '-' && c != '.') return false;
  }
  return true;
}

bool KxXmlExporter::Member(KxLiveFile& file, size_t i) {
  const KxFileMember& member = file.FileType().members[i];
  const KxMemberClass& memberClass = *member.memberClass;
  m_pSegment = &file.Segment(i);
  m_pStore = &file.Store(i);
  KxSegmentLock lock(*m_pSegment);
  void* pContainer = file.Container(i);
  std::string csCheck;
  if (!m_pStore->CheckMember(memberClass, pContainer, csCheck))
    return Fail(std::string("member ") + member.name + " cannot be read: " + csCheck);
  if (!IsXmlName(member.name))
    return Fail(std::string("member name \"") + member.name + "\" is no XML name");
  if (!CheckNames(*memberClass.element, 0)) return false;
  switch (memberClass.kind) {
    case KxMemberKind::kSingle:
      return Start(member.name) &&
             Fields(*memberClass.element, static_cast<const uint8_t*>(pContainer)) && End();
    case KxMemberKind::kMap:
      return MapEntries(static_cast<const KxEmbeddedMap*>(pContainer), *memberClass.element,
                        memberClass.key, member.name);
    case KxMemberKind::kArray:
      return ArrayItems(static_cast<const KxArrayHeader*>(pContainer), *memberClass.element,
                        member.name);
  }
  return false;
}

bool KxXmlExporter::Fields(const KxRecordType& type, const uint8_t* pRecord) {
  for (uint32_t f = 0; f < type.fieldCount; ++f) {
    const KxRecordField& field = type.fields[f];
    if (!Value(field, pRecord + field.offset)) return false;
  }
  return true;
}

bool KxXmlExporter::CheckNames(const KxRecordType& type, int iDepth) {
  if (iDepth > KxStore::kMaxDepth) return Fail(std::string(type.name) + " nests too deep");
  for (uint32_t f = 0; f < type.fieldCount; ++f) {
    const KxRecordField& field = type.fields[f];
    if (!IsXmlName(field.name))
      return Fail(std::string("field name \"") + field.name + "\" of " + type.name +
                  " is no XML name");
    if (field.element != nullptr && !CheckNames(*field.element, iDepth + 1)) return false;
  }
  return true;
}

bool KxXmlExporter::MapEntries(const KxEmbeddedMap* pSlot, const KxRecordType& element,
                               KxKeyKind eKey, const char* csName) {
  const KxMapKernelPart& kernel = *reinterpret_cast<const KxMapKernelPart*>(pSlot->kernelBytes);
  if (m_pStore->ElementOf(pSlot) != &element || kernel.keyKind != static_cast<uint32_t>(eKey))
    return Fail(std::string("map ") + csName + " is not laid out as its catalogue says");
  if (!Start(csName)) return false;
  const bool bText = eKey == KxKeyKind::kText;
  if (bText && NoCase(pSlot) && !Attribute("case", "insensitive")) return false;
  std::string csKey;
  for (uint32_t uiHandle = pSlot->header.headHandle; uiHandle != 0;) {
    const KxMapNode* pNode = reinterpret_cast<const KxMapNode*>(m_pSegment->At(uiHandle));
    const KxNodeKernelPart& node = *reinterpret_cast<const KxNodeKernelPart*>(pNode->kernelWords);
    if (!Start(kEntryName)) return false;
    if (!bText) {
      char aKey[24];
      *std::to_chars(aKey, aKey + sizeof aKey - 1, node.key).ptr = '\0';
      if (!Attribute("key", aKey)) return false;
    } else {
      const uint8_t* pKey = node.textKey != 0 ? m_pSegment->At(node.textKey) : nullptr;
      const uint32_t uiLength = node.textKey != 0 ? node.textLength : 0;
      const bool bPlain = AnsiToXml(pKey, uiLength, csKey);
      if (!bPlain) {
        csKey.clear();
        for (uint32_t c = 0; c < uiLength; ++c) AppendHex(csKey, pKey[c], 2);
      }
      if (csKey.size() > m_uiMaxText)
        return Fail(std::string("a key of map ") + csName + " is longer than the " +
                    std::to_string(m_uiMaxText) + " bytes an import accepts");
      if (!Attribute(bPlain ? "key" : "hexkey", csKey)) return false;
    }
    if (!Fields(element, reinterpret_cast<const uint8_t*>(pNode + 1)) || !End()) return false;
    uiHandle = pNode->nextHandle;
  }
  return End();
}

bool KxXmlExporter::ArrayItems(const KxArrayHeader* pHeader, const KxRecordType& element,
                               const char* csName) {
  if (pHeader->size != 0 &&
      !m_pSegment->ContainsUnits(pHeader->dataOffset, uint64_t{pHeader->size} * element.size))
    return Fail(std::string("array ") + csName + " lies outside its storage");
  if (!Start(csName)) return false;
  for (uint32_t e = 0; e < pHeader->size; ++e) {
    const uint8_t* pItem = m_pSegment->At(pHeader->dataOffset) + size_t{e} * element.size;
    if (!Start(kItemName) || !Fields(element, pItem) || !End()) return false;
  }
  return End();
}

bool KxXmlExporter::Text(const KxRecordField& field, const uint8_t* pText, uint32_t uiLength,
                         bool bWide) {
  const bool bPlain = bWide ? Utf16ToXml(reinterpret_cast<const char16_t*>(pText), uiLength, m_Text)
                            : AnsiToXml(pText, uiLength, m_Text);
  if (!bPlain) {
    m_Text.clear();
    for (uint32_t c = 0; c < uiLength; ++c) {
      if (bWide) {
        char16_t u;
        std::memcpy(&u, pText + 2 * size_t{c}, 2);
        AppendHex(m_Text, u, 4);
      } else {
        AppendHex(m_Text, pText[c], 2);
      }
    }
  }
  if (m_Text.size() > m_uiMaxText)
    return Fail(std::string("the text of ") + field.name + " is longer than the " +
                std::to_string(m_uiMaxText) + " bytes an import accepts");
  if (bPlain) return Element(field.name, m_Text.c_str());
  return Start(field.name) && Attribute("form", "hex") &&
         Ok(xmlTextWriterWriteString(m_pWriter, BAD_CAST m_Text.c_str())) && End();
}

bool KxXmlExporter::Value(const KxRecordField& field, const uint8_t* pField) {
  char aNumber[32];
  auto number = [&](auto value) {
    *std::to_chars(aNumber, aNumber + sizeof aNumber - 1, value).ptr = '\0';
    return Element(field.name, aNumber);
  };
  switch (field.kind) {
    case KxFieldKind::kInt32: {
      int32_t iValue;
      std::memcpy(&iValue, pField, 4);
      return number(iValue);
    }
    case KxFieldKind::kUInt32: {
      uint32_t uiValue;
      std::memcpy(&uiValue, pField, 4);
      return number(uiValue);
    }
    case KxFieldKind::kBool:
      if (*pField == 0) return Element(field.name, "false");
      if (*pField == 1) return Element(field.name, "true");
      return number(static_cast<unsigned>(*pField));
    case KxFieldKind::kStrDU:
    case KxFieldKind::kStrD: {
      const KxDynString& str = *reinterpret_cast<const KxDynString*>(pField);
      if (str.lengthWord == 0) return Start(field.name) && Attribute("form", "unset") && End();
      const bool bWide = field.kind == KxFieldKind::kStrDU;
      const uint32_t uiLength = str.lengthWord - 1;
      if (uiLength != 0 &&
          (str.lengthWord > str.capacity ||
           !m_pSegment->ContainsUnits(str.textOffset, uint64_t{str.capacity} * (bWide ? 2 : 1))))
        return Fail(std::string("string ") + field.name + " lies outside its storage");
      return Text(field, uiLength != 0 ? m_pSegment->At(str.textOffset) : pField, uiLength, bWide);
    }
    case KxFieldKind::kStrSU: {
      uint16_t usLength;
      std::memcpy(&usLength, pField, 2);
      if (usLength > field.count)
        return Fail(std::string("text ") + field.name + " is longer than its field");
      return Text(field, pField + 2, usLength, true);
    }
    case KxFieldKind::kDateTime: {
      uint64_t uiWord;
      std::memcpy(&uiWord, pField, 8);
      FormatDateTime(uiWord, m_Text);
      return Element(field.name, m_Text.c_str());
    }
    case KxFieldKind::kKxTime: {
      uint64_t uiWord;
      std::memcpy(&uiWord, pField, 8);
      FormatKxTime(uiWord, m_Text);
      return Element(field.name, m_Text.c_str());
    }
    case KxFieldKind::kFixedInt32:
    case KxFieldKind::kFixedUInt32: {
      m_Text.clear();
      for (uint32_t c = 0; c < field.count; ++c) {
        char* pEnd = aNumber;
        if (field.kind == KxFieldKind::kFixedInt32) {
          int32_t iValue;
          std::memcpy(&iValue, pField + 4 * size_t{c}, 4);
          pEnd = std::to_chars(aNumber, aNumber + sizeof aNumber, iValue).ptr;
        } else {
          uint32_t uiValue;
          std::memcpy(&uiValue, pField + 4 * size_t{c}, 4);
          pEnd = std::to_chars(aNumber, aNumber + sizeof aNumber, uiValue).ptr;
        }
        if (c != 0) m_Text += ' ';
        m_Text.append(aNumber, pEnd);
      }
      return Element(field.name, m_Text.c_str());
    }
    case KxFieldKind::kMap:
      return MapEntries(reinterpret_cast<const KxEmbeddedMap*>(pField), *field.element, field.key,
                        field.name);
    case KxFieldKind::kArray:
      return ArrayItems(reinterpret_cast<const KxArrayHeader*>(pField), *field.element, field.name);
    case KxFieldKind::kRecord:
      return Start(field.name) && Fields(*field.element, pField) && End();
  }
  return Fail(std::string("field ") + field.name + " is of a kind this kernel cannot write");
}

}  // namespace KxXmlDetail
