// The native face on the reference kernel with a second process (the peer,
// NotifyPeer.cpp): update notifications, growth messages and the file-wide
// NGE lock across processes; growth messages to the tasks the application
// registers for them; index objects. And the contract's handshake: the kernel
// grants each interface at most the version it implements (a newer library
// then falls back on the slots above it: FileBaseTest), and it refuses a
// library of another schema, at start-up and when it would attach to live
// data another process built under another schema or layout.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/KxItf.h"
#include "contracts/framework/OrbApp.h"
#include "kernel/KxEvents.h"
#include "kernel/KxSegment.h"
#include "templates/Varnox.h"
#include "templates/VarnoxSchema.h"
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

// Adds enough competitors to make the dynamic data grow.
void AddCompetitors(CkxVarnoxFT_COMPETITORS& file) {
  auto& map = file.m_CompetitorsStringMap.m_Container;
  for (uint64_t uiKey = 0; uiKey < 2000; ++uiKey)
    map[map(D2MapCmd::Add, uiKey, nullptr)].CompetitorId = 1;
}

class NotificationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::lock_guard<std::mutex> lock(g_Mutex);
    g_Received.clear();
    g_bHold = false;
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
  const std::string csPath = Scratch("notify.orb");
  CkxVarnoxFT_COMPETITORS file;
  ASSERT_TRUE(OpenNative(file, csPath, "rw", true, ThrowOnBoom));

  const TkChildResult writer = TkRunProgram({NOTIFY_PEER, "update", csPath, "10000"}, 60000);
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
  EXPECT_NE(KernelLog().find("OnUpdate failed: boom thrown"), std::string::npos);
  file.UnLoad();
}

TEST_F(NotificationTest, ASlowReaderIsToldHowManyUpdatesItMissed) {
  const std::string csPath = Scratch("slow.orb");
  CkxVarnoxFT_COMPETITORS file;
  ASSERT_TRUE(OpenNative(file, csPath, "rw", true, Collect));
  {
    std::lock_guard<std::mutex> lock(g_Mutex);
    g_bHold = true;  // the first delivery blocks the listener
  }
  const int iCount = KxEventRing::kCapacity + 5000;
  const TkChildResult writer =
      TkRunProgram({NOTIFY_PEER, "update", csPath, std::to_string(iCount)}, 60000);
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
    csLog = KernelLog();
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
  const int32_t iGrowing = growing.OpenUnm(Scratch("grow.orb").c_str(), nullptr, nullptr, "rw", "",
                                           true, nullptr, 0, 0, nullptr);
  ASSERT_TRUE(OpenNative(quiet, Scratch("quiet.orb")));
  AddCompetitors(growing);

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
    bLogged = KernelLog().find(csFirstLine) != std::string::npos;
    {
      std::lock_guard<std::mutex> lock(g_Mutex);
      bTold = !taskFiles.empty();
    }
    if (!(bAgreed && bLogged && bTold)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(OrbApp::UnRegMess(iTask));  // waits for a delivery in progress
  EXPECT_TRUE(bAgreed) << "handled " << growing.m_iDynGrowStatus << ", kernel "
                       << growing.GetDynGrowStatus();
  EXPECT_TRUE(bLogged) << KernelLog();
  EXPECT_EQ(quiet.m_iDynGrowStatus, 0);
  ASSERT_TRUE(bTold);
  for (const int64_t liFileId : taskFiles) EXPECT_EQ(liFileId, iGrowing);
  growing.UnLoad();
  quiet.UnLoad();
}

TEST_F(NotificationTest, GrowthAfterTheEndSkipsAFileDestroyedAfterTheEnd) {
  const std::string csPath = Scratch("ended.orb");
  auto pGone = std::make_unique<CkxVarnoxFT_COMPETITORS>();
  CkxVarnoxFT_COMPETITORS growing;
  ASSERT_TRUE(OpenNative(*pGone, csPath));
  ASSERT_TRUE(OpenNative(growing, csPath));
  KxEndCatAssembly();
  pGone.reset();  // its growth handler must not be reached any more

  AddCompetitors(growing);
  // The kernel counts a growth just before its listener hands it to every
  // registered handler in turn; unloading waits for the listener to finish.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline && growing.GetDynGrowStatus() <= 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  growing.UnLoad();
  EXPECT_GT(growing.m_iDynGrowStatus, 0);
  KxInitCatAssembly(false);
}

// The peer process holding the file's NGE lock until its input closes.
class LockHolder {
 public:
  explicit LockHolder(const std::string& csPath) {
    int aIn[2];
    int aOut[2];
    if (pipe(aIn) != 0 || pipe(aOut) != 0) return;
    m_pPeer = std::make_unique<ForkedChild>([&] {
      dup2(aIn[0], 0);
      dup2(aOut[1], 1);
      close(aIn[1]);
      close(aOut[0]);
      execl(NOTIFY_PEER, NOTIFY_PEER, "hold", csPath.c_str(), static_cast<char*>(nullptr));
      return 127;
    });
    close(aIn[0]);
    close(aOut[1]);
    m_iIn = aIn[1];
    m_pOut = fdopen(aOut[0], "r");
  }
  ~LockHolder() {
    Release();
    if (m_pOut != nullptr) fclose(m_pOut);
  }
  // Waits for the holder to say it holds the lock.
  bool Held() {
    char aLine[16] = {};
    return m_pOut != nullptr && std::fgets(aLine, sizeof aLine, m_pOut) != nullptr &&
           std::string(aLine) == "held\n";
  }
  // Lets it release the lock and end.
  void Release() {
    if (m_iIn >= 0) close(m_iIn);
    m_iIn = -1;
    if (m_pPeer) m_pPeer->Wait();
  }
  void Kill() {
    if (m_pPeer) m_pPeer->Kill();
  }

 private:
  std::unique_ptr<ForkedChild> m_pPeer;
  int m_iIn = -1;
  FILE* m_pOut = nullptr;
};

// Takes the file's NGE lock on another thread; ready once it got it.
std::future<void> TakeLock(CkxDtb2File& file) {
  return std::async(std::launch::async, [&file] { file.GetNGELock(); });
}

TEST(FileLock, NgeIsExclusiveAcrossProcessesAndFreedWhenItsHolderDies) {
  const std::string csPath = Scratch("locked.orb");
  CkxVarnoxFT_COMPETITORS file;
  ASSERT_TRUE(OpenNative(file, csPath));
  {
    LockHolder holder(csPath);
    ASSERT_TRUE(holder.Held());
    std::future<void> taken = TakeLock(file);
    // The other process holds it.
    EXPECT_EQ(taken.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    holder.Release();
    EXPECT_EQ(taken.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  }
  file.ReleaseNGELock();
  {
    LockHolder holder(csPath);
    ASSERT_TRUE(holder.Held());
    holder.Kill();
    EXPECT_EQ(TakeLock(file).wait_for(std::chrono::seconds(10)), std::future_status::ready);
  }
  file.ReleaseNGELock();
  file.UnLoad();
}

TEST(FileLock, IndexObjectsRecordTheMembersOfTheirFile) {
  const std::string csPath = Scratch("indexed.orb");
  CkxVarnoxFT_GLOBALS file;
  ASSERT_TRUE(OpenNative(file, csPath));
  auto& styles = file.m_StylesDefault.m_Container;
  styles(D2MapCmd::Add, 1, nullptr);
  styles(D2MapCmd::Add, 2, nullptr);
  CkxD2ObjDim dim;
  file.GetObjInd(dim);
  file.SetObjInd(dim);
  EXPECT_EQ(KernelLog().find("SetObjInd"), std::string::npos);

  CkxVarnoxFT_GLOBALS other;
  ASSERT_TRUE(OpenNative(other, Scratch("other.orb")));
  other.SetObjInd(dim);
  EXPECT_NE(KernelLog().find("SetObjInd: the index object describes " + csPath +
                             " PoolConfig=1 "
                             "DistancesDefault=0 StylesDefault=2"),
            std::string::npos);
  other.UnLoad();
  file.UnLoad();
}

struct Offer {
  const char* csComponent;
  const char* csInterface;
  uint32_t uiImplemented;  // the contract's version, which this kernel implements whole
};

class VersionCap : public ::testing::TestWithParam<Offer> {};

// Asks for the interface at `uiOffered` and answers the granted version.
uint32_t Granted(const Offer& offer, uint32_t uiOffered) {
  void* pItf = nullptr;
  uint32_t uiVersion = uiOffered;
  // The task interface reads its slot count from the extra argument.
  int32_t iSlotCount = 1;
  KxRequestInterface(offer.csComponent, offer.csInterface, 1, &pItf, uiVersion, &iSlotCount);
  // Slot 2 of every interface releases it.
  auto* pAny = static_cast<IkxDtbAccByStr*>(pItf);
  if (pAny != nullptr) pAny->ops->Release(pAny);
  return pItf != nullptr ? uiVersion : 0;
}

TEST_P(VersionCap, AnOfferAboveTheImplementedVersionIsCappedOneAtOrBelowIsGranted) {
  const Offer& offer = GetParam();
  EXPECT_EQ(Granted(offer, offer.uiImplemented + 7), offer.uiImplemented);
  EXPECT_EQ(Granted(offer, offer.uiImplemented), offer.uiImplemented);
  EXPECT_EQ(Granted(offer, 1), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Interfaces, VersionCap,
    ::testing::Values(Offer{KxNames::kBase, KxNames::kTask, IkxTaskOps::kVersion},
                      Offer{KxNames::kBase, KxNames::kTaskOnly, IkxTaskOnlyOps::kVersion},
                      Offer{KxNames::kBase, KxNames::kMessMan, IkxD2MessManOps::kVersion},
                      Offer{KxNames::kBase, KxNames::kDtbAccByStr, IkxDtbAccByStrOps::kVersion},
                      Offer{KxNames::kDtb2, KxNames::kConnection, IkxDtb2ConnectionOps::kVersion},
                      Offer{KxNames::kDtb2, KxNames::kFile, IkxDtb2FileOps::kVersion},
                      Offer{KxNames::kDtb2, KxNames::kObj, IkxDtb2ObjOps::kVersion}),
    [](const auto& param) { return std::string(param.param.csInterface); });

TEST(SchemaHandshake, TheKernelAcceptsItsOwnSchemaAndRefusesAnother) {
  KxItf<IkxDtb2Connection> connection;
  connection.Request(KxNames::kDtb2, KxNames::kConnection, 1);
  ASSERT_TRUE(connection.Grants<&IkxDtb2ConnectionOps::AcceptSchema>());

  uint64_t uiKernel = 0;
  EXPECT_TRUE(connection.Call<&IkxDtb2ConnectionOps::AcceptSchema>(false, kVarnoxSchemaFingerprint,
                                                                   &uiKernel));
  EXPECT_EQ(uiKernel, kVarnoxSchemaFingerprint);

  const size_t uiLogBefore = KernelLog().size();
  uiKernel = 0;
  EXPECT_FALSE(connection.Call<&IkxDtb2ConnectionOps::AcceptSchema>(
      true, kVarnoxSchemaFingerprint + 1, &uiKernel));
  EXPECT_EQ(uiKernel, kVarnoxSchemaFingerprint);
  EXPECT_NE(KernelLog().find("built from another schema was refused", uiLogBefore),
            std::string::npos);
  connection.Release();
}

// The live data of an open file says which layout it was built for; a
// process whose kernel lays the file out otherwise is refused instead of
// attaching. Here the live data claims another layout, and a second process
// opens the file.
TEST(SchemaHandshake, ASecondProcessOfAnotherSchemaDoesNotAttach) {
  const std::string csPath = Scratch("shared.orb");
  CkxVarnoxFT_COMPETITORS file;
  ASSERT_TRUE(OpenNative(file, csPath));
  std::string csSchema;
  for (const auto& entry : std::filesystem::directory_iterator(Scratch("live"))) {
    if (std::filesystem::exists(entry.path() / "schema")) csSchema = entry.path() / "schema";
  }
  ASSERT_FALSE(csSchema.empty()) << "the live data does not say its layout";
  const uint64_t uiOther = 0x0123456789ABCDEFull;
  std::ofstream(csSchema, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(&uiOther), sizeof uiOther);

  const size_t uiLogBefore = KernelLog().size();
  const TkChildResult peer = TkRunProgram({NOTIFY_PEER, "update", csPath, "1"}, 60000);
  EXPECT_EQ(peer.exitCode, 3) << "the second process opened the file";
  const std::string csLog = KernelLog().substr(uiLogBefore);
  EXPECT_NE(csLog.find("refused (" + std::to_string(KxOpenOtherSchema) + "): " + csPath +
                       " is open in another process by a library of another schema"),
            std::string::npos)
      << csLog;
  file.UnLoad();
}

// The shared headers of a live directory carry a version beside their
// magic (the word after it): a kernel of another live layout is refused with
// a reason that says so, not misread.
struct LiveHeader {
  const char* csName;
  std::function<void(const std::string&)> create;
  std::function<void(const std::string&)> attach;
};

class LiveVersion : public ::testing::TestWithParam<LiveHeader> {};

TEST_P(LiveVersion, AnotherVersionIsRefusedWithTheReason) {
  const std::string csPath = Scratch(std::string("header-") + GetParam().csName);
  GetParam().create(csPath);
  EXPECT_NO_THROW(GetParam().attach(csPath));

  const uint32_t uiVersion = 2989;
  const int iFd = open(csPath.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(iFd, 0);
  EXPECT_EQ(pwrite(iFd, &uiVersion, sizeof uiVersion, 4), static_cast<ssize_t>(sizeof uiVersion));
  close(iFd);
  EXPECT_THAT([&] { GetParam().attach(csPath); },
              ::testing::ThrowsMessage<std::runtime_error>(
                  ::testing::HasSubstr("live layout version 2989, this kernel reads version")));
}

INSTANTIATE_TEST_SUITE_P(
    Headers, LiveVersion,
    ::testing::Values(LiveHeader{"Segment", [](const std::string& cs) { KxSegment::Create(cs, 1); },
                                 [](const std::string& cs) { KxSegment::Attach(cs); }},
                      LiveHeader{"EventRing",
                                 [](const std::string& cs) { KxEventRing::Create(cs); },
                                 [](const std::string& cs) { KxEventRing::Attach(cs); }}),
    NameOfCase);

}  // namespace
