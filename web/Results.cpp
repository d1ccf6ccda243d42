#include "web/Results.h"

#include <algorithm>
#include <unordered_map>

#include "contracts/framework/OrbValues.h"
#include "contracts/kernel/KxText.h"

namespace varnox::web {

namespace {

// Laps done: the count of leading laps with a split.
int32_t LapsDone(const LaneInput& lane) {
  int32_t iDone = 0;
  while (iDone < static_cast<int32_t>(lane.splits.size()) &&
         lane.splits[static_cast<size_t>(iDone)] != 0)
    ++iDone;
  return iDone;
}

std::optional<Hundredths> FinalOf(const LaneInput& lane, int32_t iLaps) {
  if (iLaps <= 0 || static_cast<int32_t>(lane.splits.size()) < iLaps) return std::nullopt;
  const Hundredths final = lane.splits[static_cast<size_t>(iLaps - 1)];
  return final != 0 ? std::optional(final) : std::nullopt;
}

LaneState StateOf(const LaneInput& lane, int32_t iLaps) {
  if (lane.iStatusId != 0) return LaneState::Status;
  if (FinalOf(lane, iLaps)) return LaneState::Finished;
  return LapsDone(lane) > 0 ? LaneState::Swimming : LaneState::Waiting;
}

// What orders the rows: the state, then within it the final time (finished),
// the laps done and last split (swimming), the lane (the others).
struct SortKey {
  LaneState state;
  int64_t liFirst;
  int64_t liSecond;
  int32_t iLane;
  auto operator<=>(const SortKey&) const = default;
};

SortKey KeyOf(const LaneInput& lane, int32_t iLaps) {
  const LaneState state = StateOf(lane, iLaps);
  switch (state) {
    case LaneState::Finished:
      return {state, *FinalOf(lane, iLaps), 0, lane.iLane};
    case LaneState::Swimming: {
      const int32_t iDone = LapsDone(lane);
      return {state, -iDone, lane.splits[static_cast<size_t>(iDone - 1)], lane.iLane};
    }
    default:
      return {state, 0, 0, lane.iLane};
  }
}

// TimeText, remembered: each rebuild of a heat shows its earlier splits
// again, and the framework's time text is the dearest step of a row.
const std::string& KnownTimeText(Hundredths time) {
  thread_local std::unordered_map<Hundredths, std::string> texts;
  if (texts.size() > 100000) texts.clear();  // a meet's worth of times, then anew
  const auto [it, bNew] = texts.try_emplace(time);
  if (bNew) it->second = TimeText(time);
  return it->second;
}

ResultRow RowOf(const LaneInput& lane, int32_t iLaps) {
  ResultRow row;
  row.iLane = lane.iLane;
  row.csName = lane.csName;
  row.csNation = lane.csNation;
  row.csClub = lane.csClub;
  row.state = StateOf(lane, iLaps);
  const size_t uiShown = iLaps > 0 ? static_cast<size_t>(iLaps) : lane.splits.size();
  for (size_t i = 0; i < uiShown; ++i) {
    const Hundredths split = i < lane.splits.size() ? lane.splits[i] : 0;
    row.splits.push_back(split != 0 ? KnownTimeText(split) : "");
  }
  switch (row.state) {
    case LaneState::Finished:
      row.csTime = KnownTimeText(*FinalOf(lane, iLaps));
      break;
    case LaneState::Swimming:
      row.csTime = KnownTimeText(lane.splits[static_cast<size_t>(LapsDone(lane) - 1)]);
      break;
    case LaneState::Waiting:
      row.csTime = "";
      break;
    case LaneState::Status:
      row.csTime = TimeText(FinalOf(lane, iLaps));
      row.csStatus =
          lane.csStatus.empty() ? "Status " + std::to_string(lane.iStatusId) : lane.csStatus;
      break;
  }
  return row;
}

}  // namespace

std::vector<ResultRow> RankHeat(const std::vector<LaneInput>& lanes, int32_t iLaps) {
  std::vector<const LaneInput*> order;
  for (const LaneInput& lane : lanes) order.push_back(&lane);
  std::stable_sort(order.begin(), order.end(), [&](const LaneInput* pA, const LaneInput* pB) {
    return KeyOf(*pA, iLaps) < KeyOf(*pB, iLaps);
  });
  std::vector<ResultRow> rows;
  std::optional<Hundredths> previous;
  for (const LaneInput* pLane : order) {
    ResultRow row = RowOf(*pLane, iLaps);
    if (row.state == LaneState::Finished) {
      const Hundredths final = *FinalOf(*pLane, iLaps);
      const bool bTie = previous == final;
      row.iPlace = bTie ? rows.back().iPlace : static_cast<int32_t>(rows.size()) + 1;
      previous = final;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string TimeText(std::optional<Hundredths> time) {
  std::optional<Tarvex::Orb::KxTime> kxTime;
  if (time) {
    kxTime.emplace(Tarvex::Orb::KxPrecision::P2);
    kxTime->set_Time(*time);
  }
  return KxText::Utf16ToUtf8(Tarvex::Orb::KxTime::OptionalToString(kxTime));
}

const char* StateName(LaneState state) {
  switch (state) {
    case LaneState::Finished:
      return "finished";
    case LaneState::Swimming:
      return "swimming";
    case LaneState::Waiting:
      return "waiting";
    case LaneState::Status:
      return "status";
  }
  return "waiting";
}

}  // namespace varnox::web
