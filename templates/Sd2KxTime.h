// The packed race time of the records: one 64-bit word.
//
//   BITS    MASK             DESCRIPTION
//   0..42   0x07FFFFFFFFFF   time value (its magnitude)
//   43..45  0x380000000000   precision
//   46      0x400000000000   no value: the field holds no time
//   47      0x800000000000   negative
//   48..63                   written as 0, ignored when read
//
// A field without a time holds exactly the no-value bit. The helpers work on
// the word alone; converting to and from the application's time type is the
// object face's.
#pragma once

#include <cstdint>

struct Sd2KxTime {
  static constexpr uint64_t kTimeMask = 0x7FFFFFFFFFF;
  static constexpr uint64_t kPrecisionMask = 0x380000000000;
  static constexpr int kPrecisionShift = 43;
  static constexpr uint64_t kNoValue = 0x400000000000;
  static constexpr uint64_t kNegative = 0x800000000000;

  // The word of a field without a time.
  static constexpr Sd2KxTime Null() { return Sd2KxTime{kNoValue}; }

  // The word of a time: the low 43 bits of `liTime`, the low 3 bits of
  // `uiPrecision` and the negative flag. Higher bits of both are dropped.
  static constexpr Sd2KxTime Make(int64_t liTime, uint32_t uiPrecision, bool bNegative) {
    return Sd2KxTime{(static_cast<uint64_t>(liTime) & kTimeMask) |
                     ((static_cast<uint64_t>(uiPrecision) << kPrecisionShift) & kPrecisionMask) |
                     (bNegative ? kNegative : 0)};
  }

  constexpr bool IsNull() const { return (m_uliWord & kNoValue) != 0; }
  constexpr int64_t Time() const { return static_cast<int64_t>(m_uliWord & kTimeMask); }
  constexpr uint32_t Precision() const {
    return static_cast<uint32_t>((m_uliWord & kPrecisionMask) >> kPrecisionShift);
  }
  constexpr bool Negative() const { return (m_uliWord & kNegative) != 0; }

  uint64_t m_uliWord;
};

static_assert(sizeof(Sd2KxTime) == 8 && alignof(Sd2KxTime) == 8);
