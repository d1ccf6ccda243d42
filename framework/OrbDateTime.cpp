// Date-times in text: ISO 8601 with its kind, and the "fr-CH" form of the
// view models' defaults (contracts/framework/OrbValues.h).
#include <time.h>

#include <cstdio>
#include <optional>
#include <string>

#include "contracts/framework/OrbKernelException.h"
#include "contracts/framework/OrbValues.h"
#include "contracts/kernel/KxText.h"
#include "contracts/kernel/KxValueWords.h"

namespace Tarvex::Orb::DataDirectAcces {
namespace {

using KxDateWord::kDaysTo1970;
using KxDateWord::kTicksPerDay;
using KxDateWord::kTicksPerSecond;

[[noreturn]] void Refuse(std::u16string_view csText, const char* why) {
  throw OrbKernelException(u"OrbDateTime.Parse (\"" + std::u16string(csText) + u"\"):\r\n" +
                           KxText::Utf8ToUtf16(why));
}

// Proleptic Gregorian calendar, days counted from 1970-01-01.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

struct Civil {
  int64_t year, month, day, hour, minute, second, fraction;  // fraction in ticks
};

Civil CivilFromTicks(int64_t liTicks) {
  int64_t z = liTicks / kTicksPerDay - kDaysTo1970 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  Civil c{};
  c.day = doy - (153 * mp + 2) / 5 + 1;
  c.month = mp < 10 ? mp + 3 : mp - 9;
  c.year = yoe + era * 400 + (c.month <= 2 ? 1 : 0);
  const int64_t liInDay = liTicks % kTicksPerDay;
  const int64_t liSeconds = liInDay / kTicksPerSecond;
  c.hour = liSeconds / 3600;
  c.minute = liSeconds / 60 % 60;
  c.second = liSeconds % 60;
  c.fraction = liInDay % kTicksPerSecond;
  return c;
}

bool DateExists(int64_t y, int64_t m, int64_t d) {
  static constexpr int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool bLeap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= kMonthDays[m - 1] &&
         !(m == 2 && d == 29 && !bLeap);
}

// This machine's offset from UTC, in ticks, at UTC instant `liUtcTicks`.
int64_t OffsetAtUtc(int64_t liUtcTicks) {
  const time_t t = static_cast<time_t>(liUtcTicks / kTicksPerSecond - kDaysTo1970 * 86'400);
  tm local{};
  if (localtime_r(&t, &local) == nullptr) return 0;
  return static_cast<int64_t>(local.tm_gmtoff) * kTicksPerSecond;
}

// The offset in force at local wall-clock time `liLocalTicks`: the offset
// o for which the UTC instant local - o has offset o (one of the two in the
// hour a clock change repeats; in the hour it skips, no offset fits).
int64_t OffsetAtLocal(int64_t liLocalTicks) {
  const int64_t liGuess = OffsetAtUtc(liLocalTicks);
  const int64_t liSecond = OffsetAtUtc(liLocalTicks - liGuess);
  return liSecond == liGuess ? liGuess : OffsetAtUtc(liLocalTicks - liSecond);
}

// Reads exactly `uiCount` digits from the front of `rest`.
bool Digits(std::u16string_view& rest, size_t uiCount, int64_t& liValue) {
  if (rest.size() < uiCount) return false;
  liValue = 0;
  for (size_t i = 0; i < uiCount; ++i) {
    if (rest[i] < u'0' || rest[i] > u'9') return false;
    liValue = liValue * 10 + (rest[i] - u'0');
  }
  rest.remove_prefix(uiCount);
  return true;
}

bool Take(std::u16string_view& rest, char16_t c) {
  if (rest.empty() || rest.front() != c) return false;
  rest.remove_prefix(1);
  return true;
}

// "hh:mm[:ss[.f{1,7}]]" at the front of `rest`, as ticks into the day.
bool TimeOfDay(std::u16string_view& rest, int64_t& liTicks) {
  int64_t h = 0, mi = 0, s = 0, frac = 0;
  if (!Digits(rest, 2, h) || !Take(rest, u':') || !Digits(rest, 2, mi)) return false;
  if (Take(rest, u':')) {
    if (!Digits(rest, 2, s)) return false;
    if (Take(rest, u'.')) {
      size_t uiDecimals = 0;
      while (uiDecimals < rest.size() && rest[uiDecimals] >= u'0' && rest[uiDecimals] <= u'9') {
        ++uiDecimals;
      }
      if (uiDecimals == 0 || uiDecimals > 7 || !Digits(rest, uiDecimals, frac)) return false;
      for (size_t i = uiDecimals; i < 7; ++i) frac *= 10;
    }
  }
  if (h > 23 || mi > 59 || s > 59) return false;
  liTicks = (h * 3600 + mi * 60 + s) * kTicksPerSecond + frac;
  return true;
}

std::optional<OrbDateTime> Make(int64_t liTicks, OrbDateTimeKind kind) {
  if (liTicks < 0 || liTicks > OrbDateTime::kMaxTicks) return std::nullopt;
  return OrbDateTime(liTicks, kind);
}

// "dd.MM.yyyy[ +hh:mm[:ss[.fff]]]", unspecified.
std::optional<OrbDateTime> ParseSwiss(std::u16string_view rest) {
  int64_t d = 0, m = 0, y = 0, liInDay = 0;
  if (!Digits(rest, 2, d) || !Take(rest, u'.') || !Digits(rest, 2, m) || !Take(rest, u'.') ||
      !Digits(rest, 4, y) || !DateExists(y, m, d)) {
    return std::nullopt;
  }
  if (!rest.empty()) {
    if (!Take(rest, u' ')) return std::nullopt;
    while (Take(rest, u' ')) {
    }
    if (!TimeOfDay(rest, liInDay) || !rest.empty()) return std::nullopt;
  }
  return Make((DaysFromCivil(y, m, d) + kDaysTo1970) * kTicksPerDay + liInDay,
              OrbDateTimeKind::Unspecified);
}

// "yyyy-MM-dd[(T| )hh:mm[:ss[.f{1,7}]][Z|(+|-)hh[[:]mm[[:]ss]]]]".
std::optional<OrbDateTime> ParseIso(std::u16string_view rest) {
  int64_t y = 0, m = 0, d = 0, liInDay = 0;
  if (!Digits(rest, 4, y) || !Take(rest, u'-') || !Digits(rest, 2, m) || !Take(rest, u'-') ||
      !Digits(rest, 2, d) || !DateExists(y, m, d)) {
    return std::nullopt;
  }
  const int64_t liDate = (DaysFromCivil(y, m, d) + kDaysTo1970) * kTicksPerDay;
  if (rest.empty()) return Make(liDate, OrbDateTimeKind::Unspecified);
  if (!Take(rest, u'T') && !Take(rest, u' ')) return std::nullopt;
  if (!TimeOfDay(rest, liInDay)) return std::nullopt;
  const int64_t liWall = liDate + liInDay;
  if (rest.empty()) return Make(liWall, OrbDateTimeKind::Unspecified);
  if (rest == u"Z") return Make(liWall, OrbDateTimeKind::Utc);

  const bool bWest = rest.front() == u'-';
  if (!Take(rest, u'+') && !Take(rest, u'-')) return std::nullopt;
  // hh[[:]mm[[:]ss]]: a zone's offset may have seconds (old local mean times).
  int64_t aOffset[3] = {0, 0, 0};
  for (size_t i = 0; i < 3 && (i == 0 || !rest.empty()); ++i) {
    if (i > 0) Take(rest, u':');
    if (!Digits(rest, 2, aOffset[i]) || aOffset[i] > (i == 0 ? 23 : 59)) return std::nullopt;
  }
  if (!rest.empty()) return std::nullopt;
  const int64_t liOffset =
      (bWest ? -1 : 1) * ((aOffset[0] * 60 + aOffset[1]) * 60 + aOffset[2]) * kTicksPerSecond;
  // The instant may lie just outside the range when the local time does not.
  const int64_t liUtc = liWall - liOffset;
  return Make(liUtc + OffsetAtUtc(liUtc), OrbDateTimeKind::Local);
}

std::u16string Ascii(const char* csText) {
  return std::u16string(csText, csText + std::char_traits<char>::length(csText));
}

}  // namespace

OrbDateTime OrbDateTime::Parse(std::u16string_view csText) {
  const bool bIso = csText.size() > 4 && csText[4] == u'-';
  const std::optional<OrbDateTime> value = bIso ? ParseIso(csText) : ParseSwiss(csText);
  if (!value) {
    Refuse(csText,
           "not a date-time such as 2026-07-14T09:30:00Z (ISO 8601) or 14.07.2026  09:30:00.000 "
           "(a date that exists, in years 1 to 9999)");
  }
  return *value;
}

std::u16string OrbDateTime::ToString() const {
  const Civil c = CivilFromTicks(m_liTicks);
  char aText[48];
  std::snprintf(aText, sizeof aText, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%07lld",
                static_cast<long long>(c.year), static_cast<long long>(c.month),
                static_cast<long long>(c.day), static_cast<long long>(c.hour),
                static_cast<long long>(c.minute), static_cast<long long>(c.second),
                static_cast<long long>(c.fraction));
  std::u16string out = Ascii(aText);
  if (m_Kind == OrbDateTimeKind::Utc) out += u'Z';
  if (m_Kind == OrbDateTimeKind::Local) {
    const int64_t liSeconds = OffsetAtLocal(m_liTicks) / kTicksPerSecond;
    const long long llAbs = liSeconds < 0 ? -liSeconds : liSeconds;
    std::snprintf(aText, sizeof aText, "%c%02lld:%02lld", liSeconds < 0 ? '-' : '+', llAbs / 3600,
                  llAbs / 60 % 60);
    if (llAbs % 60 != 0) {
      std::snprintf(aText + 6, sizeof aText - 6, ":%02lld", llAbs % 60);
    }
    out += Ascii(aText);
  }
  return out;
}

std::u16string OrbDateTime::ToDisplayString() const {
  const Civil c = CivilFromTicks(m_liTicks);
  char aText[48];
  std::snprintf(aText, sizeof aText, "%02lld.%02lld.%04lld  %02lld:%02lld:%02lld.%03lld",
                static_cast<long long>(c.day), static_cast<long long>(c.month),
                static_cast<long long>(c.year), static_cast<long long>(c.hour),
                static_cast<long long>(c.minute), static_cast<long long>(c.second),
                static_cast<long long>(c.fraction / 10'000));
  return Ascii(aText);
}

}  // namespace Tarvex::Orb::DataDirectAcces
