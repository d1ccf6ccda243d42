// The places of a heat from one table: each case is the lanes as read and
// the rows expected, in result order, as "lane|place|time|state|status".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "web/Results.h"

namespace varnox::web {
namespace {

struct Lane {
  int32_t iLane;
  std::vector<Hundredths> splits;
  int32_t iStatusId = 0;
  const char* csStatus = "";
};

struct Case {
  const char* csName;
  int32_t iLaps;
  std::vector<Lane> lanes;
  std::vector<std::string> expected;
};

const Case kCases[] = {
    {"ByFinalTime",
     1,
     {{1, {6234}}, {2, {5999}}, {3, {6100}}},
     {"2|1|59.99|finished|", "3|2|1:01.00|finished|", "1|3|1:02.34|finished|"}},
    {"TiesSharePlaceAndSkipTheNext",
     1,
     {{1, {6000}}, {2, {6000}}, {3, {5900}}, {4, {6100}}},
     {"3|1|59.00|finished|", "1|2|1:00.00|finished|", "2|2|1:00.00|finished|",
      "4|4|1:01.00|finished|"}},
    {"StatusesAfterTheRankedEvenWhenFaster",
     1,
     {{1, {5800}, 1, "DSQ"}, {2, {6000}}, {3, {}, 2, "DNS"}, {4, {}, 7, ""}},
     {"2|1|1:00.00|finished|", "1|0|58.00|status|DSQ", "3|0|NT|status|DNS",
      "4|0|NT|status|Status 7"}},
    {"HeatInProgressShowsLastSplit",
     3,
     {{1, {3000, 6200, 0}}, {2, {2900, 0, 0}}, {3, {2950, 6100, 9300}}, {4, {3010, 6150}}, {5, {}}},
     {"3|1|1:33.00|finished|", "4|0|1:01.50|swimming|", "1|0|1:02.00|swimming|",
      "2|0|29.00|swimming|", "5|0||waiting|"}},
};

std::string Describe(const ResultRow& row) {
  return std::to_string(row.iLane) + "|" + std::to_string(row.iPlace) + "|" + row.csTime + "|" +
         StateName(row.state) + "|" + row.csStatus;
}

class PlacesTest : public ::testing::TestWithParam<Case> {};

TEST_P(PlacesTest, RowsInResultOrder) {
  const Case& c = GetParam();
  std::vector<LaneInput> lanes;
  for (const Lane& lane : c.lanes)
    lanes.push_back({.iLane = lane.iLane,
                     .splits = lane.splits,
                     .iStatusId = lane.iStatusId,
                     .csStatus = lane.csStatus});
  std::vector<std::string> described;
  for (const ResultRow& row : RankHeat(lanes, c.iLaps)) {
    described.push_back(Describe(row));
    // A split column per lap, whatever the lane holds.
    EXPECT_EQ(row.splits.size(), static_cast<size_t>(c.iLaps)) << "lane " << row.iLane;
  }
  EXPECT_EQ(described, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Heats, PlacesTest, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.csName); });

}  // namespace
}  // namespace varnox::web
