// The lock protocol kept in a container's lock word (see KxLockWord in
// contracts/kernel/KxStorage.h).
//
// A shared unit (RWE: read, write, enumerate) may be added while others are
// held, but not while the exclusive bit (AR: add, remove) is set; the
// exclusive bit is taken only when no shared unit and no exclusive holder
// remain. Takers poll every 1 ms. After 10,000 ms measured on the 32-bit
// millisecond tick (a wrap of the tick restarts the period) the lock is
// forced and a trace line written: a holder that died must not stop the
// timing application.
//
// Every change of the word is an atomic operation on the word in place, the
// forced resets included: the word is shared with other threads and other
// processes.
#pragma once

#include <atomic>
#include <cstdint>

#include "contracts/kernel/KxStorage.h"

// The trace texts of one kind of container.
struct KxLockTexts {
  const char* csARTimeout;
  const char* csRWEOverflow;
  const char* csRWETimeout;
};

// Whether the word guards a map instance: then it carries the instance
// signature, and a destroyed instance makes the lock takers throw.
enum class KxLockKind { kMap, kArray };

class KxLock {
 public:
  static constexpr uint32_t kTimeoutMs = 10000;
  // 65,000 shared units, as count bits.
  static constexpr uint32_t kRWEOverflow = 65000u * KxLockWord::kRWEUnit;

  // `pWord` null stands for a destroyed map instance.
  KxLock(uint32_t* pWord, KxLockKind eKind, const KxLockTexts& texts)
      : m_pWord(pWord), m_eKind(eKind), m_Texts(texts) {}

  // Whether the word marks a destroyed map instance.
  // (0xFFFFFFFF, the destroyed mark, fails the signature test as well.)
  static bool IsDestroyedWord(uint32_t uiWord) {
    return (uiWord & KxLockWord::kSignatureMask) != KxLockWord::kSignature;
  }
  bool IsDestroyed() const;

  // Takes the exclusive lock. Throws CkxD2LstNodeException (0, -1, -1) for a
  // destroyed map; forces the lock after the time-out.
  void GetARLock();
  // Clears the exclusive bit and the shared count; nothing for a destroyed map.
  void ReleaseARLock();
  // Adds a shared unit. Throws for a destroyed map; after the time-out clears
  // the exclusive bit and returns without a unit.
  void GetRWELock();
  // Takes one shared unit away, never going below 0.
  void ReleaseRWELock();

  std::atomic_ref<uint32_t> Word() const { return std::atomic_ref<uint32_t>(*m_pWord); }

 private:
  // Throws when the map instance is destroyed.
  void CheckAlive() const;
  // Sleeps 1 ms and applies the tick rule; true once the period is over.
  bool WaitTimedOut(uint32_t& uiStartTick) const;
  // Clears the bits in `uiClear` and sets those in `uiSet`, atomically.
  void Change(uint32_t uiClear, uint32_t uiSet);

  uint32_t* m_pWord;
  KxLockKind m_eKind;
  const KxLockTexts& m_Texts;
};
