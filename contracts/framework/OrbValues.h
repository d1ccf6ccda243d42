// Value types of the framework that the object face passes around: race times
// (KxTime, KxPrecision), application update commands (AppUpdateInfo, OrbCmd),
// calendar date-times (OrbDateTime), member descriptors (OrbMemberInfo) and
// the arguments of the "{0}" formatter (OrbFormatArg, OrbFormat).
//
// They are small and copyable, so they are values here, not shared objects;
// a value that may be absent (a race time with its no-value bit set, an
// update without application command) is a std::optional of the type. The
// few checks they make are defined here; parsing and formatting are the
// framework's and only declared.
#pragma once

#include <compare>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

namespace Tarvex::Orb {

// Precision of a race time, P0 (coarsest) to P7 (finest): the number of
// decimals of a second the time has. P2 is hundredths, P3 thousandths, P7
// 100 ns. A stored time keeps it in three bits, so these eight values are
// all there are; the library carries the value and never interprets it.
enum class KxPrecision : uint8_t { P0 = 0, P1, P2, P3, P4, P5, P6, P7 };

// A race time: a magnitude, a negative flag and a precision.
//
// Time() counts units of the precision: 10^-p seconds for precision Pp, so
// 1:02.34 at P2 is Time() 6234 and at P3 (1:02.340) 62340. It is the
// magnitude and never negative; the sign is Negative(). The stored word
// (Sd2KxTime, KxTimeWord) keeps the low 43 bits of it, which at P7 is more
// than 240 hours. A time that may be absent is std::optional<KxTime>.
//
// Text form (ToString, Parse): [-][[h:]mm:]ss[.fff], the seconds with as
// many decimals as the precision has ("1:02.34" is P2, "1:02" is P0,
// "0.000" is P3), minutes and hours only when not zero, a leading '-' for a
// negative time ("-0.5"). No time is "NT" (OptionalToString, ParseOptional).
// Parse also reads what people type or older screens show: leading and
// trailing blanks, seconds above 59 without a colon ("62.34" is 1:02.34),
// and the fixed-width column form with its trailing 'm' ("        0.000m",
// the view models' default), which says nothing more than the digits.
class KxTime {
 public:
  static constexpr KxPrecision kMaxPrecision = KxPrecision::P7;

  // Time 0, not negative. Throws std::out_of_range for a precision above P7
  // (only reachable by casting a number to KxPrecision).
  explicit KxTime(KxPrecision precision) : m_Precision(precision) {
    if (precision > kMaxPrecision) throw std::out_of_range("KxTime: precision above 7");
  }

  // Reads a time from its text form, for example "1:02.34" or
  // "        0.000m". Throws OrbKernelException, naming the text, for a text
  // it cannot read (more than seven decimals, a minute or second field past
  // 59 after a colon, a value beyond 64 bits, "NT", anything else).
  static KxTime Parse(std::u16string_view csText);
  // The text form, for example "1:02.34". Throws OrbKernelException for a
  // negative Time() (the sign belongs in Negative()).
  std::u16string ToString() const;

  // Reads a time that may be absent: "NT" (any case) or a blank text is no
  // time, anything else as Parse reads it.
  static std::optional<KxTime> ParseOptional(std::u16string_view csText);
  // "NT" for no time, else ToString().
  static std::u16string OptionalToString(const std::optional<KxTime>& time);

  int64_t Time() const { return m_liTime; }
  void set_Time(int64_t liTime) { m_liTime = liTime; }
  bool Negative() const { return m_bNegative; }
  void set_Negative(bool bNegative) { m_bNegative = bNegative; }
  KxPrecision Precision() const { return m_Precision; }

  // Equal when time, negative flag and precision are all equal.
  bool operator==(const KxTime&) const = default;

 private:
  int64_t m_liTime = 0;
  bool m_bNegative = false;
  KxPrecision m_Precision;
};

// Flags of an update or clear request, handed to the kernel as an unsigned
// 32-bit word. The library passes them on unchanged; the framework names the
// flags it gives meaning to. Any 32-bit value can be formed as OrbCmd{n}.
enum class OrbCmd : uint32_t { None = 0 };

// What an application attaches to an update: two small values and two
// commands. The library keeps the low 10 bits of each value.
class AppUpdateInfo {
 public:
  AppUpdateInfo() = default;

  int16_t UsrVal1() const { return m_sUsrVal1; }
  void set_UsrVal1(int16_t sValue) { m_sUsrVal1 = sValue; }
  int16_t UsrVal2() const { return m_sUsrVal2; }
  void set_UsrVal2(int16_t sValue) { m_sUsrVal2 = sValue; }
  bool UsrCmd1() const { return m_bUsrCmd1; }
  void set_UsrCmd1(bool bValue) { m_bUsrCmd1 = bValue; }
  bool UsrCmd2() const { return m_bUsrCmd2; }
  void set_UsrCmd2(bool bValue) { m_bUsrCmd2 = bValue; }

 private:
  int16_t m_sUsrVal1 = 0;
  int16_t m_sUsrVal2 = 0;
  bool m_bUsrCmd1 = false;
  bool m_bUsrCmd2 = false;
};

}  // namespace Tarvex::Orb

namespace Tarvex::Orb::DataDirectAcces {

// How a date-time is to be read: as local time, as UTC, or unspecified.
enum class OrbDateTimeKind : uint8_t { Unspecified = 0, Utc = 1, Local = 2 };

// A calendar date and time: a count of 100-nanosecond ticks since
// 0001-01-01 00:00:00 and a kind. The default value, 0001-01-01 00:00:00.000
// unspecified, is the default of every date-time property.
class OrbDateTime {
 public:
  // 9999-12-31 23:59:59.9999999, the last instant the type holds. A stored
  // 62-bit tick count may exceed it; such a value cannot be built.
  static constexpr int64_t kMaxTicks = 3'155'378'975'999'999'999;

  constexpr OrbDateTime() = default;
  // Throws std::out_of_range for ticks outside 0..kMaxTicks or a kind other
  // than the three named ones.
  constexpr explicit OrbDateTime(int64_t liTicks,
                                 OrbDateTimeKind kind = OrbDateTimeKind::Unspecified)
      : m_liTicks(liTicks), m_Kind(kind) {
    if (liTicks < 0 || liTicks > kMaxTicks) throw std::out_of_range("OrbDateTime: ticks");
    if (kind > OrbDateTimeKind::Local) throw std::out_of_range("OrbDateTime: kind");
  }

  constexpr int64_t Ticks() const { return m_liTicks; }
  constexpr OrbDateTimeKind Kind() const { return m_Kind; }

  // Text forms. Parse reads:
  //   - ISO 8601: "2026-07-14T09:30:00.1234567" (unspecified), with "Z"
  //     (UTC) or an offset "+02:00" (local: the instant is converted to this
  //     machine's local time); 'T' or one blank between date and time;
  //     seconds and up to seven decimals optional; the date alone is
  //     midnight;
  //   - the "fr-CH" form "14.07.2026  09:30:00.000" (one blank or more
  //     between date and time, seconds and decimals optional; unspecified),
  //     of which "01.01.0001  00:00:00.000" is every property's default.
  // Throws OrbKernelException, naming the text, for anything else, a date
  // that does not exist or a result outside the type's range.
  static OrbDateTime Parse(std::u16string_view csText);
  // ISO 8601 with all seven decimals and the kind: nothing for unspecified,
  // "Z" for UTC, this machine's offset at that time for local
  // ("2026-07-14T09:30:00.0000000+02:00", with seconds when the offset has
  // them). Parse gives back the same value (a local time in the hour a clock
  // change skips excepted).
  std::u16string ToString() const;
  // The "fr-CH" form with milliseconds, for display: "14.07.2026  09:30:00.000"
  // (neither the kind nor the finer digits are shown).
  std::u16string ToDisplayString() const;

  // Equal when ticks and kind are equal: the same instant written as UTC and
  // as local time are different values.
  constexpr bool operator==(const OrbDateTime&) const = default;

 private:
  int64_t m_liTicks = 0;
  OrbDateTimeKind m_Kind = OrbDateTimeKind::Unspecified;
};

// Describes one member of a file or record to the framework: its name, its
// size in bytes, the size of one element in bytes and whether the number of
// elements varies. For example ("Records", 128, 128, true) for a keyed map
// of 128-byte records, ("Name", 24, 2, true) for a dynamic UTF-16 text,
// ("NbLanes", 4, 4, false) for a 32-bit number.
class OrbMemberInfo {
 public:
  OrbMemberInfo(std::u16string csName, int32_t iSize, int32_t iElementSize, bool bVariable)
      : m_csName(std::move(csName)),
        m_iSize(iSize),
        m_iElementSize(iElementSize),
        m_bVariable(bVariable) {}

  const std::u16string& Name() const { return m_csName; }
  int32_t Size() const { return m_iSize; }
  int32_t ElementSize() const { return m_iElementSize; }
  bool Variable() const { return m_bVariable; }

  bool operator==(const OrbMemberInfo&) const = default;

 private:
  std::u16string m_csName;
  int32_t m_iSize;
  int32_t m_iElementSize;
  bool m_bVariable;
};

// Integers other than bool and the character types: the numbers a format
// argument takes (signed and unsigned char count as numbers).
template <class T>
concept OrbFormatInteger = std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, char> &&
                           !std::same_as<T, char8_t> && !std::same_as<T, char16_t> &&
                           !std::same_as<T, char32_t> && !std::same_as<T, wchar_t>;

// One argument of a "{0}"-style format: null, a truth value, a signed or
// unsigned integer, a floating value or a text. Integers keep their
// signedness; characters and pointers other than a UTF-16 text are refused
// at compile time, so a stray pointer cannot turn into a truth value.
class OrbFormatArg {
 public:
  using Value = std::variant<std::monostate, bool, int64_t, uint64_t, double, std::u16string>;

  // Null: an absent object (also a null UTF-16 text).
  OrbFormatArg() = default;
  OrbFormatArg(std::nullptr_t) {}  // NOLINT(google-explicit-constructor)
  template <std::same_as<bool> B>
  OrbFormatArg(B bValue) : m_Value(bValue) {}  // NOLINT(google-explicit-constructor)
  template <OrbFormatInteger T>
  OrbFormatArg(T tValue) {  // NOLINT(google-explicit-constructor)
    if constexpr (std::is_signed_v<T>) {
      m_Value = static_cast<int64_t>(tValue);
    } else {
      m_Value = static_cast<uint64_t>(tValue);
    }
  }
  template <std::floating_point T>
  OrbFormatArg(T tValue)  // NOLINT(google-explicit-constructor)
      : m_Value(static_cast<double>(tValue)) {}
  OrbFormatArg(std::u16string_view csValue)  // NOLINT(google-explicit-constructor)
      : m_Value(std::u16string(csValue)) {}
  OrbFormatArg(const std::u16string& csValue)  // NOLINT(google-explicit-constructor)
      : m_Value(csValue) {}
  OrbFormatArg(const char16_t* csValue) {  // NOLINT(google-explicit-constructor)
    if (csValue != nullptr) m_Value = std::u16string(csValue);
  }
  // No other pointer converts: not to a number, not to a truth value.

  const Value& Get() const { return m_Value; }

 private:
  Value m_Value;
};

// Replaces each placeholder {n} of `csFormat` by the text form of args[n];
// "{{" and "}}" stand for single braces. Throws OrbKernelException for a
// placeholder without argument or a brace that opens no placeholder.
std::u16string OrbFormat(std::u16string_view csFormat, std::span<const OrbFormatArg> args);

}  // namespace Tarvex::Orb::DataDirectAcces
