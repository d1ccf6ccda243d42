// The text forms of values in XML documents of kernel files.
#include "kernel/KxXmlForms.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "contracts/kernel/KxText.h"
#include "contracts/kernel/KxValueWords.h"
#include "kernel/KxSegment.h"

namespace KxXmlDetail {

// ---------------------------------------------------------------------------
// Texts.

bool IsXmlChar(uint32_t cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
         (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

bool Utf16ToXml(const char16_t* p, size_t uiCount, std::string& out) {
  out.clear();
  for (size_t i = 0; i < uiCount;) {
    char32_t cp = 0;
    if (!KxText::NextUtf16(p, uiCount, i, cp) || !IsXmlChar(cp)) return false;
    KxText::AppendUtf8(out, cp);
  }
  return true;
}

bool AnsiToXml(const uint8_t* p, size_t uiCount, std::string& out) {
  out.clear();
  for (size_t i = 0; i < uiCount; ++i) {
    const char32_t cp = KxText::Cp1252ToUnicode(p[i]);
    if (!IsXmlChar(cp)) return false;
    KxText::AppendUtf8(out, cp);
  }
  return true;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendHex(std::string& out, uint64_t uiValue, int iDigits) {
  for (int i = iDigits - 1; i >= 0; --i) out += kHexDigits[(uiValue >> (4 * i)) & 0xF];
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `iDigits` hex digits at `p`; false for anything else.
bool ReadHex(const char* p, int iDigits, uint64_t& uiValue) {
  uiValue = 0;
  for (int i = 0; i < iDigits; ++i) {
    const int iDigit = HexValue(p[i]);
    if (iDigit < 0) return false;
    uiValue = (uiValue << 4) | static_cast<uint64_t>(iDigit);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Values: dates and times.

using namespace KxDateWord;
using namespace KxTimeWord;

// Proleptic Gregorian calendar, days counted from 1970-01-01.
void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void AppendRawWord(std::string& out, uint64_t uiWord) {
  out += "0x";
  AppendHex(out, uiWord, 16);
}

bool ReadRawWord(const std::string& s, uint64_t& uiWord) {
  return s.size() == 18 && s[0] == '0' && s[1] == 'x' && ReadHex(s.data() + 2, 16, uiWord);
}

// 2026-07-14T09:30:00.0000000 (unspecified), ...Z (UTC), ...L (local); a
// word no date stands for (ticks past 9999, both kind bits) as 0x + hex.
void FormatDateTime(uint64_t uiWord, std::string& out) {
  out.clear();
  const uint64_t uiKind = uiWord & kKindMask;
  const uint64_t uiTicks = uiWord & ~kKindMask;
  if (uiKind == kKindMask || uiTicks > kMaxTicks) {
    AppendRawWord(out, uiWord);
    return;
  }
  const int64_t liTicks = static_cast<int64_t>(uiTicks);
  int64_t y = 0;
  unsigned m = 0, d = 0;
  CivilFromDays(liTicks / kTicksPerDay - kDaysTo1970, y, m, d);
  const int64_t liInDay = liTicks % kTicksPerDay;
  const int64_t liSeconds = liInDay / kTicksPerSecond;
  char aText[40];
  std::snprintf(aText, sizeof aText, "%04d-%02u-%02uT%02d:%02d:%02d.%07d", static_cast<int>(y), m,
                d, static_cast<int>(liSeconds / 3600), static_cast<int>(liSeconds / 60 % 60),
                static_cast<int>(liSeconds % 60), static_cast<int>(liInDay % kTicksPerSecond));
  out = aText;
  if (uiKind == kUtcBits) out += 'Z';
  if (uiKind == kLocalBits) out += 'L';
}

bool ReadDigits(const std::string& s, size_t uiAt, size_t uiCount, int64_t& liValue) {
  liValue = 0;
  for (size_t i = uiAt; i < uiAt + uiCount; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    liValue = liValue * 10 + (s[i] - '0');
  }
  return true;
}

bool ParseDateTime(const std::string& s, uint64_t& uiWord) {
  if (ReadRawWord(s, uiWord)) return true;
  constexpr size_t kLength = 27;  // YYYY-MM-DDThh:mm:ss.fffffff
  if (s.size() != kLength && s.size() != kLength + 1) return false;
  int64_t y, mo, d, h, mi, sec, frac;
  if (!ReadDigits(s, 0, 4, y) || s[4] != '-' || !ReadDigits(s, 5, 2, mo) || s[7] != '-' ||
      !ReadDigits(s, 8, 2, d) || s[10] != 'T' || !ReadDigits(s, 11, 2, h) || s[13] != ':' ||
      !ReadDigits(s, 14, 2, mi) || s[16] != ':' || !ReadDigits(s, 17, 2, sec) || s[19] != '.' ||
      !ReadDigits(s, 20, 7, frac)) {
    return false;
  }
  static constexpr int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool bLeap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (y < 1 || mo < 1 || mo > 12 || d < 1 || d > kMonthDays[mo - 1] ||
      (mo == 2 && d == 29 && !bLeap) || h > 23 || mi > 59 || sec > 59) {
    return false;
  }
  uint64_t uiKind = 0;
  if (s.size() == kLength + 1) {
    if (s[kLength] == 'Z') {
      uiKind = kUtcBits;
    } else if (s[kLength] == 'L') {
      uiKind = kLocalBits;
    } else {
      return false;
    }
  }
  const int64_t liDays =
      DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) + kDaysTo1970;
  const int64_t liTicks =
      liDays * kTicksPerDay + ((h * 60 + mi) * 60 + sec) * kTicksPerSecond + frac;
  uiWord = static_cast<uint64_t>(liTicks) | uiKind;
  return true;
}

// "null"; "[-]<time> P<precision>"; a word the two forms do not give back
// exactly (no-value bit with other bits, the unused high bits) as 0x + hex.
void FormatKxTime(uint64_t uiWord, std::string& out) {
  out.clear();
  if (uiWord == kNoValue) {
    out = "null";
    return;
  }
  if ((uiWord & (kNoValue | kUnusedBits)) != 0) {
    AppendRawWord(out, uiWord);
    return;
  }
  char aText[40];
  std::snprintf(aText, sizeof aText, "%s%llu P%u", IsNegative(uiWord) ? "-" : "",
                static_cast<unsigned long long>(TimeOf(uiWord)), PrecisionOf(uiWord));
  out = aText;
}

bool ParseKxTime(const std::string& s, uint64_t& uiWord) {
  if (s == "null") {
    uiWord = kNoValue;
    return true;
  }
  if (ReadRawWord(s, uiWord)) return true;
  const bool bNegative = !s.empty() && s[0] == '-';
  const char* p = s.data() + (bNegative ? 1 : 0);
  const char* pEnd = s.data() + s.size();
  uint64_t uiTime = 0;
  const auto [pAfter, ec] = std::from_chars(p, pEnd, uiTime);
  if (ec != std::errc() || pAfter == p || uiTime > kTimeMask || pEnd - pAfter != 3 ||
      pAfter[0] != ' ' || pAfter[1] != 'P' || pAfter[2] < '0' || pAfter[2] > '7') {
    return false;
  }
  uiWord = KxTimeWord::Pack(uiTime, static_cast<uint32_t>(pAfter[2] - '0'), bNegative);
  return true;
}

// A decimal integer within [liMin, liMax]: an optional minus and digits,
// nothing else.
bool ParseInteger(const char* p, const char* pEnd, int64_t liMin, int64_t liMax, int64_t& liValue) {
  if (p == pEnd || *p == '+') return false;
  const auto [pAfter, ec] = std::from_chars(p, pEnd, liValue);
  return ec == std::errc() && pAfter == pEnd && liValue >= liMin && liValue <= liMax;
}

std::string Quoted(const std::string& csText) {
  constexpr size_t kShown = 40;
  std::string out = "\"";
  for (size_t i = 0; i < csText.size() && i < kShown; ++i) {
    const char c = csText[i];
    out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
  }
  if (csText.size() > kShown) out += "...";
  return out + "\"";
}

bool IsXmlBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// A parser error as one line: its message and where.
std::string ParserMessage(const xmlError* pError) {
  std::string csText = pError->message != nullptr ? pError->message : "error";
  while (!csText.empty() && IsXmlBlank(csText.back())) csText.pop_back();
  return csText + " (line " + std::to_string(pError->line) + ")";
}

// Conservative storage units a block of `uiBytes` takes in a segment: the
// block header and the payload rounded up (to an even count for small
// blocks, a power of two for large ones, which is less than twice as much).
uint64_t BlockUnits(uint64_t uiBytes) {
  const uint64_t uiUnits = (uiBytes + 3) / 4;
  return KxSegment::kBlockHeaderUnits + std::max<uint64_t>(2, 2 * uiUnits);
}

// Units the bucket arrays of a map of `uiCount` nodes take at most while the
// nodes are added one by one (every doubling allocates a new array).
uint64_t BucketUnits(uint64_t uiCount) {
  uint64_t uiUnits = BlockUnits(4 * 16);  // a key-case change rehashes once
  uint64_t uiBuckets = 0;
  for (uint64_t n = 0; n < uiCount; ++n) {
    if (4 * (n + 1) > 3 * uiBuckets) {
      uiBuckets = std::max<uint64_t>(16, 2 * uiBuckets);
      uiUnits += BlockUnits(4 * uiBuckets);
    }
  }
  return uiUnits;
}

bool NoCase(const KxEmbeddedMap* pSlot) {
  const uint32_t uiWord = KxAtomicLoad(pSlot->header.lockWord);
  return (uiWord & KxLockWord::kKeyNoCase) != 0 && (uiWord & KxLockWord::kKeyCase) == 0;
}

const char* KindName(KxMemberKind eKind) {
  switch (eKind) {
    case KxMemberKind::kMap:
      return "map";
    case KxMemberKind::kArray:
      return "array";
    case KxMemberKind::kSingle:
      return "record";
  }
  return "?";
}

}  // namespace KxXmlDetail
