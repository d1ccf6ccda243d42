// The file-wide NGE and NGM locks across processes, and index objects.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "templates/Varnox.h"
#include "tests/kernel/KernelTestSupport.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

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

// Takes the lock on another thread and tells when it got it.
class Taker {
 public:
  explicit Taker(CkxDtb2File& file)
      : m_Thread([this, &file] {
          file.GetNGELock();
          std::lock_guard<std::mutex> lock(m_Mutex);
          m_bTaken = true;
          m_Changed.notify_all();
        }) {}
  ~Taker() { m_Thread.join(); }
  bool TakenWithin(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(m_Mutex);
    return m_Changed.wait_for(lock, wait, [&] { return m_bTaken; });
  }

 private:
  std::mutex m_Mutex;
  std::condition_variable m_Changed;
  bool m_bTaken = false;
  std::thread m_Thread;
};

TEST(FileLock, NgeIsExclusiveAcrossProcessesAndFreedWhenItsHolderDies) {
  const std::string csPath = KernelScratch::Get().Path("locked.orb");
  CkxVarnoxFT_COMPETITORS file;
  ASSERT_TRUE(OpenNative(file, csPath));
  {
    LockHolder holder(csPath);
    ASSERT_TRUE(holder.Held());
    Taker taker(file);
    EXPECT_FALSE(taker.TakenWithin(std::chrono::milliseconds(200)));  // the other process holds it
    holder.Release();
    EXPECT_TRUE(taker.TakenWithin(std::chrono::seconds(10)));
  }
  file.ReleaseNGELock();
  {
    LockHolder holder(csPath);
    ASSERT_TRUE(holder.Held());
    holder.Kill();
    Taker taker(file);
    EXPECT_TRUE(taker.TakenWithin(std::chrono::seconds(10)));
  }
  file.ReleaseNGELock();
  file.UnLoad();
}

TEST(FileLock, IndexObjectsRecordTheMembersOfTheirFile) {
  const std::string csPath = KernelScratch::Get().Path("indexed.orb");
  CkxVarnoxFT_GLOBALS file;
  ASSERT_TRUE(OpenNative(file, csPath));
  auto& styles = file.m_StylesDefault.m_Container;
  styles(D2MapCmd::Add, 1, nullptr);
  styles(D2MapCmd::Add, 2, nullptr);
  CkxD2ObjDim dim;
  file.GetObjInd(dim);
  file.SetObjInd(dim);
  EXPECT_EQ(KernelScratch::Get().Log().find("SetObjInd"), std::string::npos);

  CkxVarnoxFT_GLOBALS other;
  ASSERT_TRUE(OpenNative(other, KernelScratch::Get().Path("other.orb")));
  other.SetObjInd(dim);
  EXPECT_NE(KernelScratch::Get().Log().find("SetObjInd: the index object describes " + csPath +
                                            " PoolConfig=1 "
                                            "DistancesDefault=0 StylesDefault=2"),
            std::string::npos);
  other.UnLoad();
  file.UnLoad();
}

}  // namespace
