// The enumerators of the container wrappers. They hold their wrapper alive,
// take no lock and check no version: each step sees what the container's
// Head and Next (or the array's length) answer at that moment, and writes
// the position reached into the wrapper (IEnumCurrentPos). Their own
// operations are not guarded; the wrapper operations they call are.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "contracts/framework/OrbInterfaces.h"

namespace Tarvex::Orb::DataDirectAcces {

// Range-for over a concrete container wrapper (its begin()): the wrapper's
// own enumerator held by value, so that no step is a virtual call, and each
// element handed out as the enumerator keeps it (a reference to the proxy it
// reuses, OrbProxyOf), so that no step copies a shared pointer. Through the
// container interfaces, range-for takes GetEnumerator's enumerator instead
// (OrbEnumIterator); both see the same elements.
template <class Enumerator>
class OrbWalkIterator {
 public:
  explicit OrbWalkIterator(Enumerator walk) : m_Walk(std::move(walk)) { Step(); }

  decltype(auto) operator*() const { return m_Walk.CurrentKept(); }
  OrbWalkIterator& operator++() {
    Step();
    return *this;
  }
  friend bool operator==(const OrbWalkIterator& it, std::default_sentinel_t) { return !it.m_bValid; }

 private:
  void Step() { m_bValid = m_Walk.MoveNext(); }

  mutable Enumerator m_Walk;  // reading the current element fills its kept proxy
  bool m_bValid = false;
};

// Steps through a keyed map from Head by Next until the handle 0.
template <class Wrapper, class T>
class OrbMapEnumerator final : public IOrbEnumerator<T> {
 public:
  static constexpr uint32_t kFresh = 0xFFFFFFFF;

  explicit OrbMapEnumerator(std::shared_ptr<Wrapper> pColl) : m_Coll(std::move(pColl)) { Reset(); }

  bool MoveNext() override {
    if (m_hPosM == kFresh) {
      Step(m_Coll->Head());
    } else if (m_hPosM > 0) {
      Step(m_Coll->Next(m_hPosM));
    }
    return m_hPosM > 0;
  }
  // The proxy for the current handle (0xFFFFFFFF before the first step, 0
  // after the last; neither checked until used): a new one, or the one
  // handed out before when nobody holds it any more (OrbProxyOf).
  T Current() override { return CurrentKept(); }
  // The same, as the enumerator keeps it (OrbWalkIterator).
  decltype(auto) CurrentKept() { return m_Coll->EnumItem(m_Kept, m_hPosM); }
  void Reset() override { m_hPosM = kFresh; }
  void Dispose() override {}

 private:
  void Step(uint32_t hPos) {
    m_hPosM = hPos;
    m_Coll->m_hPosIEnum = hPos;
  }

  std::shared_ptr<Wrapper> m_Coll;
  typename Wrapper::EnumKept m_Kept{};  // the element handed out last
  uint32_t m_hPosM = kFresh;
};

// Steps through an array, or through the range the wrapper was given with
// ForeachRange, upwards or (start above end) downwards.
template <class Wrapper, class T>
class OrbArrayEnumerator final : public IOrbEnumerator<T> {
 public:
  explicit OrbArrayEnumerator(std::shared_ptr<Wrapper> pColl) : m_Coll(std::move(pColl)) {
    Reset();
  }

  bool MoveNext() override {
    if (m_bReverse ? m_iPosition <= m_iLastPos : m_iPosition >= m_iLastPos) return false;
    m_iPosition += m_bReverse ? -1 : 1;
    m_Coll->m_iPosIEnum = m_iPosition;
    return true;
  }
  T Current() override { return CurrentKept(); }
  // The same, as the enumerator keeps it (OrbWalkIterator).
  decltype(auto) CurrentKept() {
    return m_Coll->EnumItem(m_Kept, static_cast<uint32_t>(m_iPosition));
  }

  // Positions before the first index of the range. A range end below 0 or
  // past the last index is clamped in the wrapper itself.
  void Reset() override {
    m_iLastPos = static_cast<int32_t>(m_Coll->GetLength(0)) - 1;
    const int32_t iStart = m_Coll->m_iForeachStart;
    if (iStart < 0) {
      m_bReverse = false;
      m_iPosition = -1;
      return;
    }
    if (m_Coll->m_iForeachEnd < 0 || m_Coll->m_iForeachEnd > m_iLastPos) {
      m_Coll->m_iForeachEnd = m_iLastPos;
    }
    m_bReverse = iStart > m_Coll->m_iForeachEnd && iStart <= m_iLastPos;
    m_iPosition = m_bReverse ? iStart + 1 : iStart - 1;
    m_iLastPos = m_Coll->m_iForeachEnd;
  }
  void Dispose() override {}

 private:
  std::shared_ptr<Wrapper> m_Coll;
  typename Wrapper::EnumKept m_Kept{};  // the element handed out last
  int32_t m_iPosition = -1;
  int32_t m_iLastPos = -1;
  bool m_bReverse = false;
};

}  // namespace Tarvex::Orb::DataDirectAcces
