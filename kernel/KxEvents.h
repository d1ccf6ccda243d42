// The events of a live file (updates and storage growth), published by any
// process that has the file open and delivered, in order, in every one.
//
// The ring lives in the live directory's "events" file, mapped by every
// attached process:
//
//   KxEventRingHeader   update-id counter, growth counter, the number of
//                       events published, the wake word, the writers' mutex
//   KxEventSlot[N]      event i in slot i % N; a slot's sequence number is
//                       written last, so a reader can tell a slot that was
//                       overwritten while it read it
//
// Each process runs one listener thread per open live file. It sleeps on
// the wake word (a futex in the shared mapping: it never polls) and delivers
// the events it has not seen. A reader that falls more than N events behind
// is told how many it missed: nothing is lost silently.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "contracts/kernel/KxRecords.h"

enum class KxEventKind : uint32_t { kUpdate = 1, kGrowth = 2 };

struct KxEventSlot {
  uint64_t seq;     // the event's sequence number; ~0 while being written
  uint32_t kind;    // KxEventKind
  uint32_t member;  // member index (updates)
  int32_t status;   // growth count (growth)
  uint32_t reserved;
  KxUpdateRecord record;
};
static_assert(sizeof(KxEventSlot) == 568, "a changed slot needs a new KxEventRingHeader::kVersion");

// Shared by every process that has the file open: a process of another
// kernel build attaches only when the version matches what it reads.
struct KxEventRingHeader {
  static constexpr uint32_t kMagic = 0x54565856;  // "VXVT"
  // Raised whenever the layout of the header or of a slot changes.
  static constexpr uint32_t kVersion = 1;

  uint32_t magic;
  uint32_t version;
  uint32_t capacity;  // slots, a power of two
  int32_t growCount;
  uint64_t nextUpdateId;
  uint64_t published;  // events published so far
  uint32_t wake;       // bumped after every publication; listeners wait on it
  uint32_t reserved;
  pthread_mutex_t mutex;
};
static_assert(offsetof(KxEventRingHeader, mutex) == 40 &&
                  sizeof(KxEventRingHeader) == 40 + sizeof(pthread_mutex_t),
              "a changed ring header needs a new KxEventRingHeader::kVersion");

// An event as delivered: the slot's content, or a count of missed events.
struct KxEvent {
  KxEventKind kind;
  uint32_t member;
  int32_t status;
  KxUpdateRecord record;
};

class KxEventRing : public std::enable_shared_from_this<KxEventRing> {
 public:
  static constexpr uint32_t kCapacity = 16384;

  // Creates the ring file (replacing any) or attaches to it. Throws
  // std::runtime_error with the reason. An empty `csPath` creates a ring in
  // this process's memory only (scratch storage).
  static std::shared_ptr<KxEventRing> Create(const std::string& csPath);
  static std::shared_ptr<KxEventRing> Attach(const std::string& csPath);
  ~KxEventRing();
  KxEventRing(const KxEventRing&) = delete;
  KxEventRing& operator=(const KxEventRing&) = delete;

  // Publishes an update of member `uiMember`: assigns the next update id of
  // the file, writes it into `record` and answers it.
  uint64_t PublishUpdate(uint32_t uiMember, KxUpdateRecord& record);
  // Publishes a growth of the file's storage; answers the new growth count.
  int32_t PublishGrowth();

  // Runs `sink` on a thread of its own for every event published from now
  // on, in order; `missed` is told how many events were overwritten before
  // they could be delivered.
  void Listen(std::function<void(const KxEvent&)> sink, std::function<void(uint64_t)> missed);
  // Stops the listener thread (after the event it is delivering). Called
  // from the listener itself (a sink closed the file), the thread ends on
  // its own; it holds the ring until then.
  void StopListening();
  bool IsListening() const { return m_Listener.joinable(); }

  KxEventRingHeader& Header() const { return *m_pHeader; }

 private:
  KxEventRing() = default;
  void Map(int iFd, const std::string& csPath);
  KxEventSlot& Slot(uint64_t uiSeq) const { return m_pSlots[uiSeq & (m_pHeader->capacity - 1)]; }
  void Publish(KxEventKind eKind, uint32_t uiMember, int32_t iStatus,
               const KxUpdateRecord* pRecord);
  void Run(uint64_t uiNext);
  void Lock();

  int m_iFd = -1;
  size_t m_uiBytes = 0;
  KxEventRingHeader* m_pHeader = nullptr;
  KxEventSlot* m_pSlots = nullptr;
  std::thread m_Listener;
  std::atomic<bool> m_bStop{false};
  std::function<void(const KxEvent&)> m_Sink;
  std::function<void(uint64_t)> m_Missed;
};
