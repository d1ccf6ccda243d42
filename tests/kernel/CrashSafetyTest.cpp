// A process killed (SIGKILL) at random points of a save (serialising, a
// write, the fsync, the rename, the directory fsync, between saves): the file
// always opens in a fresh process holding the last generation saved before
// the kill or the one being saved, whole. The saving child's file seam
// reports its progress in shared memory, so the kill point tells which
// generations the file may hold. (A writer killed under the segment's mutex:
// RecoveryTest.)
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <string>

#include "kernel/KxSavedFile.h"
#include "templates/Varnox.h"
#include "tests/kernel/KernelEngineSupport.h"
#include "tests/kernel/KernelTestSupport.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

// Large enough that a save takes a few milliseconds and many writes.
constexpr uint32_t kBaseCount = 8000;
constexpr uint32_t kExtraCount = 1000;
constexpr size_t kWriteChunk = 64 * 1024;
constexpr int kKillsInsideASave = 50;
constexpr int kMostKills = 150;

uint32_t CountOf(uint32_t uiGeneration) { return kBaseCount + (uiGeneration % 2) * kExtraCount; }

// What the saving child is doing.
enum Phase : uint32_t {
  kChanging,     // changing the content between saves
  kSerialising,  // in Save, before the first write
  kWriting,
  kFsyncing,
  kRenaming,
  kRenamed,  // the rename returned
  kFsyncingDir,
  kPhases
};
const char* const kPhaseNames[kPhases] = {"between saves",  "serialising", "writing",
                                          "fsync",          "rename",      "after rename",
                                          "directory fsync"};

// Written by the child, read by the parent.
struct CrashProbe {
  std::atomic<uint32_t> uiPhase;
  std::atomic<uint32_t> uiSaves;   // saves the child has begun
  std::atomic<uint32_t> uiWrites;  // writes of the current save
  std::atomic<uint32_t> uiSaved;   // generation of the last save that returned
  std::atomic<uint32_t> uiSaving;  // generation being saved
};
CrashProbe* g_pProbe = nullptr;

ssize_t ProbeWrite(int iFd, const void* p, size_t uiBytes) {
  g_pProbe->uiPhase = kWriting;
  ++g_pProbe->uiWrites;
  return ::write(iFd, p, std::min(uiBytes, kWriteChunk));
}

int ProbeFsync(int iFd) {
  g_pProbe->uiPhase = kFsyncing;
  return ::fsync(iFd);
}

int ProbeRename(const char* csFrom, const char* csTo) {
  g_pProbe->uiPhase = kRenaming;
  const int iResult = ::rename(csFrom, csTo);
  if (iResult == 0) g_pProbe->uiPhase = kRenamed;
  return iResult;
}

int ProbeFsyncDir(int iFd) {
  g_pProbe->uiPhase = kFsyncingDir;
  return ::fsync(iFd);
}

// A point of the child's work to strike at: save `uiSave` (1 or 2) in
// `ePhase` (kChanging: after it), and for kWriting its `uiWrite`th write.
struct Strike {
  uint32_t uiSave;
  Phase ePhase;
  uint32_t uiWrite;

  bool Reached(const CrashProbe& probe) const {
    const uint32_t uiSaves = probe.uiSaves;
    const uint32_t uiPhase = probe.uiPhase;
    if (uiSaves != uiSave) return uiSaves > uiSave;
    if (uiPhase == kChanging) return true;  // save uiSave is over
    if (ePhase == kChanging) return false;
    return uiPhase > ePhase ||
           (uiPhase == ePhase && (ePhase != kWriting || probe.uiWrites >= uiWrite));
  }
};

// The saving child: saves generation after generation until it is killed.
[[noreturn]] void SaveUntilKilled(const std::string& csPath, uint32_t uiGeneration, bool bKeepOld) {
  try {
    KxSaveIo() = KxFileIo{ProbeWrite, ProbeFsync, ProbeRename, ProbeFsyncDir};
    std::shared_ptr<KxLiveFile> pFile = EngineOpen(csPath, "FT_COMPETITORS", false);
    EngineCompetitors competitors(*pFile);
    for (;;) {
      g_pProbe->uiPhase = kChanging;
      ++uiGeneration;
      competitors.Set(CountOf(uiGeneration), static_cast<int32_t>(uiGeneration));
      g_pProbe->uiSaving = uiGeneration;
      g_pProbe->uiWrites = 0;
      ++g_pProbe->uiSaves;
      g_pProbe->uiPhase = kSerialising;
      std::string csWhy;
      if (!pFile->Save("", bKeepOld, csWhy)) {
        std::fprintf(stderr, "save failed: %s\n", csWhy.c_str());
        _exit(2);
      }
      g_pProbe->uiSaved = uiGeneration;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "saving child: %s\n", e.what());
  }
  _exit(3);
}

// Opens the file through the native face and prints the generation it
// holds; exits non-zero when it does not open or is not one generation whole.
void ReportGeneration(const std::string& csPath) {
  CkxVarnoxFT_COMPETITORS file;
  const int32_t iId =
      file.OpenUnm(csPath.c_str(), nullptr, nullptr, "rw", "", false, nullptr, 0, 0, nullptr);
  if (iId <= 0) {
    std::fprintf(stderr, "open refused (%d)\n", iId);
    std::exit(3);
  }
  auto& map = file.m_CompetitorsStringMap.m_Container;
  const uint32_t uiHead = map(D2MapCmd::Head, 0, nullptr);
  if (uiHead == 0) std::exit(4);
  const int32_t iGeneration = map[uiHead].CategoryId;
  uint32_t uiKey = 0;
  for (uint32_t h = uiHead; h != 0; h = map(D2MapCmd::Next, h, nullptr)) {
    ++uiKey;
    int iLength = 0;
    const char16_t* pName = map[h].Name.GetNet(&iLength);
    if (map[h].CategoryId != iGeneration || map[h].CompetitorId != static_cast<int32_t>(uiKey) ||
        std::u16string(pName, iLength > 0 ? iLength : 0) != EngineCompetitors::NameOf(uiKey)) {
      std::fprintf(stderr, "record %u is not of generation %d\n", uiKey, iGeneration);
      std::exit(5);
    }
  }
  if (uiKey != map.GetCount() || uiKey != CountOf(static_cast<uint32_t>(iGeneration))) {
    std::fprintf(stderr, "%u records, count %u, generation %d\n", uiKey, map.GetCount(),
                 iGeneration);
    std::exit(6);
  }
  file.UnLoad();
  std::printf("%d", iGeneration);
}

TEST(CrashSafety, AKillDuringSaveLeavesTheOldFileOrTheNewWhole) {
  Shared<CrashProbe> probe;
  g_pProbe = &*probe;

  const std::string csDir = KernelScratch::Get().Path("crash");
  std::filesystem::create_directories(csDir);
  const std::string csPath = csDir + "/competitors.orb";
  uint32_t uiOnDisk = 1;
  {
    std::shared_ptr<KxLiveFile> pFile = EngineOpen(csPath, "FT_COMPETITORS", true);
    EngineCompetitors(*pFile).Set(CountOf(uiOnDisk), static_cast<int32_t>(uiOnDisk));
    std::string csWhy;
    ASSERT_TRUE(pFile->Save("", false, csWhy)) << csWhy;
  }
  // Writes of the smaller of the two sizes the file takes.
  const uint32_t uiWrites = static_cast<uint32_t>(ReadBytes(csPath).size() / kWriteChunk) * 8 / 9;

  const unsigned uiSeed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(uiSeed));
  std::mt19937 random(uiSeed);
  int iInside = 0;
  int iKills = 0;
  for (; iKills < kMostKills && iInside < kKillsInsideASave; ++iKills) {
    g_pProbe->uiPhase = kChanging;
    g_pProbe->uiSaved = uiOnDisk;
    g_pProbe->uiSaving = uiOnDisk;
    g_pProbe->uiSaves = 0;
    // Where to strike: a point of the first or second save, then a random
    // while longer (longer between saves, where the child changes records).
    const Phase aPoints[] = {kSerialising, kWriting,     kFsyncing, kRenaming,
                             kRenamed,     kFsyncingDir, kChanging};
    const Strike strike{static_cast<uint32_t>(1 + random() % 2),
                        aPoints[random() % std::size(aPoints)],
                        static_cast<uint32_t>(1 + random() % uiWrites)};
    // At once half of the time: the windows after the rename are short.
    const long liDelayUs =
        random() % 2 == 0 ? 0
                          : static_cast<long>(random() % (strike.ePhase == kChanging ? 2000 : 300));
    const bool bKeepOld = random() % 3 == 0;

    ForkedChild saver([&]() -> int { SaveUntilKilled(csPath, uiOnDisk, bKeepOld); });
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!strike.Reached(*g_pProbe) && saver.Running() &&
           std::chrono::steady_clock::now() < giveUp) {
      sched_yield();
    }
    const timespec delay{0, liDelayUs * 1000};
    if (liDelayUs != 0) nanosleep(&delay, nullptr);
    ASSERT_EQ(saver.Kill(), 128 + SIGKILL) << "the saving child ended by itself";

    const uint32_t uiPhase = g_pProbe->uiPhase;
    const uint32_t uiSaved = g_pProbe->uiSaved;
    const uint32_t uiSaving = g_pProbe->uiSaving;
    std::set<uint32_t> expected{uiSaved};
    if (uiPhase == kRenaming) expected.insert(uiSaving);
    if (uiPhase == kRenamed || uiPhase == kFsyncingDir) expected = {uiSaving};
    if (uiPhase != kChanging && uiSaving != uiSaved) ++iInside;

    const TkChildResult opened = TkRunChild([&] { ReportGeneration(csPath); }, 20000);
    ASSERT_EQ(opened.exitCode, 0) << "after a kill " << kPhaseNames[uiPhase] << " of generation "
                                  << uiSaving << ": " << opened.err << KernelScratch::Get().Log();
    const uint32_t uiFound = static_cast<uint32_t>(std::stoul(opened.out));
    EXPECT_TRUE(expected.count(uiFound) == 1)
        << "killed " << kPhaseNames[uiPhase] << " saving generation " << uiSaving << " over "
        << uiSaved << ": the file holds generation " << uiFound;
    uiOnDisk = uiFound;

    // The previous file kept as .bak is whole.
    if (std::filesystem::exists(csPath + ".bak")) {
      KxLoadedFile loaded;
      std::string csWhy;
      EXPECT_EQ(KxReadSavedFile(csPath + ".bak", "Varnox", "FT_COMPETITORS", loaded, csWhy), 0)
          << csWhy;
    }
  }

  EXPECT_GE(iInside, kKillsInsideASave) << iKills << " kills";

  std::shared_ptr<KxLiveFile> pFile = EngineOpen(csPath, "FT_COMPETITORS", false);
  std::string csWhy;
  ASSERT_TRUE(pFile->Save("", false, csWhy)) << csWhy;
  EXPECT_EQ(EntriesWith(csDir, ".saving."), std::vector<std::string>{});
}

}  // namespace
