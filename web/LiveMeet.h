// A meet followed live: its files opened read only, a data context over the
// schedule with the kernel's notifications on, and every change another
// process publishes turned into the Feed's events. No polling: a rebuild
// runs only when the kernel reports an update.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "web/Feed.h"
#include "web/MeetReader.h"

namespace Tarvex::Orb::DataDirectAcces {
class OrbGenericDataContext;
}

namespace varnox::web {

class LiveMeet {
 public:
  // Opens the files of the meet in `csDir` (races.orb required,
  // competitors.orb and globals.orb when present) and publishes the meet
  // once. Throws std::runtime_error saying which file failed and why.
  LiveMeet(const std::string& csDir, Feed& feed);
  ~LiveMeet();
  LiveMeet(const LiveMeet&) = delete;
  LiveMeet& operator=(const LiveMeet&) = delete;

  // Reads the meet anew and publishes what changed; the feed is closed
  // with the reason when the meet can no longer be read.
  void Rebuild();
  // Called after each rebuild that a kernel update caused, with the
  // number of events it queued (benchmarks and tests watch it).
  void OnRebuilt(std::function<void(size_t uiEvents)> handler);
  // Unloads the files; the feed refuses the meet from then on.
  void Close();

 private:
  Feed& m_Feed;
  MeetFiles m_Files;
  std::u16string m_csManagerKey;
  std::shared_ptr<Tarvex::Orb::DataDirectAcces::OrbGenericDataContext> m_pContext;
  std::mutex m_Mutex;  // one rebuild at a time; guards the files
  bool m_bClosed = false;
  std::function<void(size_t)> m_OnRebuilt;
  CompetitorCache m_Competitors;
  // Set by the competitors' change: the next rebuild reads them anew.
  std::atomic<bool> m_bCompetitorsChanged{false};
};

}  // namespace varnox::web
