#include "web/Feed.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "web/PathTrace.h"

namespace varnox::web {

namespace {

using nlohmann::json;

// Texts arrive as UTF-8; a damaged one is sent with replacement characters
// rather than refused.
std::string Dump(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

// Appends a text as a JSON string. Most texts (times, names) are plain
// printable ASCII, which JSON takes as it stands: only the others go
// through the JSON library, which escapes and repairs them.
void AppendQuoted(std::string& csOut, const std::string& csText) {
  const bool bPlain = std::ranges::all_of(
      csText, [](char c) { return c >= ' ' && c <= '~' && c != '"' && c != '\\'; });
  if (!bPlain) {
    csOut += Dump(json(csText));
    return;
  }
  csOut += '"';
  csOut += csText;
  csOut += '"';
}

std::string Quoted(const std::string& csText) {
  std::string csQuoted;
  AppendQuoted(csQuoted, csText);
  return csQuoted;
}

// Appends `csKey` (its JSON text with the separators) and a text value.
void AppendText(std::string& csOut, std::string_view csKey, const std::string& csText) {
  csOut += csKey;
  AppendQuoted(csOut, csText);
}

// A heat's row written straight out, its keys in the order the JSON
// library sorts them (the text is as the library would give it): an event
// builds no JSON document.
void AppendRow(std::string& csOut, const ResultRow& row) {
  AppendText(csOut, "{\"club\":", row.csClub);
  csOut += ",\"lane\":" + std::to_string(row.iLane);
  AppendText(csOut, ",\"name\":", row.csName);
  AppendText(csOut, ",\"nation\":", row.csNation);
  csOut += ",\"place\":";
  csOut += row.iPlace > 0 ? std::to_string(row.iPlace) : "null";
  csOut += ",\"splits\":[";
  for (size_t i = 0; i < row.splits.size(); ++i) AppendText(csOut, i > 0 ? "," : "", row.splits[i]);
  AppendText(csOut, "],\"state\":", StateName(row.state));
  AppendText(csOut, ",\"status\":", row.csStatus);
  AppendText(csOut, ",\"time\":", row.csTime);
  csOut += '}';
}

// A race's part of the schedule.
std::string RaceScheduleJson(const RaceView& race) {
  json heats = json::array();
  for (const HeatView& heat : race.heats) {
    heats.push_back({{"heat", heat.csHeat}, {"status", heat.iHeatStatus}, {"laps", heat.iLaps}});
  }
  return Dump(json{{"race", race.csRace},
                   {"title", race.csTitle},
                   {"distance", race.iDistance},
                   {"style", race.csStyle},
                   {"heats", std::move(heats)}});
}

// The schedule from the meet's name and the races' parts, in order.
std::string JoinSchedule(const std::string& csMeet, const std::vector<std::string>& races) {
  std::string csJson = "{\"meet\":" + Quoted(csMeet) + ",\"races\":[";
  for (size_t i = 0; i < races.size(); ++i) csJson += (i > 0 ? "," : "") + races[i];
  return csJson + "]}";
}

}  // namespace

std::string ScheduleJson(const MeetView& meet) {
  std::vector<std::string> races;
  for (const RaceView& race : meet.races) races.push_back(RaceScheduleJson(race));
  return JoinSchedule(meet.csMeet, races);
}

std::string HeatJson(const HeatView& heat) {
  std::string csJson;
  csJson.reserve(128 + 256 * heat.rows.size());
  AppendText(csJson, "{\"heat\":", heat.csHeat);
  csJson += ",\"lapLength\":" + std::to_string(heat.iLapLength);
  csJson += ",\"laps\":" + std::to_string(heat.iLaps);
  AppendText(csJson, ",\"race\":", heat.csRace);
  csJson += ",\"rows\":[";
  for (size_t i = 0; i < heat.rows.size(); ++i) {
    if (i > 0) csJson += ',';
    AppendRow(csJson, heat.rows[i]);
  }
  csJson += "],\"status\":" + std::to_string(heat.iHeatStatus);
  AppendText(csJson, ",\"title\":", heat.csTitle);
  return csJson + "}";
}

std::string EventText(const FeedEvent& event) {
  return "id: " + std::to_string(event.uiId) + "\nevent: " + event.csType +
         "\ndata: " + event.csData + "\n\n";
}

size_t Feed::Publish(const MeetView& meet, const MeetParts* pParts) {
  const auto compared = [pParts](const std::string& csRace) {
    return pParts == nullptr || std::ranges::find(pParts->races, csRace) != pParts->races.end();
  };
  // Only the parts compared are serialized; the others' texts are those kept.
  std::map<HeatKey, std::string> heats;
  for (const RaceView& race : meet.races) {
    for (const HeatView& heat : race.heats) {
      if (compared(race.csRace) ||
          std::ranges::find(pParts->heats, HeatKey{race.csRace, heat.csHeat}) !=
              pParts->heats.end())
        heats[{race.csRace, heat.csHeat}] = web::HeatJson(heat);
    }
  }
  // The schedule is made anew only when a race's part of it may have changed.
  std::optional<std::string> csSchedule;
  std::map<std::string, std::string> raceTexts;
  if (pParts == nullptr || !pParts->races.empty()) {
    std::vector<std::string> scheduleRaces;
    for (const RaceView& race : meet.races) {
      const auto kept = m_RaceTexts.find(race.csRace);
      scheduleRaces.push_back(!compared(race.csRace) && kept != m_RaceTexts.end()
                                  ? kept->second
                                  : RaceScheduleJson(race));
      raceTexts[race.csRace] = scheduleRaces.back();
    }
    csSchedule = JoinSchedule(meet.csMeet, scheduleRaces);
  }
  trace::Mark(trace::Stage::Texts);

  std::unique_lock lock(m_Mutex);
  const uint64_t uiBefore = m_uiVersion;
  for (auto it = m_Heats.begin(); it != m_Heats.end();) {
    if (!compared(it->first.first) || heats.contains(it->first)) {
      ++it;
      continue;
    }
    if (m_bStarted) {
      Queue("heat",
            Dump(json{{"race", it->first.first}, {"heat", it->first.second}, {"removed", true}}));
    }
    it = m_Heats.erase(it);
  }
  for (auto& [key, csJson] : heats) {
    std::string& csHeld = m_Heats[key];
    if (csHeld == csJson) continue;
    if (m_bStarted) Queue("heat", csJson);
    csHeld = std::move(csJson);
  }
  if (csSchedule) {
    if (m_bStarted && *csSchedule != m_csSchedule) Queue("schedule", *csSchedule);
    m_csSchedule = std::move(*csSchedule);
    m_RaceTexts = std::move(raceTexts);
  }
  m_bStarted = true;
  const size_t uiQueued = static_cast<size_t>(m_uiVersion - uiBefore);
  lock.unlock();
  trace::Mark(trace::Stage::Queued);
  // Woken after the lock is let go, the streams do not wait for it again.
  if (uiQueued > 0) {
    m_Changed.notify_all();
    Changed();
  }
  return uiQueued;
}

void Feed::Queue(std::string csType, std::string csData) {
  FeedEvent event{++m_uiVersion, std::move(csType), std::move(csData)};
  m_Events.push_back(Queued{event.uiId, EventText(event)});
  while (m_Events.size() > m_uiKept) m_Events.pop_front();
}

uint64_t Feed::Version() const {
  std::lock_guard lock(m_Mutex);
  return m_uiVersion;
}

std::string Feed::ScheduleJson() const {
  std::lock_guard lock(m_Mutex);
  return m_csSchedule;
}

std::optional<std::string> Feed::HeatJson(const std::string& csRace,
                                          const std::string& csHeat) const {
  std::lock_guard lock(m_Mutex);
  const auto it = m_Heats.find({csRace, csHeat});
  return it != m_Heats.end() ? std::optional(it->second) : std::nullopt;
}

FeedEvent Feed::Snapshot() const {
  std::lock_guard lock(m_Mutex);
  std::string csData = "{\"schedule\":" + m_csSchedule + ",\"heats\":[";
  bool bFirst = true;
  for (const auto& [key, csJson] : m_Heats) {
    if (!bFirst) csData += ',';
    csData += csJson;
    bFirst = false;
  }
  csData += "]}";
  return FeedEvent{m_uiVersion, "snapshot", std::move(csData)};
}

std::optional<FeedText> Feed::TextAfter(uint64_t uiAfter, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(m_Mutex);
  m_Changed.wait_for(lock, timeout,
                     [&] { return m_bStopped || m_csClosed || m_uiVersion > uiAfter; });
  if (m_bStopped || m_uiVersion < uiAfter) return std::nullopt;
  FeedText text{uiAfter, {}};
  if (m_uiVersion == uiAfter) return text;
  if (m_Events.empty() || m_Events.front().uiId > uiAfter + 1) return std::nullopt;
  // The kept events run on without gap: the first one wanted is found by its id.
  for (auto it =
           m_Events.begin() + static_cast<std::ptrdiff_t>(uiAfter + 1 - m_Events.front().uiId);
       it != m_Events.end(); ++it)
    text.csText += it->csText;
  text.uiLast = m_uiVersion;
  return text;
}

void Feed::Close(std::string csWhy) {
  {
    std::lock_guard lock(m_Mutex);
    m_csClosed = std::move(csWhy);
    m_Changed.notify_all();
  }
  Changed();
}

std::optional<std::string> Feed::Closed() const {
  std::lock_guard lock(m_Mutex);
  return m_csClosed;
}

void Feed::Stop() {
  {
    std::lock_guard lock(m_Mutex);
    m_bStopped = true;
    m_Changed.notify_all();
  }
  Changed();
}

bool Feed::Stopped() const {
  std::lock_guard lock(m_Mutex);
  return m_bStopped;
}

void Feed::OnChanged(std::function<void()> handler) {
  std::lock_guard lock(m_ChangedMutex);
  m_OnChanged = std::move(handler);
}

void Feed::Changed() {
  std::lock_guard lock(m_ChangedMutex);
  if (m_OnChanged) m_OnChanged();
}

}  // namespace varnox::web
