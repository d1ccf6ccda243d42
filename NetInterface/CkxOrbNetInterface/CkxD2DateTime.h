// Date-time field of records: one signed 64-bit word, laid out in
// contracts/kernel/KxValueWords.h (KxDateWord): 100-nanosecond ticks since
// 0001-01-01 00:00:00 in the low 62 bits, the kind in the top two.
#pragma once

#include <cstdint>

#include "contracts/kernel/KxValueWords.h"

class CkxD2DateTime {
 public:
  static constexpr uint64_t kKindMask = KxDateWord::kKindMask;
  static constexpr uint64_t kUtcBits = KxDateWord::kUtcBits;
  static constexpr uint64_t kLocalBits = KxDateWord::kLocalBits;
  static constexpr uint64_t kTicksMask = KxDateWord::kTicksMask;

  int64_t GetNet() const { return m_liValue; }
  void SetNet(int64_t liValue) { m_liValue = liValue; }

  // The kind and ticks of a stored word, and the word for ticks and a kind.
  static KxDateTimeKind KindOf(int64_t liValue) {
    return KxDateWord::KindOf(static_cast<uint64_t>(liValue));
  }
  static int64_t TicksOf(int64_t liValue) {
    return static_cast<int64_t>(KxDateWord::TicksOf(static_cast<uint64_t>(liValue)));
  }
  static int64_t Pack(int64_t liTicks, KxDateTimeKind eKind) {
    return static_cast<int64_t>(KxDateWord::Pack(static_cast<uint64_t>(liTicks), eKind));
  }

  int64_t m_liValue;
};

static_assert(sizeof(CkxD2DateTime) == 8 && alignof(CkxD2DateTime) == 8);
