// The results of one heat as a spectator reads them: a row per lane with
// its competitor, splits, final time, place or status. Plain data and one
// function, so the rules for places are tested without a kernel or HTTP;
// MeetReader.h fills the inputs from the object face.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnox::web {

// Lap times are cumulative hundredths of a second, as the timing process
// writes them; 0 is "no time yet".
using Hundredths = uint32_t;

// One lane as read from the races file (and the competitor it names).
struct LaneInput {
  int32_t iLane = 0;
  // Empty when the lane has no competitor.
  std::string csName;
  std::string csNation;
  std::string csClub;
  bool bHasCompetitor = false;
  // The split at the end of each lap, in lap order; 0 where none yet.
  std::vector<Hundredths> splits;
  // 0 is a lane in order; any other value is a status such as disqualified
  // or did not start, named by csStatus.
  int32_t iStatusId = 0;
  std::string csStatus;
};

// Where a lane stands in the heat.
enum class LaneState {
  Finished,  // final time, ranked
  Swimming,  // some splits, no final time yet
  Waiting,   // no split yet (an empty lane too)
  Status,    // disqualified, did not start, ...: no place
};

struct ResultRow {
  int32_t iLane = 0;
  std::string csName;
  std::string csNation;
  std::string csClub;
  // The split text at each lap ("0:30.50", "" where none yet).
  std::vector<std::string> splits;
  // The final time ("2:02.34") or "NT"; while swimming, the last split.
  std::string csTime;
  // 1-based; 0 when the lane takes no place.
  int32_t iPlace = 0;
  LaneState state = LaneState::Waiting;
  std::string csStatus;
  bool operator==(const ResultRow&) const = default;
};

// The rows of a heat of `iLaps` laps, in result order: the finished lanes
// by final time (ties share a place, the next place skips: 1, 2, 2, 4),
// then the lanes still swimming (furthest first, then by last split), the
// lanes not started yet, and last those with a status; lane order within
// the last two. A lane's final time is its split at lap `iLaps`.
std::vector<ResultRow> RankHeat(const std::vector<LaneInput>& lanes, int32_t iLaps);

// "1:02.34", "59.99" below a minute; "NT" for no time. The framework's
// time text (KxTime at hundredths).
std::string TimeText(std::optional<Hundredths> time);

// The JSON word of a state: "finished", "swimming", "waiting", "status".
const char* StateName(LaneState state);

}  // namespace varnox::web
