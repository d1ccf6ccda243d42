#include "kernel/KxVerifier.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace {

bool IsValidSignature(uint32_t uiSignature) {
  if (uiSignature == KxNodeState::kClean || uiSignature == KxNodeState::kDeleteCandidate)
    return true;
  const uint32_t uiDelta = uiSignature - KxNodeState::kModifiedBase;
  return uiDelta % 8 == 0 && uiDelta / 8 >= 1 && uiDelta / 8 <= KxNodeState::kMaxModified;
}

const KxMapKernelPart& KernelOf(const KxEmbeddedMap* pSlot) {
  return *reinterpret_cast<const KxMapKernelPart*>(pSlot->kernelBytes);
}

const KxNodeKernelPart& NodeKernelOf(const KxMapNode* pNode) {
  return *reinterpret_cast<const KxNodeKernelPart*>(pNode->kernelWords);
}

// A key as a path shows it: printable ASCII as it is, other bytes as \xNN.
std::string Printable(const uint8_t* p, size_t uiLength) {
  constexpr size_t kShown = 40;
  std::string csText;
  for (size_t i = 0; i < std::min(uiLength, kShown); ++i) {
    if (p[i] >= 0x20 && p[i] < 0x7F && p[i] != '"' && p[i] != '\\') {
      csText += static_cast<char>(p[i]);
    } else {
      char aHex[8];
      std::snprintf(aHex, sizeof aHex, "\\x%02X", p[i]);
      csText += aHex;
    }
  }
  return uiLength > kShown ? csText + "..." : csText;
}

}  // namespace

std::vector<KxProblem> KxVerifier::VerifyMember(const char* csMember,
                                                const KxMemberClass& memberClass,
                                                uint32_t uiContainer, bool bFull) {
  m_bFull = bFull;
  m_uiLost = 0;
  m_bUsedRight = true;
  m_Problems.clear();
  m_Path.clear();
  Scope member(*this, Step{Step::kField, csMember, 0, 0, 0, false});
  std::string csBlocks;
  std::vector<uint32_t> unlisted;
  if (!m_Segment.CheckBlocks(csBlocks, &m_Live, &unlisted)) {
    Report(csBlocks);
    return m_Problems;
  }
  m_Claimed.assign(m_Live.size(), false);
  const uint8_t* pContainer = At(uiContainer);
  switch (memberClass.kind) {
    case KxMemberKind::kMap:
      if (Claim(uiContainer, sizeof(KxEmbeddedMap), "the member's container"))
        CheckMap(reinterpret_cast<const KxEmbeddedMap*>(pContainer), *memberClass.element,
                 memberClass.key, 0);
      break;
    case KxMemberKind::kArray:
      if (Claim(uiContainer, sizeof(KxArrayHeader), "the member's container"))
        CheckArray(reinterpret_cast<const KxArrayHeader*>(pContainer), *memberClass.element, 0);
      break;
    case KxMemberKind::kSingle:
      if (Claim(uiContainer, memberClass.element->size, "the member's container"))
        CheckRecord(*memberClass.element, pContainer, 0);
      break;
  }
  if (m_Problems.empty()) CheckAllocation(unlisted);
  return m_Problems;
}

void KxVerifier::CheckAllocation(const std::vector<uint32_t>& unlisted) {
  m_uiLost = unlisted.size();
  uint64_t uiUsed = 0;
  for (uint32_t uiUnit = 0; uiUnit < m_Live.size(); ++uiUnit) {
    if (!m_Live[uiUnit]) continue;
    uiUsed += m_Segment.BlockBytes(uiUnit) / 4;
    if (m_Claimed[uiUnit]) continue;
    ++m_uiLost;
    if (m_bFull)
      Report("the live block at unit " + std::to_string(uiUnit) + " (" +
             std::to_string(m_Segment.BlockBytes(uiUnit)) + " bytes) is named by no structure: lost");
  }
  const KxSegmentHeader& header = m_Segment.Header();
  m_bUsedRight = header.usedUnits == uiUsed;
  if (!m_bFull) return;
  for (uint32_t uiUnit : unlisted) {
    Report("the free block at unit " + std::to_string(uiUnit) + " (" +
           std::to_string(m_Segment.BlockBytes(uiUnit)) + " bytes) is on no free list: lost");
  }
  if (!m_bUsedRight) {
    Report("the segment counts " + std::to_string(header.usedUnits) + " units in use, its blocks " +
           std::to_string(uiUsed));
  }
  if (header.top > header.capacity) {
    Report("the allocation top (unit " + std::to_string(header.top) +
           ") lies beyond the segment's capacity (" + std::to_string(header.capacity) + " units)");
  }
  if (header.intentOp != 0) {
    Report(std::string("a change was left unfinished (") + KxIntentName(header.intentOp) +
           " at unit " + std::to_string(header.intentUnit) + ")");
  }
}

void KxVerifier::CheckHashChains(const KxEmbeddedMap* pSlot, const std::vector<uint32_t>& nodes) {
  const KxMapKernelPart& kernel = KernelOf(pSlot);
  if (KxStore::HashesStale(pSlot)) return;  // the next lookup rehashes it
  if (nodes.empty()) return;
  if (kernel.bucketCount == 0) {
    Report("a map holds entries but no bucket table");
    return;
  }
  std::unordered_set<uint32_t> inOrder(nodes.begin(), nodes.end());
  std::unordered_set<uint32_t> hashed;
  const uint32_t* pBuckets = reinterpret_cast<const uint32_t*>(At(kernel.buckets));
  for (uint32_t b = 0; b < kernel.bucketCount; ++b) {
    for (uint32_t h = pBuckets[b]; h != 0;) {
      if (inOrder.count(h) == 0 || !hashed.insert(h).second) {
        Report("bucket " + std::to_string(b) + " of a map leads to unit " + std::to_string(h) +
               ", not a node of the map once");
        return;
      }
      const KxMapNode* pNode = reinterpret_cast<const KxMapNode*>(At(h));
      const KxNodeKernelPart& node = NodeKernelOf(pNode);
      const uint32_t uiHash =
          KxStore::HashOf(pSlot, node.key, reinterpret_cast<const char*>(At(node.textKey)),
                          node.textKey != 0 ? node.textLength : 0);
      if (node.hash != uiHash || (uiHash & (kernel.bucketCount - 1)) != b) {
        Report("the node at unit " + std::to_string(h) + " lies in bucket " + std::to_string(b) +
               " of a map, not in its key's");
        return;
      }
      h = node.hashNext;
    }
  }
  if (hashed.size() != nodes.size()) {
    Report("a map's hash chains hold " + std::to_string(hashed.size()) + " of its " +
           std::to_string(nodes.size()) + " nodes");
  }
}

void KxVerifier::Report(const std::string& csWhat) {
  if (!Full()) m_Problems.push_back(KxProblem{Where(), csWhat});
}

std::string KxVerifier::Where() const {
  std::string csWhere;
  for (const Step& step : m_Path) {
    switch (step.eKind) {
      case Step::kField:
        csWhere += (csWhere.empty() ? "" : ".") + std::string(step.csName);
        break;
      case Step::kElement:
        csWhere += "[" + std::to_string(step.uiNumber) + "]";
        break;
      case Step::kEntry:
        if (!step.bKeyKnown) {
          csWhere += "[node at unit " + std::to_string(step.uiNumber) + "]";
        } else if (step.uiTextKey != 0) {
          csWhere += "[\"" + Printable(At(step.uiTextKey), step.uiTextLength) + "\"]";
        } else {
          csWhere += "[" + std::to_string(step.uiNumber) + "]";
        }
        break;
    }
  }
  return csWhere;
}

bool KxVerifier::Claim(uint32_t uiUnit, uint64_t uiBytes, const std::string& csWhat) {
  const std::string csAt = csWhat + " at unit " + std::to_string(uiUnit);
  if (uiUnit >= m_Live.size() || !m_Live[uiUnit]) {
    Report(csWhat + " leaves its storage (unit " + std::to_string(uiUnit) + " is no live block)");
    return false;
  }
  if (m_Segment.BlockBytes(uiUnit) < uiBytes) {
    Report(csAt + " leaves its storage (" + std::to_string(uiBytes) + " bytes in a block of " +
           std::to_string(m_Segment.BlockBytes(uiUnit)) + ")");
    return false;
  }
  if (m_Claimed[uiUnit]) {
    Report(csAt + " shares storage with another structure");
    return false;
  }
  m_Claimed[uiUnit] = true;
  return true;
}

void KxVerifier::CheckRecord(const KxRecordType& type, const uint8_t* pRecord, int iDepth) {
  if (iDepth > KxStore::kMaxDepth) {
    Report("records nested too deep");
    return;
  }
  for (uint32_t i = 0; i < type.fieldCount && !Full(); ++i) {
    Scope field(*this, Step{Step::kField, type.fields[i].name, 0, 0, 0, false});
    CheckField(type.fields[i], pRecord + type.fields[i].offset, iDepth);
  }
}

void KxVerifier::CheckField(const KxRecordField& field, const uint8_t* pField, int iDepth) {
  switch (field.kind) {
    case KxFieldKind::kMap:
      CheckMap(reinterpret_cast<const KxEmbeddedMap*>(pField), *field.element, field.key, iDepth);
      break;
    case KxFieldKind::kArray:
      CheckArray(reinterpret_cast<const KxArrayHeader*>(pField), *field.element, iDepth);
      break;
    case KxFieldKind::kStrDU:
    case KxFieldKind::kStrD:
      CheckString(field, *reinterpret_cast<const KxDynString*>(pField));
      break;
    case KxFieldKind::kStrSU:
      if (*reinterpret_cast<const uint16_t*>(pField) > field.count)
        Report(std::string("text ") + field.name + " is longer than its field");
      break;
    case KxFieldKind::kRecord:
      CheckRecord(*field.element, pField, iDepth + 1);
      break;
    default:
      break;
  }
}

void KxVerifier::CheckString(const KxRecordField& field, const KxDynString& str) {
  const uint32_t uiChar = field.kind == KxFieldKind::kStrDU ? 2 : 1;
  const std::string csString = std::string("string ") + field.name;
  if (str.kernel16[0] != (KxStore::kStringTag | uiChar)) {
    Report(csString + " is not laid out as a string of " + std::to_string(uiChar) +
           "-byte characters");
    return;
  }
  // The library writes within the capacity even while the string is empty,
  // and the kernel frees whatever block the offset names.
  if (str.lengthWord > 1 && str.lengthWord > str.capacity) {
    Report(csString + " leaves its storage (longer than its capacity)");
  } else if (str.capacity != 0 || str.textOffset != 0) {
    Claim(str.textOffset, uint64_t{str.capacity} * uiChar, csString);
  }
}

uint32_t KxVerifier::ElementType(const uint32_t& uiWord) {
  if (m_pMigrating == nullptr || m_Types.At(uiWord) != nullptr) return uiWord;
  const KxRecordType* pType = m_Types.AtPosition(uiWord);
  if (pType == nullptr) return uiWord;
  uint32_t& uiStored = *reinterpret_cast<uint32_t*>(m_pMigrating->At(m_Segment.UnitOf(&uiWord)));
  uiStored = KxRecordTypes::IdOf(pType);
  return uiStored;
}

void KxVerifier::CheckArray(const KxArrayHeader* pHeader, const KxRecordType& element, int iDepth) {
  if (pHeader->kernel4 != KxStore::kArrayTag) {
    Report("an array is not laid out by this kernel");
    return;
  }
  if (ElementType(pHeader->kernel5) != KxRecordTypes::IdOf(&element)) {
    const KxRecordType* pStored = m_Types.At(pHeader->kernel5);
    Report(std::string("an array is not of its class (its elements are ") +
           (pStored != nullptr ? pStored->name : "of no known type") + ", not " + element.name +
           ")");
    return;
  }
  if (pHeader->size > pHeader->kernel2) {
    Report("an array leaves its storage (" + std::to_string(pHeader->size) +
           " elements, capacity " + std::to_string(pHeader->kernel2) + ")");
    return;
  }
  if ((pHeader->kernel2 != 0 || pHeader->dataOffset != 0) &&
      !Claim(pHeader->dataOffset, uint64_t{pHeader->kernel2} * element.size, "an array")) {
    return;
  }
  for (uint32_t e = 0; e < pHeader->size && !Full(); ++e) {
    Scope item(*this, Step{Step::kElement, nullptr, e, 0, 0, false});
    CheckRecord(element, At(pHeader->dataOffset) + size_t{e} * element.size, iDepth + 1);
  }
}

bool KxVerifier::CheckMapWords(const KxEmbeddedMap* pSlot, const KxRecordType& element,
                               KxKeyKind eKey) {
  const KxMapKernelPart& kernel = KernelOf(pSlot);
  if (kernel.tag != KxMapKernelPart::kTag) {
    Report("a map is not laid out by this kernel");
    return false;
  }
  if (ElementType(kernel.elementType) != KxRecordTypes::IdOf(&element) ||
      kernel.keyKind != static_cast<uint32_t>(eKey)) {
    const KxRecordType* pStored = m_Types.At(kernel.elementType);
    Report(std::string("a map is not of its class (elements ") +
           (pStored != nullptr ? pStored->name : "of no known type") + " keyed by kind " +
           std::to_string(kernel.keyKind) + ", not " + element.name + " keyed by kind " +
           std::to_string(static_cast<int>(eKey)) + ")");
    return false;
  }
  const uint32_t uiWord = pSlot->header.lockWord;
  const uint32_t uiCase = uiWord & (KxLockWord::kKeyCase | KxLockWord::kKeyNoCase);
  const bool bCaseRight = eKey == KxKeyKind::kText
                              ? uiCase == KxLockWord::kKeyCase || uiCase == KxLockWord::kKeyNoCase
                              : uiCase == 0;
  if ((uiWord & KxLockWord::kSignatureMask) != KxLockWord::kSignature || !bCaseRight) {
    Report("a map's lock word is not laid out by this kernel (signature or key case)");
    return false;
  }
  if (kernel.hashScheme > KxMapKernelPart::kHashScheme || kernel.hashedNoCase > 1) {
    Report("a map is hashed by an unknown scheme");
    return false;
  }
  if ((kernel.bucketCount & (kernel.bucketCount - 1)) != 0) {
    Report("a map is not laid out by this kernel (its bucket count is no power of two)");
    return false;
  }
  // The rebuild frees the old table, so even an unused one must be the map's own.
  if (kernel.bucketCount != 0 || kernel.buckets != 0) {
    if (!Claim(kernel.buckets, 4ull * kernel.bucketCount, "a map's bucket table")) return false;
  }
  return true;
}

bool KxVerifier::CheckNode(uint32_t uiHandle, const KxRecordType& element, KxKeyKind eKey) {
  if (uiHandle < m_Claimed.size() && m_Claimed[uiHandle]) {
    Report("a map's chain does not end, or runs into another structure, at unit " +
           std::to_string(uiHandle));
    return false;
  }
  if (!Claim(uiHandle, sizeof(KxMapNode) + uint64_t{element.size}, "a map's chain")) return false;
  const KxMapNode* pNode = reinterpret_cast<const KxMapNode*>(At(uiHandle));
  if (!IsValidSignature(pNode->signature)) {
    Report("a map node has no valid signature");
    return false;
  }
  const KxNodeKernelPart& node = NodeKernelOf(pNode);
  if (eKey == KxKeyKind::kText) {
    if (!Claim(node.textKey, uint64_t{node.textLength} + 1, "a map key")) return false;
    // Lookups take keys as terminated texts: a key holding a NUL could
    // never be found, nor imported again.
    if (std::memchr(At(node.textKey), 0, node.textLength) != nullptr) {
      Report("a map key holds a NUL byte");
      return false;
    }
    m_Path.back().uiTextKey = node.textKey;
    m_Path.back().uiTextLength = node.textLength;
    m_Path.back().bKeyKnown = true;
  } else if (node.textKey != 0 || node.textLength != 0) {
    Report("a map key leaves its storage (a number key with a text)");
    return false;
  } else {
    m_Path.back().uiNumber = node.key;
    m_Path.back().bKeyKnown = true;
  }
  return true;
}

void KxVerifier::CheckMap(const KxEmbeddedMap* pSlot, const KxRecordType& element, KxKeyKind eKey,
                          int iDepth) {
  if (!CheckMapWords(pSlot, element, eKey)) return;
  const KxMapKernelPart& kernel = KernelOf(pSlot);
  const uint32_t uiSlotUnit = m_Segment.UnitOf(pSlot);
  uint32_t uiCount = 0;
  uint32_t uiPrevious = 0;
  // Keys as the map compares them: each may be there once, or lookups find
  // only the first and an export would not import again.
  const bool bNoCase = (pSlot->header.lockWord & KxLockWord::kKeyNoCase) != 0;
  std::unordered_set<std::string> textKeys;
  std::unordered_set<uint64_t> numberKeys;
  std::vector<uint32_t> nodes;
  for (uint32_t uiHandle = pSlot->header.headHandle; uiHandle != 0 && !Full();) {
    Scope entry(*this, Step{Step::kEntry, nullptr, uiHandle, 0, 0, false});
    if (!CheckNode(uiHandle, element, eKey)) return;
    const KxMapNode* pNode = reinterpret_cast<const KxMapNode*>(At(uiHandle));
    const KxNodeKernelPart& node = NodeKernelOf(pNode);
    const bool bNew =
        eKey == KxKeyKind::kText
            ? textKeys
                  .insert(KxStore::ComparedKey(reinterpret_cast<const char*>(At(node.textKey)),
                                               node.textLength, bNoCase))
                  .second
            : numberKeys.insert(node.key).second;
    if (!bNew) Report("a map holds this key twice");
    nodes.push_back(uiHandle);
    if (m_bFull && (node.prev != uiPrevious || node.mapSlot != uiSlotUnit)) {
      Report("a map node's previous link or owning map is wrong");
    }
    CheckRecord(element, reinterpret_cast<const uint8_t*>(pNode + 1), iDepth + 1);
    uiPrevious = uiHandle;
    ++uiCount;
    uiHandle = pNode->nextHandle;
  }
  if (m_bFull && !Full() && (pSlot->header.count != uiCount || kernel.tail != uiPrevious)) {
    Report("a map's count says " + std::to_string(pSlot->header.count) + " while its chain holds " +
           std::to_string(uiCount) + (kernel.tail != uiPrevious ? ", and its tail is wrong" : ""));
  }
  if (m_bFull && !Full() && (KxAtomicLoad(kernel.writes) & 1) != 0)
    Report("a map is marked as being written");
  if (m_bFull && !Full()) CheckHashChains(pSlot, nodes);
}
