// XML import of kernel files: the rebuild of the staged content through the
// store's own operations.
#include <cstring>

#include "kernel/KxXmlImport.h"

namespace KxXmlDetail {

bool KxXmlRebuild::Map(KxEmbeddedMap* pSlot, const KxRecordType& element, uint32_t uiContainer) {
  if (uiContainer == 0) return true;
  const bool bText = reinterpret_cast<const KxMapKernelPart*>(pSlot->kernelBytes)->keyKind ==
                     static_cast<uint32_t>(KxKeyKind::kText);
  for (const KxStagedEntry& entry : m_Staged.containers[uiContainer - 1].entries) {
    const char* csKey = bText ? m_Staged.texts[entry.uiTextKey - 1].c_str() : nullptr;
    const uint32_t uiHandle = m_Store.MapCommand(pSlot, D2MapCmd::Add, entry.uiKey, csKey);
    if (uiHandle == 0) return false;
    if (!Record(element, m_Segment.At(uiHandle) + sizeof(KxMapNode), entry.uiImage)) return false;
  }
  return true;
}

bool KxXmlRebuild::Array(KxArrayHeader* pHeader, const KxRecordType& element,
                         uint32_t uiContainer) {
  if (uiContainer == 0) return true;
  const auto& items = m_Staged.containers[uiContainer - 1].entries;
  if (!m_Store.ResizeArray(pHeader, static_cast<uint32_t>(items.size()))) return false;
  for (size_t e = 0; e < items.size(); ++e) {
    uint8_t* pItem = m_Segment.At(pHeader->dataOffset) + e * element.size;
    if (!Record(element, pItem, items[e].uiImage)) return false;
  }
  return true;
}

bool KxXmlRebuild::Record(const KxRecordType& type, uint8_t* pRecord, size_t uiImage) {
  const uint8_t* pImage = m_Staged.arena.data() + uiImage;
  for (uint32_t f = 0; f < type.fieldCount; ++f) {
    const KxRecordField& field = type.fields[f];
    uint8_t* pField = pRecord + field.offset;
    const size_t uiAt = uiImage + field.offset;
    switch (field.kind) {
      case KxFieldKind::kStrDU:
      case KxFieldKind::kStrD: {
        if (m_Staged.Word(uiAt) == 0) break;  // never written, as laid out
        const std::string& csText = m_Staged.texts[m_Staged.Word(uiAt + 4)];
        const size_t uiChar = field.kind == KxFieldKind::kStrDU ? 2 : 1;
        KxDynString* pString = reinterpret_cast<KxDynString*>(pField);
        if (!m_Store.ResizeString(pString, static_cast<uint32_t>(csText.size() / uiChar)))
          return false;
        if (!csText.empty())
          std::memcpy(m_Segment.At(pString->textOffset), csText.data(), csText.size());
        break;
      }
      case KxFieldKind::kMap: {
        KxEmbeddedMap* pSlot = reinterpret_cast<KxEmbeddedMap*>(pField);
        if (m_Staged.Word(uiAt + 4) != 0)
          m_Store.MapCommand(pSlot, D2MapCmd::KeyNoCase, 0, nullptr);
        if (!Map(pSlot, *field.element, m_Staged.Word(uiAt))) return false;
        break;
      }
      case KxFieldKind::kArray:
        if (!Array(reinterpret_cast<KxArrayHeader*>(pField), *field.element, m_Staged.Word(uiAt)))
          return false;
        break;
      case KxFieldKind::kRecord:
        if (!Record(*field.element, pField, uiAt)) return false;
        break;
      default:
        std::memcpy(pField, pImage + field.offset, field.width);
        break;
    }
  }
  return true;
}

}  // namespace KxXmlDetail
