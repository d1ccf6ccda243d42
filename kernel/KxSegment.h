// A storage segment: the storage of one attached file member, shared by
// every process that has the file open.
//
// The segment is a file in the live directory of its kernel file (on a
// memory file system), mapped MAP_SHARED over a reservation as large as
// 32-bit handles in 4-byte units can address. The base address therefore
// never moves while the segment is attached, pages beyond the file's end are
// never touched (everything the library reads lies below the last valid
// handle), and growing the file makes the new pages visible in every
// process at once.
//
// Layout, in 4-byte units from the base:
//
//   UNIT   DESCRIPTION
//      0   KxSegmentHeader (kHeaderUnits units): magic, the last valid handle
//          (the allocation top), capacity, where the member's container
//          lies, the free lists and the process-shared robust mutex that
//          guards every kernel structure of the segment
//    256   allocated blocks, each with a 2-unit block header
//          (payload size in units, block magic) followed by its payload;
//          payloads start on 8-byte boundaries
//
// Small blocks (up to 1 KiB) are cut from the top in runs of one size,
// twice as long each time a size's free list runs dry, up to kLongestRunBytes:
// the nodes of a growing map then lie next to each other, at an even
// stride, rather than between the strings of their records, and a walk over
// them streams through memory. (Short runs would not do: every jump between
// runs makes the processor's prefetcher start over.)
//
// Invariants (what a full check requires, KxVerifier):
//   - kHeaderUnits <= every block offset < top <= capacity; the blocks lie
//     end to end from kHeaderUnits up to the top;
//   - a block is live (its magic is kBlockMagic) or free (magic 0); a free
//     block's first payload unit links to the next free block of its class;
//   - every free block is on the free list of its class, once; every live
//     block is named by exactly one structure (KxStore), none by two;
//   - usedUnits is the sum of the live blocks' payload units;
//   - no intent is recorded while nobody holds the mutex.
// A process that dies in the middle of a change can leave a block live that
// nothing names, or free and on no list (the allocator's own steps are
// ordered so that it never leaves a list leading into a live block). The
// next process to take the mutex puts them back on their lists (Reclaim),
// as does the load of a saved file that holds such blocks.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kernel/KxAtomic.h"

// Shared by every process attached to the segment: a process of another
// kernel build attaches only when the version matches what it reads.
struct KxSegmentHeader {
  static constexpr uint32_t kMagic = 0x47535856;  // "VXSG"
  // Raised whenever the layout of anything in a live directory changes.
  static constexpr uint32_t kVersion = 2;
  static constexpr uint32_t kFreeClasses = 160;

  uint32_t magic;
  uint32_t version;
  uint32_t classId;
  uint32_t top;        // first unit not yet handed out: the last-valid-handle word
  uint32_t capacity;   // units backed by the file
  uint32_t container;  // unit of the member's container (map slot, array header, record)
  uint32_t usedUnits;  // units in live blocks, for statistics
  uint32_t freeHeads[kFreeClasses];
  pthread_mutex_t mutex;            // robust and process-shared
  uint8_t runShifts[kFreeClasses];  // the next run of a small class cuts 1 << shift blocks
  // The intent record: the change in progress under the mutex (a KxIntent,
  // the unit of the structure it changes, a record type id for a reset),
  // written before the change and cleared after it. A reset of a record
  // in place is finished from it by the next process to take the mutex;
  // the other intents say what a dead process was doing, for the log.
  uint32_t intentOp;
  uint32_t intentUnit;
  uint32_t intentType;
  uint32_t recoveries;  // times a process found the mutex's owner dead
};

// What a segment's intent record says is in progress.
enum class KxIntent : uint32_t {
  kNone = 0,
  kMapAdd,
  kMapRemove,
  kMapOther,     // a clear, a key-case switch, a rehash
  kResize,       // a string or array resize
  kResetRecord,  // a record freed and laid out anew in place (a map Clear, a member Clear)
  kClearMember,
  kRestore,  // a segment put back from its copy (KxLiveFile::RestoreAll)
};
// The intent's name, for the log.
const char* KxIntentName(uint32_t uiIntent);

// A copy of what a segment holds: its blocks and its allocator's state (not
// its mutex), to put back when a change cannot be completed.
struct KxSegmentSnapshot {
  uint32_t top = 0;
  uint32_t container = 0;
  uint32_t usedUnits = 0;
  uint32_t freeHeads[KxSegmentHeader::kFreeClasses] = {};
  uint8_t runShifts[KxSegmentHeader::kFreeClasses] = {};
  std::vector<uint8_t> blocks;  // units kHeaderUnits up to the top
};

class KxSegment {
 public:
  static constexpr uint32_t kHeaderUnits = 256;
  static constexpr uint32_t kBlockHeaderUnits = 2;
  static constexpr uint32_t kBlockMagic = 0xB10C0000;
  static constexpr uint32_t kLongestRunBytes = 64 * 1024;

  // Creates a new segment file at `csPath` (replacing any) or attaches to
  // an existing one. Throws std::runtime_error with the reason on failure.
  // An empty `csPath` creates a scratch segment: in this process's memory
  // only, reserving 256 MiB instead of 16 GiB.
  // A segment never moves: the library keeps the address of its base word.
  static std::unique_ptr<KxSegment> Create(const std::string& csPath, uint32_t uiClassId);
  static std::unique_ptr<KxSegment> Attach(const std::string& csPath);

  ~KxSegment();
  KxSegment(const KxSegment&) = delete;
  KxSegment& operator=(const KxSegment&) = delete;

  uint8_t* Base() const { return m_pBase; }
  KxSegmentHeader& Header() const { return *reinterpret_cast<KxSegmentHeader*>(m_pBase); }
  // Where the base address is kept for the library (the word never moves).
  uint8_t* const* BaseWord() const { return &m_pBase; }

  // The address of unit `uiUnit`.
  uint8_t* At(uint32_t uiUnit) const { return m_pBase + 4 * static_cast<size_t>(uiUnit); }
  // The unit of an address inside the segment.
  uint32_t UnitOf(const void* p) const {
    return static_cast<uint32_t>((static_cast<const uint8_t*>(p) - m_pBase) / 4);
  }
  // Whether [p, p + uiBytes) lies inside the allocated part of the segment.
  bool Contains(const void* p, size_t uiBytes) const;
  bool ContainsUnits(uint32_t uiUnit, uint64_t uiBytes) const {
    const uint64_t uiEnd = 4 * static_cast<uint64_t>(uiUnit) + uiBytes;
    const uint32_t uiTop = KxAtomicLoad(Header().top);  // others allocate
    return uiUnit >= kHeaderUnits && uiEnd <= 4 * static_cast<uint64_t>(uiTop);
  }

  // Allocates a zeroed block of at least `uiBytes` bytes and answers the unit
  // of its payload, or 0 when the segment cannot grow. Call with the mutex held.
  uint32_t Allocate(size_t uiBytes);
  // For tests: lets `iAllowed` more allocations of this process succeed and
  // fails the ones after them, in every segment; -1 (the default) fails none.
  static void FailAllocationsAfter(int64_t iAllowed);
  // Frees the block whose payload starts at `uiUnit` (0 is ignored).
  void Free(uint32_t uiUnit);
  // Payload size in bytes of the block at `uiUnit`.
  size_t BlockBytes(uint32_t uiUnit) const;
  // Whether `uiUnit` is the payload of a live block.
  bool IsBlock(uint32_t uiUnit) const;
  // Whether the blocks lie end to end up to the top and every free list
  // holds only free blocks of its own class, each once; `csWhy` names the
  // first fault. The allocator writes wherever a free list leads. With
  // `pLive`, also marks there (indexed by unit, sized to the top) the
  // payload unit of every live block: the only units a structure may name.
  // With `pUnlisted`, answers there the free blocks no free list holds.
  bool CheckBlocks(std::string& csWhy, std::vector<bool>* pLive = nullptr,
                   std::vector<uint32_t>* pUnlisted = nullptr) const;
  // Frees every live block whose payload unit `claimed` does not mark (no
  // structure names it) and lays the free lists anew, every free block on
  // its class's list, lowest address first out; recounts usedUnits.
  // Answers the live blocks it freed. Call with the mutex held, on blocks
  // CheckBlocks accepts. A process dying in the middle leaves blocks the
  // next call reclaims.
  uint32_t Reclaim(const std::vector<bool>& claimed);

  // Records the change about to begin (KxIntent) and clears it after:
  // see KxSegmentHeader::intentOp. Call with the mutex held.
  void BeginIntent(KxIntent eIntent, uint32_t uiUnit, uint32_t uiType = 0);
  void EndIntent();
  // Whether an intent is recorded (a change is in progress or was cut short).
  bool InIntent() const { return Header().intentOp != 0; }

  // Called after the segment grew: the new capacity in units.
  void SetGrowthListener(void (*pfListener)(void* pContext, uint32_t uiCapacity), void* pContext) {
    m_pfGrowth = pfListener;
    m_pGrowthContext = pContext;
  }

  // Called, with the mutex held, when Lock finds that a process died
  // holding it: the structures it guarded may be half changed.
  void SetOwnerDeathListener(std::function<void()> onOwnerDeath) {
    m_OnOwnerDeath = std::move(onOwnerDeath);
  }

  // Copies the segment's content; Restore puts it back exactly (the file
  // keeps any size it grew to meanwhile). Call both with the mutex held.
  // Snapshot throws std::bad_alloc when there is no memory for the copy.
  KxSegmentSnapshot Snapshot() const;
  void Restore(const KxSegmentSnapshot& snapshot);
  // Writes a snapshot to the file `csPath` (replacing any) and reads it
  // back; false when the file cannot be written or is not a whole snapshot.
  // A copy in a file outlives its writer: whoever recovers the segment
  // after the writer died can finish putting it back.
  static bool WriteSnapshot(const KxSegmentSnapshot& snapshot, const std::string& csPath);
  static bool ReadSnapshot(const std::string& csPath, KxSegmentSnapshot& snapshot);

  // Makes the file at least `uiUnits` units long, its pages up to there
  // (and a little beyond) mapped in this process; false when it cannot.
  bool Reserve(uint32_t uiUnits);

  void Lock();
  void Unlock();

 private:
  KxSegment() = default;
  // Maps the file over the largest reservation from `uiLargest` down that
  // the address space grants.
  void Map(int iFd, const std::string& csPath, size_t uiLargest);
  // Cuts a run of blocks of `uiUnits` payload units from the top: the
  // first is answered, the others go to the class's free list. 0 when the
  // segment cannot grow by even one block.
  uint32_t CutRun(uint32_t uiUnits);
  // Maps the pages below unit `uiUnits`, and some way past it within the
  // file, into this process at once (see Reserve).
  void Populate(uint32_t uiUnits);

  int m_iFd = -1;
  uint8_t* m_pBase = nullptr;
  size_t m_uiReserved = 0;
  bool m_bScratch = false;  // in this process's memory only, its mapping pooled
  size_t m_uiPopulated = 0;  // bytes from the base that Populate mapped
  void (*m_pfGrowth)(void*, uint32_t) = nullptr;
  void* m_pGrowthContext = nullptr;
  std::function<void()> m_OnOwnerDeath;
};

static_assert(sizeof(KxSegmentHeader) <= 4 * KxSegment::kHeaderUnits,
              "the segment header must lie below the first block");
static_assert(offsetof(KxSegmentHeader, mutex) == 672 &&
                  sizeof(KxSegmentHeader) == 672 + sizeof(pthread_mutex_t) + 160 + 16,
              "a changed segment header needs a new KxSegmentHeader::kVersion");

// Records an intent for a scope when none is recorded yet: the outermost
// change names what is in progress.
class KxIntentScope {
 public:
  KxIntentScope(KxSegment& segment, KxIntent eIntent, uint32_t uiUnit)
      : m_Segment(segment), m_bOpened(!segment.InIntent()) {
    if (m_bOpened) segment.BeginIntent(eIntent, uiUnit);
  }
  ~KxIntentScope() {
    if (m_bOpened) m_Segment.EndIntent();
  }
  KxIntentScope(const KxIntentScope&) = delete;
  KxIntentScope& operator=(const KxIntentScope&) = delete;

 private:
  KxSegment& m_Segment;
  bool m_bOpened;
};

// Holds a segment's mutex for a scope.
class KxSegmentLock {
 public:
  explicit KxSegmentLock(KxSegment& segment) : m_Segment(segment) { m_Segment.Lock(); }
  ~KxSegmentLock() { m_Segment.Unlock(); }
  KxSegmentLock(const KxSegmentLock&) = delete;
  KxSegmentLock& operator=(const KxSegmentLock&) = delete;

 private:
  KxSegment& m_Segment;
};
