// A checked printf-style formatter for every formatted text of the native
// face: log records, exception texts, update texts and start-up messages.
//
// Why not plain snprintf with a va_list: the formats come from callers and
// from application text passed where a format is expected. A format that asks
// for more arguments than were given, or for a type other than the one given,
// would make vsnprintf read whatever lies on the stack. Here the arguments
// travel as a counted array of tagged values, so every conversion is checked
// against what is actually there and a bad format is reported, never
// rendered from memory that was not passed.
//
// Accepted: flags - + space # 0; width and precision as digits or '*' (an
// integer argument; a negative width means '-', a negative precision means
// none); length modifiers hh h l ll z j t L; conversions d i u o x X c s p
// f F e E g G a A and %%. Refused (the call fails): %n, positional arguments
// (%1$d), wide characters and strings (%lc, %ls), combinations that printf
// leaves undefined (%#d, %0s, %.3c, ...), widths or precisions above
// kKxFormatMaxField, a missing argument and a type mismatch: integer
// conversions, '*' and %c need an integer; floating conversions need a
// floating value (no silent integer-to-double conversion); %s needs a text;
// %p a pointer or a text. Arguments beyond those the format uses are
// ignored, as printf does.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>

// Largest width or precision a format may ask for; a larger one is a bad
// format rather than a request for megabytes of padding.
constexpr int kKxFormatMaxField = 1 << 20;

// A pointer to anything but char (char pointers are texts).
template <class T>
concept KxNonTextPointee = !std::is_same_v<std::remove_cv_t<T>, char>;

// One format argument: its kind and its value. The constructors are implicit
// so that arguments can be written as they are.
struct KxArg {
  enum Kind : uint8_t { kSigned, kUnsigned, kDouble, kText, kPointer };

  Kind m_Kind;
  union {
    int64_t m_liValue;
    uint64_t m_uliValue;
    double m_dValue;
    const char* m_csValue;
    const void* m_pValue;
  };

  // bool, char and the other integers keep their signedness.
  template <std::integral T>
  constexpr KxArg(T tValue) {
    if constexpr (std::is_signed_v<T>) {
      m_Kind = kSigned;
      m_liValue = tValue;
    } else {
      m_Kind = kUnsigned;
      m_uliValue = tValue;
    }
  }
  // Enumerations pass as their underlying integer.
  template <class E>
  requires std::is_enum_v<E>
  constexpr KxArg(E eValue) : KxArg(static_cast<std::underlying_type_t<E>>(eValue)) {}
  // A long double is held as a double.
  template <std::floating_point T>
  constexpr KxArg(T tValue) : m_Kind(kDouble), m_dValue(static_cast<double>(tValue)) {}
  // A zero-terminated text; a null text prints as "(null)".
  constexpr KxArg(const char* csValue) : m_Kind(kText), m_csValue(csValue) {}
  // The text must outlive the formatting call.
  KxArg(const std::string& strValue) : m_Kind(kText), m_csValue(strValue.c_str()) {}
  // Any other object pointer, for %p.
  template <KxNonTextPointee T>
  constexpr KxArg(T* pValue) : m_Kind(kPointer), m_pValue(pValue) {}
};

// Formats `csFormat` with `args` into `strOut` (replacing its content).
// Returns false, with `strOut` empty, when the format is null or bad, an
// argument is missing or of the wrong kind, or the C library refuses a
// conversion.
[[nodiscard]] bool KxFormatArgs(std::string& strOut, const char* csFormat,
                                std::span<const KxArg> args);

// KxFormatArgs with the arguments given in place.
template <class... A>
[[nodiscard]] bool KxFormat(std::string& strOut, const char* csFormat, const A&... args) {
  if constexpr (sizeof...(A) == 0) {
    return KxFormatArgs(strOut, csFormat, {});
  } else {
    const KxArg aArgs[] = {KxArg(args)...};
    return KxFormatArgs(strOut, csFormat, aArgs);
  }
}
