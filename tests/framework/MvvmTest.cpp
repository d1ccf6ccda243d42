// The framework's view models, collections, file routing and data contexts,
// on the counting stand-ins of FakeContainers.h. Nested collections and the
// generated view models are VarnoxViewModelTest's, on the reference kernel.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/framework/FakeContainers.h"

namespace {

using namespace fake;
using Change = OrbCollectionChangedEventArgs;
using Changes = std::vector<Change>;
using Kind = OrbCollectionChange;
using Values2 = std::vector<std::pair<int32_t, int32_t>>;  // (old, new) per event

template <class Case>
std::string NameOf(const testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

// `list` after `changes` as a user interface applies them (positions count in
// the list as the earlier changes left it), new elements taken from `after`.
std::vector<uint32_t> Applied(std::vector<uint32_t> list, const Changes& changes,
                              const std::vector<uint32_t>& after) {
  for (const Change& c : changes) {
    const auto at = static_cast<ptrdiff_t>(c.Index()), n = static_cast<ptrdiff_t>(c.Count());
    EXPECT_GT(n, 0);
    if (c.Action() == Kind::Add)
      list.insert(list.begin() + at, after.begin() + at, after.begin() + at + n);
    if (c.Action() == Kind::Replace) std::copy_n(after.begin() + at, n, list.begin() + at);
    if (c.Action() == Kind::Reset) list = after;
    if (c.Action() != Kind::Remove) continue;
    EXPECT_LE(at + n, static_cast<ptrdiff_t>(list.size()));
    list.erase(list.begin() + at, list.begin() + at + n);
  }
  return list;
}

// The handle diff: its changes turn the shown list into the new one, with no
// more changes than the edit needs (and, where given, exactly these).
struct DiffCase {
  std::string name;
  std::vector<uint32_t> before, after;
  Changes expected;
  size_t maxChanges;
};

class DiffTest : public testing::TestWithParam<DiffCase> {};

TEST_P(DiffTest, ChangesTurnTheShownListIntoTheCurrentOne) {
  const DiffCase& c = GetParam();
  const auto changes = OrbDiffHandles(c.before, c.after);
  EXPECT_EQ(Applied(c.before, changes, c.after), c.after);
  EXPECT_LE(changes.size(), c.maxChanges);
  if (!c.expected.empty()) {
    EXPECT_EQ(changes, c.expected);
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Lists, DiffTest, testing::Values(
    DiffCase{"Same", {1, 2, 3}, {1, 2, 3}, {}, 0},
    DiffCase{"AddFront", {2, 3}, {9, 2, 3}, {{Kind::Add, 0, 1}}, 1},
    DiffCase{"AddMiddleTwo", {1, 2, 3}, {1, 8, 9, 2, 3}, {{Kind::Add, 1, 2}}, 1},
    DiffCase{"AddEnd", {1, 2}, {1, 2, 9}, {{Kind::Add, 2, 1}}, 1},
    DiffCase{"FromEmpty", {}, {4, 5}, {{Kind::Add, 0, 2}}, 1},
    DiffCase{"RemoveFront", {1, 2, 3}, {2, 3}, {{Kind::Remove, 0, 1}}, 1},
    DiffCase{"RemoveMiddle", {1, 2, 3, 4}, {1, 4}, {{Kind::Remove, 1, 2}}, 1},
    DiffCase{"RemoveEnd", {1, 2, 3}, {1, 2}, {{Kind::Remove, 2, 1}}, 1},
    DiffCase{"ToEmpty", {1, 2}, {}, {{Kind::Remove, 0, 2}}, 1},
    DiffCase{"RemoveTwoRuns", {1, 2, 3, 4, 5, 6}, {1, 3, 6}, {{Kind::Remove, 3, 2}, {Kind::Remove, 1, 1}}, 2},
    DiffCase{"ReplaceOne", {1, 2, 3}, {1, 7, 3}, {{Kind::Replace, 1, 1}}, 1},
    DiffCase{"AddAndRemove", {1, 2, 3, 4}, {0, 1, 3, 4, 5}, {}, 3},
    DiffCase{"SwapTwo", {1, 2, 3, 4}, {1, 3, 2, 4}, {}, 2},
    DiffCase{"MoveLastToFront", {1, 2, 3, 4, 5}, {5, 1, 2, 3, 4}, {}, 2},
    DiffCase{"Reverse", {1, 2, 3, 4}, {4, 3, 2, 1}, {}, 6},
    DiffCase{"AllNewOtherLength", {1, 2}, {7, 8, 9}, {}, 2},
    DiffCase{"ReorderWithAddsAndRemoves", {1, 2, 3, 4, 5, 6}, {6, 2, 9, 4, 1, 8}, {}, 8}),
    NameOf<DiffCase>);
// clang-format on

// The tag naming the changed elements at the end of an update text: read
// back as written, anything else names nothing.
struct TagCase {
  std::string name;
  std::u16string csText;
  std::optional<std::vector<uint32_t>> named;
};

class ElementTagTest : public testing::TestWithParam<TagCase> {};

TEST_P(ElementTagTest, ReadsWhatWasWrittenAndNothingElse) {
  const TagCase& c = GetParam();
  EXPECT_EQ(OrbNamedElements(c.csText), c.named);
  if (c.named) {
    EXPECT_EQ(OrbNameElements(u"x", *c.named), c.csText);
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Texts, ElementTagTest, testing::Values(
    TagCase{"Two", u"x [elements 3,17]", std::vector<uint32_t>{3, 17}},
    TagCase{"Largest", u"x [elements 4294967295]", std::vector<uint32_t>{~0u}},
    TagCase{"NoTag", u"x", std::nullopt}, TagCase{"Empty", u"x [elements ]", std::nullopt},
    TagCase{"NotANumber", u"x [elements 3,a]", std::nullopt},
    TagCase{"TooLarge", u"x [elements 4294967296]", std::nullopt},
    TagCase{"CutOff", u"x [elements 3,1", std::nullopt},
    TagCase{"TrailingComma", u"x [elements 3,]", std::nullopt}),
    NameOf<TagCase>);
// clang-format on

// A view model over record 0 of a store, with its Number events recorded.
struct Bound {
  std::shared_ptr<Store> pStore = std::make_shared<Store>();
  uint32_t h = pStore->Insert(0, 5);
  std::shared_ptr<ViewModel> pVm =
      std::make_shared<ViewModel>(std::make_shared<Proxy>(pStore, h), nullptr);
  Values2 values;
  std::vector<int32_t> properties;  // indexes of the view model's own event
  Bound() {
    pVm->NumberSlot()->PropertyChanged().Add(
        [this](int32_t o, int32_t n) { values.emplace_back(o, n); });
    pVm->PropertyChanged().Add([this](int32_t i) { properties.push_back(i); });
  }
  int32_t& Stored() { return pStore->At(0).number; }
};

// A simple value raises once per real change, nothing for a same-value
// reload; without a data context a write reaches the record at once.
struct ValueCase {
  std::string name;
  void (*act)(Bound&);
  Values2 values;
  int32_t shown;
};

class SimpleValueTest : public testing::TestWithParam<ValueCase> {};

TEST_P(SimpleValueTest, RaisesOncePerRealChange) {
  Bound b;
  EXPECT_EQ(b.pVm->NumberSlot()->Value(), 5);  // the first read loads, raising nothing
  GetParam().act(b);
  EXPECT_EQ(b.values, GetParam().values);
  EXPECT_EQ(b.properties, std::vector<int32_t>(GetParam().values.size(), ViewModel::kNumber));
  EXPECT_EQ(b.pVm->NumberSlot()->Value(), GetParam().shown);
  EXPECT_EQ(b.Stored(), GetParam().shown);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Values, SimpleValueTest, testing::Values(
    ValueCase{"ReloadSameValue", [](Bound& b) { b.pVm->Refresh(); }, {}, 5},
    ValueCase{"ReloadChangedValue", [](Bound& b) { b.Stored() = 8; b.pVm->Refresh(); b.pVm->Refresh(); }, {{5, 8}}, 8},
    ValueCase{"ChangedAndBackBeforeReload", [](Bound& b) { b.Stored() = 8; b.Stored() = 5; b.pVm->Refresh(); }, {}, 5},
    ValueCase{"UserSetsNewValue", [](Bound& b) { b.pVm->NumberSlot()->set_Value(9); }, {{5, 9}}, 9},
    ValueCase{"UserSetsSameValue", [](Bound& b) { b.pVm->NumberSlot()->set_Value(5); }, {}, 5},
    ValueCase{"UserSetThenReload", [](Bound& b) { b.pVm->NumberSlot()->set_Value(9); b.pVm->Refresh(); }, {{5, 9}}, 9},
    ValueCase{"EventsOff", [](Bound& b) { b.pVm->Tree().set_Notifying(false); b.Stored() = 8; b.pVm->Refresh(); }, {}, 8}),
    NameOf<ValueCase>);
// clang-format on

TEST(SimpleValueTest, AThrowingHandlerReachesTheWriterAfterTheValueIsStored) {
  Bound b;
  b.pVm->NumberSlot()->PropertyChanged().Add(
      [](int32_t, int32_t) { throw std::runtime_error("h"); });
  EXPECT_THROW(b.pVm->NumberSlot()->set_Value(7), std::runtime_error);
  EXPECT_EQ(b.Stored(), 7);
  EXPECT_EQ(b.pVm->NumberSlot()->Value(), 7);
}

// A map root of four records 0, 10, 20, 30 with its change events recorded.
struct MapFixture {
  std::shared_ptr<File> pFile = std::make_shared<File>();
  Store& store = *pFile->stores[0];
  std::shared_ptr<MapRoot> pRoot;
  Changes changes;
  MapFixture() {
    for (int32_t i = 0; i < 4; ++i) store.Insert(store.order.size(), i * 10);
    pRoot = pFile->MapRootOf();
    pRoot->CollectionChanged().Add([this](const Change& c) { changes.push_back(c); });
  }
  std::vector<uint32_t> Shown() {
    std::vector<uint32_t> shown;
    for (int32_t i = 0; i < pRoot->Count(); ++i) shown.push_back(pRoot->HandleAt(i));
    return shown;
  }
};

// The tree's lock keeps other threads out and lets its holder take it again;
// the pool behind it gives each live object a block of its own. Threads,
// started together with the one that made the tree (the lock's biased
// thread), take the lock (nested) and count under it across the making of a
// pooled value, and keep a batch of values alive across rounds, dropped
// outside the lock: a lost count or an overwritten value is a fault of the
// lock, of the end of its bias or of the pool's free lists.
TEST(TreeLockTest, KeepsOtherThreadsOutAndPooledObjectsApart) {
  auto pRoot = std::make_shared<ViewModel>(nullptr, nullptr);
  OrbMvvmTree& tree = pRoot->Tree();
  constexpr int kThreads = 4, kRounds = 50000;
  constexpr size_t kBatch = 8;
  int iCount = 0;  // guarded by the tree's lock alone
  std::atomic<bool> bGo{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    auto count = [&, t] {
      while (!bGo.load()) std::this_thread::yield();
      std::vector<std::shared_ptr<ViewModel::NumberWrapper>> batch;
      for (int i = 0; i < kRounds; ++i) {
        std::shared_ptr<ViewModel::NumberWrapper> pValue;
        {
          auto lock = tree.Lock();
          const int iSeen = iCount;
          auto again = tree.Lock();
          pValue = tree.Make<ViewModel::NumberWrapper>(pRoot.get(), 0, 0u);
          iCount = iSeen + 1;
        }
        pValue->m_LocalVal = t * kRounds + i;
        batch.push_back(std::move(pValue));
        if (batch.size() < kBatch) continue;
        for (size_t j = 0; j < kBatch; ++j)
          EXPECT_EQ(batch[j]->m_LocalVal, t * kRounds + i - static_cast<int>(kBatch - 1 - j));
        batch.clear();
      }
    };
    if (t + 1 < kThreads) {
      threads.emplace_back(count);
      continue;
    }
    {
      // The others ask for the lock while the biased thread holds it: none
      // counts before it lets go.
      auto lock = tree.Lock();
      bGo.store(true);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      EXPECT_EQ(iCount, 0);
    }
    count();
  }
  for (std::thread& thread : threads) thread.join();
  auto lock = tree.Lock();
  EXPECT_EQ(iCount, kThreads * kRounds);
}

// Elements are made on demand and kept per handle while they move; a refresh
// follows adds, removes and reorderings under no lock left held.
TEST(ObsMapTest, ElementsAreMadeOnDemandAndKeptPerHandle) {
  MapFixture f;
  EXPECT_EQ(f.pRoot->Count(), 4);
  EXPECT_EQ(f.pFile->m_pMap->made, 0);
  const auto pSecond = f.pRoot->Item(1);
  EXPECT_EQ(pSecond->NumberSlot()->Value(), 10);
  EXPECT_EQ(f.pRoot->Item(1), pSecond);
  EXPECT_EQ(f.pFile->m_pMap->made, 1);

  f.store.At(1).number = 11;
  f.store.Erase(0);
  f.pRoot->Refresh();
  EXPECT_EQ(f.pRoot->Item(0), pSecond);
  EXPECT_EQ(pSecond->NumberSlot()->Value(), 11);
  EXPECT_EQ(f.changes, (Changes{{Kind::Remove, 0, 1}}));
  int32_t iSeen = 0;
  for (const auto& pVm : *f.pRoot) iSeen += pVm != nullptr;
  EXPECT_EQ(iSeen, 3);
  EXPECT_THROW(f.pRoot->Item(3), OrbKernelException);
  EXPECT_THROW(f.pRoot->Item(-1), OrbKernelException);

  f.store.Insert(1, 99);
  std::swap(f.store.order[0], f.store.order[2]);
  f.pRoot->Refresh();
  EXPECT_EQ(f.Shown(), f.store.order);
  EXPECT_EQ(f.store.sharedLocks, 0);
  f.changes.clear();
  f.pRoot->Refresh();
  EXPECT_TRUE(f.changes.empty());
}

// A kernel update reloads only the element view models that may have
// changed: those its text names, or without names those whose record stamp
// moved since the last refresh. Lost updates name nothing. (A tag that does
// not read back names nothing: ElementTagTest.)
struct ReloadCase {
  std::string name;
  std::vector<size_t> changed;   // positions whose Number changes before the update
  std::vector<size_t> named;     // positions the update's tag names
  std::vector<size_t> reloaded;  // positions whose record is read again
  bool bLost = false;
};

class ReloadTest : public testing::TestWithParam<ReloadCase> {};

TEST_P(ReloadTest, OnlyWhatMayHaveChangedIsReadAgain) {
  const ReloadCase& c = GetParam();
  MapFixture f;
  std::vector<size_t> raised;
  for (size_t i = 0; i < f.store.order.size(); ++i) {
    const auto pVm = f.pRoot->Item(static_cast<int32_t>(i));
    pVm->NumberSlot()->Value();
    pVm->NumberSlot()->PropertyChanged().Add(
        [&raised, i](int32_t, int32_t) { raised.push_back(i); });
  }
  f.pRoot->Refresh();  // the stamps of what is shown now
  f.store.reads = 0;
  for (const size_t i : c.changed) ++f.store.At(i).number;
  std::vector<uint32_t> named;
  for (const size_t i : c.named) named.push_back(f.store.order[i]);
  if (c.bLost) {
    f.pFile->OnUpdatesLost(0);
  } else {
    f.pFile->OnObjectUpdateEx(0, named.empty() ? u"changed" : OrbNameElements(u"changed", named), 0,
                              1);
  }
  EXPECT_EQ(f.store.reads, static_cast<int>(c.reloaded.size()));
  std::vector<size_t> expected;
  for (const size_t i : c.changed) {
    if (std::ranges::find(c.reloaded, i) != c.reloaded.end()) expected.push_back(i);
  }
  std::ranges::sort(raised);
  EXPECT_EQ(raised, expected);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Updates, ReloadTest, testing::Values(
    ReloadCase{"NamedAndChanged", {1}, {1}, {1}},
    ReloadCase{"OnlyTheNamedOne", {1, 2}, {2}, {2}},
    ReloadCase{"UnnamedFindsTheChanged", {1, 3}, {}, {1, 3}},
    ReloadCase{"UnnamedNothingChanged", {}, {}, {}},
    ReloadCase{"LostUpdateChecksEveryElement", {0, 3}, {3}, {0, 3}, true}),
    NameOf<ReloadCase>);
// clang-format on

TEST(ReloadTest, AValueLoadedSinceTheLastRefreshReloadsEvenWhenTheRecordCameBack) {
  MapFixture f;
  const auto pVm = f.pRoot->Item(0);
  pVm->NumberSlot()->Value();
  f.pRoot->Refresh();
  f.store.At(0).text = u"b";
  EXPECT_EQ(pVm->TextSlot()->Value(), u"b");
  f.store.At(0).text = u"";
  f.pRoot->Refresh();
  EXPECT_EQ(pVm->TextSlot()->Value(), u"");
}

TEST(ObsArrayTest, LengthChangesAreAddsAndRemovesAtTheEnd) {
  auto pFile = std::make_shared<File>();
  Store& store = *pFile->stores[1];
  store.Insert(0, 1);
  store.Insert(1, 2);
  auto pRoot = std::static_pointer_cast<ArrayRoot>(pFile->Root(1));
  Changes changes;
  pRoot->CollectionChanged().Add([&](const Change& c) { changes.push_back(c); });
  EXPECT_EQ(pRoot->Item(1)->NumberSlot()->Value(), 2);
  store.Insert(0, 0);
  pRoot->Refresh();
  store.Erase(0);
  store.Erase(0);
  pRoot->Refresh();
  EXPECT_EQ(changes, (Changes{{Kind::Add, 2, 1}, {Kind::Remove, 1, 2}}));
  EXPECT_EQ(pRoot->Count(), 1);
}

// ---------------------------------------------------------------------------
// Data contexts over the map member's records 1 and 2.

using Manager = OrbGenericContextManager<File>;

struct ContextFixture {
  std::shared_ptr<File> pFile = std::make_shared<File>();
  Store& store = *pFile->stores[0];
  std::shared_ptr<Manager> pManager;
  ContextFixture() {
    store.Insert(0, 1);
    store.Insert(1, 2);
    pManager = Manager::Create(kKey, pFile);
  }
  ~ContextFixture() { Manager::Remove(kKey); }
  static inline const std::u16string kKey = u"contexts";
  std::shared_ptr<OrbGenericDataContext> Context(bool bShared, OrbDataMode mode, bool bAuto,
                                                 bool bOrb = true) {
    GetMvvmObjForDC<MapRoot> producer = [this] { return pFile->MapRootOf(); };
    return pManager->GetDC(producer, bShared, mode, true, bOrb, bAuto);
  }
  static std::shared_ptr<ViewModel> First(const std::shared_ptr<OrbGenericDataContext>& pDc) {
    return pDc->Root<MapRoot>()->Item(0);
  }
};

// Every root's writes, at once or at Commit, hold the exclusive lock of what
// it shows: member 0's map, 1's array, or the file's for 2's single record.
TEST(ExclusiveLockTest, WritesHoldTheLockOfWhatTheRootShows) {
  for (const int32_t iMember : {0, 1, 2}) {
    for (const bool bAutoCommit : {true, false}) {
      SCOPED_TRACE(testing::Message() << "member " << iMember << ", auto commit " << bAutoCommit);
      ContextFixture f;
      f.pFile->stores[1]->Insert(0, 1);
      Store& store = *f.pFile->stores[iMember];
      GetMvvmObjForDC<OrbBaseDataWrapper> producer = [&] { return f.pFile->Root(iMember); };
      auto pDc =
          f.pManager->GetDC(iMember, producer, false, OrbDataMode::Live, true, true, bAutoCommit);
      std::shared_ptr<ViewModel> pVm = iMember == 0   ? pDc->Root<MapRoot>()->Item(0)
                                       : iMember == 1 ? pDc->Root<ArrayRoot>()->Item(0)
                                                      : pDc->Root<ViewModel>();
      pVm->NumberSlot()->set_Value(7);
      pDc->Commit();
      EXPECT_EQ(store.At(0).number, 7);
      EXPECT_EQ(store.writesOutsideExclusiveLock, 0);
      EXPECT_EQ(store.exclusiveLocks, 0);
      EXPECT_EQ(store.updates.size(), 1u);
    }
  }
}

TEST(DataContextTest, AutoCommitWritesEachChangeAndPublishesIt) {
  ContextFixture f;
  auto pDc = f.Context(false, OrbDataMode::Live, true);
  auto pVm = ContextFixture::First(pDc);
  pVm->NumberSlot()->set_Value(11);
  pVm->TextSlot()->set_Value(u"x");
  EXPECT_EQ(f.store.At(0).number, 11);
  const std::span<const uint32_t> first(f.store.order.data(), 1);
  EXPECT_EQ(f.store.updates,
            (std::vector<std::u16string>{OrbNameElements(u"Mvvm write Things.Number (0)", first),
                                         OrbNameElements(u"Mvvm write Things.Text (1)", first)}));
  EXPECT_FALSE(pDc->HasPendingChanges());
}

TEST(DataContextTest, CommitWritesThePendingValuesWithOneUpdateIdAndRollbackTakesThemBack) {
  ContextFixture f;
  auto pDc = f.Context(false, OrbDataMode::Live, false);
  std::vector<uint64_t> committed;
  pDc->Committed().Add([&](uint64_t id) { committed.push_back(id); });
  auto pRoot = pDc->Root<MapRoot>();
  pRoot->Item(0)->NumberSlot()->set_Value(11);
  pRoot->Item(1)->NumberSlot()->set_Value(22);
  pRoot->Item(1)->NumberSlot()->set_Value(23);
  EXPECT_TRUE(pDc->HasPendingChanges());
  EXPECT_EQ(f.store.At(0).number, 1);  // not yet written
  pDc->Refresh();                      // a reload leaves pending values alone
  EXPECT_EQ(pRoot->Item(1)->NumberSlot()->Value(), 23);

  const uint64_t uiId = pDc->Commit();
  EXPECT_EQ(f.store.At(0).number, 11);
  EXPECT_EQ(f.store.At(1).number, 23);
  EXPECT_EQ(f.store.updates, (std::vector<std::u16string>{
                                 OrbNameElements(u"Mvvm commit Things: 2 values", f.store.order)}));
  EXPECT_EQ(committed, (std::vector<uint64_t>{uiId}));
  EXPECT_FALSE(pDc->HasPendingChanges());
  EXPECT_EQ(pDc->Commit(), 0u);

  // A rollback takes a pending value back with its events and publishes nothing.
  Values2 values;
  pRoot->Item(0)->NumberSlot()->PropertyChanged().Add(
      [&](int32_t o, int32_t n) { values.emplace_back(o, n); });
  pRoot->Item(0)->NumberSlot()->set_Value(12);
  pDc->Rollback();
  EXPECT_EQ(pRoot->Item(0)->NumberSlot()->Value(), 11);
  EXPECT_EQ(values, (Values2{{11, 12}, {12, 11}}));
  EXPECT_FALSE(pDc->HasPendingChanges());
  EXPECT_EQ(f.store.updates.size(), 1u);
}

TEST(DataContextTest, ReadOnlyRefusesWritesAndKeepsTheValue) {
  for (const bool bReadOnlyFile : {false, true}) {
    ContextFixture f;
    f.pFile->m_bReadOnlyMaps = bReadOnlyFile;
    auto pDc = f.Context(false, bReadOnlyFile ? OrbDataMode::Live : OrbDataMode::ReadOnly, true);
    EXPECT_EQ(pDc->DataMode(), OrbDataMode::ReadOnly);
    auto pVm = ContextFixture::First(pDc);
    EXPECT_THROW(pVm->NumberSlot()->set_Value(11), OrbKernelException);
    EXPECT_EQ(pVm->NumberSlot()->Value(), 1);
    EXPECT_EQ(f.store.At(0).number, 1);
  }
}

// Shared contexts: one per member (named by root index), whatever else is
// asked; one manager per key. (Finding a manager by its key is
// FileWrapperTest's, through the wrappers' TheDataContextManager.)
TEST(DataContextTest, SharedGivesOneContextPerMemberAndUnknownKeysGiveNull) {
  ContextFixture f;
  auto pA = f.Context(true, OrbDataMode::Live, true);
  EXPECT_EQ(f.Context(true, OrbDataMode::ReadOnly, false), pA);
  EXPECT_NE(f.Context(false, OrbDataMode::Live, true), pA);
  GetMvvmObjForDC<MapRoot> producer = [&] { return f.pFile->MapRootOf(); };
  auto ask = [&](int32_t iMember, bool bShared) {
    return f.pManager->GetDC(iMember, producer, bShared, OrbDataMode::Live, true, true, true);
  };
  const auto pMember3 = ask(3, true);
  EXPECT_EQ(ask(3, true), pMember3);
  EXPECT_NE(pMember3, ask(0, true));
  EXPECT_NE(ask(3, false), pMember3);
  EXPECT_THROW(Manager::Create(ContextFixture::kKey, f.pFile), OrbKernelException);
  EXPECT_THROW(
      f.pManager->GetDC(GetMvvmObjForDC<ArrayRoot>(), false, OrbDataMode::Live, true, true, true),
      OrbKernelException);
}

// ---------------------------------------------------------------------------
// The file: routing kernel updates, unloading.

// (That only the roots following the kernel refresh is FileWrapperTest's.)
TEST(FileRoutingTest, AnUpdateReachesItsMembersContainer) {
  ContextFixture f;
  f.pFile->MapRootOf();  // registers the map's container with member 0
  auto pArrayRoot = f.pFile->Root(1);
  std::vector<OrbObjectChangedEventArgs> changed;
  f.pFile->m_pMap->ObjectChanged().Add(
      [&](IOrbUpdatableObject* pSender, const OrbObjectChangedEventArgs& args) {
        EXPECT_EQ(pSender, f.pFile->m_pMap.get());
        changed.push_back(args);
      });

  f.pFile->OnObjectUpdateEx(0, u"added", 7, 42);
  f.pFile->OnObjectUpdateEx(5, u"", 0, 0);  // no such member: ignored
  ASSERT_EQ(changed.size(), 1u);
  EXPECT_EQ(std::tuple(changed[0].Text(), changed[0].Word(), changed[0].UpdateId()),
            std::tuple(std::u16string(u"added"), 7u, uint64_t{42}));
  EXPECT_THROW(f.pFile->AddMvvmRoot(3, pArrayRoot, nullptr, OrbMemberInfo(u"x", 1, 1, false)),
               OrbKernelException);
}

TEST(FileRoutingTest, AThrowingHandlerReachesTheNotifierAfterEveryRootRefreshed) {
  ContextFixture f;
  auto pFirst = f.Context(false, OrbDataMode::Live, true)->Root<MapRoot>();
  auto pSecond = f.Context(false, OrbDataMode::Live, true)->Root<MapRoot>();
  pFirst->CollectionChanged().Add([](const Change&) { throw std::runtime_error("ui"); });
  pFirst->Count();
  pSecond->Count();
  f.store.Insert(0, 0);
  EXPECT_THROW(f.pFile->OnObjectUpdateEx(0, u"", 0, 1), std::runtime_error);
  EXPECT_EQ(pSecond->Count(), 3);
}

// (Without a dispatcher an update refreshes on its thread: FileWrapperTest.)
TEST(FileRoutingTest, UpdatesFromANotificationThreadRefreshThroughTheDispatcher) {
  ContextFixture f;
  auto pDc = f.Context(false, OrbDataMode::Live, true);
  auto pRoot = pDc->Root<MapRoot>();
  pRoot->Count();
  std::thread::id raisedOn;
  pRoot->CollectionChanged().Add([&](const Change&) { raisedOn = std::this_thread::get_id(); });
  std::vector<std::function<void()>> posted;
  pDc->SetDispatcher([&](std::function<void()> refresh) { posted.push_back(std::move(refresh)); });
  f.store.Insert(0, 0);
  std::thread([&] { f.pFile->OnObjectUpdateEx(0, u"", 0, 1); }).join();
  EXPECT_EQ(pRoot->Count(), 2);
  ASSERT_EQ(posted.size(), 1u);
  posted[0]();
  EXPECT_EQ(raisedOn, std::this_thread::get_id());
  EXPECT_EQ(pRoot->Count(), 3);
}

TEST(FileRoutingTest, WritesMeetingUpdatesOnAnotherThreadRaiseOncePerWrite) {
  ContextFixture f;
  auto pDc = f.Context(false, OrbDataMode::Live, true);
  auto pVm = ContextFixture::First(pDc);
  int iEvents = 0;
  pVm->NumberSlot()->PropertyChanged().Add([&](int32_t, int32_t) { ++iEvents; });
  pVm->NumberSlot()->Value();
  constexpr int kWrites = 300;
  std::thread notifier([&] {
    for (int i = 0; i < kWrites; ++i)
      f.pFile->OnObjectUpdateEx(0, u"", 0, static_cast<uint64_t>(i));
  });
  for (int i = 1; i <= kWrites; ++i) pVm->NumberSlot()->set_Value(1 + i);
  notifier.join();
  auto lock = pDc->Lock();
  EXPECT_EQ(iEvents, kWrites);  // the reloads brought back what was written: no event
  EXPECT_EQ(pVm->NumberSlot()->Value(), 1 + kWrites);
  EXPECT_EQ(f.store.At(0).number, 1 + kWrites);
}

TEST(FileRoutingTest, UnloadDetachesRootsOnceAndRefusesLaterWrites) {
  ContextFixture f;
  auto pDc = f.Context(false, OrbDataMode::Live, false);
  auto pRoot = pDc->Root<MapRoot>();
  auto pVm = pRoot->Item(0);
  pVm->NumberSlot()->set_Value(5);
  Changes changes;
  pRoot->CollectionChanged().Add([&](const Change& c) { changes.push_back(c); });
  f.pFile->OrbFileUnloaded();
  f.pFile->OrbFileUnloaded();
  EXPECT_EQ(changes, (Changes{{Kind::Reset, 0, 0}}));
  EXPECT_EQ(pRoot->Count(), 0);
  EXPECT_FALSE(pDc->HasPendingChanges());
  EXPECT_THROW(pVm->NumberSlot()->set_Value(6), OrbKernelException);
  EXPECT_THROW(pDc->Commit(), OrbKernelException);
  f.pFile->OnObjectUpdateEx(0, u"", 0, 1);  // nothing registered any more
  EXPECT_EQ(pRoot->m_OrbCollection, nullptr);
}

TEST(FileRoutingTest, FileWideLocksAreReleasedAtTheEndOfTheirScope) {
  File file;
  try {
    OrbFileWideLock nge(file, OrbFileWideLock::Kind::NGE);
    OrbFileWideLock ngm(file, OrbFileWideLock::Kind::NGM);
    throw std::runtime_error("leaves the scope");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(file.m_FileLocks, (std::vector<std::string>{"NGE+", "NGM+", "NGM-", "NGE-"}));
}

}  // namespace
