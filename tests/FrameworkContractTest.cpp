// What the framework contract defines itself: the checks of its value types,
// the format-argument conversions, the event list, the range-for adaptor over
// enumerators, and the overloads that two interfaces bring together in one
// top-level container. Declared-only operations are the framework library's.
#include "contracts/framework/OrbFramework.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using namespace Tarvex::Orb;
using namespace Tarvex::Orb::DataDirectAcces;

// The value types refuse what a record cannot hold: a race time has three
// bits of precision, a date-time ticks from 0001-01-01 to the last tick of
// 9999-12-31 and three kinds.
constexpr int64_t kTicksPerDay = 864'000'000'000;
constexpr int64_t kDaysYear1To10000 =
    (std::chrono::sys_days{std::chrono::year{10000} / std::chrono::January / 1} -
     std::chrono::sys_days{std::chrono::year{1} / std::chrono::January / 1})
        .count();
static_assert(OrbDateTime::kMaxTicks == kDaysYear1To10000 * kTicksPerDay - 1);

TEST(ValueTypeTest, ConstructionRefusesWhatARecordCannotHold) {
  struct Case {
    const char* csName;
    std::function<void()> make;
    bool bRefused;
  };
  const Case aCases[] = {
      {"precision 7", [] { KxTime(static_cast<KxPrecision>(7)); }, false},
      {"precision 8", [] { KxTime(static_cast<KxPrecision>(8)); }, true},
      {"last tick", [] { OrbDateTime(OrbDateTime::kMaxTicks, OrbDateTimeKind::Local); }, false},
      {"after the last tick", [] { OrbDateTime(OrbDateTime::kMaxTicks + 1); }, true},
      {"before the first tick", [] { OrbDateTime(-1); }, true},
      {"kind 3", [] { OrbDateTime(5, static_cast<OrbDateTimeKind>(3)); }, true},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(c.csName);
    if (c.bRefused) {
      EXPECT_THROW(c.make(), std::out_of_range);
    } else {
      EXPECT_NO_THROW(c.make());
    }
  }
  const OrbDateTime last(OrbDateTime::kMaxTicks, OrbDateTimeKind::Local);
  EXPECT_EQ(last.Ticks(), OrbDateTime::kMaxTicks);
  EXPECT_EQ(last.Kind(), OrbDateTimeKind::Local);
  EXPECT_EQ(KxTime(static_cast<KxPrecision>(7)).Precision(), static_cast<KxPrecision>(7));
}

// ---------------------------------------------------------------------------
// Format arguments: the alternative follows the argument's type.

template <class T>
bool Holds(const OrbFormatArg& arg) {
  return std::holds_alternative<T>(arg.Get());
}

TEST(OrbFormatArgTest, EachArgumentTypeKeepsItsKind) {
  EXPECT_TRUE(Holds<int64_t>(int32_t{-1}));
  EXPECT_EQ(std::get<int64_t>(OrbFormatArg(int32_t{-1}).Get()), -1);
  EXPECT_TRUE(Holds<uint64_t>(uint32_t{0xFFFFFFFF}));
  EXPECT_EQ(std::get<uint64_t>(OrbFormatArg(uint32_t{0xFFFFFFFF}).Get()), 0xFFFFFFFFu);
  EXPECT_TRUE(Holds<int64_t>(int16_t{7}));
  EXPECT_TRUE(Holds<uint64_t>(uint64_t{1} << 63));
  EXPECT_TRUE(Holds<bool>(true));
  EXPECT_TRUE(Holds<double>(2.5f));
  EXPECT_TRUE(Holds<std::u16string>(u"text"));
  EXPECT_TRUE(Holds<std::u16string>(std::u16string(u"text")));
  EXPECT_TRUE(Holds<std::monostate>(nullptr));
  EXPECT_TRUE(Holds<std::monostate>(static_cast<const char16_t*>(nullptr)));
  EXPECT_TRUE(Holds<std::monostate>(OrbFormatArg()));
}

// A narrow text or any other pointer must not slip in as a number or a
// truth value, nor a character as a number.
static_assert(!std::is_constructible_v<OrbFormatArg, const char*>);
static_assert(!std::is_constructible_v<OrbFormatArg, const void*>);
static_assert(!std::is_constructible_v<OrbFormatArg, int*>);
static_assert(!std::is_constructible_v<OrbFormatArg, char16_t>);
static_assert(!std::is_constructible_v<OrbFormatArg, char>);

// The view models raise formatted messages with a braced argument list; that
// must pick the format constructor, not the native-cause or fault one.
template <class E>
concept FormatsBracedArguments = requires {
  E(u"GetVal ({0}):\r\n", {16});
  E(u"{0} {1}", {int32_t{-1}, u"Lanes"});
};
static_assert(FormatsBracedArguments<OrbKernelException>);

// ---------------------------------------------------------------------------
// Events

TEST(OrbEventTest, HandlersRunInOrderAddedAndLeaveByToken) {
  OrbEvent<void(int)> event;
  std::vector<int> calls;
  const auto t1 = event.Add([&](int v) { calls.push_back(10 + v); });
  const auto t2 = event.Add([&](int v) { calls.push_back(20 + v); });
  const auto t3 = event.Add([&](int v) { calls.push_back(30 + v); });
  EXPECT_NE(t1, 0u);
  EXPECT_NE(t1, t2);
  EXPECT_NE(t2, t3);

  event.Raise(1);
  EXPECT_EQ(calls, (std::vector<int>{11, 21, 31}));

  EXPECT_TRUE(event.Remove(t2));
  EXPECT_FALSE(event.Remove(t2));
  EXPECT_FALSE(event.Remove(0));
  calls.clear();
  event.Raise(2);
  EXPECT_EQ(calls, (std::vector<int>{12, 32}));

  EXPECT_EQ(event.Add(nullptr), 0u);
  EXPECT_TRUE(event.Remove(t1));
  EXPECT_TRUE(event.Remove(t3));
  EXPECT_TRUE(event.Empty());
  event.Raise(3);  // no handler: nothing happens
}

TEST(OrbEventTest, HandlerMayRemoveItselfAndAddOthersWhileRaised) {
  OrbEvent<void()> event;
  std::vector<char> calls;
  OrbEvent<void()>::Token self = 0;
  self = event.Add([&] {
    calls.push_back('a');
    event.Remove(self);
    event.Add([&] { calls.push_back('c'); });
  });
  event.Add([&] { calls.push_back('b'); });

  event.Raise();  // the snapshot: a and b, not the handler a adds
  EXPECT_EQ(calls, (std::vector<char>{'a', 'b'}));
  calls.clear();
  event.Raise();
  EXPECT_EQ(calls, (std::vector<char>{'b', 'c'}));
}

// ---------------------------------------------------------------------------
// Range-for over enumerators

// Yields `count` values 100, 101, ...; counts the calls it receives.
class CountingEnumerator : public IOrbEnumerator<int32_t> {
 public:
  explicit CountingEnumerator(int32_t iCount) : m_iCount(iCount) {}
  bool MoveNext() override {
    ++m_iMoves;
    if (m_iPos + 1 >= m_iCount) {
      m_iPos = m_iCount;
      return false;
    }
    ++m_iPos;
    return true;
  }
  int32_t Current() override {
    EXPECT_GE(m_iPos, 0) << "Current before the first MoveNext";
    EXPECT_LT(m_iPos, m_iCount) << "Current after the end";
    return 100 + m_iPos;
  }
  void Reset() override { m_iPos = -1; }
  void Dispose() override {}

  int32_t m_iCount;
  int32_t m_iPos = -1;
  int32_t m_iMoves = 0;
};

class CountingEnumerable : public IOrbEnumerable<int32_t> {
 public:
  explicit CountingEnumerable(int32_t iCount) : m_iCount(iCount) {}
  std::shared_ptr<IOrbEnumerator<int32_t>> GetEnumerator() override {
    m_pLast = std::make_shared<CountingEnumerator>(m_iCount);
    return m_pLast;
  }
  int32_t m_iCount;
  std::shared_ptr<CountingEnumerator> m_pLast;
};

static_assert(std::input_iterator<OrbEnumIterator<int32_t>>);
static_assert(std::sentinel_for<std::default_sentinel_t, OrbEnumIterator<int32_t>>);

TEST(OrbEnumIteratorTest, RangeForVisitsEveryElementOnce) {
  CountingEnumerable three(3);
  std::vector<int32_t> seen;
  for (int32_t v : three) seen.push_back(v);
  EXPECT_EQ(seen, (std::vector<int32_t>{100, 101, 102}));
  EXPECT_EQ(three.m_pLast->m_iMoves, 4);  // three steps and the one that ends

  // A second loop starts afresh with a new enumerator.
  seen.clear();
  for (int32_t v : three) seen.push_back(v);
  EXPECT_EQ(seen.size(), 3u);

  CountingEnumerable empty(0);
  for (int32_t v : empty) ADD_FAILURE() << "visited " << v;
  EXPECT_EQ(empty.m_pLast->m_iMoves, 1);
}

// ---------------------------------------------------------------------------
// Top-level containers: both Clear forms, the key and handle indexers, and
// the case operations only where keys are texts.

struct Rec {};
using NumberMap = IOrbObjMap<uint64_t, Rec>;
using TextMap = IOrbObjMap<std::u16string, Rec>;

// Clear(key) from the map and Clear(flags, ...) from the updatable object
// are both reachable on a top-level map, as are both indexers.
template <class M>
concept TopLevelMapCalls = requires(M& m, const typename M::Key& key) {
  m.Clear(key);
  m.Clear(OrbCmd::None, std::nullopt, u"", {});
  m.Clear(OrbCmd{0x10}, AppUpdateInfo(), u"{0}", {OrbFormatArg(1)});
  m[key];
  m[uint32_t{1}];
  { m.GetKey(uint32_t{1}) } -> std::same_as<typename M::Key>;
};
static_assert(TopLevelMapCalls<NumberMap>);
static_assert(TopLevelMapCalls<TextMap>);

template <class M>
concept HasKeyCase = requires(M& m) {
  m.KeyNoCase();
  m.KeyCase();
};
static_assert(HasKeyCase<TextMap>);
static_assert(!HasKeyCase<NumberMap>);
static_assert(HasKeyCase<IOrbMap<std::u16string, Rec>>);
static_assert(!HasKeyCase<IOrbMap<uint64_t, Rec>>);

// A top-level container serves where a nested one does and as the updatable
// object a view-model root is registered with.
static_assert(
    std::is_convertible_v<std::shared_ptr<NumberMap>, std::shared_ptr<IOrbMap<uint64_t, Rec>>>);
static_assert(
    std::is_convertible_v<std::shared_ptr<TextMap>, std::shared_ptr<IOrbUpdatableObject>>);
static_assert(
    std::is_convertible_v<std::shared_ptr<IOrbObjArray<Rec>>, std::shared_ptr<IOrbArray<Rec>>>);
static_assert(std::is_convertible_v<std::shared_ptr<IOrbObjArray<Rec>>,
                                    std::shared_ptr<IOrbUpdatableObject>>);

}  // namespace
