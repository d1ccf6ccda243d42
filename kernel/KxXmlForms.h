// The text forms of values in the XML documents of kernel files (see
// docs/kernel.md, "XML"), shared by export and import: element names, text
// in UTF-8 and in the hex form, dates and packed times, integers, and the
// few storage figures both sides need.
#pragma once

#include <libxml/xmlerror.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "contracts/kernel/KxCatalogue.h"
#include "contracts/kernel/KxStorage.h"

namespace KxXmlDetail {

inline constexpr const char* kRootName = "kxfile";
inline constexpr const char* kEntryName = "entry";
inline constexpr const char* kItemName = "item";
inline constexpr const char* kFormatVersion = "1";

// Texts go through contracts/kernel/KxText.h; these say which of them XML
// can carry.

// Whether XML 1.0 can carry the character at all (not even a character
// reference can stand for the others).
bool IsXmlChar(uint32_t cp);
// UTF-16 code units as UTF-8; false when a unit cannot be carried by XML
// (an unpaired surrogate, a control character XML forbids).
bool Utf16ToXml(const char16_t* p, size_t uiCount, std::string& out);
// Windows-1252 bytes as UTF-8; false for a byte XML cannot carry.
bool AnsiToXml(const uint8_t* p, size_t uiCount, std::string& out);
void AppendHex(std::string& out, uint64_t uiValue, int iDigits);
int HexValue(char c);
// Reads `iDigits` hex digits at `p`; false for anything else.
bool ReadHex(const char* p, int iDigits, uint64_t& uiValue);

// 2026-07-14T09:30:00.0000000 (unspecified), ...Z (UTC), ...L (local); a
// word no date stands for (ticks past 9999, both kind bits) as 0x + hex.
void FormatDateTime(uint64_t uiWord, std::string& out);
bool ParseDateTime(const std::string& s, uint64_t& uiWord);
// "null"; "[-]<time> P<precision>"; a word the two forms do not give back
// exactly (no-value bit with other bits, the unused high bits) as 0x + hex.
void FormatKxTime(uint64_t uiWord, std::string& out);
bool ParseKxTime(const std::string& s, uint64_t& uiWord);

// A decimal integer within [liMin, liMax]: an optional minus and digits,
// nothing else.
bool ParseInteger(const char* p, const char* pEnd, int64_t liMin, int64_t liMax, int64_t& liValue);
// The text in quotes for a message, shortened, control characters shown as '?'.
std::string Quoted(const std::string& csText);
bool IsXmlBlank(char c);
// A parser error as one line: its message and where.
std::string ParserMessage(const xmlError* pError);

// Conservative storage units a block of `uiBytes` takes in a segment.
uint64_t BlockUnits(uint64_t uiBytes);
// Units the bucket arrays of a map of `uiCount` nodes take at most while the
// nodes are added one by one.
uint64_t BucketUnits(uint64_t uiCount);
// Whether the map's text keys are compared without case.
bool NoCase(const KxEmbeddedMap* pSlot);
const char* KindName(KxMemberKind eKind);

}  // namespace KxXmlDetail
