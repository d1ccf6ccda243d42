// Date-time field of records: one signed 64-bit word. The low 62 bits count
// 100-nanosecond ticks since 0001-01-01 00:00:00; the top two bits give the
// kind: 01 UTC, 10 local time, 00 (and 11) unspecified.
#pragma once

#include <cstdint>

enum class KxDateTimeKind : uint8_t { kUnspecified, kUtc, kLocal };

class CkxD2DateTime {
 public:
  static constexpr uint64_t kKindMask = 0xC000000000000000;
  static constexpr uint64_t kUtcBits = 0x4000000000000000;
  static constexpr uint64_t kLocalBits = 0x8000000000000000;
  static constexpr uint64_t kTicksMask = ~kKindMask;

  int64_t GetNet() const { return m_liValue; }
  void SetNet(int64_t liValue) { m_liValue = liValue; }

  // The kind and ticks of a stored word, and the word for ticks and a kind.
  static KxDateTimeKind KindOf(int64_t liValue) {
    const uint64_t uliBits = static_cast<uint64_t>(liValue) & kKindMask;
    if (uliBits == kUtcBits) return KxDateTimeKind::kUtc;
    if (uliBits == kLocalBits) return KxDateTimeKind::kLocal;
    return KxDateTimeKind::kUnspecified;
  }
  static int64_t TicksOf(int64_t liValue) {
    return static_cast<int64_t>(static_cast<uint64_t>(liValue) & kTicksMask);
  }
  static int64_t Pack(int64_t liTicks, KxDateTimeKind eKind) {
    uint64_t uliValue = static_cast<uint64_t>(liTicks) & kTicksMask;
    if (eKind == KxDateTimeKind::kUtc) uliValue |= kUtcBits;
    if (eKind == KxDateTimeKind::kLocal) uliValue |= kLocalBits;
    return static_cast<int64_t>(uliValue);
  }

  int64_t m_liValue;
};

static_assert(sizeof(CkxD2DateTime) == 8 && alignof(CkxD2DateTime) == 8);
