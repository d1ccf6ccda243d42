// Update notifications and growth messages across processes, and growth
// messages to the tasks the application registers for them.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "contracts/framework/OrbApp.h"
#include "kernel/KxEvents.h"
#include "templates/Varnox.h"
#include "tests/kernel/KernelTestSupport.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

using Tarvex::Orb::OrbApp;

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

// What the update callback of the file under test received.
struct Received {
  int32_t iObject;
  uint64_t uiUpdateId;
  std::string csText;
};

std::mutex g_Mutex;
std::condition_variable g_Changed;
std::vector<Received> g_Received;
bool g_bHold = false;  // a slow reader: the callback waits while set

void Collect(int32_t iObject, uint64_t uliInfo) {
  if (uliInfo == 0) return;  // updates lost: the log counts them
  const KxUpdateRecord& info = *reinterpret_cast<const KxUpdateRecord*>(uliInfo);
  std::unique_lock<std::mutex> lock(g_Mutex);
  g_Changed.wait(lock, [] { return !g_bHold; });
  g_Received.push_back({iObject, info.updateId, std::string(info.text, info.textLength)});
  g_Changed.notify_all();
}

// Waits (at most 30 s) until `uiCount` updates arrived; answers them.
std::vector<Received> WaitFor(size_t uiCount) {
  std::unique_lock<std::mutex> lock(g_Mutex);
  g_Changed.wait_for(lock, std::chrono::seconds(30), [&] { return g_Received.size() >= uiCount; });
  return g_Received;
}

// Adds `uiCount` competitors from key `uiFirst` on: enough make the
// dynamic data grow.
void AddCompetitors(CkxVarnoxFT_COMPETITORS& file, uint64_t uiFirst, uint64_t uiCount) {
  auto& map = file.m_CompetitorsStringMap.m_Container;
  for (uint64_t uiKey = uiFirst; uiKey < uiFirst + uiCount; ++uiKey) {
    map[map(D2MapCmd::Add, uiKey, nullptr)].CompetitorId = 1;
  }
}

class NotificationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::lock_guard<std::mutex> lock(g_Mutex);
    g_Received.clear();
    g_bHold = false;
  }
  TkChildResult RunPeer(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {NOTIFY_PEER};
    argv.insert(argv.end(), args.begin(), args.end());
    return TkRunProgram(argv, 60000);
  }
};

// Collects every update but "boom", for which it throws.
void ThrowOnBoom(int32_t iObject, uint64_t uliInfo) {
  if (uliInfo == 0) return;
  const KxUpdateRecord& info = *reinterpret_cast<const KxUpdateRecord*>(uliInfo);
  if (std::string(info.text, info.textLength) == "boom") throw std::runtime_error("boom thrown");
  Collect(iObject, uliInfo);
}

// Updates of another process and then of this one arrive in order with
// rising ids; a callback that lets an exception out does not end the
// listener thread: the failure is logged and the next update is delivered.
TEST_F(NotificationTest, EveryUpdateArrivesInOrder) {
  const std::string csPath = KernelScratch::Get().Path("notify.orb");
  CkxVarnoxFT_COMPETITORS file;
  ASSERT_TRUE(OpenNative(file, csPath, "rw", true, ThrowOnBoom));

  const TkChildResult writer = RunPeer({"update", csPath, "10000"});
  ASSERT_EQ(writer.exitCode, 0) << writer.err;
  const std::vector<Received> received = WaitFor(10000);
  ASSERT_EQ(received.size(), 10000u);
  for (size_t i = 0; i < received.size(); ++i) {
    ASSERT_EQ(received[i].iObject, 0) << i;
    ASSERT_EQ(received[i].csText, "update " + std::to_string(i)) << i;
    if (i > 0) {
      ASSERT_EQ(received[i].uiUpdateId, received[i - 1].uiUpdateId + 1) << i;
    }
  }

  file.m_CompetitorsStringMap.UpdateID(0, nullptr, "boom");
  const uint64_t uiOwn = file.m_CompetitorsStringMap.UpdateID(0, nullptr, "own");
  EXPECT_EQ(uiOwn, received.back().uiUpdateId + 2);
  const std::vector<Received> after = WaitFor(10001);
  ASSERT_EQ(after.size(), 10001u);
  EXPECT_EQ(after.back().uiUpdateId, uiOwn);
  EXPECT_EQ(after.back().csText, "own");
  EXPECT_NE(KernelScratch::Get().Log().find("OnUpdate failed: boom thrown"), std::string::npos);
  file.UnLoad();
}

TEST_F(NotificationTest, ASlowReaderIsToldHowManyUpdatesItMissed) {
  const std::string csPath = KernelScratch::Get().Path("slow.orb");
  CkxVarnoxFT_COMPETITORS file;
  ASSERT_TRUE(OpenNative(file, csPath, "rw", true, Collect));
  {
    std::lock_guard<std::mutex> lock(g_Mutex);
    g_bHold = true;  // the first delivery blocks the listener
  }
  const int iCount = KxEventRing::kCapacity + 5000;
  const TkChildResult writer = RunPeer({"update", csPath, std::to_string(iCount)});
  {
    // Released before any check, so that a failed writer fails the test
    // instead of leaving the listener blocked.
    std::lock_guard<std::mutex> lock(g_Mutex);
    g_bHold = false;
    g_Changed.notify_all();
  }
  ASSERT_EQ(writer.exitCode, 0) << writer.err;
  // Delivered and missed add up to what was published, and the log says how many were missed.
  std::smatch match;
  std::string csLog;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  // Lines of this process only: the writer's own listener may lag behind it too.
  const std::regex missed("pid " + std::to_string(getpid()) +
                          R"( tid \d+ KERNEL (\d+) events of \S+slow\.orb were overwritten)");
  uint64_t uiMissed = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    csLog = KernelScratch::Get().Log();
    uiMissed = 0;
    for (auto it = std::sregex_iterator(csLog.begin(), csLog.end(), missed);
         it != std::sregex_iterator(); ++it) {
      uiMissed += std::stoull((*it)[1]);
    }
    {
      // Not held while sleeping: the listener needs it for every delivery.
      std::lock_guard<std::mutex> lock(g_Mutex);
      if (uiMissed > 0 && g_Received.size() + uiMissed == static_cast<size_t>(iCount)) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  {
    // Released before UnLoad, which waits for a delivery in progress: a
    // listener still delivering after the deadline needs the mutex to finish.
    std::lock_guard<std::mutex> lock(g_Mutex);
    EXPECT_GT(uiMissed, 0u);
    // Missed only what the ring no longer held: its last kCapacity arrived.
    const size_t uiRing = KxEventRing::kCapacity;
    ASSERT_GE(g_Received.size(), uiRing);
    EXPECT_EQ(g_Received[g_Received.size() - uiRing].csText,
              "update " + std::to_string(static_cast<size_t>(iCount) - uiRing));
    EXPECT_EQ(g_Received.back().csText, "update " + std::to_string(iCount - 1));
    EXPECT_EQ(g_Received.size() + uiMissed, static_cast<size_t>(iCount));
    // What arrived is still in order.
    for (size_t i = 1; i < g_Received.size(); ++i) {
      ASSERT_GT(g_Received[i].uiUpdateId, g_Received[i - 1].uiUpdateId);
    }
  }
  file.UnLoad();
}

// A growth reaches the growing file's handler and the task the application
// registered for it (naming the file), not another file.
TEST_F(NotificationTest, GrowthMessageReachesTheGrowingFileOnly) {
  std::vector<int64_t> taskFiles;  // the file id of each growth the task got
  const int32_t iTask = OrbApp::RegMess(u"OrbKernelDynDataSecGrow",
                                        [&](int64_t liFileId, int64_t, const void*, const void*) {
                                          std::lock_guard<std::mutex> lock(g_Mutex);
                                          taskFiles.push_back(liFileId);
                                        });
  CkxVarnoxFT_COMPETITORS growing;
  CkxVarnoxFT_COMPETITORS quiet;
  const int32_t iGrowing = growing.OpenUnm(KernelScratch::Get().Path("grow.orb").c_str(), nullptr,
                                           nullptr, "rw", "", true, nullptr, 0, 0, nullptr);
  ASSERT_TRUE(OpenNative(quiet, KernelScratch::Get().Path("quiet.orb")));
  AddCompetitors(growing, 0, 2000);

  // Growths are delivered one after another by the listener thread: the
  // kernel's status a moment before the handler's, the handler's before its
  // log line and the task. Wait until all have seen it.
  const std::string csFirstLine = "New DynGrowStatus: 1 for FileID: " + std::to_string(iGrowing);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  bool bAgreed = false;
  bool bLogged = false;
  bool bTold = false;
  while (!(bAgreed && bLogged && bTold) && std::chrono::steady_clock::now() < deadline) {
    const int32_t iHandled = growing.m_iDynGrowStatus;
    bAgreed = bAgreed || (iHandled > 0 && growing.GetDynGrowStatus() == iHandled);
    bLogged = KernelScratch::Get().Log().find(csFirstLine) != std::string::npos;
    {
      std::lock_guard<std::mutex> lock(g_Mutex);
      bTold = !taskFiles.empty();
    }
    if (!(bAgreed && bLogged && bTold)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(OrbApp::UnRegMess(iTask));  // waits for a delivery in progress
  EXPECT_TRUE(bAgreed) << "handled " << growing.m_iDynGrowStatus << ", kernel "
                       << growing.GetDynGrowStatus();
  EXPECT_TRUE(bLogged) << KernelScratch::Get().Log();
  EXPECT_EQ(quiet.m_iDynGrowStatus, 0);
  ASSERT_TRUE(bTold);
  for (const int64_t liFileId : taskFiles) EXPECT_EQ(liFileId, iGrowing);
  growing.UnLoad();
  quiet.UnLoad();
}

TEST_F(NotificationTest, GrowthAfterTheEndSkipsAFileDestroyedAfterTheEnd) {
  const std::string csPath = KernelScratch::Get().Path("ended.orb");
  auto pGone = std::make_unique<CkxVarnoxFT_COMPETITORS>();
  CkxVarnoxFT_COMPETITORS growing;
  ASSERT_TRUE(OpenNative(*pGone, csPath));
  ASSERT_TRUE(OpenNative(growing, csPath));
  KxEndCatAssembly();
  pGone.reset();  // its growth handler must not be reached any more

  AddCompetitors(growing, 0, 2000);
  // The kernel counts a growth just before its listener hands it to every
  // registered handler in turn; unloading waits for the listener to finish.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline && growing.GetDynGrowStatus() <= 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  growing.UnLoad();
  EXPECT_GT(growing.m_iDynGrowStatus, 0);
  KxInitCatAssembly(false);
}

}  // namespace
