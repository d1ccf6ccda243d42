// What the server shows and pushes: the meet as JSON texts (schedule and
// one text per heat) and the numbered change events that lead from one
// state to the next. The live meet publishes into it; the server's
// requests and event streams read from it. Knows nothing of the kernel.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "web/MeetReader.h"

namespace varnox::web {

// One server-sent event: its id, its type ("snapshot", "schedule", "heat")
// and its JSON data (one line).
struct FeedEvent {
  uint64_t uiId = 0;
  std::string csType;
  std::string csData;
};

// The text of an event on the wire.
std::string EventText(const FeedEvent& event);

// The wire text of the events after some id, as one stream sends it.
struct FeedText {
  uint64_t uiLast = 0;  // the id of the last event in the text
  std::string csText;   // empty when no event came
};

class Feed {
 public:
  // Keeps the last `uiKept` events for streams that fall behind.
  explicit Feed(size_t uiKept = 4096) : m_uiKept(uiKept) {}

  // Takes the meet as it now stands: one "heat" event per heat whose
  // results changed (or that came or went) and one "schedule" event when
  // the schedule changed, each with the next id. The first call only sets
  // the state. Returns the number of events queued.
  // With `pParts`, only the parts it names may have changed: the rest is
  // neither serialized nor compared again, and without a race named the
  // schedule is not made anew.
  size_t Publish(const MeetView& meet, const MeetParts* pParts = nullptr);

  // The id of the last event; the state stands at it.
  uint64_t Version() const;
  std::string ScheduleJson() const;
  // The results of a heat; none for an unknown race or heat.
  std::optional<std::string> HeatJson(const std::string& csRace, const std::string& csHeat) const;
  // The whole state ({"schedule": ..., "heats": [...]}) with the id it stands at.
  FeedEvent Snapshot() const;

  // The wire text of the events after id `uiAfter`, waiting up to
  // `timeout` for one when there are none yet (woken by the publish, not
  // polled). Each event's text is made once, when it is queued, and shared
  // by every stream. None when some of the events are no longer kept (the
  // stream then starts anew from a snapshot) or the feed stopped.
  std::optional<FeedText> TextAfter(uint64_t uiAfter, std::chrono::milliseconds timeout) const;

  // The meet can no longer be read (its file closed): requests for it are
  // refused with `csWhy` from now on.
  void Close(std::string csWhy);
  std::optional<std::string> Closed() const;
  // Wakes every waiting stream and ends them: the server stops.
  void Stop();
  bool Stopped() const;

  // Calls `handler` in the thread that changes the feed, after each publish
  // that queued events and after Close and Stop, one call at a time (none:
  // no more calls once this returns).
  void OnChanged(std::function<void()> handler);

 private:
  using HeatKey = std::pair<std::string, std::string>;
  // An event kept for the streams, with its wire text.
  struct Queued {
    uint64_t uiId;
    std::string csText;
  };
  void Queue(std::string csType, std::string csData);
  void Changed();

  const size_t m_uiKept;
  mutable std::mutex m_Mutex;
  mutable std::condition_variable m_Changed;
  bool m_bStarted = false;
  bool m_bStopped = false;
  std::optional<std::string> m_csClosed;
  uint64_t m_uiVersion = 0;
  std::string m_csSchedule = "{\"meet\":\"\",\"races\":[]}";
  std::map<HeatKey, std::string> m_Heats;
  std::map<std::string, std::string> m_RaceTexts;  // each race's part of the schedule
  std::deque<Queued> m_Events;
  std::mutex m_ChangedMutex;  // held while the handler runs
  std::function<void()> m_OnChanged;
};

// The JSON texts (see README, "Live results").
std::string ScheduleJson(const MeetView& meet);
std::string HeatJson(const HeatView& heat);

}  // namespace varnox::web
