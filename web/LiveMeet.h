// A meet followed live: its files opened read only, the schedule's change
// event following the kernel, and every change another process publishes
// turned into the Feed's events. No polling: a rebuild runs only when the
// kernel reports an update, and reads only the races the update names.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "web/Feed.h"
#include "web/MeetReader.h"

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
  // with the reason when the meet can no longer be read. With `entries`
  // (handles of schedule entries, as an update text names them), only
  // those races are read anew, unless entries came or went meanwhile.
  void Rebuild(const std::optional<std::vector<uint32_t>>& entries = std::nullopt);
  // Called after each rebuild that a kernel update caused, with the
  // number of events it queued (benchmarks and tests watch it).
  void OnRebuilt(std::function<void(size_t uiEvents)> handler);
  // Unloads the files; the feed refuses the meet from then on.
  void Close();

 private:
  Feed& m_Feed;
  MeetFiles m_Files;
  std::mutex m_Mutex;  // one rebuild at a time; guards the files and m_Meet
  MeetView m_Meet;     // as last published
  bool m_bClosed = false;
  std::function<void(size_t)> m_OnRebuilt;
  CompetitorCache m_Competitors;
  // Set by the competitors' change: the next rebuild reads them anew.
  std::atomic<bool> m_bCompetitorsChanged{false};
  MeetSettings m_Settings;  // as the settings file last reported them
  // Set by a change of the settings (and at the start): the next rebuild
  // reads them anew, and the whole meet, whose every race shows them.
  std::atomic<bool> m_bSettingsChanged{true};
};

}  // namespace varnox::web
