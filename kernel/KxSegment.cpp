#include "kernel/KxSegment.h"

#include "kernel/KxStep.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace {

// 32-bit handles in 4-byte units address 16 GiB.
constexpr size_t kAddressableBytes = size_t{4} << 32;
constexpr size_t kSmallestReservation = size_t{64} << 20;
// A scratch segment (one process, nothing shared) reserves less: it serves
// short-lived files, and unmapping a small reservation costs less.
constexpr size_t kScratchReservation = size_t{256} << 20;
constexpr uint32_t kInitialUnits = 16384;  // 64 KiB
constexpr uint32_t kSmallClassUnits = 256;

std::runtime_error SystemError(const std::string& csWhat, const std::string& csPath) {
  return std::runtime_error(csWhat + " " + csPath + ": " + std::strerror(errno));
}

// Payload units of a request, rounded so that payloads stay 8-byte aligned
// and large blocks fall into power-of-two classes.
uint32_t RoundedUnits(size_t uiBytes) {
  uint64_t uiUnits = (uiBytes + 3) / 4;
  if (uiUnits < 2) uiUnits = 2;
  uiUnits = (uiUnits + 1) & ~uint64_t{1};
  if (uiUnits <= kSmallClassUnits) return static_cast<uint32_t>(uiUnits);
  uint64_t uiPower = kSmallClassUnits;
  while (uiPower < uiUnits) uiPower <<= 1;
  return uiPower > UINT32_MAX / 2 ? 0 : static_cast<uint32_t>(uiPower);
}

uint32_t ClassOf(uint32_t uiUnits) {
  if (uiUnits <= kSmallClassUnits) return uiUnits / 2 - 1;
  return 127 + static_cast<uint32_t>(32 - __builtin_clz(uiUnits)) - 9 + 1;
}

}  // namespace

namespace {

// Scratch mappings given back by the segments that used them, for the next
// scratch segment: a mapping made and unmapped per segment costs more than
// a whole refused open. Only their first kInitialUnits stay in the file.
struct ScratchMapping {
  int iFd;
  uint8_t* pBase;
  size_t uiReserved;
};
std::mutex g_ScratchMutex;
std::vector<ScratchMapping> g_ScratchPool;
constexpr size_t kMostPooled = 64;

}  // namespace

std::unique_ptr<KxSegment> KxSegment::Create(const std::string& csPath, uint32_t uiClassId) {
  std::unique_ptr<KxSegment> pSegment(new KxSegment());
  if (csPath.empty()) {
    std::lock_guard<std::mutex> guard(g_ScratchMutex);
    if (!g_ScratchPool.empty()) {
      const ScratchMapping mapping = g_ScratchPool.back();
      g_ScratchPool.pop_back();
      pSegment->m_iFd = mapping.iFd;
      pSegment->m_pBase = mapping.pBase;
      pSegment->m_uiReserved = mapping.uiReserved;
      // What lies above the top is never read: only the header starts afresh.
      std::memset(pSegment->m_pBase, 0, 4 * size_t{kHeaderUnits});
    }
  }
  if (pSegment->m_pBase == nullptr) {
    const int iFd = csPath.empty()
                        ? memfd_create("varnox-scratch", MFD_CLOEXEC)
                        : open(csPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (iFd < 0) throw SystemError("cannot create segment", csPath);
    if (ftruncate(iFd, static_cast<off_t>(kInitialUnits) * 4) != 0) {
      close(iFd);
      throw SystemError("cannot size segment", csPath);
    }
    pSegment->Map(iFd, csPath, csPath.empty() ? kScratchReservation : kAddressableBytes);
  }
  pSegment->m_bScratch = csPath.empty();

  KxSegmentHeader& header = pSegment->Header();
  header.magic = KxSegmentHeader::kMagic;
  header.version = KxSegmentHeader::kVersion;
  header.classId = uiClassId;
  header.top = kHeaderUnits;
  header.capacity = kInitialUnits;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  pthread_mutex_init(&header.mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  return pSegment;
}

std::unique_ptr<KxSegment> KxSegment::Attach(const std::string& csPath) {
  const int iFd = open(csPath.c_str(), O_RDWR | O_CLOEXEC);
  if (iFd < 0) throw SystemError("cannot open segment", csPath);
  struct stat st {};
  if (fstat(iFd, &st) != 0 || st.st_size < static_cast<off_t>(sizeof(KxSegmentHeader))) {
    close(iFd);
    throw std::runtime_error("segment " + csPath + " is not initialised");
  }
  std::unique_ptr<KxSegment> pSegment(new KxSegment());
  pSegment->Map(iFd, csPath, kAddressableBytes);
  if (pSegment->Header().magic != KxSegmentHeader::kMagic) {
    throw std::runtime_error("segment " + csPath + " has no segment header");
  }
  if (pSegment->Header().version != KxSegmentHeader::kVersion) {
    throw std::runtime_error("segment " + csPath + " has live layout version " +
                             std::to_string(pSegment->Header().version) +
                             ", this kernel reads version " +
                             std::to_string(KxSegmentHeader::kVersion) +
                             ": a process of another kernel build has the file open");
  }
  return pSegment;
}

void KxSegment::Map(int iFd, const std::string& csPath, size_t uiLargest) {
  m_iFd = iFd;
  for (size_t uiSize = uiLargest; uiSize >= kSmallestReservation; uiSize /= 2) {
    void* p = mmap(nullptr, uiSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_NORESERVE, iFd, 0);
    if (p != MAP_FAILED) {
      m_pBase = static_cast<uint8_t*>(p);
      m_uiReserved = uiSize;
      return;
    }
  }
  throw SystemError("cannot map segment", csPath);
}

KxSegment::~KxSegment() {
  if (m_bScratch && m_pBase != nullptr) {
    std::lock_guard<std::mutex> guard(g_ScratchMutex);
    if (g_ScratchPool.size() < kMostPooled &&
        ftruncate(m_iFd, static_cast<off_t>(kInitialUnits) * 4) == 0) {
      g_ScratchPool.push_back(ScratchMapping{m_iFd, m_pBase, m_uiReserved});
      return;
    }
  }
  if (m_pBase != nullptr) munmap(m_pBase, m_uiReserved);
  if (m_iFd >= 0) close(m_iFd);
}

void KxSegment::Lock() {
  if (pthread_mutex_lock(&Header().mutex) == EOWNERDEAD) {
    // A process died holding the mutex, possibly in the middle of a change
    // (its steps are ordered for this, kernel/KxStep.h): the listener makes
    // the segment whole (KxStore::Recover) before anyone else takes it.
    pthread_mutex_consistent(&Header().mutex);
    if (m_OnOwnerDeath) m_OnOwnerDeath();
  }
}

void KxSegment::Unlock() { pthread_mutex_unlock(&Header().mutex); }

bool KxSegment::Contains(const void* p, size_t uiBytes) const {
  const uint8_t* pByte = static_cast<const uint8_t*>(p);
  if (pByte < m_pBase + 4 * size_t{kHeaderUnits} || (pByte - m_pBase) % 4 != 0) return false;
  return static_cast<uint64_t>(pByte - m_pBase) + uiBytes <=
         4 * static_cast<uint64_t>(Header().top);
}

bool KxSegment::Reserve(uint32_t uiUnits) {
  KxSegmentHeader& header = Header();
  if (uiUnits > header.capacity) {
    if (4 * static_cast<uint64_t>(uiUnits) > m_uiReserved) return false;
    uint64_t uiNew = header.capacity;
    while (uiNew < uiUnits) uiNew *= 2;
    uiNew = std::min<uint64_t>(uiNew, m_uiReserved / 4);
    if (ftruncate(m_iFd, static_cast<off_t>(uiNew * 4)) != 0) return false;
    header.capacity = static_cast<uint32_t>(uiNew);
    if (m_pfGrowth != nullptr) m_pfGrowth(m_pGrowthContext, header.capacity);
  }
  Populate(uiUnits);
  return true;
}

namespace {
// Cleared when the system cannot populate a mapping (before Linux 5.14).
std::atomic<bool> g_bPopulate{true};
constexpr size_t kPageBytes = 4096;

// Writes zeros over the file's bytes [uiFrom, uiTo), which hold nothing
// (they lie above the allocation top); false when a write fails.
bool WriteZeros(int iFd, size_t uiFrom, size_t uiTo) {
  static const char s_aZeros[64 * 1024] = {};
  while (uiFrom < uiTo) {
    const ssize_t iWritten =
        pwrite(iFd, s_aZeros, std::min(sizeof s_aZeros, uiTo - uiFrom), static_cast<off_t>(uiFrom));
    if (iWritten <= 0) {
      if (iWritten < 0 && errno == EINTR) continue;
      return false;
    }
    uiFrom += static_cast<size_t>(iWritten);
  }
  return true;
}
}  // namespace

void KxSegment::Populate(uint32_t uiUnits) {
  // A page's first touch through a mapping traps into the system, and
  // under virtualisation that trap costs several microseconds: a segment
  // that grows by megabytes would spend most of its time there. One call
  // maps many pages at once, in about half the time. The pages past the
  // request, a sixty-fourth of it (64 KiB to 256 KiB), spare the calls for
  // the next few runs; they stay within the file, which only grows. More
  // would cost more than it spares: a call costs about what a page does,
  // and the pages populated ahead of the last run are made for nothing.
  const size_t uiWanted = 4 * size_t{uiUnits};
  if (uiWanted <= m_uiPopulated || !g_bPopulate.load(std::memory_order_relaxed)) return;
  const size_t uiAhead = std::clamp<size_t>(uiWanted / 64, size_t{64} << 10, size_t{256} << 10);
  const size_t uiFile = 4 * size_t{Header().capacity};
  const size_t uiEnd = std::min(uiFile, (uiWanted + uiAhead + kPageBytes - 1) & ~(kPageBytes - 1));
  const size_t uiStart = m_uiPopulated & ~(kPageBytes - 1);
  if (uiEnd <= uiStart) return;
  // The file's new pages written first (zeros, above the top, where no
  // block lies yet), then mapped by a read of the mapping: on a memory
  // file system a written page is ready to map, and the read maps up to
  // sixteen such pages a step, writable (the mapping is shared and nothing
  // tracks its writes), where a write maps them one by one. About a sixth
  // cheaper than allocating them ahead with fallocate (which leaves them
  // not ready: they are cleared and mapped one by one) and mapping them
  // for writing, which is what a failed write leaves to the mapping call;
  // a failure of both leaves the pages to their first touch, as before.
  const size_t uiTop = 4 * size_t{Header().top};
  const bool bWritten = WriteZeros(m_iFd, std::max(uiStart, uiTop), uiEnd);
  const int iAdvice = bWritten ? MADV_POPULATE_READ : MADV_POPULATE_WRITE;
  if (madvise(m_pBase + uiStart, uiEnd - uiStart, iAdvice) != 0 && errno == EINVAL) {
    g_bPopulate = false;  // the pages are mapped one by one at their first touch, as before
    return;
  }
  // On another failure (no memory left for the file's pages) the pages
  // are left to their first touch, which reports it as it always did.
  m_uiPopulated = uiEnd;
}

namespace {
std::atomic<int64_t> g_iAllocationsAllowed{-1};
void (*g_pfStop)() = nullptr;
}  // namespace

std::atomic<int64_t> KxStepSeam::g_iStepsLeft{-1};

void KxStepSeam::Reached() {
  if (g_iStepsLeft.fetch_sub(1, std::memory_order_relaxed) == 0 && g_pfStop != nullptr) g_pfStop();
}

void KxStopAfterSteps(int64_t iAllowed, void (*pfStop)()) {
  g_pfStop = pfStop;
  KxStepSeam::g_iStepsLeft = iAllowed < 0 ? -1 : iAllowed;
}

int64_t KxStepsLeft() { return KxStepSeam::g_iStepsLeft.load(); }

const char* KxIntentName(uint32_t uiIntent) {
  static const char* const kNames[] = {"nothing",        "a map Add", "a map Remove",
                                       "a map change",   "a resize",  "a record clear",
                                       "a member clear", "a restore"};
  return uiIntent < std::size(kNames) ? kNames[uiIntent] : "an unknown change";
}

void KxSegment::BeginIntent(KxIntent eIntent, uint32_t uiUnit, uint32_t uiType) {
  KxSegmentHeader& header = Header();
  header.intentUnit = uiUnit;
  header.intentType = uiType;
  KxStep();
  header.intentOp = static_cast<uint32_t>(eIntent);
  KxStep();
}

void KxSegment::EndIntent() {
  KxStep();
  Header().intentOp = 0;
}

void KxSegment::FailAllocationsAfter(int64_t iAllowed) { g_iAllocationsAllowed = iAllowed; }

uint32_t KxSegment::Allocate(size_t uiBytes) {
  if (g_iAllocationsAllowed.load(std::memory_order_relaxed) >= 0 &&
      g_iAllocationsAllowed.fetch_sub(1, std::memory_order_relaxed) <= 0) {
    return 0;
  }
  const uint32_t uiUnits = RoundedUnits(uiBytes);
  if (uiUnits == 0) return 0;
  KxSegmentHeader& header = Header();
  uint32_t& uiHead = header.freeHeads[ClassOf(uiUnits)];
  uint32_t uiPayload = 0;
  if (uiHead != 0) {
    // Off the list first, live after: a death in between leaves a free
    // block on no list, never a list leading into a live block.
    uiPayload = uiHead;
    uiHead = *reinterpret_cast<uint32_t*>(At(uiPayload));
  } else {
    uiPayload = CutRun(uiUnits);
    if (uiPayload == 0) return 0;
  }
  KxStep();
  reinterpret_cast<uint32_t*>(At(uiPayload))[-1] = kBlockMagic;
  KxStep();
  std::memset(At(uiPayload), 0, 4 * size_t{uiUnits});
  header.usedUnits += uiUnits;
  return uiPayload;
}

uint32_t KxSegment::CutRun(uint32_t uiUnits) {
  KxSegmentHeader& header = Header();
  const uint32_t uiClass = ClassOf(uiUnits);
  const bool bSmall = uiUnits <= kSmallClassUnits;
  uint32_t uiRun = bSmall ? uint32_t{1} << std::min<uint32_t>(header.runShifts[uiClass], 16) : 1;
  const uint32_t uiBlockUnits = kBlockHeaderUnits + uiUnits;
  auto fits = [&](uint32_t uiBlocks) {
    const uint64_t uiEnd = uint64_t{header.top} + uint64_t{uiBlocks} * uiBlockUnits;
    return uiEnd <= UINT32_MAX && Reserve(static_cast<uint32_t>(uiEnd));
  };
  if (!fits(uiRun)) uiRun = 1;  // a segment near its end still hands out what fits
  if (uiRun == 1 && !fits(1)) return 0;
  const uint32_t uiFirst = header.top;
  for (uint32_t i = 0; i < uiRun; ++i) {
    uint32_t* pBlock = reinterpret_cast<uint32_t*>(At(uiFirst + i * uiBlockUnits));
    pBlock[0] = uiUnits;
    pBlock[1] = 0;  // free until handed out
  }
  // The top moves only after the blocks are laid out: readers of the
  // last-valid word never see a half-made block. The spare blocks are
  // listed after that, the lowest first out, so that a process dying in
  // between leaves unlisted free blocks, never a list into the unknown.
  KxAtomicStore(header.top, uiFirst + uiRun * uiBlockUnits);
  KxStep();
  uint32_t& uiHead = header.freeHeads[uiClass];
  for (uint32_t i = uiRun; i-- > 1;) {
    const uint32_t uiPayload = uiFirst + i * uiBlockUnits + kBlockHeaderUnits;
    *reinterpret_cast<uint32_t*>(At(uiPayload)) = uiHead;
    uiHead = uiPayload;
  }
  KxStep();
  if (bSmall && 8 * size_t{uiRun} * uiBlockUnits <= kLongestRunBytes) ++header.runShifts[uiClass];
  return uiFirst + kBlockHeaderUnits;
}

bool KxSegment::IsBlock(uint32_t uiUnit) const {
  if (uiUnit < kHeaderUnits + kBlockHeaderUnits || uiUnit >= Header().top) return false;
  const uint32_t* pPayload = reinterpret_cast<const uint32_t*>(At(uiUnit));
  return pPayload[-1] == kBlockMagic && uint64_t{uiUnit} + pPayload[-2] <= Header().top;
}

bool KxSegment::CheckBlocks(std::string& csWhy, std::vector<bool>* pLive,
                            std::vector<uint32_t>* pUnlisted) const {
  const KxSegmentHeader& header = Header();
  if (header.top < kHeaderUnits) {
    csWhy = "the allocation top lies inside the segment header";
    return false;
  }
  if (pLive != nullptr) pLive->assign(header.top, false);
  std::vector<uint32_t> free;  // payloads of free blocks, ascending
  for (uint64_t uiAt = kHeaderUnits; uiAt < header.top;) {
    const uint32_t* pBlock = reinterpret_cast<const uint32_t*>(At(static_cast<uint32_t>(uiAt)));
    // Sizes the allocator hands out keep every payload 8-byte aligned.
    if (uiAt + kBlockHeaderUnits > header.top || pBlock[0] == 0 ||
        RoundedUnits(4 * size_t{pBlock[0]}) != pBlock[0] ||
        (pBlock[1] != kBlockMagic && pBlock[1] != 0) ||
        uiAt + kBlockHeaderUnits + pBlock[0] > header.top) {
      csWhy = "the block at unit " + std::to_string(uiAt) + " is not a block";
      return false;
    }
    if (pBlock[1] == 0) free.push_back(static_cast<uint32_t>(uiAt + kBlockHeaderUnits));
    if (pBlock[1] != 0 && pLive != nullptr) (*pLive)[uiAt + kBlockHeaderUnits] = true;
    uiAt += kBlockHeaderUnits + pBlock[0];
  }
  size_t uiListed = 0;
  std::vector<bool> listed(free.size(), false);
  for (uint32_t c = 0; c < KxSegmentHeader::kFreeClasses; ++c) {
    for (uint32_t uiFree = header.freeHeads[c]; uiFree != 0;
         uiFree = *reinterpret_cast<const uint32_t*>(At(uiFree))) {
      const auto it = std::lower_bound(free.begin(), free.end(), uiFree);
      const bool bFree = it != free.end() && *it == uiFree;
      const uint32_t uiUnits = bFree ? static_cast<uint32_t>(BlockBytes(uiFree) / 4) : 0;
      if (++uiListed > free.size() || !bFree || RoundedUnits(4 * size_t{uiUnits}) != uiUnits ||
          ClassOf(uiUnits) != c || listed[it - free.begin()]) {
        csWhy = "free list " + std::to_string(c) + " holds unit " + std::to_string(uiFree) +
                ", not a free block of its size, or does not end";
        return false;
      }
      listed[it - free.begin()] = true;
    }
  }
  if (pUnlisted != nullptr) {
    pUnlisted->clear();
    for (size_t i = 0; i < free.size(); ++i) {
      if (!listed[i]) pUnlisted->push_back(free[i]);
    }
  }
  return true;
}

uint32_t KxSegment::Reclaim(const std::vector<bool>& claimed) {
  KxSegmentHeader& header = Header();
  std::vector<uint32_t> blocks;  // payload units, ascending
  for (uint32_t uiAt = kHeaderUnits; uiAt < header.top;) {
    blocks.push_back(uiAt + kBlockHeaderUnits);
    uiAt += kBlockHeaderUnits + *reinterpret_cast<const uint32_t*>(At(uiAt));
  }
  // Lists emptied first: from here until the end, a death leaves free
  // blocks on no list, which the next call lists again.
  std::memset(header.freeHeads, 0, sizeof header.freeHeads);
  KxStep();
  uint32_t uiReclaimed = 0;
  uint64_t uiUsed = 0;
  for (size_t i = blocks.size(); i-- > 0;) {
    const uint32_t uiPayload = blocks[i];
    uint32_t* pPayload = reinterpret_cast<uint32_t*>(At(uiPayload));
    const uint32_t uiUnits = pPayload[-2];
    if (uiPayload < claimed.size() && claimed[uiPayload]) {
      uiUsed += uiUnits;
      continue;
    }
    if (pPayload[-1] != 0) ++uiReclaimed;
    pPayload[-1] = 0;
    KxStep();
    uint32_t& uiHead = header.freeHeads[ClassOf(uiUnits)];
    pPayload[0] = uiHead;
    KxStep();
    uiHead = uiPayload;
  }
  header.usedUnits = static_cast<uint32_t>(uiUsed);
  return uiReclaimed;
}

size_t KxSegment::BlockBytes(uint32_t uiUnit) const {
  return 4 * size_t{reinterpret_cast<const uint32_t*>(At(uiUnit))[-2]};
}

void KxSegment::Free(uint32_t uiUnit) {
  if (!IsBlock(uiUnit)) return;
  uint32_t* pPayload = reinterpret_cast<uint32_t*>(At(uiUnit));
  const uint32_t uiUnits = pPayload[-2];
  // Free before listed: a death in between leaves a free block on no list.
  pPayload[-1] = 0;
  KxStep();
  uint32_t& uiHead = Header().freeHeads[ClassOf(uiUnits)];
  pPayload[0] = uiHead;
  KxStep();
  uiHead = uiUnit;
  KxStep();
  Header().usedUnits -= uiUnits;
}

KxSegmentSnapshot KxSegment::Snapshot() const {
  const KxSegmentHeader& header = Header();
  KxSegmentSnapshot snapshot;
  snapshot.top = header.top;
  snapshot.container = header.container;
  snapshot.usedUnits = header.usedUnits;
  std::memcpy(snapshot.freeHeads, header.freeHeads, sizeof snapshot.freeHeads);
  std::memcpy(snapshot.runShifts, header.runShifts, sizeof snapshot.runShifts);
  snapshot.blocks.assign(At(kHeaderUnits), At(header.top));
  return snapshot;
}

void KxSegment::Restore(const KxSegmentSnapshot& snapshot) {
  KxSegmentHeader& header = Header();
  // Step points between the pieces: a restore cut short between them must
  // be finished from its copy (KxLiveFile::RestoreAll).
  const size_t uiHalf = snapshot.blocks.size() / 2;
  std::memcpy(At(kHeaderUnits), snapshot.blocks.data(), uiHalf);
  KxStep();
  std::memcpy(At(kHeaderUnits) + uiHalf, snapshot.blocks.data() + uiHalf,
              snapshot.blocks.size() - uiHalf);
  KxStep();
  std::memcpy(header.freeHeads, snapshot.freeHeads, sizeof header.freeHeads);
  std::memcpy(header.runShifts, snapshot.runShifts, sizeof header.runShifts);
  header.usedUnits = snapshot.usedUnits;
  KxAtomicStore(header.container, snapshot.container);
  KxAtomicStore(header.top, snapshot.top);
}

namespace {

// What a snapshot file holds before the blocks.
struct KxSnapshotHead {
  static constexpr uint32_t kMagic = 0x50535856;  // "VXSP"
  uint32_t magic;
  uint32_t top;
  uint32_t container;
  uint32_t usedUnits;
  uint32_t freeHeads[KxSegmentHeader::kFreeClasses];
  uint8_t runShifts[KxSegmentHeader::kFreeClasses];
  uint64_t blockBytes;
};

// Moves all `uiBytes` at `p` through `io` (a read or a write), again after
// an interruption; false on an error or an early end.
template <class Io>
bool Transfer(int iFd, void* p, size_t uiBytes, Io io) {
  uint8_t* pByte = static_cast<uint8_t*>(p);
  while (uiBytes > 0) {
    const ssize_t iDone = io(iFd, pByte, uiBytes);
    if (iDone < 0 && errno == EINTR) continue;
    if (iDone <= 0) return false;
    pByte += iDone;
    uiBytes -= static_cast<size_t>(iDone);
  }
  return true;
}

}  // namespace

bool KxSegment::WriteSnapshot(const KxSegmentSnapshot& snapshot, const std::string& csPath) {
  KxSnapshotHead head{};
  head.magic = KxSnapshotHead::kMagic;
  head.top = snapshot.top;
  head.container = snapshot.container;
  head.usedUnits = snapshot.usedUnits;
  std::memcpy(head.freeHeads, snapshot.freeHeads, sizeof head.freeHeads);
  std::memcpy(head.runShifts, snapshot.runShifts, sizeof head.runShifts);
  head.blockBytes = snapshot.blocks.size();
  const int iFd = open(csPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (iFd < 0) return false;
  auto put = [iFd](const void* p, size_t uiBytes) {
    return Transfer(iFd, const_cast<void*>(p), uiBytes,
                    [](int i, void* pAt, size_t n) { return write(i, pAt, n); });
  };
  const bool bOk = put(&head, sizeof head) && put(snapshot.blocks.data(), snapshot.blocks.size());
  close(iFd);
  return bOk;
}

bool KxSegment::ReadSnapshot(const std::string& csPath, KxSegmentSnapshot& snapshot) {
  const int iFd = open(csPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (iFd < 0) return false;
  auto get = [iFd](void* p, size_t uiBytes) {
    return Transfer(iFd, p, uiBytes, [](int i, void* pAt, size_t n) { return read(i, pAt, n); });
  };
  KxSnapshotHead head{};
  bool bOk = get(&head, sizeof head) && head.magic == KxSnapshotHead::kMagic &&
             head.top >= kHeaderUnits && head.blockBytes == 4 * (uint64_t{head.top} - kHeaderUnits);
  if (bOk) {
    snapshot.top = head.top;
    snapshot.container = head.container;
    snapshot.usedUnits = head.usedUnits;
    std::memcpy(snapshot.freeHeads, head.freeHeads, sizeof head.freeHeads);
    std::memcpy(snapshot.runShifts, head.runShifts, sizeof head.runShifts);
    snapshot.blocks.resize(head.blockBytes);
    bOk = get(snapshot.blocks.data(), snapshot.blocks.size());
  }
  close(iFd);
  return bOk;
}
