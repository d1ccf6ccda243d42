// The framework's view models, collections, file routing and data contexts,
// on the fake containers of FakeContainers.h.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/framework/FakeContainers.h"

namespace {

using namespace fake;
using Change = OrbCollectionChangedEventArgs;
using Kind = OrbCollectionChange;

// Applies `changes` to `list` as a user interface would (positions count in
// the list as the earlier changes left it), taking new elements from `after`.
std::vector<uint32_t> Applied(std::vector<uint32_t> list, const std::vector<Change>& changes,
                              const std::vector<uint32_t>& after) {
  for (const Change& c : changes) {
    const auto at = static_cast<ptrdiff_t>(c.Index());
    const auto n = static_cast<ptrdiff_t>(c.Count());
    EXPECT_GE(at, 0);
    EXPECT_GT(n, 0);
    switch (c.Action()) {
      case Kind::Add:
        list.insert(list.begin() + at, after.begin() + at, after.begin() + at + n);
        break;
      case Kind::Remove:
        EXPECT_LE(at + n, static_cast<ptrdiff_t>(list.size()));
        list.erase(list.begin() + at, list.begin() + at + n);
        break;
      case Kind::Replace:
        std::copy_n(after.begin() + at, n, list.begin() + at);
        break;
      case Kind::Reset:
        list = after;
        break;
    }
  }
  return list;
}

// ---------------------------------------------------------------------------
// The handle diff: applying its changes gives the new list, with no more
// changes than the edit needs.

struct DiffCase {
  const char* name;
  std::vector<uint32_t> before;
  std::vector<uint32_t> after;
  std::vector<Change> expected;  // empty: only the result and the count are checked
  size_t maxChanges;
};

void PrintTo(const DiffCase& c, std::ostream* os) { *os << c.name; }

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

INSTANTIATE_TEST_SUITE_P(
    Lists, DiffTest,
    testing::Values(
        DiffCase{"Same", {1, 2, 3}, {1, 2, 3}, {}, 0}, DiffCase{"BothEmpty", {}, {}, {}, 0},
        DiffCase{"AddFront", {2, 3}, {9, 2, 3}, {{Kind::Add, 0, 1}}, 1},
        DiffCase{"AddMiddleTwo", {1, 2, 3}, {1, 8, 9, 2, 3}, {{Kind::Add, 1, 2}}, 1},
        DiffCase{"AddEnd", {1, 2}, {1, 2, 9}, {{Kind::Add, 2, 1}}, 1},
        DiffCase{"FromEmpty", {}, {4, 5}, {{Kind::Add, 0, 2}}, 1},
        DiffCase{"RemoveFront", {1, 2, 3}, {2, 3}, {{Kind::Remove, 0, 1}}, 1},
        DiffCase{"RemoveMiddle", {1, 2, 3, 4}, {1, 4}, {{Kind::Remove, 1, 2}}, 1},
        DiffCase{"RemoveEnd", {1, 2, 3}, {1, 2}, {{Kind::Remove, 2, 1}}, 1},
        DiffCase{"ToEmpty", {1, 2}, {}, {{Kind::Remove, 0, 2}}, 1},
        DiffCase{"RemoveTwoRuns",
                 {1, 2, 3, 4, 5, 6},
                 {1, 3, 6},
                 {{Kind::Remove, 3, 2}, {Kind::Remove, 1, 1}},
                 2},
        DiffCase{"ReplaceOne", {1, 2, 3}, {1, 7, 3}, {{Kind::Replace, 1, 1}}, 1},
        DiffCase{"AddAndRemove", {1, 2, 3, 4}, {0, 1, 3, 4, 5}, {}, 3},
        DiffCase{"SwapTwo", {1, 2, 3, 4}, {1, 3, 2, 4}, {}, 2},
        DiffCase{"MoveLastToFront", {1, 2, 3, 4, 5}, {5, 1, 2, 3, 4}, {}, 2},
        DiffCase{"Reverse", {1, 2, 3, 4}, {4, 3, 2, 1}, {}, 6},
        DiffCase{"AllNewOtherLength", {1, 2}, {7, 8, 9}, {}, 2},
        DiffCase{"ReorderWithAddsAndRemoves", {1, 2, 3, 4, 5, 6}, {6, 2, 9, 4, 1, 8}, {}, 8}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// ---------------------------------------------------------------------------
// Simple values: one event per real change, none for a same-value reload.

struct Events {
  std::vector<std::pair<int32_t, int32_t>> values;  // (old, new) of Number
  std::vector<int32_t> properties;                  // indexes of the view model's event
};

// A view model connected to one record of `store`, with its events recorded.
struct Bound {
  std::shared_ptr<Store> pStore = std::make_shared<Store>();
  uint32_t h = pStore->Insert(0, 5, u"five");
  std::shared_ptr<ViewModel> pVm =
      std::make_shared<ViewModel>(std::make_shared<Proxy>(pStore, h), nullptr, -1, pStore.get());
  Events events;
  Bound() {
    pVm->NumberSlot()->PropertyChanged().Add(
        [this](int32_t o, int32_t n) { events.values.emplace_back(o, n); });
    pVm->PropertyChanged().Add([this](int32_t i) { events.properties.push_back(i); });
  }
  int32_t& Stored() { return pStore->records[h].number; }
};

struct ValueCase {
  const char* name;
  void (*act)(Bound&);
  std::vector<std::pair<int32_t, int32_t>> values;
  int32_t shown;
};

void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.name; }

class SimpleValueTest : public testing::TestWithParam<ValueCase> {};

TEST_P(SimpleValueTest, RaisesOncePerRealChange) {
  Bound b;
  EXPECT_EQ(b.pVm->NumberSlot()->Value(), 5);  // the first read loads, raising nothing
  GetParam().act(b);
  EXPECT_EQ(b.events.values, GetParam().values);
  EXPECT_EQ(b.events.properties,
            std::vector<int32_t>(GetParam().values.size(), ViewModel::kNumber));
  EXPECT_EQ(b.pVm->NumberSlot()->Value(), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Values, SimpleValueTest,
    testing::Values(
        ValueCase{"ReloadSameValue", [](Bound& b) { b.pVm->Refresh(); }, {}, 5},
        ValueCase{"ReloadChangedValue",
                  [](Bound& b) {
                    b.Stored() = 8;
                    b.pVm->Refresh();
                    b.pVm->Refresh();
                  },
                  {{5, 8}},
                  8},
        ValueCase{"ChangedAndBackBeforeReload",
                  [](Bound& b) {
                    b.Stored() = 8;
                    b.Stored() = 5;
                    b.pVm->Refresh();
                  },
                  {},
                  5},
        ValueCase{
            "UserSetsNewValue", [](Bound& b) { b.pVm->NumberSlot()->set_Value(9); }, {{5, 9}}, 9},
        ValueCase{"UserSetsSameValue", [](Bound& b) { b.pVm->NumberSlot()->set_Value(5); }, {}, 5},
        ValueCase{"UserSetThenReload",
                  [](Bound& b) {
                    b.pVm->NumberSlot()->set_Value(9);
                    b.pVm->Refresh();
                  },
                  {{5, 9}},
                  9},
        ValueCase{"EventsOff",
                  [](Bound& b) {
                    b.pVm->Tree().set_Notifying(false);
                    b.Stored() = 8;
                    b.pVm->Refresh();
                  },
                  {},
                  8}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(SimpleValueTest, WithoutContextAWriteReachesTheRecordAtOnce) {
  Bound b;
  b.pVm->TextSlot()->set_Value(u"six");
  EXPECT_EQ(b.pStore->records[b.h].text, u"six");
  EXPECT_EQ(b.events.properties, (std::vector<int32_t>{ViewModel::kText}));
}

TEST(SimpleValueTest, AThrowingHandlerReachesTheWriterAfterTheValueIsStored) {
  Bound b;
  b.pVm->NumberSlot()->PropertyChanged().Add(
      [](int32_t, int32_t) { throw std::runtime_error("h"); });
  EXPECT_THROW(b.pVm->NumberSlot()->set_Value(7), std::runtime_error);
  EXPECT_EQ(b.Stored(), 7);
  EXPECT_EQ(b.pVm->NumberSlot()->Value(), 7);
}

// ---------------------------------------------------------------------------
// Collections over the fake map.

struct MapFixture {
  std::shared_ptr<File> pFile = std::make_shared<File>();
  Store& store = *pFile->m_pMapStore;
  std::shared_ptr<MapRoot> pRoot;
  std::vector<Change> changes;
  MapFixture() {
    for (int32_t i = 0; i < 4; ++i) store.Insert(store.order.size(), i * 10);
    pRoot = pFile->GetMapRoot();
    pRoot->CollectionChanged().Add([this](const Change& c) { changes.push_back(c); });
  }
  std::vector<uint32_t> Shown() {
    std::vector<uint32_t> shown;
    for (int32_t i = 0; i < pRoot->Count(); ++i) shown.push_back(pRoot->HandleAt(i));
    return shown;
  }
};

TEST(ObsMapTest, ElementsAreMadeOnDemandAndKeptPerHandle) {
  MapFixture f;
  EXPECT_EQ(f.pRoot->Count(), 4);
  EXPECT_EQ(f.pFile->m_pMap->made, 0);
  const auto pSecond = f.pRoot->Item(1);
  EXPECT_EQ(pSecond->NumberSlot()->Value(), 10);
  EXPECT_EQ(f.pRoot->Item(1), pSecond);
  EXPECT_EQ(f.pFile->m_pMap->made, 1);

  f.store.Erase(f.store.order[0]);
  f.pRoot->Refresh();
  EXPECT_EQ(f.pRoot->Item(0), pSecond);  // moved up, still the same view model
  EXPECT_EQ(f.changes, (std::vector<Change>{{Kind::Remove, 0, 1}}));
  EXPECT_EQ(f.store.sharedLocks, 0);

  int32_t iSeen = 0;
  for (const auto& pVm : *f.pRoot) iSeen += pVm != nullptr;
  EXPECT_EQ(iSeen, 3);
  EXPECT_THROW(f.pRoot->Item(3), OrbKernelException);
  EXPECT_THROW(f.pRoot->Item(-1), OrbKernelException);
}

TEST(ObsMapTest, RefreshReportsAddsRemovesAndAReorderingByPosition) {
  MapFixture f;
  f.pRoot->Count();
  const uint32_t hAdded = f.store.Insert(2, 99);
  f.store.Erase(f.store.order[0]);
  std::swap(f.store.order[1], f.store.order[3]);
  f.pRoot->Refresh();
  EXPECT_EQ(f.Shown(), f.store.order);
  EXPECT_FALSE(f.changes.empty());
  EXPECT_NE(std::find(f.Shown().begin(), f.Shown().end(), hAdded), f.Shown().end());
  f.changes.clear();
  f.pRoot->Refresh();
  EXPECT_TRUE(f.changes.empty());
}

TEST(ObsMapTest, ANestedCollectionRebindsToEachNewWrapperAndReportsOnlyTheDifference) {
  Bound b;
  Store& kids = std::static_pointer_cast<Proxy>(b.pVm->m_OrbData)->ChildStore();
  kids.Insert(0, 1);
  kids.Insert(1, 2);
  const auto pKids = b.pVm->PropertyAs<ChildMap>(ViewModel::kChildren);
  std::vector<Change> changes;
  pKids->CollectionChanged().Add([&](const Change& c) { changes.push_back(c); });
  const auto pFirstKid = pKids->Item(0);
  EXPECT_EQ(pFirstKid->NumberSlot()->Value(), 1);
  const auto pBoundBefore = pKids->m_OrbCollection;

  b.pVm->Refresh();
  EXPECT_NE(pKids->m_OrbCollection, pBoundBefore);
  EXPECT_TRUE(changes.empty());
  kids.Insert(2, 3);
  kids.records[kids.order[0]].number = 10;
  b.pVm->Refresh();
  EXPECT_EQ(changes, (std::vector<Change>{{Kind::Add, 2, 1}}));
  EXPECT_EQ(pKids->Item(0), pFirstKid);
  EXPECT_EQ(pFirstKid->NumberSlot()->Value(), 10);

  auto pLoose = std::make_shared<ViewModel>(nullptr, nullptr);
  EXPECT_EQ(pLoose->PropertyAs<ChildMap>(ViewModel::kChildren)->Count(), 0);
  EXPECT_EQ(pLoose->NumberSlot()->Value(), -1);
  pLoose->Refresh();  // not connected: the collection is not rebound, nothing throws
  EXPECT_THROW(pLoose->NumberSlot()->set_Value(3), OrbKernelException);
  EXPECT_EQ(pLoose->NumberSlot()->Value(), -1);
}

// The tag that names the changed elements at the end of an update text:
// read back as written, anything else names nothing.
struct TagCase {
  const char* name;
  std::u16string csText;
  std::optional<std::vector<uint32_t>> named;
};

void PrintTo(const TagCase& c, std::ostream* os) { *os << c.name; }

class ElementTagTest : public testing::TestWithParam<TagCase> {};

TEST_P(ElementTagTest, ReadsWhatWasWrittenAndNothingElse) {
  const TagCase& c = GetParam();
  EXPECT_EQ(OrbNamedElements(c.csText), c.named);
  if (c.named) {
    EXPECT_EQ(OrbNameElements(u"x", *c.named), c.csText);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ElementTagTest,
    testing::Values(TagCase{"Two", u"x [elements 3,17]", std::vector<uint32_t>{3, 17}},
                    TagCase{"Largest", u"x [elements 4294967295]", std::vector<uint32_t>{~0u}},
                    TagCase{"NoTag", u"x", std::nullopt},
                    TagCase{"Empty", u"x [elements ]", std::nullopt},
                    TagCase{"NotANumber", u"x [elements 3,a]", std::nullopt},
                    TagCase{"TooLarge", u"x [elements 4294967296]", std::nullopt},
                    TagCase{"CutOff", u"x [elements 3,1", std::nullopt},
                    TagCase{"TrailingComma", u"x [elements 3,]", std::nullopt}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// A kernel update reloads only the element view models that may have
// changed: those its text names, or without names those whose record stamp
// moved since the last refresh. Updates lost before delivery name nothing.
struct ReloadCase {
  const char* name;
  std::vector<size_t> changed;   // positions whose Number changes before the update
  std::vector<size_t> named;     // positions the update's tag names
  std::u16string csSuffix;       // the end of the text when no position is named
  std::vector<size_t> reloaded;  // positions whose record is read again
  bool bLost = false;            // the update is lost: only its loss is reported
};

void PrintTo(const ReloadCase& c, std::ostream* os) { *os << c.name; }

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
  f.store.getValReads = 0;
  for (const size_t i : c.changed) ++f.store.records[f.store.order[i]].number;
  std::vector<uint32_t> named;
  for (const size_t i : c.named) named.push_back(f.store.order[i]);
  const std::u16string csText =
      named.empty() ? u"changed" + c.csSuffix : OrbNameElements(u"changed", named);
  if (c.bLost) {
    f.pFile->OnUpdatesLost(0);
  } else {
    f.pFile->OnObjectUpdateEx(0, csText, 0, 1);
  }
  EXPECT_EQ(f.store.getValReads, static_cast<int>(c.reloaded.size()));
  std::vector<size_t> expected;
  for (const size_t i : c.changed) {
    if (std::find(c.reloaded.begin(), c.reloaded.end(), i) != c.reloaded.end()) {
      expected.push_back(i);
    }
  }
  std::sort(raised.begin(), raised.end());
  EXPECT_EQ(raised, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Updates, ReloadTest,
    testing::Values(ReloadCase{"NamedAndChanged", {1}, {1}, u"", {1}},
                    ReloadCase{"OnlyTheNamedOne", {1, 2}, {2}, u"", {2}},
                    ReloadCase{"UnnamedFindsTheChanged", {1, 3}, {}, u"", {1, 3}},
                    ReloadCase{"UnnamedNothingChanged", {}, {}, u"", {}},
                    ReloadCase{"CutTagNamesNothing", {2}, {}, u" [elements 1", {2}},
                    ReloadCase{"BadTagNamesNothing", {0}, {}, u" [elements 1,x]", {0}},
                    ReloadCase{"LostUpdateChecksEveryElement", {0, 3}, {3}, u"", {0, 3}, true}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(ReloadTest, AValueLoadedSinceTheLastRefreshReloadsEvenWhenTheRecordCameBack) {
  MapFixture f;
  const auto pVm = f.pRoot->Item(0);
  pVm->NumberSlot()->Value();
  f.pRoot->Refresh();
  std::u16string& csStored = f.store.records[f.store.order[0]].text;
  csStored = u"b";
  EXPECT_EQ(pVm->TextSlot()->Value(), u"b");
  csStored = u"";
  f.pRoot->Refresh();
  EXPECT_EQ(pVm->TextSlot()->Value(), u"");
}

TEST(ObsArrayTest, LengthChangesAreAddsAndRemovesAtTheEnd) {
  auto pFile = std::make_shared<File>();
  Store& store = *pFile->m_pArrayStore;
  store.Insert(0, 1);
  store.Insert(1, 2);
  auto pRoot = pFile->GetArrayRoot();
  std::vector<Change> changes;
  pRoot->CollectionChanged().Add([&](const Change& c) { changes.push_back(c); });
  EXPECT_EQ(pRoot->Count(), 2);
  EXPECT_EQ(pRoot->Item(1)->NumberSlot()->Value(), 2);
  store.Insert(0, 0);
  pRoot->Refresh();
  store.Erase(store.order[0]);
  store.Erase(store.order[0]);
  pRoot->Refresh();
  EXPECT_EQ(changes, (std::vector<Change>{{Kind::Add, 2, 1}, {Kind::Remove, 1, 2}}));
  EXPECT_EQ(pRoot->Count(), 1);
}

TEST(ObsArray1DTest, ChangedValuesAreReplacedRunsAndWritesGoThroughThePolicy) {
  auto pValues = std::make_shared<Values>(std::vector<int32_t>{1, 2, 3, 4, 5});
  using Fixed = OrbMvvmObsArray1D<int32_t, MvvmSimpleObsItem<int32_t>>;
  auto pFixed = std::make_shared<Fixed>(pValues, nullptr, -1, 0, 5);
  std::vector<Change> changes;
  pFixed->CollectionChanged().Add([&](const Change& c) { changes.push_back(c); });
  const auto pItem = pFixed->Item(2);
  EXPECT_EQ(pItem->Value(), 3);
  pValues->m_Values = {1, 9, 9, 4, 8};
  pFixed->Refresh();
  EXPECT_EQ(changes, (std::vector<Change>{{Kind::Replace, 1, 2}, {Kind::Replace, 4, 1}}));
  EXPECT_EQ(pItem->Value(), 9);
  pFixed->set_Value(0, 6);
  EXPECT_EQ(pValues->m_Values[0], 6);
  EXPECT_THROW(pFixed->Value(5), OrbKernelException);

  auto pDefaults = std::make_shared<Fixed>(nullptr, nullptr, -1, 7, 3);
  EXPECT_EQ(pDefaults->Value(2), 7);
}

// ---------------------------------------------------------------------------
// Data contexts.

using Manager = OrbGenericContextManager<File>;

struct ContextFixture {
  std::shared_ptr<File> pFile = std::make_shared<File>();
  Store& store = *pFile->m_pMapStore;
  std::shared_ptr<Manager> pManager;
  ContextFixture() {
    store.Insert(0, 1);
    store.Insert(1, 2);
    pManager = Manager::Create(Key(), pFile);
  }
  ~ContextFixture() { Manager::Remove(Key()); }
  static std::u16string Key() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string(info->test_suite_name()) + "." + info->name();
    return std::u16string(name.begin(), name.end());
  }
  std::shared_ptr<OrbGenericDataContext> Context(bool bShared, OrbDataMode mode, bool bAuto,
                                                 bool bOrb = true) {
    GetMvvmObjForDC<MapRoot> producer = [this] { return pFile->GetMapRoot(); };
    return pManager->GetDC(producer, bShared, mode, true, bOrb, bAuto);
  }
  static std::shared_ptr<ViewModel> First(const std::shared_ptr<OrbGenericDataContext>& pDc) {
    return pDc->Root<MapRoot>()->Item(0);
  }
};

// Every root's writes, at once or at Commit, hold the exclusive lock of what
// it shows: its container's, or the file's for a single record.
struct LockCase {
  const char* name;
  int32_t iMember;  // of fake::File
  bool bAutoCommit;
};

void PrintTo(const LockCase& c, std::ostream* os) { *os << c.name; }

class ExclusiveLockTest : public testing::TestWithParam<LockCase> {};

TEST_P(ExclusiveLockTest, WritesHoldTheLockOfWhatTheRootShows) {
  ContextFixture f;
  const LockCase& c = GetParam();
  File& file = *f.pFile;
  file.m_pArrayStore->Insert(0, 1);
  Store* stores[] = {file.m_pMapStore.get(), file.m_pArrayStore.get(), file.m_pRecordStore.get()};
  Store& store = *stores[c.iMember];
  GetMvvmObjForDC<OrbBaseDataWrapper> producer = [&]() -> std::shared_ptr<OrbBaseDataWrapper> {
    if (c.iMember == 0) return file.GetMapRoot();
    if (c.iMember == 1) return file.GetArrayRoot();
    return file.GetRecordRoot();
  };
  auto pDc =
      f.pManager->GetDC(c.iMember, producer, false, OrbDataMode::Live, true, true, c.bAutoCommit);
  std::shared_ptr<ViewModel> pVm = pDc->Root<ViewModel>();
  if (c.iMember == 0) pVm = pDc->Root<MapRoot>()->Item(0);
  if (c.iMember == 1) pVm = pDc->Root<ArrayRoot>()->Item(0);
  pVm->NumberSlot()->set_Value(7);
  pDc->Commit();
  EXPECT_EQ(store.records[store.order[0]].number, 7);
  EXPECT_EQ(store.writesOutsideExclusiveLock, 0);
  EXPECT_EQ(store.exclusiveLocks, 0);
  EXPECT_EQ(store.updates.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Roots, ExclusiveLockTest,
    testing::Values(LockCase{"MapAtOnce", 0, true}, LockCase{"MapAtCommit", 0, false},
                    LockCase{"ArrayAtOnce", 1, true}, LockCase{"ArrayAtCommit", 1, false},
                    LockCase{"RecordAtOnce", 2, true}, LockCase{"RecordAtCommit", 2, false}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(DataContextTest, AutoCommitWritesEachChangeAndPublishesIt) {
  ContextFixture f;
  auto pDc = f.Context(false, OrbDataMode::Live, true);
  auto pVm = ContextFixture::First(pDc);
  pVm->NumberSlot()->set_Value(11);
  pVm->TextSlot()->set_Value(u"x");
  EXPECT_EQ(f.store.records[f.store.order[0]].number, 11);
  const std::span<const uint32_t> first(f.store.order.data(), 1);
  EXPECT_EQ(f.store.updates,
            (std::vector<std::u16string>{OrbNameElements(u"Mvvm write Things.Number (0)", first),
                                         OrbNameElements(u"Mvvm write Things.Text (1)", first)}));
  EXPECT_FALSE(pDc->HasPendingChanges());
}

TEST(DataContextTest, CommitWritesThePendingValuesUnderTheLockWithOneUpdateId) {
  ContextFixture f;
  auto pDc = f.Context(false, OrbDataMode::Live, false);
  std::vector<uint64_t> committed;
  pDc->Committed().Add([&](uint64_t id) { committed.push_back(id); });
  auto pRoot = pDc->Root<MapRoot>();
  pRoot->Item(0)->NumberSlot()->set_Value(11);
  pRoot->Item(1)->NumberSlot()->set_Value(22);
  pRoot->Item(1)->NumberSlot()->set_Value(23);
  EXPECT_TRUE(pDc->HasPendingChanges());
  EXPECT_EQ(f.store.records[f.store.order[0]].number, 1);  // not yet written

  pDc->Refresh();  // a reload leaves pending values alone
  EXPECT_EQ(pRoot->Item(1)->NumberSlot()->Value(), 23);

  const uint64_t uiId = pDc->Commit();
  EXPECT_EQ(f.store.records[f.store.order[0]].number, 11);
  EXPECT_EQ(f.store.records[f.store.order[1]].number, 23);
  EXPECT_EQ(f.store.updates, (std::vector<std::u16string>{
                                 OrbNameElements(u"Mvvm commit Things: 2 values", f.store.order)}));
  EXPECT_EQ(committed, (std::vector<uint64_t>{uiId}));
  EXPECT_FALSE(pDc->HasPendingChanges());
  EXPECT_EQ(pDc->Commit(), 0u);
}

TEST(DataContextTest, RollbackTakesThePendingValuesBackWithTheirEvents) {
  ContextFixture f;
  auto pDc = f.Context(false, OrbDataMode::Live, false);
  auto pVm = ContextFixture::First(pDc);
  std::vector<std::pair<int32_t, int32_t>> values;
  pVm->NumberSlot()->PropertyChanged().Add(
      [&](int32_t o, int32_t n) { values.emplace_back(o, n); });
  pVm->NumberSlot()->set_Value(11);
  pDc->Rollback();
  EXPECT_EQ(pVm->NumberSlot()->Value(), 1);
  EXPECT_EQ(values, (std::vector<std::pair<int32_t, int32_t>>{{1, 11}, {11, 1}}));
  EXPECT_FALSE(pDc->HasPendingChanges());
  EXPECT_TRUE(f.store.updates.empty());
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
    EXPECT_EQ(f.store.records[f.store.order[0]].number, 1);
  }
}

TEST(DataContextTest, SharedGivesOneContextPerMemberAndUnknownKeysGiveNull) {
  ContextFixture f;
  auto pA = f.Context(true, OrbDataMode::Live, true);
  EXPECT_EQ(f.Context(true, OrbDataMode::ReadOnly, false), pA);
  EXPECT_NE(f.Context(false, OrbDataMode::Live, true), pA);
  // Members named by root index: two of one root type get a context each.
  GetMvvmObjForDC<MapRoot> producer = [&] { return f.pFile->GetMapRoot(); };
  struct Ask {
    int32_t iMember;
    bool bShared;
  };
  std::vector<std::shared_ptr<OrbGenericDataContext>> given;
  for (const Ask ask : {Ask{0, true}, Ask{0, true}, Ask{3, true}, Ask{3, true}, Ask{0, false}}) {
    given.push_back(
        f.pManager->GetDC(ask.iMember, producer, ask.bShared, OrbDataMode::Live, true, true, true));
  }
  EXPECT_EQ(given[1], given[0]);
  EXPECT_EQ(given[3], given[2]);
  EXPECT_NE(given[2], given[0]);
  EXPECT_NE(given[4], given[0]);
  EXPECT_EQ(Manager::Instance(ContextFixture::Key()), f.pManager);
  EXPECT_EQ(Manager::Instance(u"no such key"), nullptr);
  EXPECT_EQ(f.pManager->TheFile(), f.pFile);
  EXPECT_THROW(Manager::Create(ContextFixture::Key(), f.pFile), OrbKernelException);
  EXPECT_THROW(
      f.pManager->GetDC(GetMvvmObjForDC<ArrayRoot>(), false, OrbDataMode::Live, true, true, true),
      OrbKernelException);
}

// ---------------------------------------------------------------------------
// The file: routing kernel updates, unloading.

TEST(FileRoutingTest, AnUpdateReachesItsMembersContainerAndFollowingRootsOnly) {
  ContextFixture f;
  auto pFollowing = f.Context(false, OrbDataMode::Live, true, true);
  auto pNotFollowing = f.Context(false, OrbDataMode::Live, true, false);
  auto pArrayRoot = f.pFile->GetArrayRoot();
  std::vector<int32_t> countsSeen;
  for (const auto& pDc : {pFollowing, pNotFollowing}) pDc->Root<MapRoot>()->Count();
  pArrayRoot->Count();
  std::vector<OrbObjectChangedEventArgs> changed;
  f.pFile->m_pMap->ObjectChanged().Add(
      [&](IOrbUpdatableObject* pSender, const OrbObjectChangedEventArgs& args) {
        EXPECT_EQ(pSender, f.pFile->m_pMap.get());
        changed.push_back(args);
      });
  int iArrayChanges = 0;
  pArrayRoot->CollectionChanged().Add([&](const Change&) { ++iArrayChanges; });

  f.store.Insert(2, 3);
  f.pFile->OnObjectUpdateEx(0, u"added", 7, 42);
  EXPECT_EQ(pFollowing->Root<MapRoot>()->Count(), 3);
  EXPECT_EQ(pNotFollowing->Root<MapRoot>()->Count(), 2);
  ASSERT_EQ(changed.size(), 1u);
  EXPECT_EQ(changed[0].Text(), u"added");
  EXPECT_EQ(changed[0].Word(), 7u);
  EXPECT_EQ(changed[0].UpdateId(), 42u);
  EXPECT_EQ(iArrayChanges, 0);

  f.pFile->OnObjectUpdateEx(5, u"", 0, 0);  // no such member: ignored
  EXPECT_NE(f.pFile->LocalFileId(), std::make_shared<File>()->LocalFileId());
  EXPECT_THROW(f.pFile->AddMvvmRoot(3, pArrayRoot, nullptr, OrbMemberInfo(u"x", 1, 1, false)),
               OrbKernelException);
}

TEST(FileRoutingTest, AThrowingHandlerReachesTheNotifierAfterEveryRootRefreshed) {
  ContextFixture f;
  auto pFirst = f.Context(false, OrbDataMode::Live, true);
  auto pSecond = f.Context(false, OrbDataMode::Live, true);
  pFirst->Root<MapRoot>()->CollectionChanged().Add(
      [](const Change&) { throw std::runtime_error("ui"); });
  pFirst->Root<MapRoot>()->Count();
  pSecond->Root<MapRoot>()->Count();
  f.store.Insert(0, 0);
  EXPECT_THROW(f.pFile->OnObjectUpdateEx(0, u"", 0, 1), std::runtime_error);
  EXPECT_EQ(pSecond->Root<MapRoot>()->Count(), 3);
}

TEST(FileRoutingTest, UpdatesFromANotificationThreadRefreshThereOrThroughTheDispatcher) {
  ContextFixture f;
  auto pDc = f.Context(false, OrbDataMode::Live, true);
  auto pRoot = pDc->Root<MapRoot>();
  pRoot->Count();
  std::thread::id raisedOn;
  pRoot->CollectionChanged().Add([&](const Change&) { raisedOn = std::this_thread::get_id(); });
  f.store.Insert(0, 0);
  std::thread([&] { f.pFile->OnObjectUpdateEx(0, u"", 0, 1); }).join();
  EXPECT_NE(raisedOn, std::this_thread::get_id());
  EXPECT_EQ(pRoot->Count(), 3);

  std::vector<std::function<void()>> posted;
  pDc->SetDispatcher([&](std::function<void()> refresh) { posted.push_back(std::move(refresh)); });
  f.store.Insert(0, 0);
  std::thread([&] { f.pFile->OnObjectUpdateEx(0, u"", 0, 2); }).join();
  EXPECT_EQ(pRoot->Count(), 3);
  ASSERT_EQ(posted.size(), 1u);
  posted[0]();
  EXPECT_EQ(raisedOn, std::this_thread::get_id());
  EXPECT_EQ(pRoot->Count(), 4);
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
  EXPECT_EQ(f.store.records[f.store.order[0]].number, 1 + kWrites);
}

TEST(FileRoutingTest, UnloadDetachesRootsOnceAndRefusesLaterWrites) {
  ContextFixture f;
  auto pDc = f.Context(false, OrbDataMode::Live, false);
  auto pRoot = pDc->Root<MapRoot>();
  auto pVm = pRoot->Item(0);
  pVm->NumberSlot()->set_Value(5);
  std::vector<Change> changes;
  pRoot->CollectionChanged().Add([&](const Change& c) { changes.push_back(c); });
  f.pFile->OrbFileUnloaded();
  f.pFile->OrbFileUnloaded();
  EXPECT_EQ(changes, (std::vector<Change>{{Kind::Reset, 0, 0}}));
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
