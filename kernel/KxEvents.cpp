#include "kernel/KxEvents.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>

#include "kernel/KxAtomic.h"

namespace {

constexpr uint64_t kWriting = ~uint64_t{0};

size_t RingBytes(uint32_t uiCapacity) {
  return sizeof(KxEventRingHeader) + sizeof(KxEventSlot) * size_t{uiCapacity};
}

// The wake word is shared between processes: no FUTEX_PRIVATE_FLAG.
void FutexWait(uint32_t* pWord, uint32_t uiExpected) {
  syscall(SYS_futex, pWord, FUTEX_WAIT, uiExpected, nullptr, nullptr, 0);
}

void FutexWakeAll(uint32_t* pWord) {
  syscall(SYS_futex, pWord, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

// A slot's words after its sequence word. A reader may copy them while a
// writer that lapped it overwrites them (the sequence word then tells the
// reader to drop its copy); each word is moved as a relaxed atomic so that
// such an overlap is defined, the sequence word and the fences order them.
constexpr size_t kBodyWords = sizeof(KxEventSlot) / sizeof(uint64_t) - 1;
static_assert(sizeof(KxEventSlot) % sizeof(uint64_t) == 0 && alignof(KxEventSlot) == 8);

uint64_t* Body(KxEventSlot& slot) { return reinterpret_cast<uint64_t*>(&slot) + 1; }

void StoreBody(KxEventSlot& shared, KxEventSlot& local) {
  for (size_t i = 0; i < kBodyWords; ++i)
    KxAtomicStore(Body(shared)[i], Body(local)[i], std::memory_order_relaxed);
}

void LoadBody(KxEventSlot& local, const KxEventSlot& shared) {
  for (size_t i = 0; i < kBodyWords; ++i)
    Body(local)[i] = KxAtomicLoad(Body(const_cast<KxEventSlot&>(shared))[i], std::memory_order_relaxed);
}

}  // namespace

std::shared_ptr<KxEventRing> KxEventRing::Create(const std::string& csPath) {
  const int iFd = csPath.empty() ? memfd_create("varnox-scratch-events", MFD_CLOEXEC)
                                 : open(csPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (iFd < 0 || ftruncate(iFd, static_cast<off_t>(RingBytes(kCapacity))) != 0) {
    if (iFd >= 0) close(iFd);
    throw std::runtime_error("cannot create the event ring " + csPath + ": " +
                             std::strerror(errno));
  }
  std::shared_ptr<KxEventRing> pRing(new KxEventRing());
  pRing->Map(iFd, csPath);
  KxEventRingHeader& header = pRing->Header();
  header.version = KxEventRingHeader::kVersion;
  header.capacity = kCapacity;
  header.nextUpdateId = 1;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  pthread_mutex_init(&header.mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  KxAtomicStore(header.magic, KxEventRingHeader::kMagic);
  return pRing;
}

std::shared_ptr<KxEventRing> KxEventRing::Attach(const std::string& csPath) {
  const int iFd = open(csPath.c_str(), O_RDWR | O_CLOEXEC);
  struct stat st {};
  uint32_t aLead[2] = {};  // magic and version: where every layout keeps them
  if (iFd < 0 || fstat(iFd, &st) != 0 || pread(iFd, aLead, sizeof aLead, 0) != sizeof aLead ||
      aLead[0] != KxEventRingHeader::kMagic) {
    if (iFd >= 0) close(iFd);
    throw std::runtime_error("the event ring " + csPath + " is missing or not initialised");
  }
  if (aLead[1] != KxEventRingHeader::kVersion ||
      static_cast<size_t>(st.st_size) != RingBytes(kCapacity)) {
    close(iFd);
    throw std::runtime_error("the event ring " + csPath + " has live layout version " +
                             std::to_string(aLead[1]) + ", this kernel reads version " +
                             std::to_string(KxEventRingHeader::kVersion) +
                             ": a process of another kernel build has the file open");
  }
  std::shared_ptr<KxEventRing> pRing(new KxEventRing());
  pRing->Map(iFd, csPath);
  return pRing;
}

void KxEventRing::Map(int iFd, const std::string& csPath) {
  m_iFd = iFd;
  m_uiBytes = RingBytes(kCapacity);
  void* p = mmap(nullptr, m_uiBytes, PROT_READ | PROT_WRITE, MAP_SHARED, iFd, 0);
  if (p == MAP_FAILED)
    throw std::runtime_error("cannot map the event ring " + csPath + ": " + std::strerror(errno));
  m_pHeader = static_cast<KxEventRingHeader*>(p);
  m_pSlots = reinterpret_cast<KxEventSlot*>(static_cast<uint8_t*>(p) + sizeof(KxEventRingHeader));
}

KxEventRing::~KxEventRing() {
  if (m_Listener.joinable()) m_Listener.detach();  // only when the listener itself let go last
  if (m_pHeader != nullptr) munmap(m_pHeader, m_uiBytes);
  if (m_iFd >= 0) close(m_iFd);
}

void KxEventRing::Lock() {
  if (pthread_mutex_lock(&m_pHeader->mutex) == EOWNERDEAD)
    pthread_mutex_consistent(&m_pHeader->mutex);
}

void KxEventRing::Publish(KxEventKind eKind, uint32_t uiMember, int32_t iStatus,
                          const KxUpdateRecord* pRecord) {
  const uint64_t uiSeq = m_pHeader->published;
  KxEventSlot local{};
  local.kind = static_cast<uint32_t>(eKind);
  local.member = uiMember;
  local.status = iStatus;
  if (pRecord != nullptr) std::memcpy(&local.record, pRecord, sizeof local.record);
  KxEventSlot& slot = Slot(uiSeq);
  KxAtomicStore(slot.seq, kWriting, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  StoreBody(slot, local);
  KxAtomicStore(slot.seq, uiSeq);
  KxAtomicStore(m_pHeader->published, uiSeq + 1);
  KxAtomicAdd(m_pHeader->wake, 1u);
}

uint64_t KxEventRing::PublishUpdate(uint32_t uiMember, KxUpdateRecord& record) {
  Lock();
  const uint64_t uiId = m_pHeader->nextUpdateId++;
  record.updateId = uiId;
  record.objectNumber = static_cast<uint16_t>(uiMember);
  Publish(KxEventKind::kUpdate, uiMember, 0, &record);
  pthread_mutex_unlock(&m_pHeader->mutex);
  FutexWakeAll(&m_pHeader->wake);
  return uiId;
}

int32_t KxEventRing::PublishGrowth() {
  Lock();
  const int32_t iStatus = ++m_pHeader->growCount;
  Publish(KxEventKind::kGrowth, 0, iStatus, nullptr);
  pthread_mutex_unlock(&m_pHeader->mutex);
  FutexWakeAll(&m_pHeader->wake);
  return iStatus;
}

void KxEventRing::Listen(std::function<void(const KxEvent&)> sink,
                         std::function<void(uint64_t)> missed) {
  StopListening();
  m_Sink = std::move(sink);
  m_Missed = std::move(missed);
  m_bStop.store(false);
  // Events from now on: the thread may start running only after the caller
  // has published more.
  const uint64_t uiFirst = KxAtomicLoad(m_pHeader->published);
  m_Listener = std::thread([pSelf = shared_from_this(), uiFirst] { pSelf->Run(uiFirst); });
}

void KxEventRing::StopListening() {
  if (!m_Listener.joinable()) return;
  m_bStop.store(true);
  // Wake the listener of this process (and, harmlessly, those of others).
  KxAtomicAdd(m_pHeader->wake, 1u);
  FutexWakeAll(&m_pHeader->wake);
  if (m_Listener.get_id() == std::this_thread::get_id()) {
    m_Listener.detach();  // a sink closed the file: the thread ends by itself
  } else {
    m_Listener.join();
  }
}

void KxEventRing::Run(uint64_t uiNext) {
  const uint64_t uiCapacity = m_pHeader->capacity;
  KxEvent event{};
  KxEventSlot copy{};
  while (!m_bStop.load()) {
    const uint32_t uiWake = KxAtomicLoad(m_pHeader->wake);
    const uint64_t uiPublished = KxAtomicLoad(m_pHeader->published);
    if (uiNext == uiPublished) {
      FutexWait(&m_pHeader->wake, uiWake);
      continue;
    }
    if (uiPublished - uiNext > uiCapacity) {
      const uint64_t uiLost = uiPublished - uiNext - uiCapacity;
      uiNext += uiLost;
      m_Missed(uiLost);
      continue;
    }
    // Copy the slot, then check it was not overwritten meanwhile.
    const KxEventSlot& slot = Slot(uiNext);
    const uint64_t uiBefore = KxAtomicLoad(slot.seq);
    LoadBody(copy, slot);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (uiBefore != uiNext || KxAtomicLoad(slot.seq, std::memory_order_relaxed) != uiNext) {
      // Overwritten by a writer that lapped this reader.
      const uint64_t uiNow = KxAtomicLoad(m_pHeader->published);
      const uint64_t uiSkip = uiNow > uiNext + uiCapacity ? uiNow - uiCapacity - uiNext : 1;
      uiNext += uiSkip;
      m_Missed(uiSkip);
      continue;
    }
    ++uiNext;
    event.kind = static_cast<KxEventKind>(copy.kind);
    event.member = copy.member;
    event.status = copy.status;
    std::memcpy(&event.record, &copy.record, sizeof event.record);
    m_Sink(event);
  }
}
