// Notification latency between two processes: from an update published
// with UpdateID in this process to the OnUpdate of the peer process (which
// answers, so that the next update waits for it), and to the PropertyChanged
// of a view model in a peer that follows the file through a data context,
// beside the floor of a futex ping-pong between two processes. The counters give the one-way
// latency seen by the receiving process, median and 99th percentile; the
// time per iteration is half a round trip.
#include <benchmark/benchmark.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "templates/Varnox.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The native face on the reference kernel, started once for the process.
const std::string& ScratchDir() {
  static const std::string csDir = [] {
    char aTemplate[] = "/tmp/varnox-bench-XXXXXX";
    const std::string csMade = mkdtemp(aTemplate);
    std::filesystem::create_directories(csMade + "/live");
    setenv("VARNOX_LIVE_DIR", (csMade + "/live").c_str(), 0);
    setenv("VARNOX_KERNEL_LOG", (csMade + "/kernel.log").c_str(), 0);
    setenv("KxOrb64", VARNOX_ORB_ROOT, 0);
    if (pTasks == nullptr) KxInitCatAssembly(false);
    return csMade;
  }();
  return csDir;
}

std::atomic<int> g_iPongs{0};

void CountPongs(int32_t, uint64_t uliInfo) {
  if (uliInfo == 0) return;  // updates lost: nothing to read
  const KxUpdateRecord& info = *reinterpret_cast<const KxUpdateRecord*>(uliInfo);
  if (std::string(info.text, info.textLength) != "pong") return;
  g_iPongs.fetch_add(1, std::memory_order_release);
  g_iPongs.notify_all();
}

// Waits for the answer as the floor's peer does: on a futex-like wait, the
// C++ atomic wait.
void WaitForPongs(int iWanted) {
  for (int iNow = g_iPongs.load(std::memory_order_acquire); iNow < iWanted;
       iNow = g_iPongs.load()) {
    g_iPongs.wait(iNow);
  }
}

// Pings `argv`, a peer process that answers every ping with a pong, on a
// competitors file holding one competitor: `beforePing` runs on the file
// before each ping (a change of the competitor, for a peer that waits for
// one). The peer says "ready" once it follows the file and, on "stop", the
// median and 99th percentile of the one-way latencies it saw.
void PingPongWithPeer(benchmark::State& state, const std::string& csPath,
                      std::vector<std::string> argv,
                      const std::function<void(CkxVarnoxFT_COMPETITORS&, int)>& beforePing) {
  CkxVarnoxFT_COMPETITORS file;
  if (file.OpenUnm(csPath.c_str(), nullptr, nullptr, "rw", "", true, nullptr, 0, 0, CountPongs) <=
      0) {
    state.SkipWithError("cannot open the file");
    return;
  }
  file.m_CompetitorsStringMap.m_Container(D2MapCmd::Add, 1, nullptr);
  int aOut[2];
  if (pipe(aOut) != 0) return;
  const pid_t peer = fork();
  if (peer == 0) {
    dup2(aOut[1], 1);
    std::vector<char*> args;
    for (auto& csArg : argv) args.push_back(csArg.data());
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(aOut[1]);
  FILE* pOut = fdopen(aOut[0], "r");
  char aLine[16] = {};
  if (std::fgets(aLine, sizeof aLine, pOut) == nullptr) {
    state.SkipWithError("the peer did not start");
    return;
  }
  CkxDtb2Obj& member = file.m_CompetitorsStringMap;
  int iPing = 0;
  for (auto _ : state) {
    const int iWanted = g_iPongs.load() + 1;
    const auto start = Clock::now();
    beforePing(file, ++iPing);
    member.UpdateID(0, nullptr, "ping %lld", static_cast<long long>(NowNs()));
    WaitForPongs(iWanted);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count() / 2);
  }
  member.UpdateID(0, nullptr, "stop");
  long long llMedian = 0;
  long long llP99 = 0;
  int iUnmeasured = 0;
  const int iRead = std::fscanf(pOut, "%lld %lld %d", &llMedian, &llP99, &iUnmeasured);
  if (iRead >= 2) {
    state.counters["oneway_p50_ns"] = static_cast<double>(llMedian);
    state.counters["oneway_p99_ns"] = static_cast<double>(llP99);
  }
  // A peer that may see a change before its ping says how many it did.
  if (iRead == 3) state.counters["unmeasured"] = iUnmeasured;
  waitpid(peer, nullptr, 0);
  fclose(pOut);
  file.UnLoad();
}

// The kernel's notification alone: the peer answers from its OnUpdate.
void BM_UpdateNotificationBetweenProcesses(benchmark::State& state) {
  PingPongWithPeer(state, ScratchDir() + "/notify.orb",
                   {NOTIFY_PEER, "echo", ScratchDir() + "/notify.orb"},
                   [](CkxVarnoxFT_COMPETITORS&, int) {});
}
BENCHMARK(BM_UpdateNotificationBetweenProcesses)->UseManualTime()->Iterations(3000);

// Through the view models: this process changes the competitor's CategoryId
// and pings; the peer follows the file through a data context with kernel
// notifications and answers from the PropertyChanged of the competitor's
// view model. Its one-way latency runs from the ping's time to that event.
void BM_ViewModelNotificationBetweenProcesses(benchmark::State& state) {
  const std::string csPath = ScratchDir() + "/notify-mvvm.orb";
  PingPongWithPeer(state, csPath, {MVVM_NOTIFY_PEER, csPath},
                   [](CkxVarnoxFT_COMPETITORS& file, int iPing) {
                     auto& map = file.m_CompetitorsStringMap.m_Container;
                     map[map(D2MapCmd::Find, 1, nullptr)].CategoryId = iPing;
                   });
}
BENCHMARK(BM_ViewModelNotificationBetweenProcesses)->UseManualTime()->Iterations(3000);

// The floor: two processes handing a word back and forth through a futex in
// shared memory (0 idle, 1 ping, 2 pong, 3 stop); the child measures the
// one-way latency of each ping from the time the parent stored beside it.
void FutexWait(uint32_t* pWord, uint32_t uiValue) {
  syscall(SYS_futex, pWord, FUTEX_WAIT, uiValue, nullptr, nullptr, 0);
}
void FutexWake(uint32_t* pWord) {
  syscall(SYS_futex, pWord, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}
uint32_t Load(uint32_t* pWord) { return __atomic_load_n(pWord, __ATOMIC_ACQUIRE); }
void Store(uint32_t* pWord, uint32_t uiValue) {
  __atomic_store_n(pWord, uiValue, __ATOMIC_RELEASE);
  FutexWake(pWord);
}

void BM_Floor_FutexPingPongBetweenProcesses(benchmark::State& state) {
  const size_t uiBytes = 4096 + sizeof(int64_t) * (state.max_iterations + 1);
  auto* pWord = static_cast<uint32_t*>(
      mmap(nullptr, uiBytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  auto* pSent = reinterpret_cast<int64_t*>(reinterpret_cast<uint8_t*>(pWord) + 64);
  auto* pLatencies = reinterpret_cast<int64_t*>(reinterpret_cast<uint8_t*>(pWord) + 4096);
  *pWord = 0;
  const pid_t peer = fork();
  if (peer == 0) {
    size_t uiSeen = 0;
    for (;;) {
      const uint32_t uiNow = Load(pWord);
      if (uiNow == 3) _exit(0);
      if (uiNow == 1) {
        pLatencies[uiSeen++] = NowNs() - __atomic_load_n(pSent, __ATOMIC_ACQUIRE);
        Store(pWord, 2);
      } else {
        FutexWait(pWord, uiNow);
      }
    }
  }
  std::vector<double> halves;
  for (auto _ : state) {
    const auto start = Clock::now();
    __atomic_store_n(pSent, NowNs(), __ATOMIC_RELEASE);
    Store(pWord, 1);
    for (uint32_t uiNow = Load(pWord); uiNow != 2; uiNow = Load(pWord)) FutexWait(pWord, uiNow);
    const double dHalf = std::chrono::duration<double, std::nano>(Clock::now() - start).count() / 2;
    halves.push_back(dHalf);
    state.SetIterationTime(dHalf / 1e9);
  }
  Store(pWord, 3);
  waitpid(peer, nullptr, 0);
  std::vector<double> oneway(pLatencies, pLatencies + halves.size());
  std::sort(oneway.begin(), oneway.end());
  if (!oneway.empty()) {
    state.counters["oneway_p50_ns"] = oneway[oneway.size() / 2];
    state.counters["oneway_p99_ns"] = oneway[oneway.size() * 99 / 100];
  }
  munmap(pWord, uiBytes);
}
BENCHMARK(BM_Floor_FutexPingPongBetweenProcesses)->UseManualTime()->Iterations(3000);

}  // namespace
