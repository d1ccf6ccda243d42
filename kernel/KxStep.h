// Step points of the kernel's multi-step changes to a segment.
//
// A change to a segment (a map Add or Remove, a string or array resize, an
// allocation, a free) is a sequence of stores, ordered so that a process
// dying between any two of them leaves a state the next process to take the
// segment's mutex can make whole (KxStore::Recover). KxStep() marks the
// boundary between two such stores:
//   - it is a compiler barrier, so the stores before it reach memory before
//     the stores after it (the processor keeps a thread's stores in order
//     for whoever takes the mutex after the thread died);
//   - it is the test seam: armed with KxStopAfterSteps, the writer stops
//     there for good, so every intermediate state is reached on purpose.
// Unarmed, a step costs one relaxed load and a branch not taken.
#pragma once

#include <atomic>
#include <cstdint>

namespace KxStepSeam {
// Steps still allowed before the seam stops the writer; -1: not armed.
extern std::atomic<int64_t> g_iStepsLeft;
// Counts the step down, and stops the writer when none is left.
void Reached();
}  // namespace KxStepSeam

inline void KxStep() {
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (__builtin_expect(KxStepSeam::g_iStepsLeft.load(std::memory_order_relaxed) >= 0, 0))
    KxStepSeam::Reached();
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

// For tests: lets `iAllowed` more steps of this process pass and calls
// `pfStop` at the one after them, which must not return (a forked child
// ends itself there, holding whatever mutex it holds). A negative
// `iAllowed` disarms the seam.
void KxStopAfterSteps(int64_t iAllowed, void (*pfStop)());
// For tests: the steps still allowed (to count the steps of an operation,
// arm with many and look how many are left).
int64_t KxStepsLeft();
