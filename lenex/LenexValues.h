// The value forms of a LENEX document: swim and reaction times, dates,
// daytimes and the code lists. Each form is parsed and written here and
// nowhere else; the reader and the writer go through these functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Varnox::Lenex {

// A swim time in hundredths of a second; no value means "NT" (no time).
// Files write "HH:MM:SS.hh" with hours 00 to 99.
struct SwimTime {
  std::optional<int32_t> hundredths;

  static SwimTime NoTime() { return {}; }
  static SwimTime Of(int32_t iHundredths) { return {iHundredths}; }
  bool operator==(const SwimTime&) const = default;
};

// The largest swim time the form holds: 99:59:59.99.
inline constexpr int32_t kMaxSwimHundredths = ((99 * 60 + 59) * 60 + 59) * 100 + 99;

// A reaction time in signed hundredths of a second ("+71" is 0.71 s).
struct ReactionTime {
  int32_t hundredths = 0;
  bool operator==(const ReactionTime&) const = default;
};

// A calendar date; files write "YYYY-MM-DD".
struct Date {
  int32_t year = 1900;
  uint32_t month = 1;
  uint32_t day = 1;
  bool operator==(const Date&) const = default;
};

// A time of day on the 24-hour clock; files write "HH:MM".
struct Daytime {
  uint32_t hour = 0;
  uint32_t minute = 0;
  bool operator==(const Daytime&) const = default;
};

// "HH:MM:SS.hh" or "NT". "00:00:00.00", which some producers write for a
// swimmer who did not start, reads as no time. Nothing when the text is
// neither form.
std::optional<SwimTime> ParseSwimTime(std::string_view text);
// "HH:MM:SS.hh", or "NT" for no time. The time must lie within
// 0..kMaxSwimHundredths (the writer checks this before calling).
std::string FormatSwimTime(const SwimTime& time);

// Signed hundredths ("+71", "-5", "0") or signed seconds ("+0.71", "-0.05",
// at most two decimals), as producers write either. Nothing otherwise.
std::optional<ReactionTime> ParseReactionTime(std::string_view text);
// Always signed hundredths: "+71", "-5", "0".
std::string FormatReactionTime(const ReactionTime& time);

// "YYYY-MM-DD", a real calendar day. Nothing otherwise.
std::optional<Date> ParseDate(std::string_view text);
std::string FormatDate(const Date& date);
// Whether the date is a real calendar day with a four-digit year.
bool IsValidDate(const Date& date);

// "HH:MM" on the 24-hour clock. Nothing otherwise.
std::optional<Daytime> ParseDaytime(std::string_view text);
std::string FormatDaytime(const Daytime& time);

// A signed 32-bit decimal integer (an optional leading '+' or '-'). Nothing
// otherwise, also on overflow.
std::optional<int32_t> ParseNumber(std::string_view text);

// ---------------------------------------------------------------------------
// Code lists. Each enum has one table of its codes (LenexValues.cpp); Parse
// gives nothing for a code not in the table, Code gives the code of a value.

enum class Course { kLCM, kSCM, kSCY, kSCM16, kSCM20, kSCM33, kSCY20, kSCY27, kSCY33, kSCY36, kOpen };
// One list for athletes (M, F), events (A, M, F, X) and record lists (M, F,
// X); the reader checks which of them a place allows.
enum class Gender { kAll, kMale, kFemale, kMixed };
enum class Stroke { kFree, kBack, kBreast, kFly, kMedley, kImRelay, kUnknown };
enum class Technique { kKick, kPull, kDive, kGlide, kStart, kTurn };
enum class Round { kTimed, kPrelim, kQuarter, kSemi, kFinal, kSwimOffPrelim, kSwimOffQuarter,
                   kSwimOffSemi, kFastestHeats, kTimeTrial };
enum class ResultStatus { kDisqualified, kDidNotStart, kDidNotFinish, kSick, kWithdrawn,
                          kExhibition };
// DNS is no entry status of the format, but files write it; it is kept.
enum class EntryStatus { kExhibition, kRejected, kSick, kWithdrawn, kDidNotStart };
enum class Timing { kAutomatic, kSemiAutomatic, kManual3, kManual2, kManual1 };
enum class HeatStatus { kSeeded, kInofficial, kOfficial, kScheduled };
enum class ClubType { kClub, kNationalTeam, kRegionalTeam, kUnattached };
enum class AgeDateType { kYear, kDate };
enum class HeatFinal { kA, kB, kC, kD };
enum class RecordStatus { kApproved, kPending, kTargetTime };

// The parsing and writing of one code list, and the list of its codes for a
// refusal's "expected" text.
template <typename E>
struct Codes {
  static std::optional<E> Parse(std::string_view text);
  static std::string_view Code(E value);
  static std::string Expected();
};

}  // namespace Varnox::Lenex
