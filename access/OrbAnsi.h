// Texts between the object face (UTF-16) and the native face's ANSI texts
// (Windows-1252, contracts/kernel/KxText.h). One UTF-16 unit becomes one
// byte, so an ANSI text keeps the character count of its UTF-16 value: a
// unit the code page lacks (a surrogate half included) becomes '?' in a
// field's text, while a key refuses it, since a '?' could merge two keys.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "contracts/kernel/KxText.h"

namespace Tarvex::Orb::DataDirectAcces {

// A field's text: one byte per unit, '?' where the code page has none.
inline std::string OrbToAnsi(std::u16string_view csText) {
  std::string csAnsi(csText.size(), '\0');
  for (size_t i = 0; i < csText.size(); ++i) {
    const int iByte = KxText::UnicodeToCp1252(csText[i]);
    csAnsi[i] = iByte < 0 ? KxText::kMissingAnsi : static_cast<char>(iByte);
  }
  return csAnsi;
}

// A key: one byte per unit; none when a unit has no byte or is NUL (the
// native key is a zero-terminated text).
inline std::optional<std::string> OrbToAnsiKey(std::u16string_view csKey) {
  std::string csAnsi(csKey.size(), '\0');
  for (size_t i = 0; i < csKey.size(); ++i) {
    const int iByte = KxText::UnicodeToCp1252(csKey[i]);
    if (iByte <= 0) return std::nullopt;
    csAnsi[i] = static_cast<char>(iByte);
  }
  return csAnsi;
}

// `uiCount` Windows-1252 bytes as UTF-16, one unit each.
inline std::u16string OrbFromAnsi(const char* pBytes, size_t uiCount) {
  std::u16string csText(uiCount, u'\0');
  for (size_t i = 0; i < uiCount; ++i) {
    csText[i] = static_cast<char16_t>(KxText::Cp1252ToUnicode(static_cast<uint8_t>(pBytes[i])));
  }
  return csText;
}

}  // namespace Tarvex::Orb::DataDirectAcces
