#include "kernel/KxStore.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

#include "contracts/kernel/KxComponent.h"
#include "contracts/kernel/KxText.h"
#include "kernel/KxStep.h"
#include "kernel/KxVerifier.h"

namespace {

constexpr uint32_t kRemovedSignature = 0;

uint32_t& Word(void* p, size_t uiIndex) { return static_cast<uint32_t*>(p)[uiIndex]; }

// A map's hash table holds elements up to three quarters of its buckets.
bool TableHolds(uint64_t uiBuckets, uint64_t uiElements) { return 4 * uiElements <= 3 * uiBuckets; }
// `uiBuckets` doubled until the table holds `uiElements`.
uint64_t BucketsFor(uint64_t uiElements, uint64_t uiBuckets) {
  while (!TableHolds(uiBuckets, uiElements)) uiBuckets *= 2;
  return uiBuckets;
}

// The case fold of a key byte as a table, for maps without key case: one
// load a byte instead of four comparisons.
constexpr std::array<uint8_t, 256> kFolded = [] {
  std::array<uint8_t, 256> table{};
  for (size_t c = 0; c < table.size(); ++c) table[c] = KxText::FoldCp1252(static_cast<uint8_t>(c));
  return table;
}();

// A key byte as a map compares it: folded when the map has no key case.
// The loops over key bytes are made once for each case, so that a map with
// key case reads each byte once and nothing else.
template <bool bFold>
uint8_t AsCompared(uint8_t c) {
  return bFold ? kFolded[c] : c;
}

// Text keys: FNV-1a, with case folded for maps without key case.
template <bool bFold>
uint32_t TextHashOf(const uint8_t* p, size_t uiLength) {
  uint64_t uiHash = 1469598103934665603ull;
  for (size_t i = 0; i < uiLength; ++i) {
    uiHash ^= AsCompared<bFold>(p[i]);
    uiHash *= 1099511628211ull;
  }
  return static_cast<uint32_t>(uiHash);
}

uint32_t TextHash(const char* csKey, size_t uiLength, bool bFold) {
  const auto* p = reinterpret_cast<const uint8_t*>(csKey);
  return bFold ? TextHashOf<true>(p, uiLength) : TextHashOf<false>(p, uiLength);
}

// Number keys: one multiplication between two xor-shifts, so that a lookup
// knows its bucket within a few cycles and ids handed out in steps still
// spread over the buckets.
uint32_t NumberHash(uint64_t uiKey) {
  uiKey ^= uiKey >> 33;
  uiKey *= 0xFF51AFD7ED558CCDull;
  uiKey ^= uiKey >> 33;
  return static_cast<uint32_t>(uiKey);
}

// Marks a map as being written (its `writes` word odd) for a scope; nested
// writers leave the marking to the outermost. Writers hold the segment's
// mutex, so they never race each other on the word.
class MapWrite {
 public:
  explicit MapWrite(KxMapKernelPart& kernel) : m_Kernel(kernel) {
    const uint32_t uiWrites = KxAtomicLoad(kernel.writes, std::memory_order_relaxed);
    m_bOpened = (uiWrites & 1) == 0;
    if (m_bOpened) {
      KxAtomicStore(kernel.writes, uiWrites + 1, std::memory_order_relaxed);
      std::atomic_thread_fence(std::memory_order_seq_cst);  // the mark is seen before any change
    }
  }
  ~MapWrite() {
    if (m_bOpened) KxAtomicAdd(m_Kernel.writes, 1u);
  }
  MapWrite(const MapWrite&) = delete;
  MapWrite& operator=(const MapWrite&) = delete;

 private:
  KxMapKernelPart& m_Kernel;
  bool m_bOpened;
};

template <class T>
T LoadRelaxed(const T* p) {
  return KxAtomicLoad(*p, std::memory_order_relaxed);
}

void StoreRelease(uint32_t* pWord, uint32_t uiValue) { KxAtomicStore(*pWord, uiValue); }

// Whether bytes [uiFrom, uiTo) of a stored key equal those of `csWanted`.
// The stored bytes are read one by one as a writer may change them.
template <bool bFold>
bool SameKeyBytes(const uint8_t* pStored, const char* csWanted, size_t uiFrom, size_t uiTo) {
  for (size_t i = uiFrom; i < uiTo; ++i) {
    const uint8_t cStored = LoadRelaxed(&pStored[i]);
    if (AsCompared<bFold>(cStored) != AsCompared<bFold>(static_cast<uint8_t>(csWanted[i])))
      return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Record types.

KxRecordTypes::KxRecordTypes(const KxCatalogue& catalogue) {
  for (uint32_t i = 0; i < catalogue.classCount; ++i) Add(catalogue.classes[i].element);
  size_t uiSlots = 16;
  while (uiSlots < 2 * m_Positions.size()) uiSlots *= 2;
  m_Slots.assign(uiSlots, {0, nullptr});
  const size_t uiMask = uiSlots - 1;
  for (const KxRecordType* pType : m_Positions) {
    const uint32_t uiId = m_ById.at(pType);
    size_t i = uiId & uiMask;
    for (; m_Slots[i].first != 0; i = (i + 1) & uiMask) {
      if (m_Slots[i].first == uiId) {
        throw std::logic_error(std::string("record types ") + pType->name + " and " +
                               m_Slots[i].second->name + " share a stored id");
      }
    }
    m_Slots[i] = {uiId, pType};
  }
}

void KxRecordTypes::Add(const KxRecordType* pType) {
  if (pType == nullptr || !m_ById.emplace(pType, IdOf(pType)).second) return;
  m_Positions.push_back(pType);
  for (uint32_t i = 0; i < pType->fieldCount; ++i) Add(pType->fields[i].element);
}

// ---------------------------------------------------------------------------
// Records.

void KxStore::InitRecord(const KxRecordType& type, uint8_t* pRecord) {
  std::memset(pRecord, 0, type.size);
  for (uint32_t i = 0; i < type.fieldCount; ++i) {
    const KxRecordField& field = type.fields[i];
    uint8_t* pField = pRecord + field.offset;
    switch (field.kind) {
      case KxFieldKind::kMap:
        InitMap(reinterpret_cast<KxEmbeddedMap*>(pField), field.element, field.key);
        break;
      case KxFieldKind::kArray:
        InitArray(reinterpret_cast<KxArrayHeader*>(pField), field.element);
        break;
      case KxFieldKind::kStrDU:
        reinterpret_cast<KxDynString*>(pField)->kernel16[0] = kStringTag | 2;
        break;
      case KxFieldKind::kStrD:
        reinterpret_cast<KxDynString*>(pField)->kernel16[0] = kStringTag | 1;
        break;
      case KxFieldKind::kRecord:
        InitRecord(*field.element, pField);
        break;
      default:
        break;
    }
  }
}

void KxStore::FreeRecord(const KxRecordType& type, uint8_t* pRecord) {
  // The record is reachable by nobody (or covered by a reset intent), so
  // the order of these frees matters to no one: a death half way leaves
  // blocks that the reclaim frees. Its words are left naming freed blocks.
  for (uint32_t i = 0; i < type.fieldCount; ++i) {
    const KxRecordField& field = type.fields[i];
    uint8_t* pField = pRecord + field.offset;
    switch (field.kind) {
      case KxFieldKind::kMap:
        FreeMap(reinterpret_cast<KxEmbeddedMap*>(pField));
        break;
      case KxFieldKind::kArray: {
        const KxArrayHeader* pHeader = reinterpret_cast<const KxArrayHeader*>(pField);
        for (uint32_t e = 0; e < pHeader->size; ++e) {
          FreeRecord(*field.element,
                     m_Segment.At(pHeader->dataOffset) + size_t{e} * field.element->size);
        }
        m_Segment.Free(pHeader->dataOffset);
        break;
      }
      case KxFieldKind::kStrDU:
      case KxFieldKind::kStrD:
        m_Segment.Free(reinterpret_cast<const KxDynString*>(pField)->textOffset);
        break;
      case KxFieldKind::kRecord:
        FreeRecord(*field.element, pField);
        break;
      default:
        break;
    }
  }
}

void KxStore::RebuildRecord(const KxRecordType& type, uint8_t* pRecord, bool bResetLocks) {
  for (uint32_t i = 0; i < type.fieldCount; ++i) {
    const KxRecordField& field = type.fields[i];
    uint8_t* pField = pRecord + field.offset;
    if (field.kind == KxFieldKind::kMap) {
      KxEmbeddedMap* pSlot = reinterpret_cast<KxEmbeddedMap*>(pField);
      if (bResetLocks) {
        pSlot->header.lockWord &=
            KxLockWord::kSignatureMask | KxLockWord::kKeyCase | KxLockWord::kKeyNoCase;
      }
      RebuildMap(pSlot);
      for (uint32_t uiHandle : Nodes(pSlot)) {
        RebuildRecord(*field.element, reinterpret_cast<uint8_t*>(NodeAt(uiHandle) + 1),
                      bResetLocks);
      }
    } else if (field.kind == KxFieldKind::kArray) {
      KxArrayHeader* pHeader = reinterpret_cast<KxArrayHeader*>(pField);
      if (bResetLocks) pHeader->lockWord = 0;
      for (uint32_t e = 0; e < pHeader->size; ++e) {
        RebuildRecord(*field.element,
                      m_Segment.At(pHeader->dataOffset) + size_t{e} * field.element->size,
                      bResetLocks);
      }
    } else if (field.kind == KxFieldKind::kRecord) {
      RebuildRecord(*field.element, pField, bResetLocks);
    }
  }
}

void KxStore::RebuildMap(KxEmbeddedMap* pSlot) {
  KxMapKernelPart& kernel = Kernel(pSlot);
  // A writer that died left the write counter odd: lookups without the
  // mutex would never trust an answer again.
  if ((KxAtomicLoad(kernel.writes) & 1) != 0) KxAtomicAdd(kernel.writes, 1u);
  MapWrite write(kernel);
  uint32_t uiCount = 0;
  uint32_t uiPrevious = 0;
  for (uint32_t uiHandle = pSlot->header.headHandle; uiHandle != 0;
       uiHandle = NodeAt(uiHandle)->nextHandle) {
    NodeKernel(NodeAt(uiHandle)).prev = uiPrevious;
    NodeKernel(NodeAt(uiHandle)).mapSlot = m_Segment.UnitOf(pSlot);
    uiPrevious = uiHandle;
    ++uiCount;
  }
  kernel.tail = uiPrevious;
  StoreRelease(&pSlot->header.count, uiCount);
  if (uiCount == 0 && kernel.bucketCount == 0) {
    // Never hashed: no table to build, and any hashing is this build's.
    kernel.hashScheme = KxMapKernelPart::kHashScheme;
    kernel.hashedNoCase = NoCase(pSlot) ? 1 : 0;
    return;
  }
  // The table keeps its size when it holds the elements (a first table
  // sized for a batch may be smaller than a single Add makes), so that a
  // normal file is rehashed in place.
  uint32_t uiBuckets = kernel.bucketCount;
  if (uiBuckets == 0 || !TableHolds(uiBuckets, uiCount))
    uiBuckets = static_cast<uint32_t>(BucketsFor(uiCount, std::max(kFirstBuckets, uiBuckets)));
  Rehash(pSlot, uiBuckets, std::min(uiBuckets, kFirstBuckets));
}

// ---------------------------------------------------------------------------
// File members.

size_t KxStore::ContainerBytes(const KxMemberClass& memberClass) {
  switch (memberClass.kind) {
    case KxMemberKind::kMap:
      return sizeof(KxEmbeddedMap);
    case KxMemberKind::kArray:
      return sizeof(KxArrayHeader);
    case KxMemberKind::kSingle:
      return memberClass.element->size;
  }
  return 0;
}

void KxStore::InitMember(const KxMemberClass& memberClass, void* pContainer) {
  switch (memberClass.kind) {
    case KxMemberKind::kMap:
      InitMap(static_cast<KxEmbeddedMap*>(pContainer), memberClass.element, memberClass.key);
      break;
    case KxMemberKind::kArray:
      InitArray(static_cast<KxArrayHeader*>(pContainer), memberClass.element);
      break;
    case KxMemberKind::kSingle:
      InitRecord(*memberClass.element, static_cast<uint8_t*>(pContainer));
      break;
  }
}

void KxStore::ClearMember(const KxMemberClass& memberClass, void* pContainer) {
  KxIntentScope intent(m_Segment, KxIntent::kClearMember, m_Segment.UnitOf(pContainer));
  switch (memberClass.kind) {
    case KxMemberKind::kMap:
      RemoveAll(static_cast<KxEmbeddedMap*>(pContainer));
      break;
    case KxMemberKind::kArray:
      ResizeArray(static_cast<KxArrayHeader*>(pContainer), 0);
      break;
    case KxMemberKind::kSingle:
      ResetRecord(*memberClass.element, static_cast<uint8_t*>(pContainer));
      break;
  }
}

void KxStore::ResetRecord(const KxRecordType& type, uint8_t* pRecord) {
  // The reset's own intent, whatever change it is part of: only it tells the
  // next mutex holder which record to lay out again.
  KxSegmentHeader& header = m_Segment.Header();
  const uint32_t uiOuter = header.intentOp;
  const uint32_t uiOuterUnit = header.intentUnit;
  if (uiOuter != 0) {
    header.intentOp = 0;
    KxStep();
  }
  m_Segment.BeginIntent(KxIntent::kResetRecord, m_Segment.UnitOf(pRecord), m_Types.StoredId(&type));
  FreeRecord(type, pRecord);
  InitRecord(type, pRecord);
  m_Segment.EndIntent();
  if (uiOuter != 0) m_Segment.BeginIntent(static_cast<KxIntent>(uiOuter), uiOuterUnit);
}

std::string KxStore::Recover(const KxMemberClass& memberClass, const char* csMember) {
  KxSegmentHeader& header = m_Segment.Header();
  const uint32_t uiIntent = header.intentOp;
  std::string csDone = std::string("a process died holding the mutex during ") +
                       KxIntentName(uiIntent) +
                       (uiIntent != 0 ? " at unit " + std::to_string(header.intentUnit) : "");
  if (uiIntent == static_cast<uint32_t>(KxIntent::kResetRecord)) {
    // What the reset had not freed yet is lost with the old layout, and
    // reclaimed below.
    const KxRecordType* pType = m_Types.At(header.intentType);
    if (pType != nullptr && m_Segment.ContainsUnits(header.intentUnit, pType->size)) {
      InitRecord(*pType, m_Segment.At(header.intentUnit));
      csDone += "; the record's clear finished";
    }
  }
  const uint32_t uiContainer = KxAtomicLoad(header.container);
  RebuildMember(memberClass, m_Segment.At(uiContainer), false);
  KxVerifier verifier(m_Segment, m_Types);
  const std::vector<KxProblem> problems =
      verifier.VerifyMember(csMember, memberClass, uiContainer, false);
  if (!problems.empty()) {
    csDone += "; the member is damaged (" + problems.front().csWhere + ": " +
              problems.front().csWhat + "), nothing reclaimed";
  } else {
    // Always: a death inside the allocator can leave its count of used
    // units off even when no block is lost.
    if (verifier.LostBlocks() > 0)
      csDone += "; " + std::to_string(verifier.LostBlocks()) + " lost blocks reclaimed";
    m_Segment.Reclaim(verifier.Claimed());
  }
  m_Segment.EndIntent();
  ++header.recoveries;
  return csDone;
}

void KxStore::ReclaimLost(const KxVerifier& verifier) {
  if (verifier.LostBlocks() > 0 || !verifier.UsedUnitsRight())
    m_Segment.Reclaim(verifier.Claimed());
}

bool KxStore::CheckMember(const KxMemberClass& memberClass, const void* pContainer,
                          std::string& csWhy) const {
  if (!m_Segment.Contains(pContainer, ContainerBytes(memberClass))) {
    csWhy = "the member's container lies outside its storage";
    return false;
  }
  KxVerifier verifier(m_Segment, m_Types);
  const std::vector<KxProblem> problems =
      verifier.VerifyMember("member", memberClass, m_Segment.UnitOf(pContainer), false);
  if (problems.empty()) return true;
  csWhy = problems.front().csWhere + ": " + problems.front().csWhat;
  return false;
}

void KxStore::RebuildMember(const KxMemberClass& memberClass, void* pContainer, bool bResetLocks) {
  // The member's container is a field of no record: lay a one-field record
  // over it so that the record walk reaches it and everything inside.
  KxRecordField field{"member", KxFieldKind::kRecord, memberClass.key, 0, 0,
                      1,        memberClass.element};
  if (memberClass.kind == KxMemberKind::kMap) field.kind = KxFieldKind::kMap;
  if (memberClass.kind == KxMemberKind::kArray) field.kind = KxFieldKind::kArray;
  const KxRecordType holder{"member", static_cast<uint32_t>(ContainerBytes(memberClass)), &field,
                            1};
  RebuildRecord(holder, static_cast<uint8_t*>(pContainer), bResetLocks);
}

// ---------------------------------------------------------------------------
// Strings and arrays.

bool KxStore::ResizeMember(void* pMember, uint32_t uiLength) {
  if (!m_Segment.Contains(pMember, sizeof(KxDynString))) return false;
  const uint32_t uiTag = Word(pMember, 4);
  if ((uiTag & kTagMask) == kStringTag)
    return ResizeString(static_cast<KxDynString*>(pMember), uiLength);
  if ((uiTag & kTagMask) == kArrayTag)
    return ResizeArray(static_cast<KxArrayHeader*>(pMember), uiLength);
  return false;
}

bool KxStore::ResizeString(KxDynString* pString, uint32_t uiLength) {
  const uint32_t uiChar = pString->kernel16[0] & 0xFF;
  if (uiChar != 1 && uiChar != 2) return false;
  KxIntentScope intent(m_Segment, KxIntent::kResize, m_Segment.UnitOf(pString));
  // Throughout, a block is freed only once nothing names it, and a length
  // never exceeds the capacity beside it: a process that dies half way
  // leaves a block unused (reclaimed by the next mutex holder), never a
  // structure naming a free block.
  if (uiLength == 0) {
    const uint32_t uiText = pString->textOffset;
    StoreRelease(&pString->lengthWord, 1);  // reserved and empty
    KxStep();
    pString->capacity = 0;
    KxStep();
    StoreRelease(&pString->textOffset, 0);
    KxStep();
    m_Segment.Free(uiText);
    return true;
  }
  const uint32_t uiOld = pString->lengthWord > 1 ? pString->lengthWord - 1 : 0;
  if (uiLength < pString->capacity) {
    uint8_t* pText = m_Segment.At(pString->textOffset);
    std::memset(pText + size_t{uiLength} * uiChar, 0, uiChar);
    pString->lengthWord = uiLength + 1;
    return true;
  }
  if (uint64_t{uiLength} + 1 > UINT32_MAX / 2) return false;
  const uint32_t uiNew = m_Segment.Allocate((size_t{uiLength} + 1) * uiChar);
  if (uiNew == 0) return false;
  const uint32_t uiCapacity = static_cast<uint32_t>(m_Segment.BlockBytes(uiNew) / uiChar);
  uint8_t* pText = m_Segment.At(uiNew);
  if (uiOld != 0 && pString->textOffset != 0) {
    std::memcpy(pText, m_Segment.At(pString->textOffset),
                size_t{std::min(uiOld, uiLength)} * uiChar);
  }
  // The new text first (a block at least as large as the old): a reader
  // then sees a length its block holds.
  const uint32_t uiOldText = pString->textOffset;
  KxStep();
  StoreRelease(&pString->textOffset, uiNew);
  KxStep();
  pString->capacity = uiCapacity;
  KxStep();
  pString->lengthWord = uiLength + 1;
  KxStep();
  m_Segment.Free(uiOldText);
  return true;
}

void KxStore::InitArray(KxArrayHeader* pHeader, const KxRecordType* pElement) {
  std::memset(pHeader, 0, sizeof *pHeader);
  pHeader->kernel4 = kArrayTag;
  pHeader->kernel5 = m_Types.StoredId(pElement);
}

bool KxStore::ResizeArray(KxArrayHeader* pHeader, uint32_t uiSize) {
  const KxRecordType* pElement = m_Types.At(pHeader->kernel5);
  if ((pHeader->kernel4 & kTagMask) != kArrayTag || pElement == nullptr) return false;
  KxIntentScope intent(m_Segment, KxIntent::kResize, m_Segment.UnitOf(pHeader));
  const size_t uiBytes = pElement->size;
  const uint32_t uiOld = pHeader->size;
  if (uiSize < uiOld) {
    // The elements leave the array first, then what they hold is freed.
    StoreRelease(&pHeader->size, uiSize);
    KxStep();
    for (uint32_t e = uiSize; e < uiOld; ++e) {
      FreeRecord(*pElement, m_Segment.At(pHeader->dataOffset) + e * uiBytes);
    }
    return true;
  }
  if (uiSize > pHeader->kernel2) {
    // Grow by half again at least, so that appending one at a time costs
    // amortised constant time.
    const uint64_t uiCapacity = std::max<uint64_t>(uiSize, uint64_t{pHeader->kernel2} * 3 / 2 + 4);
    if (uiCapacity * uiBytes > (uint64_t{1} << 32)) return false;
    const uint32_t uiData = m_Segment.Allocate(uiCapacity * uiBytes);
    if (uiData == 0) return false;
    // The elements move whole to the new block, which is named only once
    // they are there; until then the old block alone is reachable. Offsets
    // first and the larger capacity after, as for strings.
    if (uiOld != 0)
      std::memcpy(m_Segment.At(uiData), m_Segment.At(pHeader->dataOffset), uiOld * uiBytes);
    const uint32_t uiOldData = pHeader->dataOffset;
    KxStep();
    StoreRelease(&pHeader->dataOffset, uiData);
    KxStep();
    pHeader->kernel2 = static_cast<uint32_t>(m_Segment.BlockBytes(uiData) / uiBytes);
    KxStep();
    m_Segment.Free(uiOldData);
  }
  // New elements are laid out beyond the size, where nothing reads them,
  // and counted after.
  for (uint32_t e = uiOld; e < uiSize; ++e) {
    InitRecord(*pElement, m_Segment.At(pHeader->dataOffset) + e * uiBytes);
  }
  KxStep();
  StoreRelease(&pHeader->size, uiSize);
  return true;
}

// ---------------------------------------------------------------------------
// Maps.

void KxStore::InitMap(KxEmbeddedMap* pSlot, const KxRecordType* pElement, KxKeyKind eKey) {
  std::memset(pSlot, 0, sizeof *pSlot);
  pSlot->header.lockWord =
      KxLockWord::kSignature | (eKey == KxKeyKind::kText ? KxLockWord::kKeyCase : 0u);
  KxMapKernelPart& kernel = Kernel(pSlot);
  kernel.tag = KxMapKernelPart::kTag;
  kernel.elementType = m_Types.StoredId(pElement);
  kernel.keyKind = static_cast<uint32_t>(eKey);
  kernel.hashScheme = KxMapKernelPart::kHashScheme;
}

bool KxStore::IsMap(const void* pSlot) const {
  if (!m_Segment.Contains(pSlot, sizeof(KxEmbeddedMap))) return false;
  const KxEmbeddedMap* pMap = static_cast<const KxEmbeddedMap*>(pSlot);
  return reinterpret_cast<const KxMapKernelPart*>(pMap->kernelBytes)->tag ==
             KxMapKernelPart::kTag &&
         ElementOf(pMap) != nullptr;
}

const KxRecordType* KxStore::ElementOf(const KxEmbeddedMap* pSlot) const {
  return m_Types.At(reinterpret_cast<const KxMapKernelPart*>(pSlot->kernelBytes)->elementType);
}

std::string KxStore::ComparedKey(const char* pKey, size_t uiLength, bool bNoCase) {
  std::string csKey(pKey, uiLength);
  if (bNoCase) {
    for (char& c : csKey) c = static_cast<char>(AsCompared<true>(static_cast<uint8_t>(c)));
  }
  return csKey;
}

uint32_t KxStore::HashOf(const KxEmbeddedMap* pSlot, uint64_t uiKey, const char* csKey,
                         size_t uiLength) {
  const KxMapKernelPart& kernel = *reinterpret_cast<const KxMapKernelPart*>(pSlot->kernelBytes);
  if (kernel.keyKind != static_cast<uint32_t>(KxKeyKind::kText)) return NumberHash(uiKey);
  return TextHash(csKey, uiLength, kernel.hashedNoCase != 0);
}

bool KxStore::KeyEquals(const KxEmbeddedMap* pSlot, KxMapNode* pNode, uint64_t uiKey,
                        const char* csKey, size_t uiLength) const {
  const KxNodeKernelPart& node = NodeKernel(pNode);
  const KxMapKernelPart& kernel = *reinterpret_cast<const KxMapKernelPart*>(pSlot->kernelBytes);
  if (kernel.keyKind != static_cast<uint32_t>(KxKeyKind::kText)) return node.key == uiKey;
  return TextKeyMatches(node, csKey, uiLength, kernel.hashedNoCase != 0);
}

KxMapNode* KxStore::MapNode(const KxEmbeddedMap* pSlot, uint32_t uiHandle) const {
  const KxRecordType* pElement = ElementOf(pSlot);
  if (pElement == nullptr || !m_Segment.ContainsUnits(uiHandle, 64ull + pElement->size))
    return nullptr;
  KxMapNode* pNode = NodeAt(uiHandle);
  if (pNode->signature == kRemovedSignature ||
      NodeKernel(pNode).mapSlot != m_Segment.UnitOf(pSlot) || !m_Segment.IsBlock(uiHandle)) {
    return nullptr;
  }
  return pNode;
}

uint32_t KxStore::Find(KxEmbeddedMap* pSlot, uint64_t uiKey, const char* csKey) const {
  // The library may have switched the key case of an embedded map in place,
  // or the map was saved by a build that hashed otherwise.
  if (HashesStale(pSlot)) {
    const_cast<KxStore*>(this)->Rehash(pSlot, Kernel(pSlot).bucketCount);
  }
  const KxMapKernelPart& kernel = Kernel(pSlot);
  if (kernel.bucketCount == 0) return 0;
  const size_t uiLength = csKey != nullptr ? std::strlen(csKey) : 0;
  const uint32_t uiHash = HashOf(pSlot, uiKey, csKey, uiLength);
  const uint32_t* pBuckets = reinterpret_cast<const uint32_t*>(m_Segment.At(kernel.buckets));
  for (uint32_t uiHandle = pBuckets[uiHash & (kernel.bucketCount - 1)]; uiHandle != 0;) {
    KxMapNode* pNode = NodeAt(uiHandle);
    if (NodeKernel(pNode).hash == uiHash && KeyEquals(pSlot, pNode, uiKey, csKey, uiLength))
      return uiHandle;
    uiHandle = NodeKernel(pNode).hashNext;
  }
  return 0;
}

std::optional<uint32_t> KxStore::FindWithoutLock(const KxEmbeddedMap* pSlot, uint64_t uiKey,
                                                 const char* csKey) const {
  const KxMapKernelPart& kernel = *reinterpret_cast<const KxMapKernelPart*>(pSlot->kernelBytes);
  // One walk for each kind of key, so that each stays short.
  if (LoadRelaxed(&kernel.keyKind) != static_cast<uint32_t>(KxKeyKind::kText)) {
    return WalkWithoutLock(
        pSlot, [uiKey](bool) { return NumberHash(uiKey); },
        [uiKey](const KxNodeKernelPart& node) { return LoadRelaxed(&node.key) == uiKey; });
  }
  const size_t uiLength = std::strlen(csKey);
  bool bNoCase = false;
  return WalkWithoutLock(
      pSlot,
      [&](bool bHashedNoCase) {
        bNoCase = bHashedNoCase;
        return TextHash(csKey, uiLength, bNoCase);
      },
      [&](const KxNodeKernelPart& node) { return TextKeyMatches(node, csKey, uiLength, bNoCase); });
}

template <class HashOfKey, class Matches>
std::optional<uint32_t> KxStore::WalkWithoutLock(const KxEmbeddedMap* pSlot, HashOfKey hashOfKey,
                                                 Matches matches) const {
  const KxMapKernelPart& kernel = *reinterpret_cast<const KxMapKernelPart*>(pSlot->kernelBytes);
  const uint32_t uiBefore = KxAtomicLoad(kernel.writes);
  if ((uiBefore & 1) != 0 || HashesStale(pSlot)) return std::nullopt;

  uint32_t uiHandle = 0;
  const uint32_t uiBucketCount = LoadRelaxed(&kernel.bucketCount);
  const uint32_t uiBuckets = LoadRelaxed(&kernel.buckets);
  // The top only grows and everything below it stays mapped, so one reading
  // of it bounds the whole walk.
  const uint8_t* pBase = m_Segment.Base();
  const uint64_t uiTopBytes = 4 * uint64_t{KxAtomicLoad(m_Segment.Header().top)};
  auto inside = [uiTopBytes](uint32_t uiUnit, uint64_t uiBytes) {
    return uiUnit >= KxSegment::kHeaderUnits && 4 * uint64_t{uiUnit} + uiBytes <= uiTopBytes;
  };
  if (uiBucketCount != 0 && (uiBucketCount & (uiBucketCount - 1)) == 0 &&
      inside(uiBuckets, 4ull * uiBucketCount)) {
    // The key case is read after the writes word, so that a rehash for a
    // switched case shows in it.
    const uint32_t uiHash = hashOfKey(LoadRelaxed(&kernel.hashedNoCase) != 0);
    const uint32_t* pBuckets = reinterpret_cast<const uint32_t*>(pBase + 4 * size_t{uiBuckets});
    // Every handle is checked before it is read, and the walk is bounded: a
    // chain changed under the walk can mislead it, never lead it outside the
    // segment or round in circles. The writes word then tells whether to trust it.
    uint32_t uiSteps = LoadRelaxed(&pSlot->header.count) + 1;
    for (uint32_t h = LoadRelaxed(&pBuckets[uiHash & (uiBucketCount - 1)]);
         h != 0 && uiSteps-- > 0 && inside(h, sizeof(KxMapNode));) {
      const KxNodeKernelPart& node = *reinterpret_cast<const KxNodeKernelPart*>(
          pBase + 4 * size_t{h} + offsetof(KxMapNode, kernelWords));
      if (LoadRelaxed(&node.hash) == uiHash && matches(node)) {
        uiHandle = h;
        break;
      }
      h = LoadRelaxed(&node.hashNext);
    }
  }
  std::atomic_thread_fence(std::memory_order_acquire);
  if (KxAtomicLoad(kernel.writes, std::memory_order_relaxed) != uiBefore) return std::nullopt;
  return uiHandle;
}

bool KxStore::TextKeyMatches(const KxNodeKernelPart& node, const char* csKey, size_t uiLength,
                             bool bNoCase) const {
  return bNoCase ? TextKeyMatchesAs<true>(node, csKey, uiLength)
                 : TextKeyMatchesAs<false>(node, csKey, uiLength);
}

template <bool bFold>
bool KxStore::TextKeyMatchesAs(const KxNodeKernelPart& node, const char* csKey,
                               size_t uiLength) const {
  if (LoadRelaxed(&node.textLength) != uiLength) return false;
  const size_t uiStart = std::min(uiLength, sizeof node.keyStart);
  if (!SameKeyBytes<bFold>(node.keyStart, csKey, 0, uiStart)) return false;
  if (uiLength == uiStart) return true;
  const uint32_t uiText = LoadRelaxed(&node.textKey);
  if (!m_Segment.ContainsUnits(uiText, uiLength)) return false;
  return SameKeyBytes<bFold>(m_Segment.At(uiText), csKey, uiStart, uiLength);
}

void KxStore::CopyKeyStart(KxNodeKernelPart& node) {
  std::memset(node.keyStart, 0, sizeof node.keyStart);
  if (node.textKey != 0) {
    std::memcpy(node.keyStart, m_Segment.At(node.textKey),
                std::min<size_t>(node.textLength, sizeof node.keyStart));
  }
}

void KxStore::Rehash(KxEmbeddedMap* pSlot, uint32_t uiBucketCount, uint32_t uiSmallest) {
  KxMapKernelPart& kernel = Kernel(pSlot);
  MapWrite write(kernel);
  if (uiBucketCount < uiSmallest) uiBucketCount = uiSmallest;
  if (uiBucketCount != kernel.bucketCount) {
    const uint32_t uiBuckets = m_Segment.Allocate(4 * size_t{uiBucketCount});
    if (uiBuckets != 0) {
      // The table grows, never shrinks: the new, larger table is named
      // first and its count follows, so the count never exceeds the table.
      const uint32_t uiOldBuckets = kernel.buckets;
      KxStep();
      kernel.buckets = uiBuckets;
      KxStep();
      kernel.bucketCount = uiBucketCount;
      KxStep();
      m_Segment.Free(uiOldBuckets);
    } else if (kernel.bucketCount == 0) {
      return;  // nothing is hashed yet; the caller sees no table
    }
    // Otherwise the old table is rebuilt: lookups stay right, only slower.
  }
  uiBucketCount = kernel.bucketCount;
  uint32_t* pBuckets = reinterpret_cast<uint32_t*>(m_Segment.At(kernel.buckets));
  std::memset(pBuckets, 0, 4 * size_t{uiBucketCount});
  KxStep();
  kernel.hashedNoCase = NoCase(pSlot) ? 1 : 0;
  kernel.hashScheme = KxMapKernelPart::kHashScheme;
  for (uint32_t uiHandle = pSlot->header.headHandle; uiHandle != 0;
       uiHandle = NodeAt(uiHandle)->nextHandle) {
    KxNodeKernelPart& node = NodeKernel(NodeAt(uiHandle));
    const char* csKey = reinterpret_cast<const char*>(m_Segment.At(node.textKey));
    node.hash = HashOf(pSlot, node.key, csKey, node.textLength);
    CopyKeyStart(node);
    uint32_t& uiBucket = pBuckets[node.hash & (uiBucketCount - 1)];
    node.hashNext = uiBucket;
    uiBucket = uiHandle;
  }
}

uint32_t KxStore::Add(KxEmbeddedMap* pSlot, uint64_t uiKey, const char* csKey) {
  KxMapKernelPart& kernel = Kernel(pSlot);
  KxIntentScope intent(m_Segment, KxIntent::kMapAdd, m_Segment.UnitOf(pSlot));
  MapWrite write(kernel);
  const bool bText = kernel.keyKind == static_cast<uint32_t>(KxKeyKind::kText);
  csKey = KeyText(pSlot, csKey);
  if (const uint32_t uiFound = Find(pSlot, uiKey, csKey); uiFound != 0) return uiFound;
  if (!TableHolds(kernel.bucketCount, uint64_t{pSlot->header.count} + 1)) {
    Rehash(pSlot, kernel.bucketCount * 2);
    if (kernel.bucketCount == 0) return 0;
  }
  const KxRecordType* pElement = ElementOf(pSlot);
  const size_t uiLength = bText ? std::strlen(csKey) : 0;
  const uint32_t uiText = bText ? m_Segment.Allocate(uiLength + 1) : 0;
  const uint32_t uiHandle = m_Segment.Allocate(64 + size_t{pElement->size});
  if (uiHandle == 0 || (bText && uiText == 0)) {
    m_Segment.Free(uiText);
    m_Segment.Free(uiHandle);
    return 0;
  }
  if (bText) std::memcpy(m_Segment.At(uiText), csKey, uiLength);

  KxMapNode* pNode = NodeAt(uiHandle);
  KxNodeKernelPart& node = NodeKernel(pNode);
  node.key = bText ? 0 : uiKey;
  node.textKey = uiText;
  node.textLength = static_cast<uint32_t>(uiLength);
  CopyKeyStart(node);
  node.hash = HashOf(pSlot, uiKey, csKey, uiLength);
  node.mapSlot = m_Segment.UnitOf(pSlot);
  node.prev = kernel.tail;
  InitRecord(*pElement, reinterpret_cast<uint8_t*>(pNode + 1));

  uint32_t* pBuckets = reinterpret_cast<uint32_t*>(m_Segment.At(kernel.buckets));
  uint32_t& uiBucket = pBuckets[node.hash & (kernel.bucketCount - 1)];
  node.hashNext = uiBucket;
  // The node is complete before it becomes reachable: its hash chain, its
  // signature, then the link from its predecessor (or the head) that puts
  // it in the map, then the tail and the count, which follow from the
  // chain. Until the link, a death leaves a node the hash chain alone
  // holds: the rebuild drops it and the reclaim frees it.
  KxStep();
  uiBucket = uiHandle;
  KxStep();
  StoreRelease(&pNode->signature, KxNodeState::kClean);
  KxStep();
  StoreRelease(kernel.tail != 0 ? &NodeAt(kernel.tail)->nextHandle : &pSlot->header.headHandle,
               uiHandle);
  KxStep();
  kernel.tail = uiHandle;
  KxStep();
  StoreRelease(&pSlot->header.count, pSlot->header.count + 1);
  return uiHandle;
}

void KxStore::MakeRoom(KxEmbeddedMap* pSlot, uint32_t uiMore) {
  const KxMapKernelPart& kernel = Kernel(pSlot);
  const uint64_t uiWanted = uint64_t{pSlot->header.count} + uiMore;
  if (TableHolds(kernel.bucketCount, uiWanted)) return;
  const uint64_t uiBuckets = BucketsFor(uiWanted, std::max<uint32_t>(kernel.bucketCount, 2));
  if (uiBuckets > (uint64_t{1} << 30)) return;
  KxIntentScope intent(m_Segment, KxIntent::kMapOther, m_Segment.UnitOf(pSlot));
  Rehash(pSlot, static_cast<uint32_t>(uiBuckets), 2);
}

uint32_t KxStore::RemoveNode(KxEmbeddedMap* pSlot, uint32_t uiHandle) {
  KxMapNode* pNode = MapNode(pSlot, uiHandle);
  if (pNode == nullptr) return 0;
  KxMapKernelPart& kernel = Kernel(pSlot);
  KxIntentScope intent(m_Segment, KxIntent::kMapRemove, m_Segment.UnitOf(pSlot));
  MapWrite write(kernel);
  KxNodeKernelPart& node = NodeKernel(pNode);

  // Unhook from the hash chain, then from insertion order (the link that
  // makes the node part of the map), then the words that follow from the
  // chain. Once unhooked, the node and all it refers to are named by
  // nothing: a death while they are freed leaves blocks the reclaim frees.
  uint32_t* pLink = &reinterpret_cast<uint32_t*>(
      m_Segment.At(kernel.buckets))[node.hash & (kernel.bucketCount - 1)];
  while (*pLink != 0 && *pLink != uiHandle) pLink = &NodeKernel(NodeAt(*pLink)).hashNext;
  KxStep();
  if (*pLink == uiHandle) *pLink = node.hashNext;
  KxStep();
  const uint32_t uiNext = pNode->nextHandle;
  StoreRelease(node.prev != 0 ? &NodeAt(node.prev)->nextHandle : &pSlot->header.headHandle, uiNext);
  KxStep();
  if (uiNext != 0) NodeKernel(NodeAt(uiNext)).prev = node.prev;
  if (kernel.tail == uiHandle) kernel.tail = node.prev;
  KxStep();
  StoreRelease(&pSlot->header.count, pSlot->header.count - 1);
  KxStep();

  // A stale handle must fail validation from now on.
  StoreRelease(&pNode->signature, kRemovedSignature);
  KxStep();
  FreeRecord(*ElementOf(pSlot), reinterpret_cast<uint8_t*>(pNode + 1));
  m_Segment.Free(node.textKey);
  m_Segment.Free(uiHandle);
  return uiHandle;
}

uint32_t KxStore::RemoveAll(KxEmbeddedMap* pSlot) {
  // From the last node back: free lists hand out the block freed last
  // first, so a map filled again gets its nodes in rising addresses, as
  // the first time, and a walk over it streams forward.
  uint32_t uiRemoved = 0;
  while (Kernel(pSlot).tail != 0 && RemoveNode(pSlot, Kernel(pSlot).tail) != 0) ++uiRemoved;
  return uiRemoved;
}

void KxStore::FreeMap(KxEmbeddedMap* pSlot) {
  const KxRecordType* pElement = ElementOf(pSlot);
  // From the last node back, as RemoveAll: a map filled again gets its
  // nodes in rising addresses.
  const std::vector<uint32_t> nodes = Nodes(pSlot);
  for (size_t i = nodes.size(); i-- > 0;) {
    KxMapNode* pNode = NodeAt(nodes[i]);
    StoreRelease(&pNode->signature, kRemovedSignature);  // stale handles fail validation
    if (pElement != nullptr) FreeRecord(*pElement, reinterpret_cast<uint8_t*>(pNode + 1));
    m_Segment.Free(NodeKernel(pNode).textKey);
    m_Segment.Free(nodes[i]);
  }
  m_Segment.Free(Kernel(pSlot).buckets);
}

uint32_t KxStore::ClearNode(KxEmbeddedMap* pSlot, uint32_t uiHandle) {
  KxMapNode* pNode = MapNode(pSlot, uiHandle);
  if (pNode == nullptr) return 0;
  ResetRecord(*ElementOf(pSlot), reinterpret_cast<uint8_t*>(pNode + 1));
  return uiHandle;
}

uint32_t KxStore::ClearAll(KxEmbeddedMap* pSlot) {
  uint32_t uiCleared = 0;
  for (uint32_t uiHandle : Nodes(pSlot)) uiCleared += ClearNode(pSlot, uiHandle) != 0 ? 1 : 0;
  return uiCleared;
}

uint32_t KxStore::AtIndex(const KxEmbeddedMap* pSlot, uint64_t uiPosition) const {
  uint32_t uiHandle = pSlot->header.headHandle;
  for (; uiHandle != 0 && uiPosition != 0; --uiPosition) uiHandle = NodeAt(uiHandle)->nextHandle;
  return uiHandle;
}

uint32_t KxStore::SetKeyCase(KxEmbeddedMap* pSlot, bool bCase) {
  std::atomic_ref<uint32_t> word(pSlot->header.lockWord);
  uint32_t uiWord = word.load(std::memory_order_acquire);
  const uint32_t uiBoth = KxLockWord::kKeyCase | KxLockWord::kKeyNoCase;
  const uint32_t uiSet = bCase ? KxLockWord::kKeyCase : KxLockWord::kKeyNoCase;
  while (
      !word.compare_exchange_weak(uiWord, (uiWord & ~uiBoth) | uiSet, std::memory_order_acq_rel)) {
  }
  // A death before the rehash leaves stale hashes, which the next lookup
  // rehashes.
  KxIntentScope intent(m_Segment, KxIntent::kMapOther, m_Segment.UnitOf(pSlot));
  Rehash(pSlot, Kernel(pSlot).bucketCount);
  return 0;
}

std::vector<uint32_t> KxStore::Nodes(const KxEmbeddedMap* pSlot) const {
  std::vector<uint32_t> handles;
  for (uint32_t uiHandle = pSlot->header.headHandle;
       uiHandle != 0 && handles.size() <= pSlot->header.count;
       uiHandle = NodeAt(uiHandle)->nextHandle) {
    handles.push_back(uiHandle);
  }
  return handles;
}

bool KxStore::GetKey(KxEmbeddedMap* pSlot, uint32_t uiHandle, uint64_t& uiKey,
                     std::string& csKey) const {
  KxMapNode* pNode = MapNode(pSlot, uiHandle);
  if (pNode == nullptr) return false;
  const KxNodeKernelPart& node = NodeKernel(pNode);
  uiKey = node.key;
  csKey.assign(reinterpret_cast<const char*>(m_Segment.At(node.textKey)),
               node.textKey != 0 ? node.textLength : 0);
  return true;
}

std::string KxStore::Statistics(const KxEmbeddedMap* pSlot) const {
  const KxMapKernelPart& kernel = *reinterpret_cast<const KxMapKernelPart*>(pSlot->kernelBytes);
  const KxRecordType* pElement = ElementOf(pSlot);
  uint32_t uiLongest = 0;
  uint32_t uiUsed = 0;
  const uint32_t* pBuckets = reinterpret_cast<const uint32_t*>(m_Segment.At(kernel.buckets));
  for (uint32_t b = 0; b < kernel.bucketCount; ++b) {
    uint32_t uiChain = 0;
    for (uint32_t h = pBuckets[b]; h != 0; h = NodeKernel(NodeAt(h)).hashNext) ++uiChain;
    uiUsed += uiChain != 0 ? 1 : 0;
    uiLongest = std::max(uiLongest, uiChain);
  }
  return std::string("Map of ") + (pElement != nullptr ? pElement->name : "?") + ": elements " +
         std::to_string(pSlot->header.count) + ", buckets " + std::to_string(kernel.bucketCount) +
         " (" + std::to_string(uiUsed) + " used, longest chain " + std::to_string(uiLongest) +
         "), key " +
         (kernel.keyKind == static_cast<uint32_t>(KxKeyKind::kText)
              ? (NoCase(pSlot) ? "text, no case" : "text, case")
              : "number");
}

uint32_t KxStore::MapCommand(KxEmbeddedMap* pSlot, int32_t iCmd, uint64_t uiKey,
                             const char* csKey) {
  switch (iCmd) {
    case D2MapCmd::Add:
    case D2MapCmd::AddNotProtected:
      return Add(pSlot, uiKey, csKey);
    case D2MapCmd::Find:
    case D2MapCmd::FindNotProt:
      return Find(pSlot, uiKey, KeyText(pSlot, csKey));
    case D2MapCmd::Remove:
    case D2MapCmd::RemoveNotProtected: {
      const uint32_t uiHandle = Find(pSlot, uiKey, KeyText(pSlot, csKey));
      return uiHandle != 0 ? RemoveNode(pSlot, uiHandle) : 0;
    }
    case D2MapCmd::RemoveAt:
      return RemoveNode(pSlot, static_cast<uint32_t>(uiKey));
    case D2MapCmd::RemoveAll:
      return RemoveAll(pSlot);
    case D2MapCmd::Clear: {
      const uint32_t uiHandle = Find(pSlot, uiKey, KeyText(pSlot, csKey));
      return uiHandle != 0 ? ClearNode(pSlot, uiHandle) : 0;
    }
    case D2MapCmd::ClearAt:
      return ClearNode(pSlot, static_cast<uint32_t>(uiKey));
    case D2MapCmd::ClearAll:
      return ClearAll(pSlot);
    case D2MapCmd::AtIndex:
      return AtIndex(pSlot, uiKey);
    case D2MapCmd::Head:
      return pSlot->header.headHandle;
    case D2MapCmd::Next: {
      KxMapNode* pNode = MapNode(pSlot, static_cast<uint32_t>(uiKey));
      return pNode != nullptr ? pNode->nextHandle : 0;
    }
    case D2MapCmd::KeyCase:
    case D2MapCmd::KeyNoCase:
      if (Kernel(pSlot).keyKind != 2) return 0;
      return SetKeyCase(pSlot, iCmd == D2MapCmd::KeyCase);
    default:
      return 0;
  }
}
