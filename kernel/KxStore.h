// The storage engine of one segment: records laid out by the catalogue,
// keyed maps, dynamic arrays and dynamic strings, exactly as the library
// reads them in place.
//
// Every operation here runs with the segment's mutex held (the caller takes
// it). The library's own locks (the lock words) are the application's to
// pair; the kernel never takes them, so a caller holding a map's exclusive
// lock can add and remove without deadlock.
//
// Kernel words used inside the shared layouts:
//
//   map slot, bytes 24..87 (KxMapKernelPart): tag, element type, key kind,
//     bucket array, bucket count, insertion-order tail, hashing mode,
//     write counter, hash scheme
//   map node, words 2..15 (KxNodeKernelPart): numeric key, text key block
//     and length, hash chain, previous node, hash, owning map slot, the
//     text key's first bytes
//   dynamic string, word 4: tag "VXS" + character size
//   dynamic array, word 2: capacity in elements; word 4: tag "VXA";
//     word 5: element record type
//
// Invariants (what the full check requires, KxVerifier), kept by every
// change at every store, so that a process dying anywhere leaves a state
// KxStore::Recover makes whole (docs/kernel.md, "A writer that dies"):
//   - every offset a structure holds names a live block of its own, large
//     enough for what it holds: a string's capacity and length never exceed
//     its text block, an array's capacity its element block, a map's bucket
//     count its table (offsets are stored before capacities grow and after
//     they drop to 0); a block is freed only once nothing names it;
//   - a node is in its map once its predecessor's link (or the head) names
//     it, and it is complete before; it leaves the map by that link first;
//   - count, tail, previous links and hash chains follow from the chain of
//     nodes (rebuilt after a death, at a load, and checked by the full check);
//   - a record laid out anew in place is covered by a reset intent.
//
// Node order (Head/Next) is insertion order. Lookup by key is hashed with
// a power-of-two bucket array that doubles when it is three quarters full.
// A map whose hashes were made by another hash scheme or key case (an
// older saved file, a key-case switch) is rehashed by its next locked
// lookup or Add.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "contracts/kernel/KxCatalogue.h"
#include "contracts/kernel/KxStorage.h"
#include "kernel/KxSegment.h"

struct KxMapKernelPart {
  static constexpr uint32_t kTag = 0x504D5856;  // "VXMP"
  // The hash scheme of this build: number keys by a multiply-xorshift mix,
  // text keys by FNV-1a with their first bytes copied into the node
  // (kernel/KxStore.cpp).
  static constexpr uint32_t kHashScheme = 2;

  uint32_t tag;
  uint32_t elementType;
  uint32_t keyKind;  // KxKeyKind
  uint32_t buckets;
  uint32_t bucketCount;
  uint32_t tail;
  uint32_t hashedNoCase;
  uint32_t writes;      // odd while a writer changes chains or buckets (see FindWithoutLock)
  uint32_t hashScheme;  // the hash function the chains were built with; 0: FNV-1a throughout
  uint32_t reserved[7];
};
static_assert(sizeof(KxMapKernelPart) == 64);

struct KxNodeKernelPart {
  uint64_t key;
  uint32_t textKey;
  uint32_t textLength;
  uint32_t hashNext;
  uint32_t prev;
  uint32_t hash;
  uint32_t mapSlot;
  // A text key's first bytes, so that most lookups compare the key without
  // reading its own block (from hash scheme 2 on).
  uint8_t keyStart[24];
};
static_assert(sizeof(KxNodeKernelPart) == 56);

// The record types of a catalogue by their stored id (KxRecordTypeId), so
// that the id kept in the kernel words of a container names its element
// type whatever else the schema holds.
class KxVerifier;

class KxRecordTypes {
 public:
  // Throws std::logic_error when two record types share an id.
  explicit KxRecordTypes(const KxCatalogue& catalogue);
  static uint32_t IdOf(const KxRecordType* pType) { return KxRecordTypeId(*pType); }
  // IdOf, found by the type's address for a type of the catalogue: every
  // record, map and array laid out stores its element's id, and hashing
  // the type's name each time was half the cost of laying out a record.
  uint32_t StoredId(const KxRecordType* pType) const {
    const auto it = m_ById.find(pType);
    return it != m_ById.end() ? it->second : IdOf(pType);
  }
  // Null for an id that names no type. Asked for every record laid out and
  // every map command, so found in an open-addressed table by the id's low
  // bits (the ids are hashes), not by a search by halves.
  const KxRecordType* At(uint32_t uiId) const {
    const size_t uiMask = m_Slots.size() - 1;
    for (size_t i = uiId & uiMask;; i = (i + 1) & uiMask) {
      const auto& [uiSlotId, pType] = m_Slots[i];
      if (uiSlotId == uiId) return pType;
      if (uiSlotId == 0) return nullptr;  // no id is 0; the table is never full
    }
  }
  // The type saved files of format version 1 numbered `uiPosition`: they
  // stored a container's element type as its position in the catalogue's
  // order (each member class's element, then the records nested in it, depth
  // first, each once). Null past the end.
  const KxRecordType* AtPosition(uint32_t uiPosition) const {
    return uiPosition < m_Positions.size() ? m_Positions[uiPosition] : nullptr;
  }

 private:
  void Add(const KxRecordType* pType);
  // The types by id & (size - 1), then the next free slot; at most half full.
  std::vector<std::pair<uint32_t, const KxRecordType*>> m_Slots;
  std::unordered_map<const KxRecordType*, uint32_t> m_ById;  // the ids by the types' addresses
  std::vector<const KxRecordType*> m_Positions;              // in catalogue order
};

class KxStore {
 public:
  // Buckets of the first hash table of a map, made by its first Add.
  static constexpr uint32_t kFirstBuckets = 16;
  // Deepest nesting of records the checks follow.
  static constexpr int kMaxDepth = 16;
  // Tags of the kernel words of strings (word 4: "VXS" + character size)
  // and arrays (word 4: "VXA").
  static constexpr uint32_t kStringTag = 0x53585600;
  static constexpr uint32_t kArrayTag = 0x41585600;
  static constexpr uint32_t kTagMask = 0xFFFFFF00;

  KxStore(KxSegment& segment, const KxRecordTypes& types) : m_Segment(segment), m_Types(types) {}

  // A record freshly zeroed with its embedded containers laid out.
  void InitRecord(const KxRecordType& type, uint8_t* pRecord);
  // Frees everything the record refers to (strings, elements, nodes), in
  // no particular order: call it on a record nothing reaches any more, or
  // under a reset intent. Leaves the record's bytes, still naming the freed
  // blocks, to the caller.
  void FreeRecord(const KxRecordType& type, uint8_t* pRecord);
  // Rebuilds what follows from the chains of nodes in every map inside the
  // record: counts, tails, previous links and hash chains. After a load,
  // also resets every lock word (no holder survives a save).
  void RebuildRecord(const KxRecordType& type, uint8_t* pRecord, bool bResetLocks);

  // A file member's container (map slot, array header or record), by the
  // member's class.
  static size_t ContainerBytes(const KxMemberClass& memberClass);
  void InitMember(const KxMemberClass& memberClass, void* pContainer);
  void ClearMember(const KxMemberClass& memberClass, void* pContainer);
  // Whether the member's structure is sound (KxVerifier, without what the
  // chains determine); `csWhy` says where the first problem lies and what it is.
  bool CheckMember(const KxMemberClass& memberClass, const void* pContainer,
                   std::string& csWhy) const;
  void RebuildMember(const KxMemberClass& memberClass, void* pContainer, bool bResetLocks);

  void InitMap(KxEmbeddedMap* pSlot, const KxRecordType* pElement, KxKeyKind eKey);
  void InitArray(KxArrayHeader* pHeader, const KxRecordType* pElement);

  // Whether `pSlot` is a map slot of this segment laid out by the kernel.
  bool IsMap(const void* pSlot) const;
  // The text key a command means for this map: the text ("" for none) of a
  // text-keyed map, null for a numerically keyed one.
  static const char* KeyText(const KxEmbeddedMap* pSlot, const char* csKey) {
    const auto& kernel = *reinterpret_cast<const KxMapKernelPart*>(pSlot->kernelBytes);
    if (kernel.keyKind != static_cast<uint32_t>(KxKeyKind::kText)) return nullptr;
    return csKey != nullptr ? csKey : "";
  }
  // A text key as a map compares it: folded to lower case (Windows-1252)
  // when the map compares keys without case.
  static std::string ComparedKey(const char* pKey, size_t uiLength, bool bNoCase);
  // Find without the segment's mutex: a walk that reads only through
  // bounds-checked handles and is valid when no writer changed the map
  // meanwhile. Answers the handle (0: no such key), or nothing when it could
  // not tell (a writer was busy, the hashes must be rebuilt): the caller
  // then finds under the mutex. `csKey` is KeyText's answer.
  std::optional<uint32_t> FindWithoutLock(const KxEmbeddedMap* pSlot, uint64_t uiKey,
                                          const char* csKey) const;
  // A map command (D2MapCmd); answers a handle, a count or 0.
  uint32_t MapCommand(KxEmbeddedMap* pSlot, int32_t iCmd, uint64_t uiKey, const char* csKey);
  // Makes room in the map's hash table for `uiMore` elements beyond its
  // count, growing the table at most once (a batch of additions,
  // IkxDtb2ObjOps::EmbeddedMapAddMany); a map without a table gets the
  // smallest that holds them, two buckets at least, where a single Add
  // makes one of sixteen. Nothing when the table holds them already or no
  // storage is left (Add then grows the table as it goes).
  void MakeRoom(KxEmbeddedMap* pSlot, uint32_t uiMore);
  // The key of node `uiHandle` of the map; false for a handle not in it.
  bool GetKey(KxEmbeddedMap* pSlot, uint32_t uiHandle, uint64_t& uiKey, std::string& csKey) const;
  // Nodes of the map in order (for export and checks).
  std::vector<uint32_t> Nodes(const KxEmbeddedMap* pSlot) const;
  const KxRecordType* ElementOf(const KxEmbeddedMap* pSlot) const;
  std::string Statistics(const KxEmbeddedMap* pSlot) const;

  // Resizes the dynamic string or embedded array at `pMember` (told apart by
  // the tag the kernel wrote when it laid out the record). False for an
  // address that is neither.
  bool ResizeMember(void* pMember, uint32_t uiLength);
  bool ResizeString(KxDynString* pString, uint32_t uiLength);
  bool ResizeArray(KxArrayHeader* pHeader, uint32_t uiSize);

  KxSegment& Segment() { return m_Segment; }

  // Makes the member whole after a process died holding the segment's
  // mutex (call with it held, from the owner-death listener): finishes a
  // record reset the intent record names, rebuilds what follows from the
  // maps' chains, then verifies the structures and reclaims the blocks the
  // dead process lost. Answers what it did, for the log. Running it again
  // from any point it was cut at gives the same end.
  std::string Recover(const KxMemberClass& memberClass, const char* csMember);
  // After a load: reclaims lost blocks a verifier that accepted the member
  // counted (a file saved by a build that lost blocks to a death).
  void ReclaimLost(const KxVerifier& verifier);

  // Whether a text-keyed map compares keys without case (its lock word says).
  static bool NoCase(const KxEmbeddedMap* pSlot) {
    const uint32_t uiWord = KxAtomicLoad(pSlot->header.lockWord);
    return (uiWord & KxLockWord::kKeyNoCase) != 0 && (uiWord & KxLockWord::kKeyCase) == 0;
  }
  // Whether the map's hashes were made by another scheme or key case: its
  // next locked lookup or Add rehashes it.
  static bool HashesStale(const KxEmbeddedMap* pSlot) {
    const auto& kernel = *reinterpret_cast<const KxMapKernelPart*>(pSlot->kernelBytes);
    return KxAtomicLoad(kernel.hashScheme, std::memory_order_relaxed) !=
               KxMapKernelPart::kHashScheme ||
           NoCase(pSlot) != (KxAtomicLoad(kernel.hashedNoCase, std::memory_order_relaxed) != 0);
  }
  // The hash a map keeps for a key (its key kind and hashed key case).
  static uint32_t HashOf(const KxEmbeddedMap* pSlot, uint64_t uiKey, const char* csKey,
                         size_t uiLength);

 private:
  KxMapKernelPart& Kernel(KxEmbeddedMap* pSlot) const {
    return *reinterpret_cast<KxMapKernelPart*>(pSlot->kernelBytes);
  }
  KxMapNode* NodeAt(uint32_t uiHandle) const {
    return reinterpret_cast<KxMapNode*>(m_Segment.At(uiHandle));
  }
  static KxNodeKernelPart& NodeKernel(KxMapNode* pNode) {
    return *reinterpret_cast<KxNodeKernelPart*>(pNode->kernelWords);
  }
  // The node `uiHandle` when it is a live node of this map, else null.
  KxMapNode* MapNode(const KxEmbeddedMap* pSlot, uint32_t uiHandle) const;

  uint32_t Find(KxEmbeddedMap* pSlot, uint64_t uiKey, const char* csKey) const;
  uint32_t Add(KxEmbeddedMap* pSlot, uint64_t uiKey, const char* csKey);
  uint32_t RemoveNode(KxEmbeddedMap* pSlot, uint32_t uiHandle);
  uint32_t RemoveAll(KxEmbeddedMap* pSlot);
  uint32_t ClearNode(KxEmbeddedMap* pSlot, uint32_t uiHandle);
  uint32_t ClearAll(KxEmbeddedMap* pSlot);
  uint32_t AtIndex(const KxEmbeddedMap* pSlot, uint64_t uiPosition) const;
  uint32_t SetKeyCase(KxEmbeddedMap* pSlot, bool bCase);
  // Rebuilds the map's hash chains in a table of uiBucketCount buckets
  // (uiSmallest at least), allocated anew when its size changes.
  void Rehash(KxEmbeddedMap* pSlot, uint32_t uiBucketCount, uint32_t uiSmallest = kFirstBuckets);
  void RebuildMap(KxEmbeddedMap* pSlot);
  // Frees what the record refers to and lays it out anew, in place, under
  // a reset intent: a record still reachable passes through states a check
  // refuses (zeroed tags), which the next mutex holder finishes.
  void ResetRecord(const KxRecordType& type, uint8_t* pRecord);
  // FreeRecord's part for a map inside the record.
  void FreeMap(KxEmbeddedMap* pSlot);

  // The walk of FindWithoutLock: `hashOfKey(bNoCase)` hashes the key sought,
  // `matches(node)` tells its node.
  template <class HashOfKey, class Matches>
  std::optional<uint32_t> WalkWithoutLock(const KxEmbeddedMap* pSlot, HashOfKey hashOfKey,
                                          Matches matches) const;
  // Whether a node's text key is `csKey`; reads only through checked
  // offsets, so that it may run while a writer changes the map.
  bool TextKeyMatches(const KxNodeKernelPart& node, const char* csKey, size_t uiLength,
                      bool bNoCase) const;
  template <bool bFold>
  bool TextKeyMatchesAs(const KxNodeKernelPart& node, const char* csKey, size_t uiLength) const;
  // Copies the first bytes of the node's text key into the node.
  void CopyKeyStart(KxNodeKernelPart& node);
  bool KeyEquals(const KxEmbeddedMap* pSlot, KxMapNode* pNode, uint64_t uiKey, const char* csKey,
                 size_t uiLength) const;

  KxSegment& m_Segment;
  const KxRecordTypes& m_Types;
};
