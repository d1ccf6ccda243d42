// The rules that map LENEX values onto the texts and numbers of the five
// files and back, written once and used by both import and export: the code
// tables (stroke, round, result status, heat status, course), the category
// grammar, the name rule and the stable ids. Nothing here touches a file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lenex/LenexModel.h"

namespace Varnox::Lenex::Mapping {

// Whether two texts are equal ignoring ASCII case (the tables' lookups).
bool SameText(std::string_view a, std::string_view b);

// Stroke <-> StylesDefault (StyleAbbrev, Style).
struct StrokeRow {
  Stroke stroke;
  const char* abbrev;
  const char* name;
};
const std::vector<StrokeRow>& StrokeTable();
// The row of a style by its abbreviation, then its name; null: UNKNOWN.
const StrokeRow* StrokeOfStyle(std::string_view csAbbrev, std::string_view csName);
const StrokeRow* RowOfStroke(Stroke stroke);

// Round <-> RoundsDefault (ShortRoundName, RoundName).
struct RoundRow {
  Round round;
  const char* shortName;
  const char* name;
};
const RoundRow* RoundOfShortName(std::string_view csShortName);
const RoundRow& RowOfRound(Round round);

// Result status <-> StatusDefaults (StatusDescAbbrev, StatusDesc); no
// status is a valid result ("OK").
struct StatusRow {
  std::optional<ResultStatus> status;
  const char* abbrev;
  const char* desc;
};
// The row of a status default by abbreviation, then description; an empty
// abbreviation is "OK". Null when in no row.
const StatusRow* StatusOfDefault(std::string_view csAbbrev, std::string_view csDesc);
const StatusRow& RowOfStatus(std::optional<ResultStatus> status);
// The result status an entry status stands for; nothing for RJC (no lane).
std::optional<ResultStatus> StatusOfEntry(EntryStatus status);

// HeatStatus field <-> heat status: 0 SEEDED ... 3 SCHEDULED.
int32_t HeatStatusValue(HeatStatus status);
// What export writes: the 3.0 codes only, so 3 and unknown values give none.
std::optional<HeatStatus> HeatStatusOfValue(int32_t iValue);

// Course <-> pool length; 0 for OPEN (length unchanged).
int32_t PoolLengthOf(Course course);
// The first metre course of a pool length; nothing when none has it.
std::optional<Course> MetreCourseOf(int32_t iPoolLength);
bool IsYardCourse(Course course);

// A category's gender and age range, written into CkxCategory's two texts
// by a fixed grammar: CategoryAbbrev "F", "F12-14", "F15-", "F-10";
// Category "Women", "Women 12-14", "Women 15+", "Women -10". -1 = no bound.
struct CategoryForm {
  Gender gender = Gender::kAll;
  int32_t ageMin = -1;
  int32_t ageMax = -1;
  bool operator==(const CategoryForm&) const = default;
};
std::string CategoryAbbrevOf(const CategoryForm& form);
std::string CategoryWordOf(const CategoryForm& form);
// Reads the abbreviation by the grammar, else the word (also Girls, Ladies,
// Boys), else gender A, open.
CategoryForm ParseCategory(std::string_view csAbbrev, std::string_view csCategory);

// The stored name from LENEX names: "Anna Keller", or "van Dijk, Anna" when
// the last name (with its prefix) holds a space.
std::string JoinName(std::string_view csFirst, std::string_view csLast,
                     std::string_view csPrefix = {});
// The inverse: split at the first ", ", else at the last space.
struct PersonName {
  std::string first;
  std::string last;
};
PersonName SplitName(std::string_view csName);

// The LENEX id of a stored id: n for prefix + n (n canonical, positive,
// 32-bit), else nothing (the caller hashes).
std::optional<int32_t> CanonicalId(std::string_view csId, char cPrefix);
// FNV-1a 32-bit of the text masked to 31 bits, 0 taken as 1.
int32_t HashedId(std::string_view csId);
// The ids of stored ids given in key order: canonical ones first, then the
// hashed ones, each bumped to the next free value on a clash.
std::vector<int32_t> StableIds(const std::vector<std::string>& ids, char cPrefix);

// Record kinds: idRec <-> RECORDLIST type and name.
struct RecordKindRow {
  int32_t idRec;
  const char* type;  // null: no type
  const char* name;
};
const RecordKindRow& RowOfRecordKind(int32_t idRec);
int32_t RecordKindOfType(const std::optional<std::string>& type);

// Local date-time ticks (100 ns since 0001-01-01) and back.
int64_t TicksOf(const Date& date, const Daytime& time);
Date DateOfTicks(int64_t liTicks);
Daytime DaytimeOfTicks(int64_t liTicks);

}  // namespace Varnox::Lenex::Mapping
