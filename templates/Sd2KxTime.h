// The packed race time of the records: one 64-bit word, laid out in
// contracts/kernel/KxValueWords.h (KxTimeWord). A field without a time holds
// exactly the no-value bit. The helpers work on the word alone; converting
// to and from the application's time type is the object face's.
#pragma once

#include <cstdint>

#include "contracts/kernel/KxValueWords.h"

struct Sd2KxTime {
  static constexpr uint64_t kTimeMask = KxTimeWord::kTimeMask;
  static constexpr uint64_t kPrecisionMask = KxTimeWord::kPrecisionMask;
  static constexpr int kPrecisionShift = KxTimeWord::kPrecisionShift;
  static constexpr uint64_t kNoValue = KxTimeWord::kNoValue;
  static constexpr uint64_t kNegative = KxTimeWord::kNegative;

  // The word of a field without a time.
  static constexpr Sd2KxTime Null() { return Sd2KxTime{kNoValue}; }

  // The word of a time: the low 43 bits of `liTime`, the low 3 bits of
  // `uiPrecision` and the negative flag. Higher bits of both are dropped.
  static constexpr Sd2KxTime Make(int64_t liTime, uint32_t uiPrecision, bool bNegative) {
    return Sd2KxTime{KxTimeWord::Pack(static_cast<uint64_t>(liTime), uiPrecision, bNegative)};
  }

  constexpr bool IsNull() const { return KxTimeWord::IsNoValue(m_uliWord); }
  constexpr int64_t Time() const { return static_cast<int64_t>(KxTimeWord::TimeOf(m_uliWord)); }
  constexpr uint32_t Precision() const { return KxTimeWord::PrecisionOf(m_uliWord); }
  constexpr bool Negative() const { return KxTimeWord::IsNegative(m_uliWord); }

  uint64_t m_uliWord;
};

static_assert(sizeof(Sd2KxTime) == 8 && alignof(Sd2KxTime) == 8);
