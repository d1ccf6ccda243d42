// The kernel's shared words: words of a mapped segment or event ring that
// other threads or processes read or change without holding the mutex that
// guards them (allocation top, a map's write counter, node signatures, lock
// words, the ring's counters). Each is read and changed in place through
// std::atomic_ref, never through a copy, as the library does with the words
// it shares (docs/design.md).
#pragma once

#include <atomic>
#include <type_traits>

template <class T>
T KxAtomicLoad(const T& word, std::memory_order order = std::memory_order_acquire) {
  return std::atomic_ref<T>(const_cast<T&>(word)).load(order);
}

template <class T>
void KxAtomicStore(T& word, std::type_identity_t<T> value,
                   std::memory_order order = std::memory_order_release) {
  std::atomic_ref<T>(word).store(value, order);
}

// Adds `delta` and answers the new value.
template <class T>
T KxAtomicAdd(T& word, std::type_identity_t<T> delta,
              std::memory_order order = std::memory_order_release) {
  return std::atomic_ref<T>(word).fetch_add(delta, order) + delta;
}
