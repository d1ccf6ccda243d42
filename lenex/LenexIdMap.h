// Ids (numbers up to 64 bits; an int32_t id goes in sign-extended) to
// values, open-addressed in one array: adding an id allocates nothing but
// the array's doublings. The reader and the import look up tens of
// thousands of ids a meet, and a node-based map allocated a node for each.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

namespace Varnox::Lenex::Detail {

template <class Value>
class IdMap {
 public:
  // The value under uiId, value-made when new, and whether it is new. The
  // pointer holds until the next id is added.
  std::pair<Value*, bool> TryEmplace(uint64_t uiId) {
    if (uiId == kFree) {
      const bool bNew = !std::exchange(m_bHasFree, true);
      return {&m_FreeValue, bNew};
    }
    if (2 * (m_uiCount + 1) > m_Slots.size()) Grow(std::max<size_t>(16, 2 * m_Slots.size()));
    Slot& slot = m_Slots[IndexOf(uiId)];
    if (slot.uiId == uiId) return {&slot.value, false};
    slot.uiId = uiId;
    ++m_uiCount;
    return {&slot.value, true};
  }

  const Value* Find(uint64_t uiId) const {
    if (uiId == kFree) return m_bHasFree ? &m_FreeValue : nullptr;
    if (m_Slots.empty()) return nullptr;
    const Slot& slot = m_Slots[IndexOf(uiId)];
    return slot.uiId == uiId ? &slot.value : nullptr;
  }
  Value* Find(uint64_t uiId) {
    return const_cast<Value*>(static_cast<const IdMap&>(*this).Find(uiId));
  }

  bool Contains(uint64_t uiId) const { return Find(uiId) != nullptr; }

  // Room for uiCount ids without growing.
  void Reserve(size_t uiCount) {
    size_t uiSlots = 16;
    while (uiSlots < 2 * uiCount) uiSlots *= 2;
    if (uiSlots > m_Slots.size()) Grow(uiSlots);
  }
  size_t Size() const { return m_uiCount + (m_bHasFree ? 1 : 0); }

  void Clear() {
    m_Slots.clear();
    m_uiCount = 0;
    m_bHasFree = false;
    m_FreeValue = Value{};
  }

 private:
  static constexpr uint64_t kFree = UINT64_MAX;  // marks a free slot; kept apart when added

  // A set's value takes no room: its slots are the ids alone, twice as
  // many to a cache line.
  struct Slot {
    uint64_t uiId = kFree;
    [[no_unique_address]] Value value{};
  };
  static_assert(!std::is_empty_v<Value> || sizeof(Slot) == sizeof(uint64_t));

  // The slot of uiId, or the free slot where it would go. Ids of a
  // document mostly run in sequence (1, 2, 3 ...) and are claimed in that
  // order: the low six bits place an id within a run of 64 slots, so that
  // such ids fill slots in sequence too and each cache line is fetched
  // once; the other bits, mixed, place the run.
  size_t IndexOf(uint64_t uiId) const {
    const size_t uiMask = m_Slots.size() - 1;
    const uint64_t uiRun = uiId >> 6;
    uint64_t uiMixed = (uiRun ^ (uiRun >> 33)) * 0xff51afd7ed558ccdull;
    uiMixed ^= uiMixed >> 33;
    size_t i = static_cast<size_t>((uiMixed << 6) + (uiId & 63)) & uiMask;
    while (m_Slots[i].uiId != kFree && m_Slots[i].uiId != uiId) i = (i + 1) & uiMask;
    return i;
  }

  void Grow(size_t uiSlots) {
    std::vector<Slot> old = std::move(m_Slots);
    m_Slots.assign(uiSlots, Slot{});
    for (Slot& slot : old)
      if (slot.uiId != kFree) m_Slots[IndexOf(slot.uiId)] = std::move(slot);
  }

  std::vector<Slot> m_Slots;  // a power of two, at most half full
  size_t m_uiCount = 0;       // of m_Slots
  bool m_bHasFree = false;
  Value m_FreeValue{};
};

// Two numbers as one id, for a key of two parts (a heat and a lane). The
// parts are mixed by a function that loses nothing (two pairs never give
// one id): the maps above count on dense low bits, which the lane alone,
// a handful of values, would not give.
inline uint64_t PairId(int32_t iFirst, int32_t iSecond) {
  uint64_t uiId = uint64_t{static_cast<uint32_t>(iFirst)} << 32 | static_cast<uint32_t>(iSecond);
  uiId ^= uiId >> 33;
  uiId *= 0xff51afd7ed558ccdull;
  uiId ^= uiId >> 33;
  uiId *= 0xc4ceb9fe1a85ec53ull;
  uiId ^= uiId >> 33;
  return uiId;
}

// A set of ids.
class IdSet {
 public:
  // Whether uiId was new.
  bool Insert(uint64_t uiId) { return m_Map.TryEmplace(uiId).second; }
  bool Contains(uint64_t uiId) const { return m_Map.Contains(uiId); }
  void Reserve(size_t uiCount) { m_Map.Reserve(uiCount); }
  void Clear() { m_Map.Clear(); }

 private:
  struct Nothing {};
  IdMap<Nothing> m_Map;
};

}  // namespace Varnox::Lenex::Detail
