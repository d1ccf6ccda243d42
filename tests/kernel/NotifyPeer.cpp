// The second process of the notification tests and benchmark.
//   varnox_notify_peer update FILE COUNT   opens FILE (a competitors file) and
//       publishes COUNT updates of its map, texts "update <i>", then exits
//   varnox_notify_peer echo FILE           answers every update of FILE whose
//       text starts with "ping" with an update "pong", from the update
//       callback itself; ends on "stop". A ping may carry the time it was
//       sent ("ping <CLOCK_MONOTONIC ns>"): on "stop" the peer prints the
//       median and 99th percentile of the one-way latencies it saw, in ns.
//   varnox_notify_peer hold FILE           takes the file's NGE lock, says
//       "held" and keeps it until its standard input closes
//   varnox_notify_peer overrun FILE COUNT  sets the category of competitor 7
//       to 2 under an update naming it, then publishes COUNT updates naming
//       competitor 8 only
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "NetInterface/OrbCategBaseClass/KxStartUp.h"
#include "templates/Varnox.h"

namespace {

std::mutex g_Mutex;
std::condition_variable g_Changed;
bool g_bStop = false;
std::atomic<CkxDtb2Obj*> g_pEcho{nullptr};  // the member that answers, in the echo role

std::vector<int64_t> g_Latencies;  // of pings that carried their time

int64_t NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void OnUpdate(int32_t, uint64_t uliInfo) {
  if (uliInfo == 0) return;  // updates lost: nothing to read
  const KxUpdateRecord& info = *reinterpret_cast<const KxUpdateRecord*>(uliInfo);
  const int64_t liNow = NowNs();
  const std::string csText(info.text, info.textLength);
  if (csText.rfind("ping ", 0) == 0) g_Latencies.push_back(liNow - std::atoll(csText.c_str() + 5));
  CkxDtb2Obj* pEcho = g_pEcho.load();
  if (pEcho != nullptr && csText.rfind("ping", 0) == 0) pEcho->UpdateID(0, nullptr, "pong");
  std::lock_guard<std::mutex> lock(g_Mutex);
  if (csText == "stop") g_bStop = true;
  g_Changed.notify_all();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string csRole = argv[1];
  KxInitCatAssembly(false);
  int iResult = 0;
  {
    CkxVarnoxFT_COMPETITORS file;
    if (file.OpenUnm(argv[2], nullptr, nullptr, "rw", "", true, nullptr, 0, 0, OnUpdate) <= 0)
      return 3;
    CkxDtb2Obj& member = file.m_CompetitorsStringMap;
    if (csRole == "update" && argc > 3) {
      const int iCount = std::atoi(argv[3]);
      for (int i = 0; i < iCount; ++i) {
        if (member.UpdateID(0, nullptr, "update %d", i) == 0) iResult = 4;
      }
    } else if (csRole == "overrun" && argc > 3) {
      auto& map = file.m_CompetitorsStringMap.m_Container;
      const uint32_t h7 = map(D2MapCmd::Find, 7, nullptr), h8 = map(D2MapCmd::Find, 8, nullptr);
      map[h7].CategoryId = 2;
      member.UpdateID(0, nullptr, "category [elements %u]", h7);
      for (int i = 0, iCount = std::atoi(argv[3]); i < iCount; ++i)
        member.UpdateID(0, nullptr, "update %d [elements %u]", i, h8);
    } else if (csRole == "echo") {
      g_pEcho = &member;
      std::printf("ready\n");
      std::fflush(stdout);
      std::unique_lock<std::mutex> lock(g_Mutex);
      g_Changed.wait(lock, [] { return g_bStop; });
      g_pEcho = nullptr;
      std::sort(g_Latencies.begin(), g_Latencies.end());
      if (!g_Latencies.empty()) {
        std::printf("%lld %lld\n", static_cast<long long>(g_Latencies[g_Latencies.size() / 2]),
                    static_cast<long long>(g_Latencies[g_Latencies.size() * 99 / 100]));
      }
    } else if (csRole == "hold") {
      file.GetNGELock();
      std::printf("held\n");
      std::fflush(stdout);
      while (std::getchar() != EOF) {
      }
      file.ReleaseNGELock();
    } else {
      iResult = 2;
    }
    file.UnLoad();
  }
  KxEndCatAssembly();
  return iResult;
}
