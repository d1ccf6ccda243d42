// The file-wide NGE and NGM locks across processes, and index objects.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <string>

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

// Takes the file's NGE lock on another thread; ready once it got it.
std::future<void> TakeLock(CkxDtb2File& file) {
  return std::async(std::launch::async, [&file] { file.GetNGELock(); });
}

TEST(FileLock, NgeIsExclusiveAcrossProcessesAndFreedWhenItsHolderDies) {
  const std::string csPath = KernelScratch::Get().Path("locked.orb");
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
