#include "NetInterface/CkxOrbNetInterface/KxLock.h"

#include "NetInterface/CkxOrbNetInterface/CkxOrbUnmanException.h"
#include "NetInterface/CkxOrbNetInterface/KxClock.h"
#include "NetInterface/OrbCategBaseClass/CkxNetCatDtb2.h"

namespace {
constexpr uint32_t kHeld = KxLockWord::kARLock | KxLockWord::kRWEMask;
}  // namespace

bool KxLock::IsDestroyed() const {
  if (m_pWord == nullptr) return true;  // never attached
  if (m_eKind == KxLockKind::kArray) return false;
  return IsDestroyedWord(Word().load(std::memory_order_acquire));
}

void KxLock::CheckAlive() const {
  if (IsDestroyed()) throw CkxD2LstNodeException(0, 0xFFFFFFFF, -1, OrbNodeMap);
}

bool KxLock::WaitTimedOut(uint32_t& uiStartTick) const {
  KxClock& clock = KxLockClock();
  clock.Sleep1ms();
  const uint32_t uiTick = clock.TickMs();
  if (uiStartTick == 0) {
    uiStartTick = uiTick;
    return false;
  }
  if (uiTick < uiStartTick) {  // the tick wrapped: the period starts again
    uiStartTick = 0;
    return false;
  }
  return uiTick - uiStartTick >= kTimeoutMs;
}

void KxLock::Change(uint32_t uiClear, uint32_t uiSet) {
  std::atomic_ref<uint32_t> word = Word();
  uint32_t uiWord = word.load(std::memory_order_relaxed);
  while (
      !word.compare_exchange_weak(uiWord, (uiWord & ~uiClear) | uiSet, std::memory_order_acq_rel)) {
  }
}

void KxLock::GetARLock() {
  uint32_t uiStartTick = 0;
  for (;;) {
    CheckAlive();
    std::atomic_ref<uint32_t> word = Word();
    uint32_t uiWord = word.load(std::memory_order_acquire);
    if ((uiWord & kHeld) == 0 && word.compare_exchange_strong(uiWord, uiWord | KxLockWord::kARLock,
                                                              std::memory_order_acq_rel)) {
      return;
    }
    if (WaitTimedOut(uiStartTick)) break;
  }
  CheckAlive();
  Change(KxLockWord::kRWEMask, KxLockWord::kARLock);
  KxTraceNet(0, kKxTraceSource, __LINE__, m_Texts.csARTimeout);
}

void KxLock::ReleaseARLock() {
  if (!IsDestroyed()) Change(kHeld, 0);
}

void KxLock::GetRWELock() {
  CheckAlive();
  std::atomic_ref<uint32_t> word = Word();
  if ((word.load(std::memory_order_acquire) & KxLockWord::kRWEMask) > kRWEOverflow) {
    Change(KxLockWord::kRWEMask, 0);
    KxTraceNet(0, kKxTraceSource, __LINE__, m_Texts.csRWEOverflow);
  }
  uint32_t uiStartTick = 0;
  for (;;) {
    CheckAlive();
    uint32_t uiWord = word.load(std::memory_order_acquire);
    if ((uiWord & KxLockWord::kARLock) == 0) {
      if (word.compare_exchange_weak(uiWord, uiWord + KxLockWord::kRWEUnit,
                                     std::memory_order_acq_rel)) {
        return;
      }
      continue;  // another taker changed the word: try again at once
    }
    if (WaitTimedOut(uiStartTick)) break;
  }
  if (IsDestroyed()) return;
  Change(kHeld, 0);
  KxTraceNet(0, kKxTraceSource, __LINE__, m_Texts.csRWETimeout);
}

void KxLock::ReleaseRWELock() {
  if (m_pWord == nullptr) return;
  std::atomic_ref<uint32_t> word = Word();
  uint32_t uiWord = word.load(std::memory_order_relaxed);
  for (;;) {
    if (m_eKind == KxLockKind::kMap && IsDestroyedWord(uiWord)) return;
    const uint32_t uiCount = uiWord & KxLockWord::kRWEMask;
    const uint32_t uiTake = uiCount < KxLockWord::kRWEUnit ? uiCount : KxLockWord::kRWEUnit;
    if (word.compare_exchange_weak(uiWord, uiWord - uiTake, std::memory_order_acq_rel)) return;
  }
}
