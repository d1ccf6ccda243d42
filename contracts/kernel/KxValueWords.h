// The bit layouts of the two packed value words the records store, written
// once for the kernel, the library, the tool and the tests.
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------
// Packed race time (Sd2KxTime): one 64-bit word.
//
//   BITS    MASK             DESCRIPTION
//   0..42   0x07FFFFFFFFFF   time value (its magnitude)
//   43..45  0x380000000000   precision
//   46      0x400000000000   no value: the field holds no time
//   47      0x800000000000   negative
//   48..63                   written as 0, ignored when read
//
// A field without a time holds exactly the no-value bit.
namespace KxTimeWord {
constexpr uint64_t kTimeMask = 0x7FFFFFFFFFF;
constexpr uint64_t kPrecisionMask = 0x380000000000;
constexpr int kPrecisionShift = 43;
constexpr uint32_t kMaxPrecision = 7;
constexpr uint64_t kNoValue = 0x400000000000;
constexpr uint64_t kNegative = 0x800000000000;
constexpr uint64_t kUnusedBits = 0xFFFF000000000000;
// The fields share no bit and together cover the word.
static_assert((kTimeMask ^ kPrecisionMask ^ kNoValue ^ kNegative ^ kUnusedBits) == ~uint64_t{0} &&
              (kTimeMask | kPrecisionMask | kNoValue | kNegative | kUnusedBits) == ~uint64_t{0});
static_assert(kPrecisionMask >> kPrecisionShift == kMaxPrecision);

// The word of a time: the low 43 bits of `uiTime`, the low 3 bits of
// `uiPrecision` and the negative bit. Higher bits of both are dropped.
constexpr uint64_t Pack(uint64_t uiTime, uint32_t uiPrecision, bool bNegative) {
  return (uiTime & kTimeMask) |
         ((static_cast<uint64_t>(uiPrecision) << kPrecisionShift) & kPrecisionMask) |
         (bNegative ? kNegative : 0);
}
// The fields of a word; each reads its own bits only.
constexpr bool IsNoValue(uint64_t uiWord) { return (uiWord & kNoValue) != 0; }
constexpr uint64_t TimeOf(uint64_t uiWord) { return uiWord & kTimeMask; }
constexpr uint32_t PrecisionOf(uint64_t uiWord) {
  return static_cast<uint32_t>((uiWord & kPrecisionMask) >> kPrecisionShift);
}
constexpr bool IsNegative(uint64_t uiWord) { return (uiWord & kNegative) != 0; }
}  // namespace KxTimeWord

// ---------------------------------------------------------------------------
// Date-time: one 64-bit word. The low 62 bits count 100-nanosecond ticks
// since 0001-01-01 00:00:00 (proleptic Gregorian); the top two bits give the
// kind: 01 UTC, 10 local time, 00 (and 11) unspecified.

enum class KxDateTimeKind : uint8_t { kUnspecified, kUtc, kLocal };

namespace KxDateWord {
constexpr uint64_t kKindMask = 0xC000000000000000;
constexpr uint64_t kUtcBits = 0x4000000000000000;
constexpr uint64_t kLocalBits = 0x8000000000000000;
constexpr uint64_t kTicksMask = ~kKindMask;

constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kTicksPerDay = 86'400 * kTicksPerSecond;
constexpr uint64_t kMaxTicks = 3'155'378'975'999'999'999;  // 9999-12-31 23:59:59.9999999
constexpr int64_t kDaysTo1970 = 719'162;                   // 0001-01-01 to 1970-01-01

// The word of ticks and a kind; tick bits beyond the low 62 are dropped.
constexpr uint64_t Pack(uint64_t uiTicks, KxDateTimeKind eKind) {
  const uint64_t uiKind = eKind == KxDateTimeKind::kUtc     ? kUtcBits
                          : eKind == KxDateTimeKind::kLocal ? kLocalBits
                                                            : 0;
  return (uiTicks & kTicksMask) | uiKind;
}
// The fields of a word; both kind bits set read as unspecified.
constexpr uint64_t TicksOf(uint64_t uiWord) { return uiWord & kTicksMask; }
constexpr KxDateTimeKind KindOf(uint64_t uiWord) {
  const uint64_t uiKind = uiWord & kKindMask;
  return uiKind == kUtcBits     ? KxDateTimeKind::kUtc
         : uiKind == kLocalBits ? KxDateTimeKind::kLocal
                                : KxDateTimeKind::kUnspecified;
}
}  // namespace KxDateWord
