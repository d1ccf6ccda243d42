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
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "access/CkxOrbCategTools.h"
#include "contracts/framework/OrbApp.h"
#include "contracts/framework/OrbKernelException.h"
#include "contracts/kernel/KxRecords.h"
#include "files/VarnoxFiles.h"
#include "tests/kernel/KernelTestSupport.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

using namespace Tarvex::Orb;
using namespace Tarvex::Orb::Data::Varnox;
using Tarvex::Orb::DataDirectAcces::CkxOrbCategTools;
using Tarvex::Orb::DataDirectAcces::OrbKernelException;

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

bool Registered(const DataDirectAcces::OrbFileM& file) {
  const auto& table = *CkxOrbCategTools::m_OpenFiles;
  const auto it = table.find(static_cast<int32_t>(file.LocalFileId()));
  return it != table.end() && it->second.get() == &file;
}

std::u16string Scratch(const std::string& csName) {
  return KxText::Utf8ToUtf16(KernelScratch::Get().Path(csName));
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

// One file class under test: its name and, on a wrapper of it, reads of
// every member's container.
struct FileCase {
  const char* pName;
  std::function<std::shared_ptr<DataDirectAcces::D2fFileBase>()> create;
  // Reads each member twice: true when both reads gave the same container.
  std::function<bool(DataDirectAcces::D2fFileBase&)> readMembersTwice;
  // Each member's container, kept as IOrbUpdatableObject, and a use of it.
  std::function<std::vector<std::function<void()>>(DataDirectAcces::D2fFileBase&)> keepUses;
  int iMembers;
};

template <class F, auto... kMembers>
FileCase Case(const char* pName) {
  return {
      pName, [] { return F::Create(); },
      [](DataDirectAcces::D2fFileBase& file) {
        auto& f = static_cast<F&>(file);
        return ((((f.*kMembers)() == (f.*kMembers)())) && ...);
      },
      [](DataDirectAcces::D2fFileBase& file) {
        auto& f = static_cast<F&>(file);
        std::vector<std::function<void()>> uses;
        (uses.push_back([c = (f.*kMembers)()] { Use(*c); }), ...);
        (uses.push_back([c = (f.*kMembers)()] { c->UpdateID(OrbCmd{0}, std::nullopt, u"", {}); }),
         ...);
        return uses;
      },
      static_cast<int>(sizeof...(kMembers))};
}

const FileCase kFiles[] = {
    Case<D2fVarnox_FT_COMPETITORS, &D2fVarnox_FT_COMPETITORS::CompetitorsStringMap>("COMPETITORS"),
    Case<D2fVarnox_FT_RACES, &D2fVarnox_FT_RACES::ScheduleEntries>("RACES"),
    Case<D2fVarnox_FT_GLOBALS, &D2fVarnox_FT_GLOBALS::PoolConfig,
         &D2fVarnox_FT_GLOBALS::DistancesDefault, &D2fVarnox_FT_GLOBALS::StylesDefault,
         &D2fVarnox_FT_GLOBALS::CategoriesDefault, &D2fVarnox_FT_GLOBALS::RoundsDefault,
         &D2fVarnox_FT_GLOBALS::StatusDefaults, &D2fVarnox_FT_GLOBALS::Parameters,
         &D2fVarnox_FT_GLOBALS::Records>("GLOBALS"),
    Case<D2fVarnox_FT_RAW_PULSES, &D2fVarnox_FT_RAW_PULSES::PoolEvents,
         &D2fVarnox_FT_RAW_PULSES::AssociatedPoolConfig>("RAW_PULSES"),
    Case<D2fVarnox_FT_IOSETUP, &D2fVarnox_FT_IOSETUP::IOs,
         &D2fVarnox_FT_IOSETUP::IODefaultTypeParams>("IOSETUP"),
};

std::u16string NotOpenMessage(const char* pName) {
  return u"Illegal usage of a not yet Opened ORB file of type:\r\nD2fVarnox_FT_" +
         KxText::Utf8ToUtf16(pName) + u"\r\nPlease OPEN this ORB file before using it !!!!!";
}

class EveryFile : public ::testing::TestWithParam<FileCase> {};

// Two wrappers of one class are registered apart before any Open; reading
// each member twice on a wrapper that is not open reports the not-open
// message (naming the class) each time and gives the same container; UnLoad
// of a wrapper never opened answers true and leaves it registered.
TEST_P(EveryFile, RegisteredBeforeOpenAndReportedWhileNotOpen) {
  const FileCase& c = GetParam();
  const auto pFirst = c.create();
  const auto pSecond = c.create();
  EXPECT_NE(pFirst->LocalFileId(), pSecond->LocalFileId());
  EXPECT_TRUE(Registered(*pFirst));
  EXPECT_TRUE(Registered(*pSecond));

  ErrorCapture errors;
  EXPECT_TRUE(c.readMembersTwice(*pFirst));
  ASSERT_EQ(errors.m_Messages.size(), static_cast<size_t>(2 * c.iMembers));
  for (const auto& csMessage : errors.m_Messages) EXPECT_EQ(csMessage, NotOpenMessage(c.pName));

  EXPECT_TRUE(pFirst->UnLoad());
  EXPECT_TRUE(Registered(*pFirst));
  pFirst->Dispose();
  pSecond->Dispose();
  EXPECT_FALSE(Registered(*pFirst));
}

// An open wrapper unloaded: its entry goes, it answers only IsOpen (false),
// UnLoad (true), GetFullPath ("") and Dispose; every other operation, and
// every use of the containers it handed out, refuses with
// OrbKernelException.
TEST_P(EveryFile, UnloadedWrapperAndItsContainersRefuse) {
  const FileCase& c = GetParam();
  const auto pFile = c.create();
  const std::u16string csPath = Scratch(std::string("unload-") + c.pName + ".orb");
  ASSERT_GT(pFile->Open(csPath, std::nullopt, std::nullopt, u"rw", u"", true, nullptr, 0, 0), 0);
  EXPECT_TRUE(pFile->IsOpen());
  EXPECT_FALSE(pFile->GetFullPath().empty());
  ErrorCapture errors;
  const auto uses = c.keepUses(*pFile);
  for (const auto& use : uses) EXPECT_NO_THROW(use());
  EXPECT_TRUE(errors.m_Messages.empty());

  EXPECT_TRUE(pFile->UnLoad());
  EXPECT_FALSE(Registered(*pFile));
  EXPECT_FALSE(pFile->IsOpen());
  EXPECT_EQ(pFile->GetFullPath(), u"");
  EXPECT_TRUE(pFile->UnLoad());
  EXPECT_NO_THROW(pFile->Dispose());

  const std::vector<std::function<void()>> wrapperOps = {
      [&] { pFile->Open(csPath, std::nullopt, std::nullopt, u"rw", u"", true, nullptr, 0, 0); },
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
      [&] { c.readMembersTwice(*pFile); },
  };
  for (size_t i = 0; i < wrapperOps.size(); ++i) {
    EXPECT_THROW(wrapperOps[i](), OrbKernelException) << "wrapper operation " << i;
  }
  for (size_t i = 0; i < uses.size(); ++i) {
    EXPECT_THROW(uses[i](), OrbKernelException) << "container use " << i;
  }
  EXPECT_TRUE(errors.m_Messages.empty());
}

INSTANTIATE_TEST_SUITE_P(FileWrapper, EveryFile, ::testing::ValuesIn(kFiles),
                         [](const auto& c) { return std::string(c.param.pName); });

// Proxies and nested wrappers handed out before a Dispose refuse too, each
// with its own operation's message.
TEST(FileWrapper, ProxiesOfADisposedFileRefuse) {
  const auto pRaces = D2fVarnox_FT_RACES::Create();
  ASSERT_GT(pRaces->Open(Scratch("proxies.orb"), std::nullopt, std::nullopt, u"rw", u"", true,
                         nullptr, 0, 0),
            0);
  const auto pEntry = pRaces->ScheduleEntries()->Item(std::u16string(u"R1"));
  const auto pHeats = pEntry->Heats();
  const auto pHeat = pHeats->Item(std::u16string(u"H1"));
  pHeat->set_HeatId(std::u16string(u"H1"));
  ASSERT_EQ(pHeat->HeatId(), u"H1");
  pRaces->Dispose();

  const std::vector<std::pair<std::function<void()>, std::string>> uses = {
      {[&] { pEntry->RaceId(); }, "D2mVarnox_FT_RACES_ScheduleEntries.RaceId:"},
      {[&] { pHeats->GetCount(); }, "D2iVarnox_FT_RACES_ScheduleEntries_Heats.GetCount:"},
      {[&] { pHeat->HeatId(); }, "D2mVarnox_FT_RACES_ScheduleEntries_Heats.HeatId:"},
      {[&] { pHeat->set_SortId(3); }, "D2mVarnox_FT_RACES_ScheduleEntries_Heats.SortId:"},
  };
  for (const auto& [use, csMessage] : uses) {
    try {
      use();
      ADD_FAILURE() << csMessage << " did not refuse";
    } catch (const OrbKernelException& e) {
      EXPECT_EQ(std::string(e.what()).rfind(csMessage, 0), 0u) << e.what();
    }
  }
}

// The update-information record as the wrapper reads it: the id and the
// word at their offsets, the text never past its area.
struct UpdateRecordCase {
  uint16_t uiLength;
  size_t uiExpected;
};

class UpdateRecord : public ::testing::TestWithParam<UpdateRecordCase> {};

TEST_P(UpdateRecord, TextStaysInsideItsArea) {
  KxUpdateRecord record{};
  record.updateId = 0x1122334455667788ull;
  record.word24 = 0xA5A5F00Du;
  record.textLength = GetParam().uiLength;
  std::memset(record.text, 'x', sizeof(record.text));
  const auto info = DataDirectAcces::OrbReadUpdateInfo(reinterpret_cast<uint64_t>(&record));
  EXPECT_EQ(info.uiUpdateId, record.updateId);
  EXPECT_EQ(info.uiWord, record.word24);
  EXPECT_EQ(info.csText, std::u16string(GetParam().uiExpected, u'x'));
}

INSTANTIATE_TEST_SUITE_P(FileWrapper, UpdateRecord,
                         ::testing::Values(UpdateRecordCase{0, 0}, UpdateRecordCase{7, 7},
                                           UpdateRecordCase{506, 506}, UpdateRecordCase{507, 506},
                                           UpdateRecordCase{60000, 506},
                                           UpdateRecordCase{KxUpdateRecord::kFormatFailed, 0}));

}  // namespace

namespace {

// End to end across processes: the tool's time-heat (another process)
// writes the lap times of race R2, heat H1 through proxies and publishes
// one update id per lane and lap; here the races file's container raises
// ObjectChanged for each, in order, and the new time is already readable
// through a proxy when it does.
TEST(FileWrapper, ChangesOfAnotherProcessReachTheContainerEvent) {
  constexpr int kLanes = 4, kLaps = 4;
  const std::string csDir = KernelScratch::Get().Path("live-meet");
  std::filesystem::create_directories(csDir);
  const auto pRaces = D2fVarnox_FT_RACES::Create();
  ASSERT_GT(pRaces->Open(KxText::Utf8ToUtf16(csDir + "/races.orb"), std::nullopt, std::nullopt,
                         u"rw", u"", true, nullptr, 0, 0),
            0);
  const auto pEntries = pRaces->ScheduleEntries();
  const auto pLanes =
      pEntries->Item(std::u16string(u"R2"))->Heats()->Item(std::u16string(u"H1"))->LaneResults();
  for (int iLane = 1; iLane <= kLanes; ++iLane) {
    const auto pLaps = pLanes->Item(static_cast<uint64_t>(iLane))->Laps();
    for (int iLap = 0; iLap < kLaps; ++iLap) pLaps->Item(pLaps->Add())->set_Lap(iLap + 1);
  }

  struct Seen {
    uint64_t uiUpdateId;
    std::string csText;
    uint32_t uiTime;
  };
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Seen> seen;
  pEntries->ObjectChanged().Add([&](DataDirectAcces::IOrbUpdatableObject*,
                                    const DataDirectAcces::OrbObjectChangedEventArgs& args) {
    const std::string csText = KxText::Utf16ToUtf8(args.Text());
    int iLane = 0, iLap = 0;
    uint32_t uiTime = 0;
    if (std::sscanf(csText.c_str(), "lap %d %d", &iLane, &iLap) == 2) {
      const uint32_t hLane = pLanes->Find(static_cast<uint64_t>(iLane));
      uiTime = pLanes->Item(hLane)->Laps()->Item(static_cast<uint32_t>(iLap - 1))->Time()->Item(0);
    }
    std::lock_guard lock(mutex);
    seen.push_back({args.UpdateId(), csText, uiTime});
    changed.notify_all();
  });

  const TkChildResult timer = TkRunProgram({VARNOX_TOOL, "time-heat", csDir}, {}, 60000);
  ASSERT_EQ(timer.exitCode, 0) << timer.err;
  std::unique_lock lock(mutex);
  changed.wait_for(lock, std::chrono::seconds(30), [&] { return seen.size() >= kLanes * kLaps; });
  ASSERT_EQ(seen.size(), static_cast<size_t>(kLanes * kLaps));
  for (size_t i = 0; i < seen.size(); ++i) {
    const int iLane = static_cast<int>(i) % kLanes + 1, iLap = static_cast<int>(i) / kLanes + 1;
    EXPECT_EQ(
        seen[i].csText.rfind("lap " + std::to_string(iLane) + " " + std::to_string(iLap) + " ", 0),
        0u)
        << seen[i].csText;
    EXPECT_NE(seen[i].uiTime, 0u) << seen[i].csText;
    if (i > 0) {
      EXPECT_GT(seen[i].uiUpdateId, seen[i - 1].uiUpdateId);
    }
  }
  lock.unlock();
  pRaces->Dispose();
}

}  // namespace
