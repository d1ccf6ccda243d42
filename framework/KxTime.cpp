// Race times in text: "[-][[h:]mm:]ss[.fff]" with the precision shown by the
// number of decimals, and "NT" for no time (contracts/framework/OrbValues.h).
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "contracts/framework/OrbKernelException.h"
#include "contracts/framework/OrbValues.h"
#include "contracts/kernel/KxText.h"

namespace Tarvex::Orb {
namespace {

using DataDirectAcces::OrbKernelException;

constexpr int64_t kPowersOfTen[] = {1, 10, 100, 1'000, 10'000, 100'000, 1'000'000, 10'000'000};
constexpr int64_t kMaxTime = std::numeric_limits<int64_t>::max();

[[noreturn]] void Refuse(std::u16string_view csText, const char* why) {
  throw OrbKernelException(u"KxTime.Parse (\"" + std::u16string(csText) + u"\"):\r\n" +
                           KxText::Utf8ToUtf16(why));
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

std::u16string_view Trimmed(std::u16string_view csText) {
  while (!csText.empty() && IsBlank(csText.front())) csText.remove_prefix(1);
  while (!csText.empty() && IsBlank(csText.back())) csText.remove_suffix(1);
  return csText;
}

// value * factor + add, or nothing when it leaves 64 bits.
std::optional<int64_t> MulAdd(int64_t liValue, int64_t liFactor, int64_t liAdd) {
  if (liValue > (kMaxTime - liAdd) / liFactor) return std::nullopt;
  return liValue * liFactor + liAdd;
}

// Reads the digits at the front of `csRest` into `liValue`; the count read.
// Fails on overflow.
bool ReadNumber(std::u16string_view& csRest, int64_t& liValue, size_t& uiDigits) {
  liValue = 0;
  uiDigits = 0;
  while (!csRest.empty() && IsDigit(csRest.front())) {
    const std::optional<int64_t> next = MulAdd(liValue, 10, csRest.front() - u'0');
    if (!next) return false;
    liValue = *next;
    csRest.remove_prefix(1);
    ++uiDigits;
  }
  return true;
}

void AppendNumber(std::u16string& out, int64_t liValue, size_t uiMinDigits) {
  const std::string digits = std::to_string(liValue);
  out.append(uiMinDigits > digits.size() ? uiMinDigits - digits.size() : 0, u'0');
  out.append(digits.begin(), digits.end());
}

}  // namespace

KxTime KxTime::Parse(std::u16string_view csText) {
  std::u16string_view rest = Trimmed(csText);
  if (!rest.empty() && rest.back() == u'm') rest = rest.substr(0, rest.size() - 1);
  const bool bNegative = !rest.empty() && rest.front() == u'-';
  if (bNegative) rest.remove_prefix(1);

  // Up to three fields separated by ':' (hours, minutes, seconds); the
  // first any number of digits, the others two digits below 60.
  int64_t liSeconds = 0;
  for (int iField = 0;; ++iField) {
    int64_t liField = 0;
    size_t uiDigits = 0;
    if (!ReadNumber(rest, liField, uiDigits)) Refuse(csText, "the time is too large");
    if (uiDigits == 0) Refuse(csText, "not a race time such as 1:02.34 (or NT for no time)");
    if (iField > 0 && (uiDigits != 2 || liField > 59)) {
      Refuse(csText, "minutes and seconds after a ':' take two digits from 00 to 59");
    }
    const std::optional<int64_t> total = MulAdd(liSeconds, 60, liField);
    if (!total) Refuse(csText, "the time is too large");
    liSeconds = *total;
    if (rest.empty() || rest.front() != u':') break;
    if (iField == 2) Refuse(csText, "more than hours, minutes and seconds");
    rest.remove_prefix(1);
  }

  int64_t liFraction = 0;
  size_t uiDecimals = 0;
  if (!rest.empty() && rest.front() == u'.') {
    rest.remove_prefix(1);
    if (!ReadNumber(rest, liFraction, uiDecimals) || uiDecimals > 7) {
      Refuse(csText, "more than seven decimals");
    }
    if (uiDecimals == 0) Refuse(csText, "a '.' without decimals");
  }
  if (!rest.empty()) Refuse(csText, "not a race time such as 1:02.34 (or NT for no time)");

  const std::optional<int64_t> time = MulAdd(liSeconds, kPowersOfTen[uiDecimals], liFraction);
  if (!time) Refuse(csText, "the time is too large");
  KxTime result(static_cast<KxPrecision>(uiDecimals));
  result.set_Time(*time);
  result.set_Negative(bNegative);
  return result;
}

std::u16string KxTime::ToString() const {
  if (m_liTime < 0) {
    throw OrbKernelException(
        u"KxTime.ToString ({0}):\r\nthe time is negative; its sign "
        u"belongs in Negative",
        {m_liTime});
  }
  const int iDecimals = static_cast<int>(m_Precision);
  const int64_t liSeconds = m_liTime / kPowersOfTen[iDecimals];
  const int64_t liFraction = m_liTime % kPowersOfTen[iDecimals];
  const int64_t liHours = liSeconds / 3600;
  const int64_t liMinutes = liSeconds / 60 % 60;

  std::u16string out;
  if (m_bNegative) out += u'-';
  if (liHours > 0) {
    AppendNumber(out, liHours, 1);
    out += u':';
    AppendNumber(out, liMinutes, 2);
    out += u':';
    AppendNumber(out, liSeconds % 60, 2);
  } else if (liMinutes > 0) {
    AppendNumber(out, liMinutes, 1);
    out += u':';
    AppendNumber(out, liSeconds % 60, 2);
  } else {
    AppendNumber(out, liSeconds, 1);
  }
  if (iDecimals > 0) {
    out += u'.';
    AppendNumber(out, liFraction, static_cast<size_t>(iDecimals));
  }
  return out;
}

std::optional<KxTime> KxTime::ParseOptional(std::u16string_view csText) {
  const std::u16string_view trimmed = Trimmed(csText);
  const bool bNoTime =
      trimmed.empty() || (trimmed.size() == 2 && (trimmed[0] == u'N' || trimmed[0] == u'n') &&
                          (trimmed[1] == u'T' || trimmed[1] == u't'));
  if (bNoTime) return std::nullopt;
  return Parse(csText);
}

std::u16string KxTime::OptionalToString(const std::optional<KxTime>& time) {
  return time ? time->ToString() : u"NT";
}

}  // namespace Tarvex::Orb
