// The second process of the view-model notification benchmark:
//   varnox_mvvm_notify_peer FILE
// opens FILE (a competitors file holding a competitor) through a file
// wrapper and follows it through a data context with kernel notifications.
// Every PropertyChanged of the first competitor's view model is answered
// with an update "pong". It says "ready" once it follows the file and ends
// on an update "stop", printing the median and 99th percentile, in ns, of
// the one-way latencies from the time an update "ping <CLOCK_MONOTONIC ns>"
// carries to the PropertyChanged it caused, and how many changes it saw
// before their ping (not measured). The container reports each
// update (with its text) just before the data context refreshes, so the
// ping's time is known when the event comes.
#include <time.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "NetInterface/OrbCategBaseClass/KxStartUp.h"
#include "access/CkxOrbCategTools.h"
#include "contracts/kernel/KxText.h"
#include "files/VarnoxFiles.h"

namespace {

using Tarvex::Orb::Data::Varnox::D2fVarnox_FT_COMPETITORS;
namespace Dda = Tarvex::Orb::DataDirectAcces;

int64_t NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Follows the file until "stop"; the latencies seen, or 3 when it cannot.
int Follow(const std::string& csPath) {
  const auto pFile = D2fVarnox_FT_COMPETITORS::Create();
  if (pFile->Open(KxText::Utf8ToUtf16(csPath), std::nullopt, std::nullopt, u"rw", u"", false,
                  nullptr, 0, 0) <= 0) {
    return 3;
  }
  const std::u16string csKey = u"peer";
  Dda::OrbGenericContextManager<D2fVarnox_FT_COMPETITORS>::Create(csKey, pFile);
  D2fVarnox_FT_COMPETITORS::TheDataContextManager(csKey);
  const auto pContext =
      pFile->TheCompetitorsStringMapMvvmDC(false, Dda::OrbDataMode::ReadOnly, true, true, false);
  const auto pMap = pFile->CompetitorsStringMap();

  std::mutex mutex;
  std::condition_variable stopped;
  bool bStop = false;
  std::atomic<int64_t> liPingSent{0};
  std::vector<int64_t> latencies;
  int iUnmeasured = 0;  // changes seen before their ping
  pMap->ObjectChanged().Add(
      [&](Dda::IOrbUpdatableObject*, const Dda::OrbObjectChangedEventArgs& args) {
        const std::string csText = KxText::Utf16ToUtf8(args.Text());
        const bool bPing = csText.rfind("ping ", 0) == 0;
        liPingSent = bPing ? std::atoll(csText.c_str() + 5) : 0;
        if (csText != "stop") return;
        std::lock_guard lock(mutex);
        bStop = true;
        stopped.notify_all();
      });
  const auto pCompetitor =
      pContext->Root<D2fVarnox_FT_COMPETITORS::CompetitorsStringMapMvvmRoot>()->Item(0);
  pCompetitor->CategoryId()->Value();  // loaded, so that a change shows
  // A refresh for this peer's own pong may already see the next change
  // (written before its ping was published): it is answered, but has no
  // ping time to measure from.
  pCompetitor->PropertyChanged().Add([&](int32_t) {
    if (const int64_t liSent = liPingSent.load(); liSent != 0) {
      latencies.push_back(NowNs() - liSent);
    } else {
      ++iUnmeasured;
    }
    pMap->UpdateID(Tarvex::Orb::OrbCmd{0}, std::nullopt, u"pong", {});
  });
  std::printf("ready\n");
  std::fflush(stdout);
  {
    std::unique_lock lock(mutex);
    stopped.wait(lock, [&] { return bStop; });
  }
  pFile->UnLoad();
  std::sort(latencies.begin(), latencies.end());
  if (!latencies.empty()) {
    std::printf("%lld %lld %d\n", static_cast<long long>(latencies[latencies.size() / 2]),
                static_cast<long long>(latencies[latencies.size() * 99 / 100]), iUnmeasured);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  KxInitCatAssembly(false);
  const int iResult = Follow(argv[1]);
  Dda::CkxOrbCategTools::OnEndNetApplication(0, 0, nullptr, nullptr);
  KxEndCatAssembly();
  return iResult;
}
