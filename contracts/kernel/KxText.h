// The text conversions of the stored strings, written once for the kernel,
// the library, the tool and the tests: UTF-16 to UTF-8 and back,
// Windows-1252 to Unicode and back, and the Windows-1252 case fold of keys
// compared without case.
//
// Invalid input is handled the same way everywhere:
//   - UTF-16 to UTF-8: an unpaired surrogate becomes U+FFFD. A caller that
//     must keep every unit (the XML export) sees it through NextUtf16's
//     answer and writes the units another way.
//   - UTF-8 to UTF-16 (or to Windows-1252): every byte that does not start
//     a well-formed sequence (shortest form, no surrogate, at most U+10FFFF)
//     becomes one U+FFFD, and reading goes on at the next byte.
//   - Unicode to Windows-1252: a character the code page lacks becomes '?'
//     in a text. A key refuses it instead (a '?' could merge two keys), so
//     key readers use UnicodeToCp1252, which answers -1 for it.
// Windows-1252 leaves five bytes undefined (81 8D 8F 90 9D); they stand for
// U+0081 and so on, so that every byte goes to Unicode and back unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace KxText {

inline constexpr char32_t kReplacement = 0xFFFD;  // stands for invalid input
inline constexpr char kMissingAnsi = '?';         // a character Windows-1252 lacks
inline constexpr char32_t kMaxCodePoint = 0x10FFFF;

// ---------------------------------------------------------------------------
// Windows-1252.

// The code points of bytes 0x80..0x9F; the other bytes are their own.
inline constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The code point of a Windows-1252 byte; every byte has one.
constexpr char32_t Cp1252ToUnicode(uint8_t c) {
  return c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c;
}

// The Windows-1252 byte of a code point, or -1 when the code page has none.
constexpr int UnicodeToCp1252(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == cp) return 0x80 + i;
  }
  return -1;
}

// The Windows-1252 lower case of a byte: the store hashes and compares the
// keys of a map without key case through it. It maps each capital letter of
// the code page to its small letter (Unicode's lower case) and leaves every
// other byte as it is.
constexpr uint8_t FoldCp1252(uint8_t c) {
  if (c >= 'A' && c <= 'Z') return static_cast<uint8_t>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<uint8_t>(c + 32);  // À..Þ but ×
  if (c == 0x8A || c == 0x8C || c == 0x8E) return static_cast<uint8_t>(c + 16);  // Š Œ Ž
  if (c == 0x9F) return 0xFF;                                                    // Ÿ
  return c;
}

// ---------------------------------------------------------------------------
// Code points.

constexpr bool IsSurrogate(char32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

// Reads the code point at `i` of `uiCount` UTF-16 units and moves `i` past
// it. False for an unpaired surrogate, answered as itself in `cp` (one unit).
constexpr bool NextUtf16(const char16_t* p, size_t uiCount, size_t& i, char32_t& cp) {
  cp = p[i++];
  if (!IsSurrogate(cp)) return true;
  if (cp <= 0xDBFF && i < uiCount && p[i] >= 0xDC00 && p[i] <= 0xDFFF) {
    cp = 0x10000 + ((cp - 0xD800) << 10) + (p[i++] - 0xDC00);
    return true;
  }
  return false;
}

// Reads the code point at `i` of `uiCount` UTF-8 bytes and moves `i` past
// it. False when the byte at `i` starts no well-formed sequence: `cp` is
// then U+FFFD and `i` moves past that one byte.
constexpr bool NextUtf8(const char* p, size_t uiCount, size_t& i, char32_t& cp) {
  const uint8_t c = static_cast<uint8_t>(p[i]);
  size_t uiMore = 0;
  char32_t cpRead = 0;
  if (c < 0x80) {
    cp = c;
    ++i;
    return true;
  }
  if ((c & 0xE0) == 0xC0) {
    cpRead = c & 0x1F;
    uiMore = 1;
  } else if ((c & 0xF0) == 0xE0) {
    cpRead = c & 0x0F;
    uiMore = 2;
  } else if ((c & 0xF8) == 0xF0) {
    cpRead = c & 0x07;
    uiMore = 3;
  }
  constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  bool bWellFormed = uiMore != 0 && uiCount - i > uiMore;
  for (size_t k = 1; bWellFormed && k <= uiMore; ++k) {
    const uint8_t cc = static_cast<uint8_t>(p[i + k]);
    bWellFormed = (cc & 0xC0) == 0x80;
    cpRead = (cpRead << 6) | (cc & 0x3F);
  }
  bWellFormed =
      bWellFormed && cpRead >= kSmallest[uiMore] && cpRead <= kMaxCodePoint && !IsSurrogate(cpRead);
  cp = bWellFormed ? cpRead : kReplacement;
  i += bWellFormed ? 1 + uiMore : 1;
  return bWellFormed;
}

// Appends the UTF-8 bytes of a code point (a scalar value: no surrogate).
inline void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Writes the UTF-16 units of a code point (a scalar value) to `aUnits`;
// answers how many: 1, or 2 for a surrogate pair.
constexpr size_t EncodeUtf16(char32_t cp, char16_t (&aUnits)[2]) {
  if (cp < 0x10000) {
    aUnits[0] = static_cast<char16_t>(cp);
    return 1;
  }
  aUnits[0] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
  aUnits[1] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
  return 2;
}

// ---------------------------------------------------------------------------
// Whole texts, invalid input replaced as said above.

inline std::string Utf16ToUtf8(std::u16string_view csText) {
  std::string out;
  out.reserve(csText.size());
  for (size_t i = 0; i < csText.size();) {
    char32_t cp = 0;
    if (!NextUtf16(csText.data(), csText.size(), i, cp)) cp = kReplacement;
    AppendUtf8(out, cp);
  }
  return out;
}

inline std::u16string Utf8ToUtf16(std::string_view csText) {
  std::u16string out;
  out.reserve(csText.size());
  for (size_t i = 0; i < csText.size();) {
    char32_t cp = 0;
    NextUtf8(csText.data(), csText.size(), i, cp);
    char16_t aUnits[2];
    out.append(aUnits, EncodeUtf16(cp, aUnits));
  }
  return out;
}

inline std::string Cp1252ToUtf8(std::string_view csBytes) {
  std::string out;
  out.reserve(csBytes.size());
  for (const char c : csBytes) AppendUtf8(out, Cp1252ToUnicode(static_cast<uint8_t>(c)));
  return out;
}

// Invalid UTF-8 and characters Windows-1252 lacks both become '?'.
inline std::string Utf8ToCp1252(std::string_view csText) {
  std::string out;
  out.reserve(csText.size());
  for (size_t i = 0; i < csText.size();) {
    char32_t cp = 0;
    NextUtf8(csText.data(), csText.size(), i, cp);  // U+FFFD, which the code page lacks
    const int iByte = UnicodeToCp1252(cp);
    out += iByte < 0 ? kMissingAnsi : static_cast<char>(iByte);
  }
  return out;
}

}  // namespace KxText
