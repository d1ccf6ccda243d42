#include "lenex/LenexMapping.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <set>

namespace Varnox::Lenex::Mapping {

namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// A whole non-negative decimal number; nothing otherwise.
std::optional<int32_t> Digits(std::string_view text) {
  int32_t iValue = 0;
  if (text.empty() || text.front() == '+' || text.front() == '-') return std::nullopt;
  const auto [pEnd, error] = std::from_chars(text.data(), text.data() + text.size(), iValue);
  if (error != std::errc() || pEnd != text.data() + text.size()) return std::nullopt;
  return iValue;
}

const std::vector<RoundRow>& RoundTable() {
  static const std::vector<RoundRow> kRows = {
      {Round::kTimed, "T", "Timed final"},       {Round::kPrelim, "P", "Heats"},
      {Round::kQuarter, "Q", "Quarterfinal"},    {Round::kSemi, "S", "Semifinal"},
      {Round::kFinal, "F", "Final"},             {Round::kSwimOffPrelim, "SOP", "Swim-off"},
      {Round::kSwimOffQuarter, "SOQ", "Swim-off"}, {Round::kSwimOffSemi, "SOS", "Swim-off"},
      {Round::kFastestHeats, "FHT", "Fastest heats"}, {Round::kTimeTrial, "TT", "Time trial"},
  };
  return kRows;
}

const std::vector<StatusRow>& StatusTable() {
  static const std::vector<StatusRow> kRows = {
      {std::nullopt, "OK", "OK"},
      {ResultStatus::kDisqualified, "DSQ", "Disqualified"},
      {ResultStatus::kDidNotStart, "DNS", "Did not start"},
      {ResultStatus::kDidNotFinish, "DNF", "Did not finish"},
      {ResultStatus::kSick, "SICK", "Sick"},
      {ResultStatus::kWithdrawn, "WDR", "Withdrawn"},
      {ResultStatus::kExhibition, "EXH", "Exhibition"},
  };
  return kRows;
}

struct CourseRow {
  Course course;
  int32_t iLength;
};
// Metre courses first, so the first row of a length is its metre course.
constexpr CourseRow kCourses[] = {
    {Course::kLCM, 50},   {Course::kSCM, 25},   {Course::kSCM16, 16}, {Course::kSCM20, 20},
    {Course::kSCM33, 33}, {Course::kSCY, 25},   {Course::kSCY20, 20}, {Course::kSCY27, 27},
    {Course::kSCY33, 33}, {Course::kSCY36, 36}, {Course::kOpen, 0},
};

struct GenderWord {
  Gender gender;
  char cLetter;
  const char* word;
};
// The first row of a gender is the one written.
constexpr GenderWord kGenderWords[] = {
    {Gender::kFemale, 'F', "Women"}, {Gender::kMale, 'M', "Men"},     {Gender::kMixed, 'X', "Mixed"},
    {Gender::kAll, 'A', "Open"},     {Gender::kFemale, 'F', "Girls"}, {Gender::kFemale, 'F', "Ladies"},
    {Gender::kMale, 'M', "Boys"},
};

const GenderWord& WordOf(Gender gender) {
  for (const GenderWord& row : kGenderWords)
    if (row.gender == gender) return row;
  return kGenderWords[3];
}

// "12-14", "15-", "-10" or "" into ages; nothing when not that form.
std::optional<std::pair<int32_t, int32_t>> ParseAges(std::string_view text, char cOpenEnd) {
  if (text.empty()) return std::pair{-1, -1};
  if (text.back() == cOpenEnd) {
    const auto iMin = Digits(text.substr(0, text.size() - 1));
    if (iMin) return std::pair{*iMin, -1};
  }
  const size_t uiDash = text.find('-');
  if (uiDash == std::string_view::npos) return std::nullopt;
  if (uiDash == 0) {
    const auto iMax = Digits(text.substr(1));
    return iMax ? std::optional(std::pair{-1, *iMax}) : std::nullopt;
  }
  const auto iMin = Digits(text.substr(0, uiDash));
  const auto iMax = Digits(text.substr(uiDash + 1));
  return iMin && iMax ? std::optional(std::pair{*iMin, *iMax}) : std::nullopt;
}

// The ages as the grammar writes them, with `csOpenEnd` after an age
// without upper bound.
std::string AgesText(const CategoryForm& form, const char* csOpenEnd) {
  if (form.ageMin < 0 && form.ageMax < 0) return "";
  if (form.ageMax < 0) return std::to_string(form.ageMin) + csOpenEnd;
  if (form.ageMin < 0) return "-" + std::to_string(form.ageMax);
  return std::to_string(form.ageMin) + "-" + std::to_string(form.ageMax);
}

const std::vector<RecordKindRow>& RecordKinds() {
  static const std::vector<RecordKindRow> kRows = {
      {0, nullptr, "Pool records"},
      {1, "WR", "World records"},
      {2, "OR", "Olympic records"},
      {3, "ER", "European records"},
      {4, nullptr, "National records"},
  };
  return kRows;
}

constexpr int64_t kTicksPerMinute = 600'000'000;
constexpr int64_t kTicksPerDay = 1440 * kTicksPerMinute;

std::chrono::sys_days FirstDay() {
  return std::chrono::sys_days(std::chrono::year(1) / std::chrono::January / 1);
}

}  // namespace

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

const std::vector<StrokeRow>& StrokeTable() {
  static const std::vector<StrokeRow> kRows = {
      {Stroke::kFree, "FR", "Freestyle"},     {Stroke::kBack, "BK", "Backstroke"},
      {Stroke::kBreast, "BR", "Breaststroke"}, {Stroke::kFly, "FL", "Butterfly"},
      {Stroke::kMedley, "IM", "Medley"},      {Stroke::kImRelay, "IMR", "Medley relay"},
  };
  return kRows;
}

const StrokeRow* StrokeOfStyle(std::string_view csAbbrev, std::string_view csName) {
  for (const StrokeRow& row : StrokeTable())
    if (SameText(row.abbrev, csAbbrev)) return &row;
  for (const StrokeRow& row : StrokeTable())
    if (SameText(row.name, csName)) return &row;
  return nullptr;
}

const StrokeRow* RowOfStroke(Stroke stroke) {
  for (const StrokeRow& row : StrokeTable())
    if (row.stroke == stroke) return &row;
  return nullptr;
}

const RoundRow* RoundOfShortName(std::string_view csShortName) {
  for (const RoundRow& row : RoundTable())
    if (SameText(row.shortName, csShortName)) return &row;
  return nullptr;
}

const RoundRow& RowOfRound(Round round) {
  for (const RoundRow& row : RoundTable())
    if (row.round == round) return row;
  return RoundTable().front();
}

const StatusRow* StatusOfDefault(std::string_view csAbbrev, std::string_view csDesc) {
  if (csAbbrev.empty() && csDesc.empty()) return &StatusTable().front();
  for (const StatusRow& row : StatusTable())
    if (SameText(row.abbrev, csAbbrev)) return &row;
  if (csAbbrev.empty()) return &StatusTable().front();
  for (const StatusRow& row : StatusTable())
    if (SameText(row.desc, csDesc)) return &row;
  return nullptr;
}

const StatusRow& RowOfStatus(std::optional<ResultStatus> status) {
  for (const StatusRow& row : StatusTable())
    if (row.status == status) return row;
  return StatusTable().front();
}

std::optional<ResultStatus> StatusOfEntry(EntryStatus status) {
  switch (status) {
    case EntryStatus::kExhibition: return ResultStatus::kExhibition;
    case EntryStatus::kSick: return ResultStatus::kSick;
    case EntryStatus::kWithdrawn: return ResultStatus::kWithdrawn;
    case EntryStatus::kDidNotStart: return ResultStatus::kDidNotStart;
    case EntryStatus::kRejected: break;
  }
  return std::nullopt;
}

int32_t HeatStatusValue(HeatStatus status) { return static_cast<int32_t>(status); }

std::optional<HeatStatus> HeatStatusOfValue(int32_t iValue) {
  if (iValue < 0 || iValue > static_cast<int32_t>(HeatStatus::kOfficial)) return std::nullopt;
  return static_cast<HeatStatus>(iValue);
}

int32_t PoolLengthOf(Course course) {
  for (const CourseRow& row : kCourses)
    if (row.course == course) return row.iLength;
  return 0;
}

std::optional<Course> MetreCourseOf(int32_t iPoolLength) {
  for (const CourseRow& row : kCourses)
    if (row.iLength == iPoolLength && iPoolLength > 0 && !IsYardCourse(row.course))
      return row.course;
  return std::nullopt;
}

bool IsYardCourse(Course course) {
  return course == Course::kSCY || course == Course::kSCY20 || course == Course::kSCY27 ||
         course == Course::kSCY33 || course == Course::kSCY36;
}

std::string CategoryAbbrevOf(const CategoryForm& form) {
  return std::string(1, WordOf(form.gender).cLetter) + AgesText(form, "-");
}

std::string CategoryWordOf(const CategoryForm& form) {
  const std::string csAges = AgesText(form, "+");
  return std::string(WordOf(form.gender).word) + (csAges.empty() ? "" : " " + csAges);
}

CategoryForm ParseCategory(std::string_view csAbbrev, std::string_view csCategory) {
  if (!csAbbrev.empty()) {
    for (const GenderWord& row : kGenderWords) {
      if (Lower(csAbbrev.front()) != Lower(row.cLetter)) continue;
      if (const auto ages = ParseAges(csAbbrev.substr(1), '-'))
        return {row.gender, ages->first, ages->second};
    }
  }
  for (const GenderWord& row : kGenderWords) {
    const std::string_view word = row.word;
    if (csCategory.size() < word.size() || !SameText(csCategory.substr(0, word.size()), word))
      continue;
    std::string_view rest = csCategory.substr(word.size());
    if (!rest.empty() && rest.front() != ' ') continue;
    if (!rest.empty()) rest.remove_prefix(1);
    if (const auto ages = ParseAges(rest, '+')) return {row.gender, ages->first, ages->second};
  }
  return {};
}

std::string JoinName(std::string_view csFirst, std::string_view csLast, std::string_view csPrefix) {
  std::string csFullLast(csPrefix);
  if (!csFullLast.empty() && !csLast.empty()) csFullLast += ' ';
  csFullLast += csLast;
  if (csFullLast.find(' ') != std::string::npos) return csFullLast + ", " + std::string(csFirst);
  if (csFirst.empty()) return csFullLast;
  return std::string(csFirst) + " " + csFullLast;
}

PersonName SplitName(std::string_view csName) {
  if (const size_t uiComma = csName.find(", "); uiComma != std::string_view::npos)
    return {std::string(csName.substr(uiComma + 2)), std::string(csName.substr(0, uiComma))};
  if (const size_t uiSpace = csName.rfind(' '); uiSpace != std::string_view::npos)
    return {std::string(csName.substr(0, uiSpace)), std::string(csName.substr(uiSpace + 1))};
  return {"", std::string(csName)};
}

std::optional<int32_t> CanonicalId(std::string_view csId, char cPrefix) {
  if (csId.size() < 2 || csId.front() != cPrefix || csId[1] == '0') return std::nullopt;
  const auto iValue = Digits(csId.substr(1));
  return iValue && *iValue > 0 ? iValue : std::nullopt;
}

int32_t HashedId(std::string_view csId) {
  uint32_t uiHash = 2166136261u;
  for (const char c : csId) {
    uiHash ^= static_cast<unsigned char>(c);
    uiHash *= 16777619u;
  }
  const auto iId = static_cast<int32_t>(uiHash & 0x7fffffffu);
  return iId == 0 ? 1 : iId;
}

std::vector<int32_t> StableIds(const std::vector<std::string>& ids, char cPrefix) {
  std::vector<int32_t> result(ids.size(), 0);
  std::set<int32_t> given;
  for (size_t i = 0; i < ids.size(); ++i) {
    if (const auto iId = CanonicalId(ids[i], cPrefix); iId && given.insert(*iId).second)
      result[i] = *iId;
  }
  for (size_t i = 0; i < ids.size(); ++i) {
    if (result[i] != 0) continue;
    int32_t iId = HashedId(ids[i]);
    while (!given.insert(iId).second) iId = iId == INT32_MAX ? 1 : iId + 1;
    result[i] = iId;
  }
  return result;
}

const RecordKindRow& RowOfRecordKind(int32_t idRec) {
  for (const RecordKindRow& row : RecordKinds())
    if (row.idRec == idRec) return row;
  return RecordKinds().front();
}

int32_t RecordKindOfType(const std::optional<std::string>& type) {
  if (!type) return 0;
  for (const RecordKindRow& row : RecordKinds())
    if (row.type != nullptr && SameText(row.type, *type)) return row.idRec;
  const bool bNation = type->size() == 3 && std::all_of(type->begin(), type->end(), [](char c) {
                         return std::isalpha(static_cast<unsigned char>(c)) != 0;
                       });
  return bNation ? 4 : 0;
}

int64_t TicksOf(const Date& date, const Daytime& time) {
  const std::chrono::sys_days day(std::chrono::year(date.year) / std::chrono::month(date.month) /
                                  std::chrono::day(date.day));
  return (day - FirstDay()).count() * kTicksPerDay +
         static_cast<int64_t>(time.hour * 60 + time.minute) * kTicksPerMinute;
}

Date DateOfTicks(int64_t liTicks) {
  const std::chrono::year_month_day day(FirstDay() + std::chrono::days(liTicks / kTicksPerDay));
  return {static_cast<int32_t>(day.year()), static_cast<uint32_t>(day.month()),
          static_cast<uint32_t>(day.day())};
}

Daytime DaytimeOfTicks(int64_t liTicks) {
  const int64_t liMinutes = liTicks % kTicksPerDay / kTicksPerMinute;
  return {static_cast<uint32_t>(liMinutes / 60), static_cast<uint32_t>(liMinutes % 60)};
}

}  // namespace Varnox::Lenex::Mapping
