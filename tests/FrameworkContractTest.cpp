// What the framework contract defines itself: the checks of its value types,
// the format-argument kinds, the event list and the overloads a top-level
// container brings together. (The range-for adaptor over enumerators is
// AccessFieldsTest's, which walks every wrapper through it.)
#include "contracts/framework/OrbFramework.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using namespace Tarvex::Orb;
using namespace Tarvex::Orb::DataDirectAcces;

// The last tick is the last of 9999-12-31.
static_assert(OrbDateTime::kMaxTicks == (std::chrono::sys_days{std::chrono::year{10000} / 1 / 1} -
                                         std::chrono::sys_days{std::chrono::year{1} / 1 / 1})
                                                    .count() *
                                                864'000'000'000 -
                                            1);

TEST(ValueTypeTest, ConstructionRefusesWhatARecordCannotHold) {
  const std::pair<std::function<void()>, bool> aCases[] = {
      {[] { KxTime(static_cast<KxPrecision>(7)); }, false},
      {[] { KxTime(static_cast<KxPrecision>(8)); }, true},
      {[] { OrbDateTime(OrbDateTime::kMaxTicks, OrbDateTimeKind::Local); }, false},
      {[] { OrbDateTime(OrbDateTime::kMaxTicks + 1); }, true},
      {[] { OrbDateTime(-1); }, true},
      {[] { OrbDateTime(5, static_cast<OrbDateTimeKind>(3)); }, true},
  };
  for (size_t i = 0; i < std::size(aCases); ++i) {
    SCOPED_TRACE(i);
    const auto& [make, bRefused] = aCases[i];
    if (bRefused)
      EXPECT_THROW(make(), std::out_of_range);
    else
      EXPECT_NO_THROW(make());
  }
}

// Each argument keeps its kind and value: the variant's index and alternative.
// (Truth values, texts and 64-bit unsigned numbers: OrbAppTest's format rows.)
TEST(OrbFormatArgTest, EachArgumentTypeKeepsItsKind) {
  const std::pair<OrbFormatArg, OrbFormatArg::Value> aCases[] = {
      {int32_t{-1}, int64_t{-1}},
      {int16_t{7}, int64_t{7}},
      {uint32_t{0xFFFFFFFF}, uint64_t{0xFFFFFFFF}},
      {2.5f, 2.5},
      {nullptr, std::monostate{}},
      {static_cast<const char16_t*>(nullptr), std::monostate{}},
  };
  for (const auto& [arg, expected] : aCases) EXPECT_EQ(arg.Get(), expected) << expected.index();
}

// A narrow text or any other pointer must not slip in as a number or a truth
// value, nor a character as a number; a braced argument list picks the
// format constructor of an exception.
static_assert(!std::is_constructible_v<OrbFormatArg, const char*>);
static_assert(!std::is_constructible_v<OrbFormatArg, int*>);
static_assert(!std::is_constructible_v<OrbFormatArg, char16_t>);
static_assert(!std::is_constructible_v<OrbFormatArg, char>);
static_assert(requires { OrbKernelException(u"{0} {1}", {int32_t{-1}, u"Lanes"}); });

TEST(OrbEventTest, HandlersRunInOrderAddedLeaveByTokenAndMayChangeTheListWhileRaised) {
  OrbEvent<void(int)> event;
  std::vector<int> calls;
  OrbEvent<void(int)>::Token t1 = 0;
  t1 = event.Add([&](int v) {
    calls.push_back(10 + v);
    event.Remove(t1);
    event.Add([&](int w) { calls.push_back(30 + w); });
  });
  const auto t2 = event.Add([&](int v) { calls.push_back(20 + v); });
  EXPECT_EQ(event.Add(nullptr), 0u);
  event.Raise(1);  // on the list the raise started with
  event.Raise(2);
  EXPECT_EQ(calls, (std::vector<int>{11, 21, 22, 32}));
  EXPECT_NE(t1, t2);
  EXPECT_FALSE(event.Remove(t1));
  EXPECT_FALSE(event.Remove(0));
  EXPECT_TRUE(event.Remove(t2));
  calls.clear();
  event.Raise(3);
  EXPECT_EQ(calls, (std::vector<int>{33}));
}

// Both Clear forms and both indexers are reachable on a top-level map, the
// case operations only where keys are texts, and a top-level container
// serves where a nested one or an updatable object does.
struct Rec {};
template <class M>
concept TopLevelMapCalls = requires(M& m, const typename M::Key& key) {
  m.Clear(key);
  m.Clear(OrbCmd{0x10}, AppUpdateInfo(), u"{0}", {OrbFormatArg(1)});
  m[key];
  m[uint32_t{1}];
  { m.GetKey(uint32_t{1}) } -> std::same_as<typename M::Key>;
};
template <class M>
concept HasKeyCase = requires(M& m) {
  m.KeyNoCase();
  m.KeyCase();
};
static_assert(TopLevelMapCalls<IOrbObjMap<uint64_t, Rec>>);
static_assert(TopLevelMapCalls<IOrbObjMap<std::u16string, Rec>>);
static_assert(HasKeyCase<IOrbObjMap<std::u16string, Rec>> &&
              HasKeyCase<IOrbMap<std::u16string, Rec>>);
static_assert(!HasKeyCase<IOrbObjMap<uint64_t, Rec>> && !HasKeyCase<IOrbMap<uint64_t, Rec>>);
static_assert(std::is_convertible_v<std::shared_ptr<IOrbObjMap<uint64_t, Rec>>,
                                    std::shared_ptr<IOrbMap<uint64_t, Rec>>>);
static_assert(std::is_convertible_v<std::shared_ptr<IOrbObjMap<std::u16string, Rec>>,
                                    std::shared_ptr<IOrbUpdatableObject>>);
static_assert(
    std::is_convertible_v<std::shared_ptr<IOrbObjArray<Rec>>, std::shared_ptr<IOrbArray<Rec>>>);
static_assert(std::is_convertible_v<std::shared_ptr<IOrbObjArray<Rec>>,
                                    std::shared_ptr<IOrbUpdatableObject>>);

}  // namespace
