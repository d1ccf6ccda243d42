// I/O faults during a save, injected through the engine's file seam
// (KxSaveIo) of the engine linked into this test: the Nth write, the fsync,
// the rename or the directory fsync of a save fails, or the saving process
// dies there. Every such save reports failure, leaves no temporary file, does
// not retry an fsync, and is followed by a save that succeeds; until the
// rename, the target keeps its old bytes, after it the new ones, whole.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "kernel/KxSavedFile.h"
#include "kernel/KxXml.h"
#include "tests/kernel/KernelEngineSupport.h"
#include "tests/kernel/KernelTestSupport.h"

namespace {

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

enum SaveOp { kWrite, kFsync, kRename, kFsyncDir, kSaveOps };
const char* const kOpNames[kSaveOps] = {"write", "fsync", "rename", "directory fsync"};

enum class Fault {
  kError,        // the call fails (ENOSPC for a write, EIO otherwise)
  kNoProgress,   // a write that writes nothing
  kInterrupted,  // a write interrupted before it wrote anything (EINTR)
  kKilled,       // the process dies at the call (as SIGKILL would end it)
};
constexpr int kKilledExit = 77;

// Writes go out in pieces of this size, so that a save makes many writes
// and a short write is the normal case.
constexpr size_t kWriteChunk = 4096;

// What the seam saw during one save, and the fault it injects: call
// `iFailAt` (1-based) of operation `eFailOp`.
struct SeamRecord {
  SaveOp eFailOp = kWrite;
  int iFailAt = 0;  // 0: no fault
  Fault eFault = Fault::kError;
  int aCalls[kSaveOps] = {};
  std::vector<std::pair<int, off_t>> writes;  // descriptor and file offset of each write
  std::vector<int> fsyncs;                    // descriptor of each fsync
};
SeamRecord g_Seam;

// Starts a new record for the next save, failing call `iFailAt` of `eOp`.
void Inject(SaveOp eOp, int iFailAt, Fault eFault) {
  g_Seam = SeamRecord{};
  g_Seam.eFailOp = eOp;
  g_Seam.iFailAt = iFailAt;
  g_Seam.eFault = eFault;
}

bool Fires(SaveOp eOp) {
  const bool bFires = ++g_Seam.aCalls[eOp] == g_Seam.iFailAt && g_Seam.eFailOp == eOp;
  if (bFires && g_Seam.eFault == Fault::kKilled) _exit(kKilledExit);
  return bFires;
}

ssize_t SeamWrite(int iFd, const void* p, size_t uiBytes) {
  g_Seam.writes.emplace_back(iFd, lseek(iFd, 0, SEEK_CUR));
  if (Fires(kWrite)) {
    switch (g_Seam.eFault) {
      case Fault::kError:
        errno = ENOSPC;
        return -1;
      case Fault::kNoProgress:
        return 0;
      case Fault::kInterrupted:
        errno = EINTR;
        return -1;
      case Fault::kKilled:
        break;
    }
  }
  return ::write(iFd, p, std::min(uiBytes, kWriteChunk));
}

// The fsync, rename and directory fsync: EIO when the fault fires, else the
// system call.
template <SaveOp eOp, auto call, class... A>
int SeamCall(A... args) {
  if (!Fires(eOp)) return call(args...);
  errno = EIO;
  return -1;
}

int SeamFsync(int iFd) {
  g_Seam.fsyncs.push_back(iFd);
  return SeamCall<kFsync, ::fsync>(iFd);
}

const KxFileIo kSeam{SeamWrite, SeamFsync, SeamCall<kRename, ::rename, const char*, const char*>,
                     SeamCall<kFsyncDir, ::fsync, int>};

// Where a save goes: the file's own path (keeping the old file as .bak or
// not), or another path that holds no file yet.
struct Target {
  const char* csName;
  bool bKeepOld;
  bool bAnotherPath;
};
void PrintTo(const Target& target, std::ostream* pOut) { *pOut << target.csName; }
const Target kTargets[] = {
    {"OwnPath", false, false}, {"OwnPathKeepingOld", true, false}, {"AnotherPath", false, true}};

constexpr uint32_t kCompetitors = 150;

class SaveFault : public ::testing::TestWithParam<Target> {
 protected:
  void SetUp() override {
    KxSaveIo() = kSeam;
    m_csDir = FreshDir("save-" + std::to_string(++s_iTests));
    m_csPath = m_csDir + "/competitors.orb";
    m_pFile = EngineOpen(m_csPath, "FT_COMPETITORS", true);
    m_pCompetitors = std::make_unique<EngineCompetitors>(*m_pFile);
    m_pCompetitors->Set(kCompetitors, m_iGeneration);
    std::string csWhy;
    ASSERT_TRUE(m_pFile->Save("", false, csWhy)) << csWhy;
  }

  void TearDown() override {
    KxSaveIo() = KxSystemIo();
    m_pCompetitors.reset();
    m_pFile.reset();
  }

  const Target& TargetOf() const { return GetParam(); }
  std::string TargetPath() const {
    return TargetOf().bAnotherPath ? m_csDir + "/another.orb" : m_csPath;
  }

  bool Save(std::string& csWhy) {
    return m_pFile->Save(TargetOf().bAnotherPath ? TargetPath() : "", TargetOf().bKeepOld, csWhy);
  }

  // How many writes a save of the current content makes.
  int WritesPerSave() {
    std::string csWhy;
    Inject(kWrite, 0, Fault::kError);
    if (!m_pFile->Save(m_csDir + "/reference.orb", false, csWhy)) throw std::runtime_error(csWhy);
    return g_Seam.aCalls[kWrite];
  }

  // Changes the content, then saves with call `iFailAt` of `eOp` failing
  // (or, for kKilled, the saving process dying there, in a child), and
  // checks the failed save, the files it left and the save after it.
  void FailOneSave(SaveOp eOp, int iFailAt, Fault eFault) {
    SCOPED_TRACE(std::string(kOpNames[eOp]) + " " + std::to_string(iFailAt) + " of the save " +
                 (eFault == Fault::kKilled ? "kills it" : "fails"));
    const bool bExists = std::filesystem::exists(TargetPath());
    const std::string old = Slurp(TargetPath());  // "" when there is none
    m_pCompetitors->Set(kCompetitors, ++m_iGeneration);
    // What the target holds after a save of the new content.
    std::string csWhy;
    const std::string csReference = m_csDir + "/reference.orb";
    Inject(kWrite, 0, Fault::kError);
    ASSERT_TRUE(m_pFile->Save(csReference, false, csWhy)) << csWhy;
    const std::string fresh = Slurp(csReference);
    ASSERT_NE(fresh, old);

    Inject(eOp, iFailAt, eFault);
    if (eFault == Fault::kKilled) {
      ASSERT_EQ(ForkedChild([&] { return Save(csWhy) ? 0 : 1; }).Wait(), kKilledExit);
    } else {
      EXPECT_FALSE(Save(csWhy));
      EXPECT_NE(csWhy.find(std::string(kOpNames[eOp]) + " failed"), std::string::npos) << csWhy;
      // The save stopped at the failed call.
      EXPECT_EQ(g_Seam.aCalls[eOp], iFailAt);
      for (int iOp = eOp + 1; iOp < kSaveOps; ++iOp) {
        EXPECT_EQ(g_Seam.aCalls[iOp], 0) << kOpNames[iOp];
      }
    }
    if (eOp == kFsync && eFault != Fault::kKilled) {
      // Never retried: the descriptor is closed and the data written again
      // by the next save, into a new temporary file.
      ASSERT_EQ(g_Seam.fsyncs.size(), 1u);
      EXPECT_EQ(fcntl(g_Seam.fsyncs[0], F_GETFD), -1);
    }
    if (eOp == kFsyncDir) {
      // The rename has replaced the target with the new file, whole: the
      // old file cannot come back by any atomic step. The save still fails,
      // because the new name may not survive a power cut (which would bring
      // back the old file, whole); the caller must save again.
      EXPECT_TRUE(Slurp(TargetPath()) == fresh);
    } else if (bExists) {
      EXPECT_TRUE(Slurp(TargetPath()) == old) << "the old file was changed";
    } else {
      EXPECT_FALSE(std::filesystem::exists(TargetPath())) << "a failed save made a file";
    }
    if (TargetOf().bKeepOld) {
      EXPECT_TRUE(Slurp(TargetPath() + ".bak") == old);
    }
    // A killed save leaves its temporary file for the next save to remove.
    if (eFault != Fault::kKilled) {
      EXPECT_EQ(EntriesWith(m_csDir, ".saving."), std::vector<std::string>{});
    }

    // The next save writes a new temporary file from its first byte, fsyncs
    // it once and succeeds.
    Inject(kWrite, 0, Fault::kError);
    ASSERT_TRUE(Save(csWhy)) << csWhy;
    ASSERT_FALSE(g_Seam.writes.empty());
    const int iFd = g_Seam.writes.front().first;
    off_t liExpected = 0;
    for (const auto& [iWriteFd, liOffset] : g_Seam.writes) {
      EXPECT_EQ(iWriteFd, iFd);
      EXPECT_EQ(liOffset, liExpected);
      liExpected = std::min<off_t>(liExpected + static_cast<off_t>(kWriteChunk),
                                   static_cast<off_t>(fresh.size()));
    }
    EXPECT_EQ(g_Seam.fsyncs, std::vector<int>{iFd});
    // (The recovery after a kill may lay the storage out otherwise.)
    if (eFault != Fault::kKilled) {
      EXPECT_TRUE(Slurp(TargetPath()) == fresh);
    }
    EXPECT_EQ(EntriesWith(m_csDir, ".saving."), std::vector<std::string>{});
    if (TargetOf().bAnotherPath) std::filesystem::remove(TargetPath());
  }

  static int s_iTests;
  std::string m_csDir;
  std::string m_csPath;
  std::shared_ptr<KxLiveFile> m_pFile;
  std::unique_ptr<EngineCompetitors> m_pCompetitors;
  int32_t m_iGeneration = 1;
};

int SaveFault::s_iTests = 0;

TEST_P(SaveFault, EveryFailedWriteFailsTheSave) {
  const int iWrites = WritesPerSave();
  ASSERT_GT(iWrites, 8) << "the file is too small to fail many writes";
  RecordProperty("writes_per_save", iWrites);
  for (Fault eFault : {Fault::kError, Fault::kNoProgress}) {
    for (int iFailAt = 1; iFailAt <= iWrites; ++iFailAt) {
      FailOneSave(kWrite, iFailAt, eFault);
      if (HasFatalFailure()) return;
    }
  }
}

// A save killed at any call of the seam (before the first write, between
// writes, before the fsync, the rename or the directory fsync) leaves the old
// file, or once renamed the new one, whole; the next save clears up after it.
TEST_P(SaveFault, AKillAtAnyCallLeavesTheOldFileOrTheNewWhole) {
  const int iWrites = WritesPerSave();
  for (SaveOp eOp : {kWrite, kFsync, kRename, kFsyncDir}) {
    for (int iKillAt = 1; iKillAt <= (eOp == kWrite ? iWrites : 1); ++iKillAt) {
      FailOneSave(eOp, iKillAt, Fault::kKilled);
      if (HasFatalFailure()) return;
    }
  }
}

TEST_P(SaveFault, AFailedFsyncRenameOrDirectoryFsyncFailsTheSave) {
  for (SaveOp eOp : {kFsync, kRename, kFsyncDir}) FailOneSave(eOp, 1, Fault::kError);
}

// A write interrupted before it wrote anything is not a fault: the save
// carries on and writes the same bytes as an uninterrupted one.
TEST_P(SaveFault, InterruptedWritesAreResumed) {
  const int iWrites = WritesPerSave();
  const std::string reference = Slurp(m_csDir + "/reference.orb");
  for (int iFailAt : {1, iWrites / 2, iWrites}) {
    Inject(kWrite, iFailAt, Fault::kInterrupted);
    std::string csWhy;
    EXPECT_TRUE(Save(csWhy)) << csWhy;
    EXPECT_EQ(g_Seam.aCalls[kWrite], iWrites + 1);
    EXPECT_TRUE(Slurp(TargetPath()) == reference);
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, SaveFault, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<Target>& target) {
                           return std::string(target.param.csName);
                         });

// A save or an export cut short by a crash leaves its temporary file; the
// next save or export beside it removes those whose process is gone, and
// leaves those of running processes and every other file alone.
TEST(SaveFaultSeam, TemporaryFilesOfDeadProcessesAreRemoved) {
  const std::string csDir = FreshDir("abandoned");
  const std::string csPath = csDir + "/competitors.orb";
  std::shared_ptr<KxLiveFile> pFile = EngineOpen(csPath, "FT_COMPETITORS", true);
  EngineCompetitors(*pFile).Set(3, 1);
  ForkedChild dead([] { return 0; });
  ASSERT_EQ(dead.Wait(), 0);
  const std::string csDead = std::to_string(dead.Pid());
  const std::vector<std::string> kept = {csPath + ".saving.1", csPath + ".saving.x" + csDead,
                                         csDir + "/other.orb.saving." + csDead,
                                         csDir + "/meet.xml.part.1"};
  for (const std::string& csName :
       {csPath + ".saving." + csDead, csDir + "/meet.xml.part." + csDead}) {
    Spit(csName, "123");
  }
  for (const std::string& csName : kept) Spit(csName, "4");

  std::string csWhy;
  ASSERT_TRUE(pFile->Save("", false, csWhy)) << csWhy;
  EXPECT_FALSE(std::filesystem::exists(csPath + ".saving." + csDead));
  EXPECT_TRUE(std::filesystem::exists(csDir + "/meet.xml.part." + csDead)) << "not beside the save";
  ASSERT_TRUE(KxExportXml(*pFile, kKxWholeFile, csDir + "/meet.xml", csWhy)) << csWhy;
  EXPECT_FALSE(std::filesystem::exists(csDir + "/meet.xml.part." + csDead));
  for (const std::string& csName : kept) EXPECT_TRUE(std::filesystem::exists(csName)) << csName;
}

}  // namespace
