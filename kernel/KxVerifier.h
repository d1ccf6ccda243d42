// The structural verification of a segment against the catalogue: what the
// load does before it trusts a saved file, what an export does before it
// walks a member, and what an integrity check of a saved or live file can
// report.
//
// A segment is sound when
//   - its blocks lie end to end up to the top and its free lists hold only
//     free blocks of their own size (KxSegment::CheckBlocks);
//   - every offset a structure holds (the member's container, a map's bucket
//     table, nodes and text keys, a string's text, an array's elements) names
//     the payload of a live block, large enough for what it holds, and no
//     block is named twice: no two structures share storage, so writing
//     through one never changes another;
//   - the kernel words of every container, embedded ones included, say what
//     the catalogue says at its place: the element type (by its stored id),
//     the key kind, the key case bits, a known hash scheme; a string's tag
//     says its character size;
//   - every chain of nodes ends, every node has a valid signature, lengths
//     lie within capacities and fixed texts within their fields.
// The full check (`bFull`) also requires what the load does not, since the
// load rebuilds or reclaims it:
//   - what follows from a map's chain (count, tail, previous links, owning
//     slot) to agree with it, and the hash chains to hold every node of the
//     map once, in the bucket of its key's hash, and nothing else (unless
//     the map is to be rehashed by its next lookup);
//   - every live block to be named by a structure and every free block to
//     be on its free list: nothing lost for good (KxSegment::Reclaim);
//   - the segment header's count of used units to be right, its top within
//     its capacity, and no change in progress (intent record clear).
//
// Every problem is reported with where it lies (member, entry keys, field
// names), up to a limit; a structure found wrong is not walked further.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "contracts/kernel/KxCatalogue.h"
#include "contracts/kernel/KxStorage.h"
#include "kernel/KxSegment.h"
#include "kernel/KxStore.h"

// One problem of a segment's structure.
struct KxProblem {
  std::string csWhere;  // e.g. "Records[\"W200FR\"].LapTimes[2]"
  std::string csWhat;   // e.g. "an array lies outside its storage"
};

class KxVerifier {
 public:
  // Problems reported before the verifier stops looking.
  static constexpr size_t kMostProblems = 64;

  KxVerifier(const KxSegment& segment, const KxRecordTypes& types)
      : m_Segment(segment), m_Types(types) {}

  // Verifies the segment whose member `csMember` is of `memberClass`, its
  // container at unit `uiContainer`; `bFull` asks the full check. Answers
  // the problems (none: sound). Call with the segment's mutex held (or on a
  // segment nobody else uses).
  std::vector<KxProblem> VerifyMember(const char* csMember, const KxMemberClass& memberClass,
                                      uint32_t uiContainer, bool bFull);
  // Reads `segment` (the one verified, loaded from a saved file of format
  // version 1) as that format stored element types: by their position in the
  // catalogue (KxRecordTypes::AtPosition). Each container's type word is
  // rewritten to the type's id where it is met, then checked as usual.
  void MigratePositionalTypes(KxSegment& segment) { m_pMigrating = &segment; }
  // After a VerifyMember that found no problem in the structures: the
  // blocks lost (live and named by nothing, or free and on no list), and
  // the payload units the structures name (for KxSegment::Reclaim).
  size_t LostBlocks() const { return m_uiLost; }
  // Whether the segment header counts the units of its live blocks right.
  bool UsedUnitsRight() const { return m_bUsedRight; }
  const std::vector<bool>& Claimed() const { return m_Claimed; }

 private:
  // One step of the path from the member to the structure being checked:
  // a field name, an entry of a map (by node) or an element of an array.
  struct Step {
    enum Kind { kField, kEntry, kElement } eKind;
    const char* csName;  // kField: the field's name
    uint64_t uiNumber;   // kEntry: the number key or node; kElement: the index
    uint32_t uiTextKey;  // kEntry of a text-keyed map, once its key is verified
    uint32_t uiTextLength;
    bool bKeyKnown;  // kEntry: whether the node's key was verified
  };
  // Pushes a step for a scope.
  class Scope {
   public:
    Scope(KxVerifier& verifier, Step step) : m_Verifier(verifier) {
      verifier.m_Path.push_back(step);
    }
    ~Scope() { m_Verifier.m_Path.pop_back(); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    KxVerifier& m_Verifier;
  };

  void Report(const std::string& csWhat);
  std::string Where() const;
  bool Full() const { return m_Problems.size() >= kMostProblems; }
  // Whether `uiUnit` is the payload of a live block of at least `uiBytes`
  // bytes that no structure named before; claims it. Reports `csWhat` with
  // the reason otherwise.
  bool Claim(uint32_t uiUnit, uint64_t uiBytes, const std::string& csWhat);
  const uint8_t* At(uint32_t uiUnit) const { return m_Segment.At(uiUnit); }

  void CheckRecord(const KxRecordType& type, const uint8_t* pRecord, int iDepth);
  void CheckField(const KxRecordField& field, const uint8_t* pField, int iDepth);
  void CheckMap(const KxEmbeddedMap* pSlot, const KxRecordType& element, KxKeyKind eKey,
                int iDepth);
  bool CheckMapWords(const KxEmbeddedMap* pSlot, const KxRecordType& element, KxKeyKind eKey);
  bool CheckNode(uint32_t uiHandle, const KxRecordType& element, KxKeyKind eKey);
  void CheckArray(const KxArrayHeader* pHeader, const KxRecordType& element, int iDepth);
  void CheckString(const KxRecordField& field, const KxDynString& str);
  // A container's element-type word as this format stores it (see
  // MigratePositionalTypes).
  uint32_t ElementType(const uint32_t& uiWord);
  // The full check's hash chains of a map whose order chain holds `nodes`.
  void CheckHashChains(const KxEmbeddedMap* pSlot, const std::vector<uint32_t>& nodes);
  // The full check's allocator words and lost blocks.
  void CheckAllocation(const std::vector<uint32_t>& unlisted);

  const KxSegment& m_Segment;
  const KxRecordTypes& m_Types;
  KxSegment* m_pMigrating = nullptr;
  bool m_bFull = false;
  size_t m_uiLost = 0;
  bool m_bUsedRight = true;
  std::vector<bool> m_Live;     // payload units of live blocks
  std::vector<bool> m_Claimed;  // payload units named by a structure
  std::vector<Step> m_Path;
  std::vector<KxProblem> m_Problems;
};
