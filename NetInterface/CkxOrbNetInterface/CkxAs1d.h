// A fixed one-dimensional array of N elements stored in place in a record.
#pragma once

#include <cstdint>

#include "NetInterface/CkxOrbNetInterface/CkxOrbUnmanException.h"

template <class T, uint32_t N, int D>
class CkxAs1d {
  static_assert(D == 1, "only one-dimensional fixed arrays are laid out");

 public:
  // Element `uiIndex`; throws CkxD2RangeException (1, N, index).
  T& operator[](uint32_t uiIndex) {
    if (uiIndex >= N) throw CkxD2RangeException(1, N, uiIndex);
    return m_aItems[uiIndex];
  }
  static constexpr uint32_t Size() { return N; }

  T m_aItems[N];
};

static_assert(sizeof(CkxAs1d<uint32_t, 8, 1>) == 32);
static_assert(sizeof(CkxAs1d<int32_t, 100, 1>) == 400);
