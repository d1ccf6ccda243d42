// The second process of the notification tests and benchmark.
//   varnox_notify_peer update FILE COUNT   opens FILE (a competitors file) and
//       publishes COUNT updates of its map, texts "update <i>", then exits
//   varnox_notify_peer echo FILE           answers every update of FILE whose
//       text starts with "ping" with an update "pong", from the update
//       callback itself; ends on "stop"
//   varnox_notify_peer hold FILE           takes the file's NGE lock, says
//       "held" and keeps it until its standard input closes
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "templates/Varnox.h"

namespace {

std::mutex g_Mutex;
std::condition_variable g_Changed;
bool g_bStop = false;
std::atomic<CkxDtb2Obj*> g_pEcho{nullptr};  // the member that answers, in the echo role

void OnUpdate(int32_t, uint64_t uliInfo) {
  const KxUpdateRecord& info = *reinterpret_cast<const KxUpdateRecord*>(uliInfo);
  const std::string csText(info.text, info.textLength);
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
    } else if (csRole == "echo") {
      g_pEcho = &member;
      std::printf("ready\n");
      std::fflush(stdout);
      std::unique_lock<std::mutex> lock(g_Mutex);
      g_Changed.wait(lock, [] { return g_bStop; });
      g_pEcho = nullptr;
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
