// The value forms of a LENEX document (LenexValues.h).
#include "lenex/LenexValues.h"

#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <utility>

namespace Varnox::Lenex {

namespace {

// The value of exactly `count` decimal digits at text[at], or nothing.
std::optional<uint32_t> Digits(std::string_view text, size_t at, size_t count) {
  if (at + count > text.size()) return std::nullopt;
  uint32_t value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(text[i] - '0');
  }
  return value;
}

std::string TwoDigits(uint32_t value) {
  char aBuffer[3] = {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10),
                     0};
  return aBuffer;
}

}  // namespace

std::optional<SwimTime> ParseSwimTime(std::string_view text) {
  if (text == "NT") return SwimTime::NoTime();
  if (text.size() != 11 || text[2] != ':' || text[5] != ':' || text[8] != '.') return std::nullopt;
  const auto hours = Digits(text, 0, 2);
  const auto minutes = Digits(text, 3, 2);
  const auto seconds = Digits(text, 6, 2);
  const auto hundredths = Digits(text, 9, 2);
  if (!hours || !minutes || !seconds || !hundredths || *minutes > 59 || *seconds > 59)
    return std::nullopt;
  const auto total =
      static_cast<int32_t>(((*hours * 60 + *minutes) * 60 + *seconds) * 100 + *hundredths);
  if (total == 0) return SwimTime::NoTime();
  return SwimTime::Of(total);
}

std::string FormatSwimTime(const SwimTime& time) {
  if (!time.hundredths) return "NT";
  const auto total = static_cast<uint32_t>(*time.hundredths);
  const uint32_t seconds = total / 100;
  // Written into one buffer: every entry and result time of a meet passes here.
  char aText[11] = {0, 0, ':', 0, 0, ':', 0, 0, '.', 0, 0};
  const auto put = [&aText](size_t at, uint32_t value) {
    aText[at] = static_cast<char>('0' + value / 10 % 10);
    aText[at + 1] = static_cast<char>('0' + value % 10);
  };
  put(0, seconds / 3600);
  put(3, seconds / 60 % 60);
  put(6, seconds % 60);
  put(9, total % 100);
  return std::string(aText, sizeof aText);
}

std::optional<ReactionTime> ParseReactionTime(std::string_view text) {
  bool bNegative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    bNegative = text[0] == '-';
    text.remove_prefix(1);
  }
  const size_t uiPoint = text.find('.');
  const std::string_view whole = text.substr(0, uiPoint);
  // Reaction times are a few seconds at most; more digits are no reaction time.
  if (whole.empty() || whole.size() > 6) return std::nullopt;
  const auto wholeValue = Digits(whole, 0, whole.size());
  if (!wholeValue) return std::nullopt;
  int32_t iHundredths = static_cast<int32_t>(*wholeValue);
  if (uiPoint != std::string_view::npos) {
    // Seconds with one or two decimals.
    const std::string_view fraction = text.substr(uiPoint + 1);
    if (whole.size() > 3 || fraction.empty() || fraction.size() > 2) return std::nullopt;
    const auto fractionValue = Digits(fraction, 0, fraction.size());
    if (!fractionValue) return std::nullopt;
    iHundredths = iHundredths * 100 +
                  static_cast<int32_t>(fraction.size() == 1 ? *fractionValue * 10 : *fractionValue);
  }
  return ReactionTime{bNegative ? -iHundredths : iHundredths};
}

std::string FormatReactionTime(const ReactionTime& time) {
  if (time.hundredths == 0) return "0";
  return (time.hundredths > 0 ? "+" : "") + std::to_string(time.hundredths);
}

bool IsValidDate(const Date& date) {
  if (date.year < 1000 || date.year > 9999) return false;
  const std::chrono::year_month_day day{std::chrono::year(date.year),
                                        std::chrono::month(date.month),
                                        std::chrono::day(date.day)};
  return day.ok();
}

std::optional<Date> ParseDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  const auto year = Digits(text, 0, 4);
  const auto month = Digits(text, 5, 2);
  const auto day = Digits(text, 8, 2);
  if (!year || !month || !day) return std::nullopt;
  const Date date{static_cast<int32_t>(*year), *month, *day};
  if (!IsValidDate(date)) return std::nullopt;
  return date;
}

std::string FormatDate(const Date& date) {
  char aBuffer[16];
  std::snprintf(aBuffer, sizeof aBuffer, "%04d-%02u-%02u", date.year, date.month, date.day);
  return aBuffer;
}

std::optional<Daytime> ParseDaytime(std::string_view text) {
  if (text.size() != 5 || text[2] != ':') return std::nullopt;
  const auto hour = Digits(text, 0, 2);
  const auto minute = Digits(text, 3, 2);
  if (!hour || !minute || *hour > 23 || *minute > 59) return std::nullopt;
  return Daytime{*hour, *minute};
}

std::string FormatDaytime(const Daytime& time) {
  return TwoDigits(time.hour) + ":" + TwoDigits(time.minute);
}

std::optional<int32_t> ParseNumber(std::string_view text) {
  // Most numbers are a few plain digits: read at once, as the general
  // parse below would.
  if (!text.empty() && text.size() <= 9) {
    if (const auto value = Digits(text, 0, text.size())) return static_cast<int32_t>(*value);
  }
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty() || text[0] == '+') return std::nullopt;
  int32_t value = 0;
  const auto [pEnd, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || pEnd != text.data() + text.size()) return std::nullopt;
  return value;
}

// ---------------------------------------------------------------------------
// The code tables: each value once with its code.

namespace {

template <typename E, size_t N>
using Table = std::array<std::pair<E, std::string_view>, N>;

template <typename E>
constexpr auto kTable = nullptr;

template <>
constexpr auto kTable<Course> = Table<Course, 11>{{{Course::kLCM, "LCM"},
                                                   {Course::kSCM, "SCM"},
                                                   {Course::kSCY, "SCY"},
                                                   {Course::kSCM16, "SCM16"},
                                                   {Course::kSCM20, "SCM20"},
                                                   {Course::kSCM33, "SCM33"},
                                                   {Course::kSCY20, "SCY20"},
                                                   {Course::kSCY27, "SCY27"},
                                                   {Course::kSCY33, "SCY33"},
                                                   {Course::kSCY36, "SCY36"},
                                                   {Course::kOpen, "OPEN"}}};
template <>
constexpr auto kTable<Gender> = Table<Gender, 4>{
    {{Gender::kAll, "A"}, {Gender::kMale, "M"}, {Gender::kFemale, "F"}, {Gender::kMixed, "X"}}};
template <>
constexpr auto kTable<Stroke> = Table<Stroke, 7>{{{Stroke::kFree, "FREE"},
                                                  {Stroke::kBack, "BACK"},
                                                  {Stroke::kBreast, "BREAST"},
                                                  {Stroke::kFly, "FLY"},
                                                  {Stroke::kMedley, "MEDLEY"},
                                                  {Stroke::kImRelay, "IMRELAY"},
                                                  {Stroke::kUnknown, "UNKNOWN"}}};
template <>
constexpr auto kTable<Technique> = Table<Technique, 6>{{{Technique::kKick, "KICK"},
                                                        {Technique::kPull, "PULL"},
                                                        {Technique::kDive, "DIVE"},
                                                        {Technique::kGlide, "GLIDE"},
                                                        {Technique::kStart, "START"},
                                                        {Technique::kTurn, "TURN"}}};
template <>
constexpr auto kTable<Round> = Table<Round, 10>{{{Round::kTimed, "TIM"},
                                                 {Round::kPrelim, "PRE"},
                                                 {Round::kQuarter, "QUA"},
                                                 {Round::kSemi, "SEM"},
                                                 {Round::kFinal, "FIN"},
                                                 {Round::kSwimOffPrelim, "SOP"},
                                                 {Round::kSwimOffQuarter, "SOQ"},
                                                 {Round::kSwimOffSemi, "SOS"},
                                                 {Round::kFastestHeats, "FHT"},
                                                 {Round::kTimeTrial, "TIMETRIAL"}}};
template <>
constexpr auto kTable<ResultStatus> =
    Table<ResultStatus, 6>{{{ResultStatus::kDisqualified, "DSQ"},
                            {ResultStatus::kDidNotStart, "DNS"},
                            {ResultStatus::kDidNotFinish, "DNF"},
                            {ResultStatus::kSick, "SICK"},
                            {ResultStatus::kWithdrawn, "WDR"},
                            {ResultStatus::kExhibition, "EXH"}}};
template <>
constexpr auto kTable<EntryStatus> = Table<EntryStatus, 5>{{{EntryStatus::kExhibition, "EXH"},
                                                            {EntryStatus::kRejected, "RJC"},
                                                            {EntryStatus::kSick, "SICK"},
                                                            {EntryStatus::kWithdrawn, "WDR"},
                                                            {EntryStatus::kDidNotStart, "DNS"}}};
template <>
constexpr auto kTable<Timing> = Table<Timing, 5>{{{Timing::kAutomatic, "AUTOMATIC"},
                                                  {Timing::kSemiAutomatic, "SEMIAUTOMATIC"},
                                                  {Timing::kManual3, "MANUAL3"},
                                                  {Timing::kManual2, "MANUAL2"},
                                                  {Timing::kManual1, "MANUAL1"}}};
template <>
constexpr auto kTable<HeatStatus> = Table<HeatStatus, 4>{{{HeatStatus::kSeeded, "SEEDED"},
                                                          {HeatStatus::kInofficial, "INOFFICIAL"},
                                                          {HeatStatus::kOfficial, "OFFICIAL"},
                                                          {HeatStatus::kScheduled, "SCHEDULED"}}};
template <>
constexpr auto kTable<ClubType> = Table<ClubType, 4>{{{ClubType::kClub, "CLUB"},
                                                      {ClubType::kNationalTeam, "NATIONALTEAM"},
                                                      {ClubType::kRegionalTeam, "REGIONALTEAM"},
                                                      {ClubType::kUnattached, "UNATTACHED"}}};
template <>
constexpr auto kTable<AgeDateType> =
    Table<AgeDateType, 2>{{{AgeDateType::kYear, "YEAR"}, {AgeDateType::kDate, "DATE"}}};
template <>
constexpr auto kTable<HeatFinal> = Table<HeatFinal, 4>{
    {{HeatFinal::kA, "A"}, {HeatFinal::kB, "B"}, {HeatFinal::kC, "C"}, {HeatFinal::kD, "D"}}};
template <>
constexpr auto kTable<RecordStatus> =
    Table<RecordStatus, 3>{{{RecordStatus::kApproved, "APPROVED"},
                            {RecordStatus::kPending, "PENDING"},
                            {RecordStatus::kTargetTime, "TARGETTIME"}}};

}  // namespace

template <typename E>
std::optional<E> Codes<E>::Parse(std::string_view text) {
  for (const auto& [value, code] : kTable<E>) {
    if (code == text) return value;
  }
  return std::nullopt;
}

template <typename E>
std::string_view Codes<E>::Code(E value) {
  for (const auto& [candidate, code] : kTable<E>) {
    if (candidate == value) return code;
  }
  return "?";
}

template <typename E>
std::string Codes<E>::Expected() {
  std::string csList;
  for (const auto& [value, code] : kTable<E>) {
    csList += csList.empty() ? "one of " : ", ";
    csList += code;
  }
  return csList;
}

template struct Codes<Course>;
template struct Codes<Gender>;
template struct Codes<Stroke>;
template struct Codes<Technique>;
template struct Codes<Round>;
template struct Codes<ResultStatus>;
template struct Codes<EntryStatus>;
template struct Codes<Timing>;
template struct Codes<HeatStatus>;
template struct Codes<ClubType>;
template struct Codes<AgeDateType>;
template struct Codes<HeatFinal>;
template struct Codes<RecordStatus>;

}  // namespace Varnox::Lenex
