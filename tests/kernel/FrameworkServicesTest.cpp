// The framework's application services on the reference kernel: a message
// the kernel sends reaches the task registered for it (and stops with the
// registration), and an update callback's C entry, handed to a file,
// reaches its object on the kernel's delivery thread.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "contracts/framework/OrbApp.h"
#include "templates/Varnox.h"
#include "tests/kernel/KernelTestSupport.h"

namespace {

using Tarvex::Orb::KxUpdateUmCallBack;
using Tarvex::Orb::OrbApp;

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

// Values a kernel thread hands over, and a wait for them.
template <class T>
class Mailbox {
 public:
  void Put(T value) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Values.push_back(std::move(value));
    m_Changed.notify_all();
  }
  // Waits at most 30 s until `fits` holds for the values; a copy of them.
  template <class F>
  std::vector<T> WaitUntil(F fits) {
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_Changed.wait_for(lock, std::chrono::seconds(30), [&] { return fits(m_Values); });
    return m_Values;
  }
  std::vector<T> Now() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Values;
  }

 private:
  std::mutex m_Mutex;
  std::condition_variable m_Changed;
  std::vector<T> m_Values;
};

// Adds `uiCount` competitors from key `uiFirst` on: enough make the
// dynamic data grow.
void AddCompetitors(CkxVarnoxFT_COMPETITORS& file, uint64_t uiFirst, uint64_t uiCount) {
  auto& map = file.m_CompetitorsStringMap.m_Container;
  for (uint64_t uiKey = uiFirst; uiKey < uiFirst + uiCount; ++uiKey) {
    map[map(D2MapCmd::Add, uiKey, nullptr)].CompetitorId = 1;
  }
}

TEST(FrameworkServicesTest, AKernelMessageReachesItsTaskUntilWithdrawn) {
  struct Growth {
    int64_t liFileId, liStatus;
  };
  Mailbox<Growth> growths;
  const int32_t iId = OrbApp::RegMess(u"OrbKernelDynDataSecGrow",
                                      [&](int64_t liCmd, int64_t liPar, const void*, const void*) {
                                        growths.Put({liCmd, liPar});
                                      });
  CkxVarnoxFT_COMPETITORS file;
  const int32_t iFileId = file.OpenUnm(KernelScratch::Get().Path("services-grow.orb").c_str(),
                                       nullptr, nullptr, "rw", "", true, nullptr, 0, 0, nullptr);
  ASSERT_GT(iFileId, 0);
  AddCompetitors(file, 0, 2000);
  const std::vector<Growth> seen = growths.WaitUntil([&](const std::vector<Growth>& values) {
    return !values.empty() && values.back().liStatus == file.GetDynGrowStatus();
  });
  ASSERT_FALSE(seen.empty());
  for (const Growth& growth : seen) EXPECT_EQ(growth.liFileId, iFileId);

  // Withdrawn: the next growths reach a witness registered since, not the
  // task. Unloading waits for a delivery in progress.
  Mailbox<Growth> witnessed;
  const int32_t iWitness = OrbApp::RegMess(
      u"OrbKernelDynDataSecGrow", [&](int64_t liCmd, int64_t liPar, const void*, const void*) {
        witnessed.Put({liCmd, liPar});
      });
  // Growths already queued may still arrive until the withdrawal, which
  // waits for a delivery in progress.
  ASSERT_TRUE(OrbApp::UnRegMess(iId));
  const size_t uiDelivered = growths.Now().size();
  const int64_t liLastBefore = growths.Now().back().liStatus;
  AddCompetitors(file, 2000, 20000);
  // Growths come in order: a later status was delivered after the withdrawal.
  const std::vector<Growth> later = witnessed.WaitUntil([&](const std::vector<Growth>& values) {
    return !values.empty() && values.back().liStatus > liLastBefore;
  });
  file.UnLoad();
  OrbApp::UnRegMess(iWitness);
  ASSERT_FALSE(later.empty());
  EXPECT_GT(later.back().liStatus, liLastBefore);
  EXPECT_EQ(growths.Now().size(), uiDelivered);
}

TEST(FrameworkServicesTest, ACallbackEntryReachesItsObjectOnTheKernelThread) {
  struct Update {
    int32_t iObject;
    std::string csText;
    std::thread::id thread;
  };
  Mailbox<Update> updates;
  KxUpdateUmCallBack callback([&](int32_t iObject, uint64_t uiInfo) {
    if (uiInfo == 0) return;  // updates lost: nothing to read
    const auto& record = *reinterpret_cast<const KxUpdateRecord*>(uiInfo);
    updates.Put({iObject, std::string(record.text, record.textLength), std::this_thread::get_id()});
  });
  CkxVarnoxFT_COMPETITORS file;
  ASSERT_GT(file.OpenUnm(KernelScratch::Get().Path("services-update.orb").c_str(), nullptr, nullptr,
                         "rw", "", true, nullptr, 0, 0, callback.GetNativeEntry()),
            0);
  file.m_CompetitorsStringMap.UpdateID(0, nullptr, "lane %d", 4);
  const std::vector<Update> seen =
      updates.WaitUntil([](const std::vector<Update>& values) { return !values.empty(); });
  file.UnLoad();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].iObject, 0);
  EXPECT_EQ(seen[0].csText, "lane 4");
  EXPECT_NE(seen[0].thread, std::this_thread::get_id());
}

}  // namespace
