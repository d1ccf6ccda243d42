// The storage format that the kernel lays out and the library reads in place.
//
// Storage is shared between threads and processes. Words marked "shared"
// change only through atomic operations on the word in place.
//
// Handles and offsets are 32-bit counts of 4-byte units from the storage base
// of the owning kernel object; 0 means "no element". Handles from the
// last-valid-handle word upwards are invalid.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Header of every keyed map instance (embedded maps hold it at the start of
// their 88-byte slot; top-level maps point to it).
//
//   WORD  DESCRIPTION
//      0  version counter (shared; IncrementVersion adds 1)
//      1  kernel's
//      2  number of elements
//      3  lock word (shared), see KxLockWord
//      4  kernel's
//      5  handle of the first node, 0 when empty
struct KxContainerHeader {
  uint32_t version;
  uint32_t kernel1;
  uint32_t count;
  uint32_t lockWord;
  uint32_t kernel4;
  uint32_t headHandle;
};
static_assert(sizeof(KxContainerHeader) == 24);

// Bits of a lock word. Arrays use only the AR bit and the RWE count.
namespace KxLockWord {
constexpr uint32_t kKernelBits = 0x3;            // bits 0-1: kernel's
constexpr uint32_t kKeyCase = 1u << 2;           // keys compared with case
constexpr uint32_t kKeyNoCase = 1u << 3;         // keys compared without case
constexpr uint32_t kARLock = 1u << 4;            // exclusive (add/remove) lock held
constexpr uint32_t kRWEUnit = 0x20;              // one shared (read/write/enumerate) unit
constexpr uint32_t kRWEMask = 0x001FFFE0;        // bits 5-20: shared count
constexpr uint32_t kSignatureMask = 0x1FE00000;  // bits 21-28: instance signature
constexpr uint32_t kSignature = 0x1A600000;      // 0xD3 in bits 21-28
constexpr uint32_t kDestroyed = 0xFFFFFFFF;      // whole word: destroyed instance
}  // namespace KxLockWord

// ---------------------------------------------------------------------------
// Map node, at base + 4 * handle.
//
//   OFFSET  DESCRIPTION
//        0  node signature (shared), see KxNodeState
//        4  handle of the next node, 0 at the end
//    8..63  kernel's (key and chain data)
//       64  the element record
struct KxMapNode {
  uint32_t signature;
  uint32_t nextHandle;
  uint32_t kernelWords[14];
};
static_assert(sizeof(KxMapNode) == 64);

namespace KxNodeState {
constexpr uint32_t kClean = 0xFEEFAA03;
constexpr uint32_t kDeleteCandidate = 0xFEFFAA03;
constexpr uint32_t kModifiedBase = 0xFEEFCC03;  // + 8 * n, n = 1..31 nested modifications
constexpr uint32_t kMaxModified = 31;
}  // namespace KxNodeState

// An embedded map slot inside a record: the header, then 64 bytes of the
// kernel's. It starts on an 8-byte boundary.
struct alignas(8) KxEmbeddedMap {
  KxContainerHeader header;
  uint8_t kernelBytes[64];
};
static_assert(sizeof(KxEmbeddedMap) == 88);

// ---------------------------------------------------------------------------
// Header of a dynamic array (the whole 24-byte slot of an embedded array).
//
//   WORD  DESCRIPTION
//      0  lock word (shared): AR bit and RWE count as for maps, no signature
//      1  number of elements
//      2  kernel's
//      3  offset of element 0 from the storage base; also the array's id
//   4, 5  kernel's
struct KxArrayHeader {
  uint32_t lockWord;
  uint32_t size;
  uint32_t kernel2;
  uint32_t dataOffset;
  uint32_t kernel4;
  uint32_t kernel5;
};
static_assert(sizeof(KxArrayHeader) == 24);

// ---------------------------------------------------------------------------
// Dynamic string field (ANSI or UTF-16), 24 bytes inside a record.
//
//   OFFSET  SIZE  DESCRIPTION
//        0     4  kernel's
//        4     4  length word: characters + 1; 0 or 1 means empty
//        8     4  capacity in characters, terminator included
//       12     4  offset of the text from the storage base
//       16     8  kernel's
// A dynamic string may start on any 4-byte boundary inside a record.
struct KxDynString {
  uint32_t kernel0;
  uint32_t lengthWord;
  uint32_t capacity;
  uint32_t textOffset;
  uint32_t kernel16[2];
};
static_assert(sizeof(KxDynString) == 24 && alignof(KxDynString) == 4);
