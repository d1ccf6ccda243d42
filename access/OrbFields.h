// The field kinds of the member proxies: how each native field type reads
// into a property value and how a property value is written back. One
// specialisation of OrbField per native type:
//
//   CkxD2StrDU       S  dynamic UTF-16 text      std::u16string
//   CkxD2StrD        A  dynamic ANSI text        std::u16string (Windows-1252)
//   CkxD2StrSU<N>    F  fixed UTF-16 text        std::u16string
//   int32_t          I                           int32_t
//   uint32_t         U                           uint32_t
//   bool             B  one byte, non-zero true  bool
//   Sd2KxTime        T  packed race time         std::optional<KxTime>
//   CkxD2DateTime    D  date-time word           OrbDateTime
//
// Read takes the field; Write takes a function that reaches the field anew
// (the path walk), since a dynamic text is written in two native calls and
// the first may move the dynamic data: no reference survives between them.
// Texts read as the empty string, never null; a null or empty write empties
// the field.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "NetInterface/CkxOrbNetInterface/CkxD2DateTime.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2Str.h"
#include "access/OrbAnsi.h"
#include "contracts/framework/OrbValues.h"
#include "templates/Sd2KxTime.h"

namespace Tarvex::Orb::DataDirectAcces {

template <class Native>
struct OrbField;

// What a text property takes: std::nullopt is the null write.
using OrbTextArg = const std::optional<std::u16string>&;

// The characters a dynamic or fixed text field holds; empty below length 1.
template <class C, class Field>
std::basic_string<C> OrbReadChars(const Field& field) {
  int iLength = 0;
  const C* pText = field.GetNet(&iLength);
  if (iLength < 1) return {};
  return std::basic_string<C>(pText, static_cast<size_t>(iLength));
}

// Reserves `iLength` characters, then copies them, reaching the field anew
// for each call.
template <class C, class Reach>
void OrbWriteDynamic(Reach&& reach, const C* pText, int iLength) {
  reach().ReserveNet(iLength);
  if (iLength > 0) reach().SetNet(pText, iLength);
}

template <>
struct OrbField<CkxD2StrDU> {
  using Value = std::u16string;
  using Arg = OrbTextArg;
  static Value Read(const CkxD2StrDU& field) { return OrbReadChars<char16_t>(field); }
  template <class Reach>
  static void Write(Reach&& reach, Arg value) {
    if (!value || value->empty()) return OrbWriteDynamic<char16_t>(reach, nullptr, 0);
    OrbWriteDynamic(reach, value->c_str(), static_cast<int>(value->size()));
  }
};

template <>
struct OrbField<CkxD2StrD> {
  using Value = std::u16string;
  using Arg = OrbTextArg;
  static Value Read(const CkxD2StrD& field) {
    int iLength = 0;
    const char* pText = field.GetNet(&iLength);
    return iLength < 1 ? Value() : OrbFromAnsi(pText, static_cast<size_t>(iLength));
  }
  // The count passed is the value's character count; one byte each.
  template <class Reach>
  static void Write(Reach&& reach, Arg value) {
    if (!value || value->empty()) return OrbWriteDynamic<char>(reach, nullptr, 0);
    const std::string csAnsi = OrbToAnsi(*value);
    OrbWriteDynamic(reach, csAnsi.c_str(), static_cast<int>(value->size()));
  }
};

template <int N>
struct OrbField<CkxD2StrSU<N>> {
  using Value = std::u16string;
  using Arg = OrbTextArg;
  static Value Read(const CkxD2StrSU<N>& field) { return OrbReadChars<char16_t>(field); }
  // No reservation: the field holds its N characters in place and keeps at
  // most N of the value.
  template <class Reach>
  static void Write(Reach&& reach, Arg value) {
    if (!value || value->empty()) return reach().SetNet(nullptr, 0);
    reach().SetNet(value->c_str(), static_cast<int>(value->size()));
  }
};

// I and U: the four bytes at the field.
template <class T>
struct OrbScalarField {
  using Value = T;
  using Arg = T;
  static Value Read(const T& field) { return field; }
  template <class Reach>
  static void Write(Reach&& reach, Arg value) {
    reach() = value;
  }
};
template <>
struct OrbField<int32_t> : OrbScalarField<int32_t> {};
template <>
struct OrbField<uint32_t> : OrbScalarField<uint32_t> {};

// B: the byte as stored, which another writer may have set to any value; it
// is read as a byte, never as a C++ bool, which may only hold 0 or 1.
template <>
struct OrbField<bool> {
  using Value = bool;
  using Arg = bool;
  static Value Read(const bool& field) {
    uint8_t uiByte = 0;
    std::memcpy(&uiByte, &field, 1);
    return uiByte != 0;
  }
  template <class Reach>
  static void Write(Reach&& reach, Arg value) {
    const uint8_t uiByte = value ? 1 : 0;
    std::memcpy(&reach(), &uiByte, 1);
  }
};

// T: one 64-bit word, read and written whole.
template <>
struct OrbField<Sd2KxTime> {
  using Value = std::optional<KxTime>;
  using Arg = const std::optional<KxTime>&;
  static Value Read(const Sd2KxTime& field) {
    const Sd2KxTime word{field.m_uliWord};
    if (word.IsNull()) return std::nullopt;
    KxTime time(static_cast<KxPrecision>(word.Precision()));
    time.set_Time(word.Time());
    time.set_Negative(word.Negative());
    return time;
  }
  template <class Reach>
  static void Write(Reach&& reach, Arg value) {
    const Sd2KxTime word =
        value ? Sd2KxTime::Make(value->Time(), static_cast<uint32_t>(value->Precision()),
                                value->Negative())
              : Sd2KxTime::Null();
    reach().m_uliWord = word.m_uliWord;
  }
};

// D: ticks in the low 62 bits, the kind in the top two (UTC and local each
// one exact pattern; 0 and both bits read as unspecified).
template <>
struct OrbField<CkxD2DateTime> {
  using Value = OrbDateTime;
  using Arg = const OrbDateTime&;
  static Value Read(const CkxD2DateTime& field) {
    const int64_t liWord = field.GetNet();
    return OrbDateTime(CkxD2DateTime::TicksOf(liWord), KindOf(CkxD2DateTime::KindOf(liWord)));
  }
  template <class Reach>
  static void Write(Reach&& reach, Arg value) {
    reach().SetNet(CkxD2DateTime::Pack(value.Ticks(), NativeKindOf(value.Kind())));
  }

 private:
  static OrbDateTimeKind KindOf(KxDateTimeKind eKind) {
    return eKind == KxDateTimeKind::kUtc     ? OrbDateTimeKind::Utc
           : eKind == KxDateTimeKind::kLocal ? OrbDateTimeKind::Local
                                             : OrbDateTimeKind::Unspecified;
  }
  static KxDateTimeKind NativeKindOf(OrbDateTimeKind eKind) {
    return eKind == OrbDateTimeKind::Utc     ? KxDateTimeKind::kUtc
           : eKind == OrbDateTimeKind::Local ? KxDateTimeKind::kLocal
                                             : KxDateTimeKind::kUnspecified;
  }
};

}  // namespace Tarvex::Orb::DataDirectAcces
