// The file wrappers on the reference kernel: registration, the not-open
// report, open and unload, the refusals of a dead wrapper and of what it
// handed out, and the reading of the kernel's update-information record.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "access/CkxOrbCategTools.h"
#include "contracts/framework/OrbApp.h"
#include "contracts/framework/OrbKernelException.h"
#include "contracts/kernel/KxRecords.h"
#include "files/VarnoxFiles.h"
#include "kernel/KxEvents.h"
#include "tests/access/AccessTestSupport.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

using namespace Tarvex::Orb;
using namespace Tarvex::Orb::Data::Varnox;
using namespace Tarvex::Orb::DataDirectAcces;
using access_test::OpenNewWrapper;
using access_test::ScratchPath;

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

// Collects what reaches OrbApp::DispError while it lives.
class ErrorCapture {
 public:
  ErrorCapture() {
    m_Previous = OrbApp::SetErrorHandler(
        [this](std::u16string_view csMessage) { m_Messages.emplace_back(csMessage); });
  }
  ~ErrorCapture() { OrbApp::SetErrorHandler(m_Previous); }
  std::vector<std::u16string> m_Messages;

 private:
  OrbErrorHandler m_Previous;
};

bool Registered(const OrbFileM& file) {
  const auto& table = *CkxOrbCategTools::m_OpenFiles;
  const auto it = table.find(static_cast<int32_t>(file.LocalFileId()));
  return it != table.end() && it->second.get() == &file;
}

// Reads something through a member's container: a map's count, an array's
// length, a single record's first property.
template <class C>
void Use(C& container) {
  if constexpr (requires { container.GetCount(); }) {
    container.GetCount();
  } else if constexpr (requires { container.GetLength(0); }) {
    container.GetLength(0);
  } else {
    container.NbLanes();
  }
}

std::u16string NotOpenMessage(const char* pName) {
  return u"Illegal usage of a not yet Opened ORB file of type:\r\nD2fVarnox_FT_" +
         KxText::Utf8ToUtf16(pName) + u"\r\nPlease OPEN this ORB file before using it !!!!!";
}

// One member of a file: its root index and, on a wrapper, its operations.
struct MemberCase {
  const char* pFile;
  const char* pMember;
  int32_t iRootIndex;
  std::function<std::shared_ptr<D2fFileBase>()> create;
  // The member's container, as the updatable object it is and with a read of it.
  std::function<std::pair<std::shared_ptr<IOrbUpdatableObject>, std::function<void()>>(
      D2fFileBase&)>
      container;
  // <Member>Mvvm and Get<Member>MvvmRoot.
  std::function<std::shared_ptr<OrbBaseDataWrapper>(D2fFileBase&)> mvvm, getRoot;
  // The<Member>MvvmDC with `settings`, typed as the member's root.
  std::function<std::shared_ptr<OrbBaseDataWrapper>(
      D2fFileBase&, const OrbDataContextSettings& settings,
      std::shared_ptr<OrbGenericDataContext>& pContext)>
      dataContext;
  // Creates the manager of `pFile` under `csKey` and binds it through
  // TheDataContextManager; whether that returned the manager created. An
  // unknown key must give null.
  std::function<bool(const std::u16string& csKey, std::shared_ptr<D2fFileBase>)> bindManager;
  std::function<void(const std::u16string& csKey)> removeManager;

  // Publishes an update of the member through its container; the kernel's id.
  uint64_t Publish(D2fFileBase& file) const {
    return container(file).first->UpdateID(OrbCmd{0}, std::nullopt, u"roots", {});
  }
};

template <class F, auto kMember, auto kMvvm, auto kGetRoot, auto kDataContext>
MemberCase Member(const char* pFile, const char* pMember, int32_t iRootIndex) {
  using Manager = OrbGenericContextManager<F>;
  using Root = typename decltype((std::declval<F&>().*kMvvm)())::element_type;
  auto file = [](D2fFileBase& f) -> F& { return static_cast<F&>(f); };
  return {pFile,
          pMember,
          iRootIndex,
          [] { return F::Create(); },
          [=](auto& f) {
            const auto c = (file(f).*kMember)();
            return std::pair<std::shared_ptr<IOrbUpdatableObject>, std::function<void()>>(
                c, [c] { Use(*c); });
          },
          [=](auto& f) { return std::shared_ptr<OrbBaseDataWrapper>((file(f).*kMvvm)()); },
          [=](auto& f) { return std::shared_ptr<OrbBaseDataWrapper>((file(f).*kGetRoot)()); },
          [=](auto& f, const auto& settings, auto& pContext) {
            pContext = (file(f).*kDataContext)(
                settings.bShared, settings.dataMode, settings.bUseMvvmNotification,
                settings.bUseOrbNotification, settings.bUseAutoCommit);
            return std::shared_ptr<OrbBaseDataWrapper>(pContext->template Root<Root>());
          },
          [](const std::u16string& csKey, std::shared_ptr<D2fFileBase> pWrapper) {
            if (F::TheDataContextManager(csKey + u"?") != nullptr) return false;
            const auto pManager = Manager::Create(csKey, std::static_pointer_cast<F>(pWrapper));
            return F::TheDataContextManager(csKey) == pManager;
          },
          [](const std::u16string& csKey) { Manager::Remove(csKey); }};
}

#define VARNOX_MEMBER(FILE, NAME, INDEX)                                                      \
  Member<D2fVarnox_FT_##FILE, &D2fVarnox_FT_##FILE::NAME, &D2fVarnox_FT_##FILE::NAME##Mvvm,   \
         &D2fVarnox_FT_##FILE::Get##NAME##MvvmRoot, &D2fVarnox_FT_##FILE::The##NAME##MvvmDC>( \
      #FILE, #NAME, INDEX)

const MemberCase kMembers[] = {
    VARNOX_MEMBER(COMPETITORS, CompetitorsStringMap, 0),
    VARNOX_MEMBER(RACES, ScheduleEntries, 0),
    VARNOX_MEMBER(GLOBALS, PoolConfig, 0),
    VARNOX_MEMBER(GLOBALS, DistancesDefault, 1),
    VARNOX_MEMBER(GLOBALS, StylesDefault, 2),
    VARNOX_MEMBER(GLOBALS, CategoriesDefault, 3),
    VARNOX_MEMBER(GLOBALS, RoundsDefault, 4),
    VARNOX_MEMBER(GLOBALS, StatusDefaults, 5),
    VARNOX_MEMBER(GLOBALS, Parameters, 6),
    VARNOX_MEMBER(GLOBALS, Records, 7),
    VARNOX_MEMBER(RAW_PULSES, PoolEvents, 0),
    VARNOX_MEMBER(RAW_PULSES, AssociatedPoolConfig, 1),
    VARNOX_MEMBER(IOSETUP, IOs, 0),
    VARNOX_MEMBER(IOSETUP, IODefaultTypeParams, 1),
};

class EveryMember : public ::testing::TestWithParam<MemberCase> {};

// Before Open: wrappers register apart; the member, read twice, reports the
// not-open message each time and gives one container, and so does the making
// of its root, which has its index; UnLoad is true and keeps the
// registration, Dispose ends it.
TEST_P(EveryMember, RegisteredBeforeOpenAndReportedWhileNotOpen) {
  const MemberCase& c = GetParam();
  const auto pFirst = c.create();
  const auto pSecond = c.create();
  EXPECT_NE(pFirst->LocalFileId(), pSecond->LocalFileId());
  EXPECT_TRUE(Registered(*pFirst));
  EXPECT_TRUE(Registered(*pSecond));
  {
    ErrorCapture errors;
    EXPECT_EQ(c.container(*pFirst).first, c.container(*pFirst).first);
    const auto pRoot = c.mvvm(*pFirst);
    EXPECT_EQ(errors.m_Messages, std::vector<std::u16string>(4, NotOpenMessage(c.pFile)));
    EXPECT_EQ(pRoot->PropIndex(), c.iRootIndex);
  }
  EXPECT_TRUE(pFirst->UnLoad());
  EXPECT_TRUE(Registered(*pFirst));
  pFirst->Dispose();
  pSecond->Dispose();
  EXPECT_FALSE(Registered(*pFirst));
}

// Once open, each read makes a new root following its member's updates only,
// refreshed after the member's container saw the update with its text and the
// kernel's id.
TEST_P(EveryMember, RootsFollowTheUpdatesOfTheirMember) {
  const MemberCase& c = GetParam();
  const auto pFile = c.create();
  ASSERT_GT(OpenNewWrapper(*pFile, ScratchPath(std::string("roots-") + c.pMember + ".orb")), 0);
  const std::shared_ptr<OrbBaseDataWrapper> roots[] = {c.mvvm(*pFile), c.getRoot(*pFile)};
  EXPECT_NE(roots[0], roots[1]);
  std::mutex mutex;
  std::condition_variable seen;
  std::vector<std::string> events;
  auto note = [&](const std::string& csEvent) {
    std::lock_guard lock(mutex);
    events.push_back(csEvent);
    seen.notify_all();
  };
  c.container(*pFile).first->ObjectChanged().Add([&](auto*, const OrbObjectChangedEventArgs& args) {
    note(KxText::Utf16ToUtf8(args.Text()) + " " + std::to_string(args.UpdateId()));
  });
  for (const auto& pRoot : roots) pRoot->Tree().Refreshed().Add([&] { note("refresh"); });

  for (const MemberCase& other : kMembers) {
    if (std::string(other.pFile) == c.pFile && other.iRootIndex != c.iRootIndex)
      other.Publish(*pFile);
  }
  const uint64_t uiId = c.Publish(*pFile);
  std::unique_lock lock(mutex);
  seen.wait_for(lock, std::chrono::seconds(30), [&] { return events.size() >= 3; });
  EXPECT_EQ(events,
            (std::vector<std::string>{"roots " + std::to_string(uiId), "refresh", "refresh"}));
  lock.unlock();
  pFile->Dispose();
}

// An unloaded wrapper answers only IsOpen, UnLoad, GetFullPath and Dispose;
// every other operation and use of its containers refuses.
TEST_P(EveryMember, UnloadedWrapperAndItsContainersRefuse) {
  const MemberCase& c = GetParam();
  const auto pFile = c.create();
  const std::u16string csPath = ScratchPath(std::string("unload-") + c.pMember + ".orb");
  ASSERT_GT(OpenNewWrapper(*pFile, csPath), 0);
  ErrorCapture errors;
  const auto container = c.container(*pFile);
  const std::vector<std::function<void()>> uses = {
      container.second, [p = container.first] { p->UpdateID(OrbCmd{0}, std::nullopt, u"", {}); }};
  for (const auto& use : uses) EXPECT_NO_THROW(use());

  EXPECT_TRUE(pFile->UnLoad());
  EXPECT_FALSE(Registered(*pFile));
  EXPECT_FALSE(pFile->IsOpen());
  EXPECT_EQ(pFile->GetFullPath(), u"");
  EXPECT_TRUE(pFile->UnLoad());
  EXPECT_NO_THROW(pFile->Dispose());

  std::vector<std::function<void()>> refused = {
      [&] { OpenNewWrapper(*pFile, csPath); },
      [&] { pFile->Update(OrbCmd{0}); },
      [&] { pFile->Clear(OrbCmd{0}); },
      [&] { pFile->Save(0, true, std::nullopt); },
      [&] {
        std::u16string a, b;
        pFile->SelectFileDlg(std::nullopt, std::nullopt, a, b, false, false);
      },
      [&] { pFile->SaveFileAsXml(csPath + u".xml"); },
      [&] { pFile->UpdateFileFromXml(csPath + u".xml"); },
      [&] { pFile->GetObjInd(); },
      [&] { pFile->GetObjInd(csPath); },
      [&] { c.container(*pFile); },
  };
  refused.insert(refused.end(), uses.begin(), uses.end());
  for (size_t i = 0; i < refused.size(); ++i)
    EXPECT_THROW(refused[i](), OrbKernelException) << "operation " << i;
  EXPECT_TRUE(errors.m_Messages.empty());
}

// A member's data context needs the manager bound by TheDataContextManager
// (an unknown key binds nothing, another wrapper stays unbound); its root has
// the member's root type and the settings pass unchanged.
TEST_P(EveryMember, DataContextsComeFromTheBoundManager) {
  const MemberCase& c = GetParam();
  const auto pFile = c.create();
  const auto pOther = c.create();
  const std::u16string csKey = u"dc-" + KxText::Utf8ToUtf16(c.pMember);
  // Each setting differs from its neighbour, so a swapped pair shows.
  const OrbDataContextSettings settings{false, OrbDataMode::ReadOnly, false, true, false};
  std::shared_ptr<OrbGenericDataContext> pContext;
  EXPECT_THROW(c.dataContext(*pFile, settings, pContext), OrbKernelException);

  ASSERT_TRUE(c.bindManager(csKey, pFile));
  EXPECT_THROW(c.dataContext(*pOther, settings, pContext), OrbKernelException);
  ErrorCapture errors;  // the file is not open
  EXPECT_NE(c.dataContext(*pFile, settings, pContext), nullptr);
  const auto fields = [](const OrbDataContextSettings& s) {
    return std::tuple(s.bShared, s.dataMode, s.bUseMvvmNotification, s.bUseOrbNotification,
                      s.bUseAutoCommit);
  };
  EXPECT_EQ(fields(pContext->Settings()), fields(settings));

  c.removeManager(csKey);
  pFile->Dispose();
  pOther->Dispose();
}

INSTANTIATE_TEST_SUITE_P(FileWrapper, EveryMember, ::testing::ValuesIn(kMembers),
                         [](const auto& c) { return std::string(c.param.pMember); });

// A lock scope that outlives the Dispose of its file reports its refused
// release and the process goes on (the proxies and other entry points of a
// dead file are AccessBadInputTest's and EndOfApplicationTest's).
TEST(FileWrapper, ALockScopeOutlivingItsFileReportsItsRelease) {
  const auto pRaces = D2fVarnox_FT_RACES::Create();
  ASSERT_GT(OpenNewWrapper(*pRaces, ScratchPath("proxies.orb")), 0);
  const auto pHeats = pRaces->ScheduleEntries()->Item(std::u16string(u"R1"))->Heats();
  auto pScope = std::make_unique<
      DataDirectAcces::OrbSharedLockScope<std::remove_reference_t<decltype(*pHeats)>>>(*pHeats);
  pRaces->Dispose();
  ErrorCapture errors;
  pScope.reset();
  ASSERT_EQ(errors.m_Messages.size(), 1u);
  EXPECT_TRUE(errors.m_Messages[0].starts_with(
      u"D2iVarnox_FT_RACES_ScheduleEntries_Heats.ReleaseRWELock:"));
}

// The update-information record as the wrapper reads it: the id and the
// word at their offsets, the text never past its area.
TEST(FileWrapper, UpdateRecordTextStaysInsideItsArea) {
  // The length the record gives, the characters read.
  const std::pair<uint16_t, size_t> kLengths[] = {
      {0, 0}, {7, 7}, {506, 506}, {507, 506}, {60000, 506}, {KxUpdateRecord::kFormatFailed, 0}};
  for (const auto& [uiLength, uiExpected] : kLengths) {
    KxUpdateRecord record{};
    record.updateId = 0x1122334455667788ull;
    record.word24 = 0xA5A5F00Du;
    record.textLength = uiLength;
    std::memset(record.text, 'x', sizeof(record.text));
    const auto info = OrbReadUpdateInfo(reinterpret_cast<uint64_t>(&record));
    EXPECT_EQ(std::tuple(info.uiUpdateId, info.uiWord, info.csText),
              std::tuple(record.updateId, record.word24, std::u16string(uiExpected, u'x')))
        << "length " << uiLength;
  }
}

// A reader a whole event ring behind reloads every element: the listener is
// held while another process changes competitor 7 under an update naming it,
// then overruns the ring with updates naming 8 only; just the lost-updates
// report can bring 7's new category. The Dispose may meet a refresh still
// running, which must end before the wrapper refuses its walks.
TEST(FileWrapper, ARootThatLostUpdatesReloadsEveryElement) {
  const std::string csPath = KernelScratch::Get().Path("overrun.orb");
  const auto pFile = D2fVarnox_FT_COMPETITORS::Create();
  ASSERT_GT(OpenNewWrapper(*pFile, KxText::Utf8ToUtf16(csPath)), 0);
  const auto pMap = pFile->CompetitorsStringMap();
  pMap->Item(uint64_t{7})->set_CategoryId(1);
  pMap->Item(uint64_t{8})->set_CategoryId(5);
  const std::u16string csKey = u"overrun";
  OrbGenericContextManager<D2fVarnox_FT_COMPETITORS>::Create(csKey, pFile);
  D2fVarnox_FT_COMPETITORS::TheDataContextManager(csKey);
  const auto pContext =
      pFile->TheCompetitorsStringMapMvvmDC(false, OrbDataMode::Live, true, true, true);
  const auto pRoot = pContext->Root<D2fVarnox_FT_COMPETITORS::CompetitorsStringMapMvvmRoot>();
  const auto pCategory7 = pRoot->Item(0)->CategoryId()->Value() == 1 ? pRoot->Item(0)->CategoryId()
                                                                     : pRoot->Item(1)->CategoryId();
  ASSERT_EQ(pCategory7->Value(), 1);

  std::mutex mutex;
  std::condition_variable released;
  bool bHold = true;
  pMap->ObjectChanged().Add([&](IOrbUpdatableObject*, const OrbObjectChangedEventArgs& args) {
    if (!args.Text().starts_with(u"hold")) return;
    std::unique_lock lock(mutex);
    released.wait(lock, [&] { return !bHold; });
  });
  // Named, so that its own delivery reloads competitor 8 alone.
  const uint32_t h8 = pMap->Find(uint64_t{8});
  pMap->UpdateID(OrbCmd{0}, std::nullopt, OrbNameElements(u"hold", {&h8, 1}), {});
  const TkChildResult writer = TkRunProgram(
      {NOTIFY_PEER, "overrun", csPath, std::to_string(KxEventRing::kCapacity + 1000)}, 60000);
  {
    std::lock_guard lock(mutex);
    bHold = false;
    released.notify_all();
  }
  ASSERT_EQ(writer.exitCode, 0) << writer.err;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (pCategory7->Value() != 2 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(pCategory7->Value(), 2);
  EXPECT_NE(KernelScratch::Get().Log().find("overrun.orb were overwritten"), std::string::npos);
  OrbGenericContextManager<D2fVarnox_FT_COMPETITORS>::Remove(csKey);
  pFile->Dispose();
}

// The first time of every lap of heat R2/H1, as the view models of a data
// context over the schedule show them, by lane and lap (both from 1).
using LapTimes =
    std::map<std::pair<int, int>,
             std::shared_ptr<OrbMvvmObsArray1D<uint32_t, MvvmSimpleObsItem<uint32_t>>>>;
LapTimes LapTimesOf(OrbGenericDataContext& context) {
  LapTimes laps;
  const auto pLanes = context.Root<D2fVarnox_FT_RACES::ScheduleEntriesMvvmRoot>()
                          ->Item(0)
                          ->Heats()
                          ->Item(0)
                          ->LaneResults();
  for (int32_t i = 0; i < pLanes->Count(); ++i) {
    const auto pLaps = pLanes->Item(i)->Laps();
    for (int32_t iLap = 0; iLap < pLaps->Count(); ++iLap) {
      const auto pTimes = pLaps->Item(iLap)->Time();
      pTimes->Value(0);  // loaded, so that a change shows
      laps[{pLanes->Item(i)->Lane()->Value(), iLap + 1}] = pTimes;
    }
  }
  return laps;
}

// End to end across processes: the tool's time-heat writes lap times with
// one update id each. The container raises ObjectChanged for each in order,
// the time already readable; a context following the kernel shows each time
// with one change event, one not following shows them only after Refresh.
TEST(FileWrapper, ChangesOfAnotherProcessReachTheContainerAndTheDataContext) {
  constexpr int kLanes = 4, kLaps = 4;
  const std::string csDir = KernelScratch::Get().Path("live-meet");
  std::filesystem::create_directories(csDir);
  const auto pRaces = D2fVarnox_FT_RACES::Create();
  ASSERT_GT(OpenNewWrapper(*pRaces, KxText::Utf8ToUtf16(csDir + "/races.orb")), 0);
  const auto pEntries = pRaces->ScheduleEntries();
  const auto pLanes =
      pEntries->Item(std::u16string(u"R2"))->Heats()->Item(std::u16string(u"H1"))->LaneResults();
  for (int iLane = 1; iLane <= kLanes; ++iLane) {
    const auto pLane = pLanes->Item(static_cast<uint64_t>(iLane));
    pLane->set_Lane(iLane);
    const auto pLaps = pLane->Laps();
    for (int iLap = 0; iLap < kLaps; ++iLap) pLaps->Item(pLaps->Add())->set_Lap(iLap + 1);
  }
  auto timeOf = [&](std::pair<int, int> lap) {
    const uint32_t hLane = pLanes->Find(static_cast<uint64_t>(lap.first));
    return pLanes->Item(hLane)
        ->Laps()
        ->Item(static_cast<uint32_t>(lap.second - 1))
        ->Time()
        ->Item(0);
  };

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::tuple<uint64_t, std::string, uint32_t>> seen;  // id, text, time then
  std::map<std::pair<int, int>, std::vector<uint32_t>> shown;     // by the followed context
  pEntries->ObjectChanged().Add([&](IOrbUpdatableObject*, const OrbObjectChangedEventArgs& args) {
    const std::string csText = KxText::Utf16ToUtf8(args.Text());
    std::pair<int, int> lap;
    const bool bLap = std::sscanf(csText.c_str(), "lap %d %d", &lap.first, &lap.second) == 2;
    const uint32_t uiTime = bLap ? timeOf(lap) : 0;
    std::lock_guard lock(mutex);
    seen.emplace_back(args.UpdateId(), csText, uiTime);
    changed.notify_all();
  });

  const std::u16string csKey = u"live-meet";
  OrbGenericContextManager<D2fVarnox_FT_RACES>::Create(csKey, pRaces);
  ASSERT_NE(D2fVarnox_FT_RACES::TheDataContextManager(csKey), nullptr);
  const auto pFollowing =
      pRaces->TheScheduleEntriesMvvmDC(false, OrbDataMode::Live, true, true, true);
  const auto pStill = pRaces->TheScheduleEntriesMvvmDC(false, OrbDataMode::Live, true, false, true);
  const auto following = LapTimesOf(*pFollowing);
  const auto still = LapTimesOf(*pStill);
  ASSERT_EQ(following.size(), static_cast<size_t>(kLanes * kLaps));
  for (const auto& [lap, pTimes] : following) {
    // A raw pointer back to the array the handler lives in, or the two would
    // keep each other alive.
    pTimes->CollectionChanged().Add([&, pArray = pTimes.get(), lap](const auto& args) {
      if (args.Action() != OrbCollectionChange::Replace || args.Index() != 0) return;
      std::lock_guard lock(mutex);
      shown[lap].push_back(pArray->Value(0));
      changed.notify_all();
    });
  }

  const TkChildResult timer = TkRunProgram({VARNOX_TOOL, "time-heat", csDir}, 60000);
  ASSERT_EQ(timer.exitCode, 0) << timer.err;
  std::unique_lock lock(mutex);
  changed.wait_for(lock, std::chrono::seconds(30),
                   [&] { return seen.size() >= kLanes * kLaps && shown.size() >= kLanes * kLaps; });
  ASSERT_EQ(seen.size(), static_cast<size_t>(kLanes * kLaps));
  for (size_t i = 0; i < seen.size(); ++i) {
    const auto& [uiId, csText, uiTime] = seen[i];
    const std::string csLap =
        "lap " + std::to_string(i % kLanes + 1) + " " + std::to_string(i / kLanes + 1) + " ";
    EXPECT_TRUE(csText.starts_with(csLap)) << csText;
    EXPECT_NE(uiTime, 0u) << csText;
    EXPECT_TRUE(i == 0 || uiId > std::get<0>(seen[i - 1])) << csText;
  }
  for (const auto& [lap, pTimes] : following) {
    EXPECT_NE(timeOf(lap), 0u);
    EXPECT_EQ(shown[lap], std::vector<uint32_t>(1, timeOf(lap))) << lap.first << "/" << lap.second;
  }
  lock.unlock();
  for (const auto& [lap, pTimes] : still) EXPECT_EQ(pTimes->Value(0), 0u);
  pStill->Refresh();
  for (const auto& [lap, pTimes] : still) EXPECT_EQ(pTimes->Value(0), timeOf(lap));
  OrbGenericContextManager<D2fVarnox_FT_RACES>::Remove(csKey);
  pRaces->Dispose();
}

}  // namespace
