// XML export and import of kernel files (see docs/kernel.md, "XML").
//
// Export walks each member under its segment's mutex and streams the
// document through libxml2's text writer into a file beside the target,
// renamed over it when complete.
//
// Import parses with libxml2's SAX interface (no network, no DTD, no entity
// substitution; a document type declaration stops the parser at once) into
// a staged copy of the whole content: record images with the exact bytes of
// their plain fields, text pools and container lists. Nothing of the open
// file is touched until the whole document has been read and checked; then
// every member is cleared and rebuilt through the store's own operations.
#include "kernel/KxXml.h"

#include <fcntl.h>
#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlwriter.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "contracts/kernel/KxComponent.h"
#include "kernel/KxLiveFile.h"

namespace {

constexpr const char* kRootName = "kxfile";
constexpr const char* kEntryName = "entry";
constexpr const char* kItemName = "item";
constexpr const char* kFormatVersion = "1";

// ---------------------------------------------------------------------------
// Texts.

// Windows-1252 bytes 0x80..0x9F. The five bytes the code page leaves
// undefined map to the C1 control of the same number, so that every byte
// goes to Unicode and back unchanged.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

uint32_t Cp1252ToUnicode(uint8_t c) { return c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c; }

// The Windows-1252 byte of a code point, or -1 when the code page has none.
int UnicodeToCp1252(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == cp) return 0x80 + i;
  }
  return -1;
}

// Whether XML 1.0 can carry the character at all (not even a character
// reference can stand for the others).
bool IsXmlChar(uint32_t cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
         (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

void AppendUtf8(std::string& out, uint32_t cp) {
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

// UTF-16 code units as UTF-8; false when a unit cannot be carried by XML
// (an unpaired surrogate, a control character XML forbids).
bool Utf16ToXml(const char16_t* p, size_t uiCount, std::string& out) {
  out.clear();
  for (size_t i = 0; i < uiCount; ++i) {
    uint32_t cp = p[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < uiCount && p[i + 1] >= 0xDC00 &&
        p[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (p[i + 1] - 0xDC00);
      ++i;
    }
    if (!IsXmlChar(cp)) return false;
    AppendUtf8(out, cp);
  }
  return true;
}

// Windows-1252 bytes as UTF-8; false for a byte XML cannot carry.
bool AnsiToXml(const uint8_t* p, size_t uiCount, std::string& out) {
  out.clear();
  for (size_t i = 0; i < uiCount; ++i) {
    const uint32_t cp = Cp1252ToUnicode(p[i]);
    if (!IsXmlChar(cp)) return false;
    AppendUtf8(out, cp);
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

// The next code point of UTF-8 text; false for a malformed sequence.
bool NextCodePoint(const std::string& s, size_t& i, uint32_t& cp) {
  const uint8_t c = static_cast<uint8_t>(s[i]);
  int iMore = 0;
  if (c < 0x80) {
    cp = c;
  } else if ((c & 0xE0) == 0xC0) {
    cp = c & 0x1F;
    iMore = 1;
  } else if ((c & 0xF0) == 0xE0) {
    cp = c & 0x0F;
    iMore = 2;
  } else if ((c & 0xF8) == 0xF0) {
    cp = c & 0x07;
    iMore = 3;
  } else {
    return false;
  }
  if (i + static_cast<size_t>(iMore) >= s.size()) return false;
  for (int k = 1; k <= iMore; ++k) {
    const uint8_t cc = static_cast<uint8_t>(s[i + k]);
    if ((cc & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (cc & 0x3F);
  }
  static constexpr uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kSmallest[iMore] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  i += 1 + iMore;
  return true;
}

// Windows-1252 lower case, as the store folds keys compared without case.
uint8_t Fold(uint8_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c == 0x8A || c == 0x8C || c == 0x8E) return c + 16;
  if (c == 0x9F) return 0xFF;
  return c;
}

// ---------------------------------------------------------------------------
// Values: dates and times.

constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kTicksPerDay = 86'400 * kTicksPerSecond;
constexpr uint64_t kMaxTicks = 3'155'378'975'999'999'999ull;  // 9999-12-31 23:59:59.9999999
constexpr int64_t kDaysTo1970 = 719'162;                      // 0001-01-01 to 1970-01-01
constexpr uint64_t kDateKindMask = 0xC000000000000000ull;
constexpr uint64_t kDateUtc = 0x4000000000000000ull;
constexpr uint64_t kDateLocal = 0x8000000000000000ull;

constexpr uint64_t kTimeMask = 0x7FFFFFFFFFFull;
constexpr int kPrecisionShift = 43;
constexpr uint64_t kTimeNoValue = 0x400000000000ull;
constexpr uint64_t kTimeNegative = 0x800000000000ull;
constexpr uint64_t kTimeUnusedBits = 0xFFFF000000000000ull;

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
  const uint64_t uiKind = uiWord & kDateKindMask;
  const uint64_t uiTicks = uiWord & ~kDateKindMask;
  if (uiKind == kDateKindMask || uiTicks > kMaxTicks) {
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
  if (uiKind == kDateUtc) out += 'Z';
  if (uiKind == kDateLocal) out += 'L';
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
      uiKind = kDateUtc;
    } else if (s[kLength] == 'L') {
      uiKind = kDateLocal;
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
  if (uiWord == kTimeNoValue) {
    out = "null";
    return;
  }
  if ((uiWord & (kTimeNoValue | kTimeUnusedBits)) != 0) {
    AppendRawWord(out, uiWord);
    return;
  }
  char aText[40];
  std::snprintf(aText, sizeof aText, "%s%llu P%u", (uiWord & kTimeNegative) != 0 ? "-" : "",
                static_cast<unsigned long long>(uiWord & kTimeMask),
                static_cast<unsigned>((uiWord >> kPrecisionShift) & 7));
  out = aText;
}

bool ParseKxTime(const std::string& s, uint64_t& uiWord) {
  if (s == "null") {
    uiWord = kTimeNoValue;
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
  uiWord = uiTime | (static_cast<uint64_t>(pAfter[2] - '0') << kPrecisionShift) |
           (bNegative ? kTimeNegative : 0);
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

// ---------------------------------------------------------------------------
// Export.

// Where the writer's output goes: a file, through a large buffer; the first
// write error is kept.
struct KxXmlSink {
  static constexpr size_t kBufferBytes = size_t{1} << 20;
  int iFd = -1;
  int iErrno = 0;
  std::vector<char> buffer;

  bool Flush() {
    size_t uiDone = 0;
    while (iErrno == 0 && uiDone < buffer.size()) {
      const ssize_t iWritten = write(iFd, buffer.data() + uiDone, buffer.size() - uiDone);
      if (iWritten < 0 && errno == EINTR) continue;
      if (iWritten <= 0) {
        iErrno = iWritten < 0 ? errno : EIO;
        break;
      }
      uiDone += static_cast<size_t>(iWritten);
    }
    buffer.clear();
    return iErrno == 0;
  }
  static int Write(void* pContext, const char* pBytes, int iLength) {
    KxXmlSink& sink = *static_cast<KxXmlSink*>(pContext);
    sink.buffer.insert(sink.buffer.end(), pBytes, pBytes + iLength);
    if (sink.buffer.size() >= kBufferBytes && !sink.Flush()) return -1;
    return iLength;
  }
  static int Close(void*) { return 0; }
};

// Writes members of a live file as elements of an open document.
class KxXmlExporter {
 public:
  KxXmlExporter(xmlTextWriterPtr pWriter, uint32_t uiMaxText)
      : m_pWriter(pWriter), m_uiMaxText(uiMaxText) {}

  // Member `i` of `file`, with its segment's mutex held.
  bool Member(KxLiveFile& file, size_t i);
  const std::string& Why() const { return m_csWhy; }

 private:
  bool Ok(int iResult) {
    if (iResult < 0 && m_csWhy.empty()) m_csWhy = "the XML writer failed";
    return iResult >= 0;
  }
  bool Fail(const std::string& csWhy) {
    if (m_csWhy.empty()) m_csWhy = csWhy;
    return false;
  }
  bool Start(const char* csName) {
    return Ok(xmlTextWriterStartElement(m_pWriter, BAD_CAST csName));
  }
  bool End() { return Ok(xmlTextWriterEndElement(m_pWriter)); }
  bool Attribute(const char* csName, const std::string& csValue) {
    return Ok(xmlTextWriterWriteAttribute(m_pWriter, BAD_CAST csName, BAD_CAST csValue.c_str()));
  }
  bool Element(const char* csName, const char* csText) {
    return Ok(xmlTextWriterWriteElement(m_pWriter, BAD_CAST csName, BAD_CAST csText));
  }
  bool Fields(const KxRecordType& type, const uint8_t* pRecord);
  // Whether every field name of the type and the types inside is an XML
  // name (catalogue names are written as they are).
  bool CheckNames(const KxRecordType& type, int iDepth);
  bool Value(const KxRecordField& field, const uint8_t* pField);
  bool Text(const KxRecordField& field, const uint8_t* pText, uint32_t uiLength, bool bWide);
  bool MapEntries(const KxEmbeddedMap* pSlot, const KxRecordType& element, KxKeyKind eKey,
                  const char* csName);
  bool ArrayItems(const KxArrayHeader* pHeader, const KxRecordType& element, const char* csName);

  xmlTextWriterPtr m_pWriter;
  uint32_t m_uiMaxText;
  KxSegment* m_pSegment = nullptr;
  KxStore* m_pStore = nullptr;
  std::string m_Text;
  std::string m_csWhy;
};

bool IsXmlName(const char* csName) {
  if (csName == nullptr ||
      !(std::isalpha(static_cast<unsigned char>(csName[0])) || csName[0] == '_'))
    return false;
  for (const char* p = csName; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (!std::isalnum(c) && c != '_' && c != '-' && c != '.') return false;
  }
  return true;
}

bool KxXmlExporter::Member(KxLiveFile& file, size_t i) {
  const KxFileMember& member = file.FileType().members[i];
  const KxMemberClass& memberClass = *member.memberClass;
  m_pSegment = &file.Segment(i);
  m_pStore = &file.Store(i);
  KxSegmentLock lock(*m_pSegment);
  void* pContainer = file.Container(i);
  std::string csCheck;
  if (!m_pStore->CheckMember(memberClass, pContainer, csCheck))
    return Fail(std::string("member ") + member.name + " cannot be read: " + csCheck);
  if (!IsXmlName(member.name))
    return Fail(std::string("member name \"") + member.name + "\" is no XML name");
  if (!CheckNames(*memberClass.element, 0)) return false;
  switch (memberClass.kind) {
    case KxMemberKind::kSingle:
      return Start(member.name) &&
             Fields(*memberClass.element, static_cast<const uint8_t*>(pContainer)) && End();
    case KxMemberKind::kMap:
      return MapEntries(static_cast<const KxEmbeddedMap*>(pContainer), *memberClass.element,
                        memberClass.key, member.name);
    case KxMemberKind::kArray:
      return ArrayItems(static_cast<const KxArrayHeader*>(pContainer), *memberClass.element,
                        member.name);
  }
  return false;
}

bool KxXmlExporter::Fields(const KxRecordType& type, const uint8_t* pRecord) {
  for (uint32_t f = 0; f < type.fieldCount; ++f) {
    const KxRecordField& field = type.fields[f];
    if (!Value(field, pRecord + field.offset)) return false;
  }
  return true;
}

bool KxXmlExporter::CheckNames(const KxRecordType& type, int iDepth) {
  if (iDepth > KxStore::kMaxDepth) return Fail(std::string(type.name) + " nests too deep");
  for (uint32_t f = 0; f < type.fieldCount; ++f) {
    const KxRecordField& field = type.fields[f];
    if (!IsXmlName(field.name))
      return Fail(std::string("field name \"") + field.name + "\" of " + type.name +
                  " is no XML name");
    if (field.element != nullptr && !CheckNames(*field.element, iDepth + 1)) return false;
  }
  return true;
}

bool KxXmlExporter::MapEntries(const KxEmbeddedMap* pSlot, const KxRecordType& element,
                               KxKeyKind eKey, const char* csName) {
  const KxMapKernelPart& kernel = *reinterpret_cast<const KxMapKernelPart*>(pSlot->kernelBytes);
  if (m_pStore->ElementOf(pSlot) != &element || kernel.keyKind != static_cast<uint32_t>(eKey))
    return Fail(std::string("map ") + csName + " is not laid out as its catalogue says");
  if (!Start(csName)) return false;
  const bool bText = eKey == KxKeyKind::kText;
  if (bText && NoCase(pSlot) && !Attribute("case", "insensitive")) return false;
  std::string csKey;
  for (uint32_t uiHandle = pSlot->header.headHandle; uiHandle != 0;) {
    const KxMapNode* pNode = reinterpret_cast<const KxMapNode*>(m_pSegment->At(uiHandle));
    const KxNodeKernelPart& node = *reinterpret_cast<const KxNodeKernelPart*>(pNode->kernelWords);
    if (!Start(kEntryName)) return false;
    if (!bText) {
      char aKey[24];
      *std::to_chars(aKey, aKey + sizeof aKey - 1, node.key).ptr = '\0';
      if (!Attribute("key", aKey)) return false;
    } else {
      const uint8_t* pKey = node.textKey != 0 ? m_pSegment->At(node.textKey) : nullptr;
      const uint32_t uiLength = node.textKey != 0 ? node.textLength : 0;
      const bool bPlain = AnsiToXml(pKey, uiLength, csKey);
      if (!bPlain) {
        csKey.clear();
        for (uint32_t c = 0; c < uiLength; ++c) AppendHex(csKey, pKey[c], 2);
      }
      if (csKey.size() > m_uiMaxText)
        return Fail(std::string("a key of map ") + csName + " is longer than the " +
                    std::to_string(m_uiMaxText) + " bytes an import accepts");
      if (!Attribute(bPlain ? "key" : "hexkey", csKey)) return false;
    }
    if (!Fields(element, reinterpret_cast<const uint8_t*>(pNode + 1)) || !End()) return false;
    uiHandle = pNode->nextHandle;
  }
  return End();
}

bool KxXmlExporter::ArrayItems(const KxArrayHeader* pHeader, const KxRecordType& element,
                               const char* csName) {
  if (pHeader->size != 0 &&
      !m_pSegment->ContainsUnits(pHeader->dataOffset, uint64_t{pHeader->size} * element.size))
    return Fail(std::string("array ") + csName + " lies outside its storage");
  if (!Start(csName)) return false;
  for (uint32_t e = 0; e < pHeader->size; ++e) {
    const uint8_t* pItem = m_pSegment->At(pHeader->dataOffset) + size_t{e} * element.size;
    if (!Start(kItemName) || !Fields(element, pItem) || !End()) return false;
  }
  return End();
}

bool KxXmlExporter::Text(const KxRecordField& field, const uint8_t* pText, uint32_t uiLength,
                         bool bWide) {
  const bool bPlain = bWide ? Utf16ToXml(reinterpret_cast<const char16_t*>(pText), uiLength, m_Text)
                            : AnsiToXml(pText, uiLength, m_Text);
  if (!bPlain) {
    m_Text.clear();
    for (uint32_t c = 0; c < uiLength; ++c) {
      if (bWide) {
        char16_t u;
        std::memcpy(&u, pText + 2 * size_t{c}, 2);
        AppendHex(m_Text, u, 4);
      } else {
        AppendHex(m_Text, pText[c], 2);
      }
    }
  }
  if (m_Text.size() > m_uiMaxText)
    return Fail(std::string("the text of ") + field.name + " is longer than the " +
                std::to_string(m_uiMaxText) + " bytes an import accepts");
  if (bPlain) return Element(field.name, m_Text.c_str());
  return Start(field.name) && Attribute("form", "hex") &&
         Ok(xmlTextWriterWriteString(m_pWriter, BAD_CAST m_Text.c_str())) && End();
}

bool KxXmlExporter::Value(const KxRecordField& field, const uint8_t* pField) {
  char aNumber[32];
  auto number = [&](auto value) {
    *std::to_chars(aNumber, aNumber + sizeof aNumber - 1, value).ptr = '\0';
    return Element(field.name, aNumber);
  };
  switch (field.kind) {
    case KxFieldKind::kInt32: {
      int32_t iValue;
      std::memcpy(&iValue, pField, 4);
      return number(iValue);
    }
    case KxFieldKind::kUInt32: {
      uint32_t uiValue;
      std::memcpy(&uiValue, pField, 4);
      return number(uiValue);
    }
    case KxFieldKind::kBool:
      if (*pField == 0) return Element(field.name, "false");
      if (*pField == 1) return Element(field.name, "true");
      return number(static_cast<unsigned>(*pField));
    case KxFieldKind::kStrDU:
    case KxFieldKind::kStrD: {
      const KxDynString& str = *reinterpret_cast<const KxDynString*>(pField);
      if (str.lengthWord == 0) return Start(field.name) && Attribute("form", "unset") && End();
      const bool bWide = field.kind == KxFieldKind::kStrDU;
      const uint32_t uiLength = str.lengthWord - 1;
      if (uiLength != 0 &&
          (str.lengthWord > str.capacity ||
           !m_pSegment->ContainsUnits(str.textOffset, uint64_t{str.capacity} * (bWide ? 2 : 1))))
        return Fail(std::string("string ") + field.name + " lies outside its storage");
      return Text(field, uiLength != 0 ? m_pSegment->At(str.textOffset) : pField, uiLength, bWide);
    }
    case KxFieldKind::kStrSU: {
      uint16_t usLength;
      std::memcpy(&usLength, pField, 2);
      if (usLength > field.count)
        return Fail(std::string("text ") + field.name + " is longer than its field");
      return Text(field, pField + 2, usLength, true);
    }
    case KxFieldKind::kDateTime: {
      uint64_t uiWord;
      std::memcpy(&uiWord, pField, 8);
      FormatDateTime(uiWord, m_Text);
      return Element(field.name, m_Text.c_str());
    }
    case KxFieldKind::kKxTime: {
      uint64_t uiWord;
      std::memcpy(&uiWord, pField, 8);
      FormatKxTime(uiWord, m_Text);
      return Element(field.name, m_Text.c_str());
    }
    case KxFieldKind::kFixedInt32:
    case KxFieldKind::kFixedUInt32: {
      m_Text.clear();
      for (uint32_t c = 0; c < field.count; ++c) {
        char* pEnd = aNumber;
        if (field.kind == KxFieldKind::kFixedInt32) {
          int32_t iValue;
          std::memcpy(&iValue, pField + 4 * size_t{c}, 4);
          pEnd = std::to_chars(aNumber, aNumber + sizeof aNumber, iValue).ptr;
        } else {
          uint32_t uiValue;
          std::memcpy(&uiValue, pField + 4 * size_t{c}, 4);
          pEnd = std::to_chars(aNumber, aNumber + sizeof aNumber, uiValue).ptr;
        }
        if (c != 0) m_Text += ' ';
        m_Text.append(aNumber, pEnd);
      }
      return Element(field.name, m_Text.c_str());
    }
    case KxFieldKind::kMap:
      return MapEntries(reinterpret_cast<const KxEmbeddedMap*>(pField), *field.element, field.key,
                        field.name);
    case KxFieldKind::kArray:
      return ArrayItems(reinterpret_cast<const KxArrayHeader*>(pField), *field.element, field.name);
    case KxFieldKind::kRecord:
      return Start(field.name) && Fields(*field.element, pField) && End();
  }
  return Fail(std::string("field ") + field.name + " is of a kind this kernel cannot write");
}

// ---------------------------------------------------------------------------
// Import: the staged content.
//
// A record is staged as an image of its own size. Plain fields (numbers,
// bools, dates, times, fixed arrays and fixed strings) hold in the image
// exactly the bytes the record will hold. The other fields hold a
// reference instead:
//   dynamic string  word 0: 0 never written, 1 written; word 1: text index
//   map             word 0: container index + 1 (0: no entries);
//                   word 1: 1 when keys are compared without case
//   array           word 0: container index + 1 (0: no elements)
//   record          laid out in place, like the record itself
// A zeroed image is therefore a record as a map Add lays it out.

struct KxStagedEntry {
  uint64_t uiKey;      // a numeric key
  uint32_t uiTextKey;  // text index + 1 of a text key, else 0
  size_t uiImage;      // offset of the element's image
};

struct KxStagedContainer {
  std::vector<KxStagedEntry> entries;
};

struct KxStagedMember {
  bool bSeen = false;
  size_t uiImage = 0;        // a single record's image
  uint32_t uiContainer = 0;  // a map's or array's container index + 1
  bool bNoCase = false;
  uint64_t uiUnits = 0;  // storage units the rebuild may allocate at most
};

struct KxStaged {
  std::vector<uint8_t> arena;  // record images, each on an 8-byte boundary
  std::vector<std::string> texts;
  std::vector<KxStagedContainer> containers;
  std::vector<KxStagedMember> members;

  uint64_t uiBytes = 0;  // held in all of the above, roughly

  size_t NewImage(uint32_t uiSize) {
    const size_t uiAt = arena.size();
    arena.resize(uiAt + ((size_t{uiSize} + 7) & ~size_t{7}));
    uiBytes += arena.size() - uiAt;
    return uiAt;
  }
  uint32_t NewText(std::string&& csText) {
    uiBytes += csText.size() + sizeof(std::string);
    texts.push_back(std::move(csText));
    return static_cast<uint32_t>(texts.size() - 1);
  }
  void AddEntry(size_t uiContainer, const KxStagedEntry& entry) {
    uiBytes += sizeof entry;
    containers[uiContainer].entries.push_back(entry);
  }
  uint32_t Word(size_t uiAt) const {
    uint32_t uiValue;
    std::memcpy(&uiValue, arena.data() + uiAt, 4);
    return uiValue;
  }
  void SetWord(size_t uiAt, uint32_t uiValue) { std::memcpy(arena.data() + uiAt, &uiValue, 4); }
};

// Counts the attributes of every tag in the bytes as they are read, so that
// an element with thousands of attributes is refused before the parser
// (which looks for duplicates pair by pair) spends quadratic time on it.
// Quoted values, comments, CDATA sections, processing instructions and
// declarations are stepped over.
class KxTagScanner {
 public:
  explicit KxTagScanner(uint32_t uiMaxAttributes) : m_uiMax(uiMaxAttributes) {}

  // False as soon as a tag has more attributes than allowed.
  bool Feed(const char* p, size_t uiLength);

 private:
  enum class State : uint8_t {
    kText,
    kOpen,
    kTag,
    kQuote,
    kBang,
    kBangDash,
    kComment,
    kCDataOpen,
    kCData,
    kPi,
    kDecl
  };
  State m_eState = State::kText;
  char m_cQuote = 0;
  char m_aLast[2] = {0, 0};  // the two bytes before, for "-->", "]]>" and "?>"
  uint32_t m_uiAttributes = 0;
  uint32_t m_uiMax;
};

bool KxTagScanner::Feed(const char* p, size_t uiLength) {
  for (size_t i = 0; i < uiLength; ++i) {
    const char c = p[i];
    switch (m_eState) {
      case State::kText:
        if (c == '<') m_eState = State::kOpen;
        break;
      case State::kOpen:
        m_uiAttributes = 0;
        m_eState = c == '!'   ? State::kBang
                   : c == '?' ? State::kPi
                   : c == '>' ? State::kText
                              : State::kTag;
        break;
      case State::kTag:
        if (c == '"' || c == '\'') {
          m_cQuote = c;
          m_eState = State::kQuote;
        } else if (c == '=' && ++m_uiAttributes > m_uiMax) {
          return false;
        } else if (c == '>') {
          m_eState = State::kText;
        }
        break;
      case State::kQuote:
        if (c == m_cQuote) m_eState = State::kTag;
        break;
      case State::kBang:
        m_eState = c == '-'   ? State::kBangDash
                   : c == '[' ? State::kCDataOpen
                   : c == '>' ? State::kText
                              : State::kDecl;
        break;
      case State::kBangDash:
        m_eState = c == '-' ? State::kComment : State::kDecl;
        break;
      case State::kCDataOpen:
        if (c == '[') m_eState = State::kCData;
        break;
      case State::kComment:
        if (c == '>' && m_aLast[0] == '-' && m_aLast[1] == '-') m_eState = State::kText;
        break;
      case State::kCData:
        if (c == '>' && m_aLast[0] == ']' && m_aLast[1] == ']') m_eState = State::kText;
        break;
      case State::kPi:
        if (c == '>' && m_aLast[1] == '?') m_eState = State::kText;
        break;
      case State::kDecl:  // a document type declaration: the parser refuses it
        if (c == '>') m_eState = State::kText;
        break;
    }
    m_aLast[0] = m_aLast[1];
    m_aLast[1] = c;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Import: the reader.

class KxXmlReader {
 public:
  KxXmlReader(const KxFileType& fileType, const KxXmlLimits& limits)
      : m_FileType(fileType), m_Limits(limits), m_Scanner(limits.uiMaxAttributes) {
    m_Staged.members.resize(fileType.memberCount);
  }

  // Reads the whole document from `iFd`; false with the reason in `csWhy`.
  bool Read(int iFd, std::string& csWhy);
  const KxStaged& Staged() const { return m_Staged; }

 private:
  enum class FrameKind : uint8_t { kDocument, kFile, kRecord, kMap, kArray, kValue };
  struct Frame {
    FrameKind eKind;
    uint8_t uiForm = 0;                     // kValue: 0 text, 1 hex, 2 never written
    bool bNoCase = false;                   // kMap
    KxKeyKind eKey = KxKeyKind::kNone;      // kMap
    const char* csName = "";                // the element, for messages
    const KxRecordType* pType = nullptr;    // kRecord: its type; kMap, kArray: the element type
    const KxRecordField* pField = nullptr;  // kValue
    size_t uiImage = 0;                     // kRecord: its image; kValue: the record's image
    uint32_t uiContainer = 0;               // kMap, kArray: container index
    uint32_t uiMember = 0;
    size_t uiSeenAt = 0;       // kRecord: its fields' seen bits in m_Seen
    uint32_t uiNextField = 0;  // kRecord: the field expected next
  };

  // SAX callbacks.
  static void OnStart(void* pContext, const xmlChar* csName, const xmlChar* csPrefix,
                      const xmlChar* csUri, int iNamespaces, const xmlChar** aNamespaces,
                      int iAttributes, int iDefaulted, const xmlChar** aAttributes);
  static void OnEnd(void* pContext, const xmlChar* csName, const xmlChar* csPrefix,
                    const xmlChar* csUri);
  static void OnText(void* pContext, const xmlChar* pText, int iLength);
  static void OnDocumentType(void* pContext, const xmlChar*, const xmlChar*, const xmlChar*);
  static void OnEntityDecl(void* pContext, const xmlChar*, int, const xmlChar*, const xmlChar*,
                           xmlChar*);
  static void OnReference(void* pContext, const xmlChar* csName);
  static void OnError(void* pContext, xmlErrorPtr pError);
  static int OnRead(void* pContext, char* pBuffer, int iLength);
  static int OnClose(void*) { return 0; }

  void Start(const char* csName, bool bQualified, int iNamespaces, int iAttributes,
             const xmlChar** aAttributes);
  void End();
  void StartRoot(const char* csName);
  void StartMember(const char* csName);
  void StartField(Frame& record, const char* csName);
  void StartEntry(Frame& map, const char* csName);
  void StartItem(Frame& array, const char* csName);
  void PushRecord(const KxRecordType& type, size_t uiImage, const char* csName, uint32_t uiMember);
  void FinishValue(const Frame& frame);
  bool ReadText(const Frame& frame, bool bWide, std::string& out);

  // The attributes of the current element, decoded.
  struct Attribute {
    std::string_view name;
    std::string value;
  };
  bool OnlyAttributes(const char* csElement, std::initializer_list<const char*> allowed);
  const std::string* FindAttribute(const char* csName) const;

  // Records the first fault. The parser reads on (with every callback
  // ignored), so that a document that is also not well-formed is reported
  // as such; `bStop` stops it at once (a DTD, an entity, a read error).
  void Fail(const std::string& csWhy, bool bStop = false);
  // From the read callback: the parser stops on the read error it answers
  // (stopping it from inside its own read would pull its input away).
  void Refuse(const std::string& csWhy) {
    m_bStopped = true;
    if (m_csWhy.empty()) m_csWhy = csWhy;
  }
  uint32_t NewContainer() {
    m_Staged.containers.emplace_back();
    return static_cast<uint32_t>(m_Staged.containers.size() - 1);
  }
  void Count(uint32_t uiMember, uint64_t uiBytes) {
    m_Staged.members[uiMember].uiUnits += BlockUnits(uiBytes);
  }

  const KxFileType& m_FileType;
  const KxXmlLimits& m_Limits;
  KxTagScanner m_Scanner;
  KxStaged m_Staged;
  xmlParserCtxtPtr m_pContext = nullptr;
  std::vector<Frame> m_Frames;
  std::vector<uint64_t> m_Seen;
  std::vector<Attribute> m_Attributes;
  std::vector<std::unique_ptr<std::unordered_set<uint64_t>>> m_NumberKeys;
  std::vector<std::unique_ptr<std::unordered_set<std::string>>> m_TextKeys;
  std::string m_Text;
  std::string m_Scratch;
  std::string m_csWhy;
  std::string m_csParserWhy;
  int m_iFd = -1;
  uint64_t m_uiBytesRead = 0;
  uint64_t m_uiElements = 0;
  bool m_bTooLarge = false;
  bool m_bStopped = false;
  bool m_bRootSeen = false;
};

void KxXmlReader::Fail(const std::string& csWhy, bool bStop) {
  if (m_pContext != nullptr && bStop) {
    m_bStopped = true;
    xmlStopParser(m_pContext);
  }
  if (!m_csWhy.empty()) return;
  m_csWhy = csWhy;
  if (m_pContext != nullptr)
    m_csWhy += " (line " + std::to_string(xmlSAX2GetLineNumber(m_pContext)) + ")";
}

bool KxXmlReader::Read(int iFd, std::string& csWhy) {
  m_iFd = iFd;
  xmlSAXHandler sax;
  std::memset(&sax, 0, sizeof sax);
  sax.initialized = XML_SAX2_MAGIC;
  sax.startElementNs = OnStart;
  sax.endElementNs = OnEnd;
  sax.characters = OnText;
  sax.cdataBlock = OnText;
  sax.internalSubset = OnDocumentType;
  sax.externalSubset = OnDocumentType;
  sax.entityDecl = OnEntityDecl;
  sax.reference = OnReference;
  sax.serror = OnError;
  m_pContext = xmlCreateIOParserCtxt(&sax, this, OnRead, OnClose, this, XML_CHAR_ENCODING_NONE);
  if (m_pContext == nullptr) {
    csWhy = "the XML parser cannot be started";
    return false;
  }
  // No network, no DTD loaded, no entity substituted; libxml2's own limits
  // on names, text nodes and nesting stay in force (no XML_PARSE_HUGE).
  xmlCtxtUseOptions(m_pContext, XML_PARSE_NONET);
  m_Frames.reserve(std::min<size_t>(m_Limits.uiMaxDepth, 256) + 2);
  m_Frames.push_back(Frame{FrameKind::kDocument});
  xmlParseDocument(m_pContext);
  const bool bWellFormed = m_pContext->wellFormed != 0;
  if (!bWellFormed && m_csParserWhy.empty()) {
    const xmlError* pError = xmlCtxtGetLastError(m_pContext);
    if (pError != nullptr && pError->message != nullptr) {
      m_csParserWhy = ParserMessage(pError);
    }
  }
  xmlFreeParserCtxt(m_pContext);
  m_pContext = nullptr;

  if (m_bTooLarge) {
    csWhy = "the document is larger than " + std::to_string(m_Limits.uiMaxDocumentBytes) + " bytes";
    return false;
  }
  if (!m_csWhy.empty() && (m_bStopped || bWellFormed)) {
    csWhy = m_csWhy;
    return false;
  }
  if (!bWellFormed) {
    csWhy = "not well-formed XML: " + (m_csParserWhy.empty() ? "unknown error" : m_csParserWhy);
    return false;
  }
  if (!m_bRootSeen) {
    csWhy = "the document has no kxfile element";
    return false;
  }
  return true;
}

int KxXmlReader::OnRead(void* pContext, char* pBuffer, int iLength) {
  KxXmlReader& reader = *static_cast<KxXmlReader*>(pContext);
  for (;;) {
    const ssize_t iRead = read(reader.m_iFd, pBuffer, static_cast<size_t>(iLength));
    if (iRead < 0 && errno == EINTR) continue;
    if (iRead < 0) {
      reader.Refuse(std::string("cannot read the document: ") + std::strerror(errno));
      return -1;
    }
    reader.m_uiBytesRead += static_cast<uint64_t>(iRead);
    if (reader.m_uiBytesRead > reader.m_Limits.uiMaxDocumentBytes) {
      reader.m_bTooLarge = true;
      return -1;
    }
    if (!reader.m_Scanner.Feed(pBuffer, static_cast<size_t>(iRead))) {
      // Said without a line: the parser has not reached these bytes yet.
      reader.Refuse("an element has more than " + std::to_string(reader.m_Limits.uiMaxAttributes) +
                    " attributes");
      return -1;
    }
    return static_cast<int>(iRead);
  }
}

void KxXmlReader::OnError(void* pContext, xmlErrorPtr pError) {
  KxXmlReader& reader = *static_cast<KxXmlReader*>(pContext);
  if (pError == nullptr || pError->level < XML_ERR_ERROR || !reader.m_csParserWhy.empty()) return;
  reader.m_csParserWhy = ParserMessage(pError);
}

void KxXmlReader::OnDocumentType(void* pContext, const xmlChar*, const xmlChar*, const xmlChar*) {
  static_cast<KxXmlReader*>(pContext)->Fail(
      "a document type declaration is refused (no DTD, no entities)", true);
}

void KxXmlReader::OnEntityDecl(void* pContext, const xmlChar* csName, int, const xmlChar*,
                               const xmlChar*, xmlChar*) {
  static_cast<KxXmlReader*>(pContext)->Fail(
      std::string("entity declaration ") + reinterpret_cast<const char*>(csName) + " is refused",
      true);
}

void KxXmlReader::OnReference(void* pContext, const xmlChar* csName) {
  static_cast<KxXmlReader*>(pContext)->Fail(
      std::string("entity reference &") + reinterpret_cast<const char*>(csName) + "; is refused",
      true);
}

void KxXmlReader::OnStart(void* pContext, const xmlChar* csName, const xmlChar* csPrefix,
                          const xmlChar* csUri, int iNamespaces, const xmlChar**, int iAttributes,
                          int, const xmlChar** aAttributes) {
  KxXmlReader& reader = *static_cast<KxXmlReader*>(pContext);
  if (!reader.m_csWhy.empty()) return;
  reader.Start(reinterpret_cast<const char*>(csName), csPrefix != nullptr || csUri != nullptr,
               iNamespaces, iAttributes, aAttributes);
}

void KxXmlReader::OnEnd(void* pContext, const xmlChar*, const xmlChar*, const xmlChar*) {
  KxXmlReader& reader = *static_cast<KxXmlReader*>(pContext);
  if (!reader.m_csWhy.empty()) return;
  reader.End();
}

void KxXmlReader::OnText(void* pContext, const xmlChar* pText, int iLength) {
  KxXmlReader& reader = *static_cast<KxXmlReader*>(pContext);
  if (!reader.m_csWhy.empty() || reader.m_Frames.empty()) return;
  const Frame& frame = reader.m_Frames.back();
  const char* p = reinterpret_cast<const char*>(pText);
  if (frame.eKind == FrameKind::kValue) {
    if (reader.m_Text.size() + static_cast<size_t>(iLength) > reader.m_Limits.uiMaxTextBytes) {
      reader.Fail(std::string("the text of ") + frame.csName + " is longer than " +
                  std::to_string(reader.m_Limits.uiMaxTextBytes) + " bytes");
      return;
    }
    reader.m_Text.append(p, static_cast<size_t>(iLength));
    return;
  }
  if (!std::all_of(p, p + iLength, IsXmlBlank))
    reader.Fail(std::string("text ") + Quoted(std::string(p, static_cast<size_t>(iLength))) +
                " where " + frame.csName + " holds only elements");
}

const std::string* KxXmlReader::FindAttribute(const char* csName) const {
  for (const Attribute& attribute : m_Attributes) {
    if (attribute.name == csName) return &attribute.value;
  }
  return nullptr;
}

bool KxXmlReader::OnlyAttributes(const char* csElement,
                                 std::initializer_list<const char*> allowed) {
  for (const Attribute& attribute : m_Attributes) {
    if (std::none_of(allowed.begin(), allowed.end(),
                     [&](const char* cs) { return attribute.name == cs; })) {
      Fail("unknown attribute " + std::string(attribute.name) + " on " + csElement);
      return false;
    }
  }
  return true;
}

void KxXmlReader::Start(const char* csName, bool bQualified, int iNamespaces, int iAttributes,
                        const xmlChar** aAttributes) {
  if (++m_uiElements > m_Limits.uiMaxElements) {
    Fail("the document has more than " + std::to_string(m_Limits.uiMaxElements) + " elements");
    return;
  }
  if (m_Staged.uiBytes > m_Limits.uiMaxStagedBytes) {
    Fail("the content takes more than " + std::to_string(m_Limits.uiMaxStagedBytes) +
         " bytes to hold while it is checked");
    return;
  }
  if (m_Frames.size() > m_Limits.uiMaxDepth) {
    Fail("elements nested deeper than " + std::to_string(m_Limits.uiMaxDepth));
    return;
  }
  if (bQualified || iNamespaces != 0) {
    Fail(std::string("element ") + csName + " is in a namespace; the format uses none");
    return;
  }
  // Attribute values come as [value, end); a '&' arrives as "&#38;" (the
  // parser leaves it for a tree builder to resolve), so it is resolved here.
  m_Attributes.clear();
  for (int a = 0; a < iAttributes; ++a) {
    const xmlChar** aOne = aAttributes + 5 * a;
    if (aOne[1] != nullptr || aOne[2] != nullptr) {
      Fail(std::string("attribute ") + reinterpret_cast<const char*>(aOne[0]) +
           " is in a namespace; the format uses none");
      return;
    }
    Attribute attribute{reinterpret_cast<const char*>(aOne[0]), {}};
    const char* p = reinterpret_cast<const char*>(aOne[3]);
    const char* pEnd = reinterpret_cast<const char*>(aOne[4]);
    attribute.value.reserve(static_cast<size_t>(pEnd - p));
    while (p < pEnd) {
      if (*p == '&' && pEnd - p >= 5 && std::memcmp(p, "&#38;", 5) == 0) {
        attribute.value += '&';
        p += 5;
      } else {
        attribute.value += *p++;
      }
    }
    if (attribute.value.size() > m_Limits.uiMaxTextBytes) {
      Fail("attribute " + std::string(attribute.name) + " is longer than " +
           std::to_string(m_Limits.uiMaxTextBytes) + " bytes");
      return;
    }
    m_Attributes.push_back(std::move(attribute));
  }

  Frame& top = m_Frames.back();
  switch (top.eKind) {
    case FrameKind::kDocument:
      StartRoot(csName);
      break;
    case FrameKind::kFile:
      StartMember(csName);
      break;
    case FrameKind::kRecord:
      StartField(top, csName);
      break;
    case FrameKind::kMap:
      StartEntry(top, csName);
      break;
    case FrameKind::kArray:
      StartItem(top, csName);
      break;
    case FrameKind::kValue:
      Fail(std::string("element ") + csName + " inside " + top.csName + ", which holds a value");
      break;
  }
}

void KxXmlReader::StartRoot(const char* csName) {
  if (std::strcmp(csName, kRootName) != 0) {
    Fail(std::string("the document is no kernel file (root element ") + csName + ", not " +
         kRootName + ")");
    return;
  }
  m_Frames.push_back(Frame{FrameKind::kFile});
  m_Frames.back().csName = kRootName;
  if (!OnlyAttributes(kRootName, {"family", "type", "version", "member"})) return;
  const std::string* pFamily = FindAttribute("family");
  const std::string* pType = FindAttribute("type");
  const std::string* pVersion = FindAttribute("version");
  if (pFamily == nullptr || pType == nullptr || pVersion == nullptr) {
    Fail("the kxfile element lacks family, type or version");
    return;
  }
  if (*pVersion != kFormatVersion) {
    Fail("format version " + Quoted(*pVersion) + " is unknown (this kernel reads " +
         kFormatVersion + ")");
    return;
  }
  if (*pFamily != m_FileType.family || *pType != m_FileType.name) {
    Fail("the document holds a file of type " + Quoted(*pFamily) + " " + Quoted(*pType) +
         "; the open file is " + m_FileType.family + " " + m_FileType.name);
    return;
  }
  if (const std::string* pMember = FindAttribute("member")) {
    Fail("the document holds member " + Quoted(*pMember) +
         " only; an import replaces the whole file and needs every member");
    return;
  }
  m_bRootSeen = true;
}

void KxXmlReader::PushRecord(const KxRecordType& type, size_t uiImage, const char* csName,
                             uint32_t uiMember) {
  Frame frame{FrameKind::kRecord};
  frame.pType = &type;
  frame.uiImage = uiImage;
  frame.csName = csName;
  frame.uiMember = uiMember;
  frame.uiSeenAt = m_Seen.size();
  m_Seen.resize(m_Seen.size() + (type.fieldCount + 63) / 64, 0);
  m_Frames.push_back(frame);
}

void KxXmlReader::StartMember(const char* csName) {
  uint32_t i = 0;
  while (i < m_FileType.memberCount && std::strcmp(m_FileType.members[i].name, csName) != 0) ++i;
  if (i == m_FileType.memberCount) {
    Fail(std::string("unknown member ") + csName + " (not of file type " + m_FileType.name + ")");
    return;
  }
  KxStagedMember& member = m_Staged.members[i];
  if (member.bSeen) {
    Fail(std::string("member ") + csName + " appears twice");
    return;
  }
  member.bSeen = true;
  const KxMemberClass& memberClass = *m_FileType.members[i].memberClass;
  const char* csMember = m_FileType.members[i].name;
  switch (memberClass.kind) {
    case KxMemberKind::kSingle:
      member.uiImage = m_Staged.NewImage(memberClass.element->size);
      PushRecord(*memberClass.element, member.uiImage, csMember, i);
      OnlyAttributes(csMember, {});
      return;
    case KxMemberKind::kMap:
    case KxMemberKind::kArray: {
      Frame frame{memberClass.kind == KxMemberKind::kMap ? FrameKind::kMap : FrameKind::kArray};
      frame.pType = memberClass.element;
      frame.eKey = memberClass.key;
      frame.csName = csMember;
      frame.uiMember = i;
      frame.uiContainer = NewContainer();
      member.uiContainer = frame.uiContainer + 1;
      m_Frames.push_back(frame);
      if (memberClass.kind == KxMemberKind::kArray) {
        OnlyAttributes(csMember, {});
        return;
      }
      if (!OnlyAttributes(csMember, {"case"})) return;
      if (const std::string* pCase = FindAttribute("case")) {
        if (memberClass.key != KxKeyKind::kText ||
            (*pCase != "insensitive" && *pCase != "sensitive")) {
          Fail(std::string("case ") + Quoted(*pCase) + " on " + csMember +
               " (only a text-keyed map takes case=\"insensitive\" or \"sensitive\")");
          return;
        }
        m_Frames.back().bNoCase = member.bNoCase = *pCase == "insensitive";
      }
      return;
    }
  }
}

void KxXmlReader::StartField(Frame& record, const char* csName) {
  const KxRecordType& type = *record.pType;
  uint32_t f = record.uiNextField;
  if (f >= type.fieldCount || std::strcmp(type.fields[f].name, csName) != 0) {
    f = 0;
    while (f < type.fieldCount && std::strcmp(type.fields[f].name, csName) != 0) ++f;
    if (f == type.fieldCount) {
      Fail(std::string("unknown field ") + csName + " in " + record.csName + " (a " + type.name +
           ")");
      return;
    }
  }
  uint64_t& uiSeen = m_Seen[record.uiSeenAt + f / 64];
  if ((uiSeen >> (f % 64)) & 1) {
    Fail(std::string("field ") + csName + " appears twice in " + record.csName);
    return;
  }
  uiSeen |= uint64_t{1} << (f % 64);
  record.uiNextField = f + 1;
  const KxRecordField& field = type.fields[f];
  const size_t uiAt = record.uiImage + field.offset;
  const uint32_t uiMember = record.uiMember;
  switch (field.kind) {
    case KxFieldKind::kRecord:
      PushRecord(*field.element, uiAt, field.name, uiMember);
      OnlyAttributes(field.name, {});
      return;
    case KxFieldKind::kMap:
    case KxFieldKind::kArray: {
      Frame frame{field.kind == KxFieldKind::kMap ? FrameKind::kMap : FrameKind::kArray};
      frame.pType = field.element;
      frame.eKey = field.key;
      frame.csName = field.name;
      frame.uiMember = uiMember;
      frame.uiContainer = NewContainer();
      m_Staged.SetWord(uiAt, frame.uiContainer + 1);
      m_Frames.push_back(frame);
      if (field.kind == KxFieldKind::kArray) {
        OnlyAttributes(field.name, {});
        return;
      }
      if (!OnlyAttributes(field.name, {"case"})) return;
      if (const std::string* pCase = FindAttribute("case")) {
        if (field.key != KxKeyKind::kText || (*pCase != "insensitive" && *pCase != "sensitive")) {
          Fail(std::string("case ") + Quoted(*pCase) + " on " + field.name +
               " (only a text-keyed map takes case=\"insensitive\" or \"sensitive\")");
          return;
        }
        if (*pCase == "insensitive") {
          m_Frames.back().bNoCase = true;
          m_Staged.SetWord(uiAt + 4, 1);
        }
      }
      return;
    }
    default: {
      Frame frame{FrameKind::kValue};
      frame.pField = &field;
      frame.csName = field.name;
      frame.uiImage = record.uiImage;
      frame.uiMember = uiMember;
      const bool bDynamic = field.kind == KxFieldKind::kStrDU || field.kind == KxFieldKind::kStrD;
      const bool bText = bDynamic || field.kind == KxFieldKind::kStrSU;
      m_Frames.push_back(frame);
      m_Text.clear();
      if (!bText) {
        OnlyAttributes(field.name, {});
        return;
      }
      if (!OnlyAttributes(field.name, {"form"})) return;
      if (const std::string* pForm = FindAttribute("form")) {
        if (*pForm == "hex") {
          m_Frames.back().uiForm = 1;
        } else if (*pForm == "unset" && bDynamic) {
          m_Frames.back().uiForm = 2;
        } else {
          Fail(std::string("form ") + Quoted(*pForm) + " on " + field.name + " (it takes " +
               (bDynamic ? "\"hex\" or \"unset\")" : "\"hex\")"));
        }
      }
      return;
    }
  }
}

void KxXmlReader::StartEntry(Frame& map, const char* csName) {
  if (std::strcmp(csName, kEntryName) != 0) {
    Fail(std::string("element ") + csName + " in map " + map.csName + " (a map holds only " +
         kEntryName + " elements)");
    return;
  }
  if (!OnlyAttributes(kEntryName, {"key", "hexkey"})) return;
  const std::string* pKey = FindAttribute("key");
  const std::string* pHexKey = FindAttribute("hexkey");
  if ((pKey == nullptr) == (pHexKey == nullptr)) {
    Fail(std::string("an entry of ") + map.csName + " needs exactly one of key and hexkey");
    return;
  }
  const size_t uiDepth = m_Frames.size();
  KxStagedEntry entry{0, 0, 0};
  if (map.eKey == KxKeyKind::kNumber) {
    if (pKey == nullptr) {
      Fail(std::string("hexkey on an entry of ") + map.csName + ", which has numeric keys");
      return;
    }
    const auto [pAfter, ec] =
        std::from_chars(pKey->data(), pKey->data() + pKey->size(), entry.uiKey);
    if (pKey->empty() || ec != std::errc() || pAfter != pKey->data() + pKey->size()) {
      Fail("key " + Quoted(*pKey) + " of " + map.csName + " is no number from 0 to " +
           std::to_string(UINT64_MAX));
      return;
    }
    if (m_NumberKeys.size() < uiDepth) m_NumberKeys.resize(uiDepth);
    auto& pKeys = m_NumberKeys[uiDepth - 1];
    if (!pKeys) pKeys = std::make_unique<std::unordered_set<uint64_t>>();
    if (!pKeys->insert(entry.uiKey).second) {
      Fail("key " + *pKey + " appears twice in " + map.csName);
      return;
    }
  } else {
    // A key is an identity: a character Windows-1252 cannot hold is refused
    // rather than replaced, which could merge two keys into one.
    std::string csKey;
    if (pKey != nullptr) {
      for (size_t i = 0; i < pKey->size();) {
        uint32_t cp = 0;
        const int iByte = NextCodePoint(*pKey, i, cp) ? UnicodeToCp1252(cp) : -1;
        if (iByte < 0) {
          Fail("key " + Quoted(*pKey) + " of " + map.csName +
               " has a character Windows-1252 cannot hold");
          return;
        }
        csKey += static_cast<char>(iByte);
      }
    } else {
      uint64_t uiByte = 0;
      for (size_t i = 0; i < pHexKey->size(); i += 2) {
        if (pHexKey->size() % 2 != 0 || !ReadHex(pHexKey->data() + i, 2, uiByte) || uiByte == 0) {
          Fail("hexkey " + Quoted(*pHexKey) + " of " + map.csName +
               " is no even run of hex digits without 00");
          return;
        }
        csKey += static_cast<char>(uiByte);
      }
    }
    std::string csIdentity = csKey;
    if (map.bNoCase) {
      for (char& c : csIdentity) c = static_cast<char>(Fold(static_cast<uint8_t>(c)));
    }
    if (m_TextKeys.size() < uiDepth) m_TextKeys.resize(uiDepth);
    auto& pKeys = m_TextKeys[uiDepth - 1];
    if (!pKeys) pKeys = std::make_unique<std::unordered_set<std::string>>();
    if (!pKeys->insert(std::move(csIdentity)).second) {
      Fail("key " + Quoted(pKey != nullptr ? *pKey : *pHexKey) + " appears twice in " + map.csName +
           (map.bNoCase ? " (keys compared without case)" : ""));
      return;
    }
    Count(map.uiMember, csKey.size() + 1);
    entry.uiTextKey = m_Staged.NewText(std::move(csKey)) + 1;
  }
  const KxRecordType& element = *map.pType;
  entry.uiImage = m_Staged.NewImage(element.size);
  const size_t uiContainer = map.uiContainer;
  const uint32_t uiMember = map.uiMember;
  m_Staged.AddEntry(uiContainer, entry);
  Count(uiMember, sizeof(KxMapNode) + uint64_t{element.size});
  PushRecord(element, entry.uiImage, kEntryName, uiMember);
}

void KxXmlReader::StartItem(Frame& array, const char* csName) {
  if (std::strcmp(csName, kItemName) != 0) {
    Fail(std::string("element ") + csName + " in array " + array.csName + " (an array holds only " +
         kItemName + " elements)");
    return;
  }
  const KxRecordType& element = *array.pType;
  const size_t uiImage = m_Staged.NewImage(element.size);
  const uint32_t uiMember = array.uiMember;
  m_Staged.AddEntry(array.uiContainer, KxStagedEntry{0, 0, uiImage});
  PushRecord(element, uiImage, kItemName, uiMember);
  OnlyAttributes(kItemName, {});
}

void KxXmlReader::End() {
  if (m_Frames.size() <= 1) return;
  const Frame frame = m_Frames.back();
  switch (frame.eKind) {
    case FrameKind::kValue:
      FinishValue(frame);
      break;
    case FrameKind::kRecord:
      m_Seen.resize(frame.uiSeenAt);
      break;
    case FrameKind::kMap: {
      const size_t uiDepth = m_Frames.size();
      // The key sets of this depth serve the next map here; a large one is
      // dropped rather than cleared bucket by bucket for every small map.
      if (m_NumberKeys.size() >= uiDepth && m_NumberKeys[uiDepth - 1]) {
        auto& pKeys = m_NumberKeys[uiDepth - 1];
        if (pKeys->bucket_count() > 1024)
          pKeys.reset();
        else
          pKeys->clear();
      }
      if (m_TextKeys.size() >= uiDepth && m_TextKeys[uiDepth - 1]) {
        auto& pKeys = m_TextKeys[uiDepth - 1];
        if (pKeys->bucket_count() > 1024)
          pKeys.reset();
        else
          pKeys->clear();
      }
      m_Staged.members[frame.uiMember].uiUnits +=
          BucketUnits(m_Staged.containers[frame.uiContainer].entries.size());
      break;
    }
    case FrameKind::kArray: {
      const uint64_t uiCount = m_Staged.containers[frame.uiContainer].entries.size();
      if (uiCount > UINT32_MAX) {
        Fail(std::string("array ") + frame.csName + " has more elements than an array holds");
        return;
      }
      Count(frame.uiMember, std::max<uint64_t>(uiCount, 4) * frame.pType->size);
      break;
    }
    case FrameKind::kFile:
      for (uint32_t i = 0; i < m_FileType.memberCount; ++i) {
        if (!m_Staged.members[i].bSeen) {
          Fail(std::string("member ") + m_FileType.members[i].name + " (a " +
               KindName(m_FileType.members[i].memberClass->kind) + ") is missing");
          return;
        }
      }
      break;
    case FrameKind::kDocument:
      break;
  }
  m_Frames.pop_back();
}

// Decodes the current value's text into stored code units: UTF-16 (`bWide`)
// or Windows-1252 bytes, from UTF-8 or from the hex form.
bool KxXmlReader::ReadText(const Frame& frame, bool bWide, std::string& out) {
  out.clear();
  if (frame.uiForm == 1) {
    const int iDigits = bWide ? 4 : 2;
    if (m_Text.size() % static_cast<size_t>(iDigits) != 0) {
      Fail(std::string("hex text of ") + frame.csName + " is not in groups of " +
           std::to_string(iDigits) + " digits");
      return false;
    }
    for (size_t i = 0; i < m_Text.size(); i += static_cast<size_t>(iDigits)) {
      uint64_t uiUnit = 0;
      if (!ReadHex(m_Text.data() + i, iDigits, uiUnit)) {
        Fail(std::string("hex text of ") + frame.csName + " has a character that is no hex digit");
        return false;
      }
      if (bWide) {
        const char16_t u = static_cast<char16_t>(uiUnit);
        out.append(reinterpret_cast<const char*>(&u), 2);
      } else {
        out += static_cast<char>(uiUnit);
      }
    }
    return true;
  }
  // At most one UTF-16 unit (or one byte) per UTF-8 byte.
  out.resize(m_Text.size() * (bWide ? 2 : 1));
  char* pOut = out.data();
  for (size_t i = 0; i < m_Text.size();) {
    uint32_t cp = static_cast<uint8_t>(m_Text[i]);
    if (cp < 0x80) {
      ++i;
    } else if (!NextCodePoint(m_Text, i, cp)) {
      Fail(std::string("text of ") + frame.csName + " is no valid UTF-8");
      return false;
    }
    if (!bWide) {
      const int iByte = UnicodeToCp1252(cp);
      *pOut++ = static_cast<char>(iByte < 0 ? '?' : iByte);
      continue;
    }
    char16_t aUnits[2] = {static_cast<char16_t>(cp), 0};
    size_t uiUnits = 1;
    if (cp >= 0x10000) {
      aUnits[0] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      aUnits[1] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      uiUnits = 2;
    }
    std::memcpy(pOut, aUnits, 2 * uiUnits);
    pOut += 2 * uiUnits;
  }
  out.resize(static_cast<size_t>(pOut - out.data()));
  return true;
}

void KxXmlReader::FinishValue(const Frame& frame) {
  const KxRecordField& field = *frame.pField;
  uint8_t* pAt = m_Staged.arena.data() + frame.uiImage + field.offset;
  const char* p = m_Text.data();
  const char* pEnd = p + m_Text.size();
  auto bad = [&](const char* csWhat) {
    Fail(std::string(field.name) + " " + Quoted(m_Text) + " is " + csWhat);
  };
  switch (field.kind) {
    case KxFieldKind::kInt32: {
      int64_t liValue = 0;
      if (!ParseInteger(p, pEnd, INT32_MIN, INT32_MAX, liValue))
        return bad("no whole number from -2147483648 to 2147483647");
      const int32_t iValue = static_cast<int32_t>(liValue);
      std::memcpy(pAt, &iValue, 4);
      return;
    }
    case KxFieldKind::kUInt32: {
      int64_t liValue = 0;
      if (!ParseInteger(p, pEnd, 0, UINT32_MAX, liValue))
        return bad("no whole number from 0 to 4294967295");
      const uint32_t uiValue = static_cast<uint32_t>(liValue);
      std::memcpy(pAt, &uiValue, 4);
      return;
    }
    case KxFieldKind::kBool: {
      int64_t liValue = 0;
      if (m_Text == "true") {
        liValue = 1;
      } else if (m_Text != "false" && !ParseInteger(p, pEnd, 0, 255, liValue)) {
        return bad("no bool (true, false or a byte value 0 to 255)");
      }
      *pAt = static_cast<uint8_t>(liValue);
      return;
    }
    case KxFieldKind::kDateTime: {
      uint64_t uiWord = 0;
      if (!ParseDateTime(m_Text, uiWord))
        return bad(
            "no date-time (YYYY-MM-DDThh:mm:ss.fffffff, then Z, L or nothing; or 0x and 16 hex "
            "digits)");
      std::memcpy(pAt, &uiWord, 8);
      return;
    }
    case KxFieldKind::kKxTime: {
      uint64_t uiWord = 0;
      if (!ParseKxTime(m_Text, uiWord))
        return bad("no time (null, [-]<0 to 8796093022207> P<0 to 7>, or 0x and 16 hex digits)");
      std::memcpy(pAt, &uiWord, 8);
      return;
    }
    case KxFieldKind::kFixedInt32:
    case KxFieldKind::kFixedUInt32: {
      const bool bSigned = field.kind == KxFieldKind::kFixedInt32;
      uint32_t uiCount = 0;
      bool bTooMany = false;
      while (true) {
        while (p < pEnd && IsXmlBlank(*p)) ++p;
        if (p == pEnd) break;
        const char* pWord = p;
        while (p < pEnd && !IsXmlBlank(*p)) ++p;
        int64_t liValue = 0;
        if (!ParseInteger(pWord, p, bSigned ? INT32_MIN : 0, bSigned ? INT32_MAX : UINT32_MAX,
                          liValue)) {
          return bad(bSigned ? "no list of whole numbers from -2147483648 to 2147483647"
                             : "no list of whole numbers from 0 to 4294967295");
        }
        if (uiCount == field.count) {
          bTooMany = true;
          break;
        }
        const uint32_t uiValue = static_cast<uint32_t>(liValue);
        std::memcpy(pAt + 4 * size_t{uiCount}, &uiValue, 4);
        ++uiCount;
      }
      if (bTooMany || uiCount != field.count) {
        Fail(std::string(field.name) + " needs exactly " + std::to_string(field.count) +
             " numbers");
      }
      return;
    }
    case KxFieldKind::kStrSU: {
      if (!ReadText(frame, true, m_Scratch)) return;
      const size_t uiUnits = m_Scratch.size() / 2;
      if (uiUnits > field.count) {
        Fail(std::string(field.name) + " has " + std::to_string(uiUnits) +
             " UTF-16 characters; its field holds " + std::to_string(field.count));
        return;
      }
      const uint16_t usLength = static_cast<uint16_t>(uiUnits);
      std::memcpy(pAt, &usLength, 2);
      std::memcpy(pAt + 2, m_Scratch.data(), m_Scratch.size());
      return;
    }
    case KxFieldKind::kStrDU:
    case KxFieldKind::kStrD: {
      if (frame.uiForm == 2) {
        if (!m_Text.empty()) Fail(std::string(field.name) + " is never written, yet has a text");
        return;  // the image's zero: never written
      }
      const bool bWide = field.kind == KxFieldKind::kStrDU;
      std::string csStored;
      if (!ReadText(frame, bWide, csStored)) return;
      if (csStored.size() / (bWide ? 2 : 1) + 1 > UINT32_MAX / 2) {
        Fail(std::string(field.name) + " is longer than a string holds");
        return;
      }
      if (!csStored.empty()) Count(frame.uiMember, csStored.size() + (bWide ? 2 : 1));
      const uint32_t aWords[2] = {1, m_Staged.NewText(std::move(csStored))};
      std::memcpy(pAt, aWords, sizeof aWords);
      return;
    }
    default:
      Fail(std::string("field ") + field.name + " is of a kind this kernel cannot read");
      return;
  }
}

// ---------------------------------------------------------------------------
// Import: the rebuild.

class KxXmlRebuild {
 public:
  KxXmlRebuild(const KxStaged& staged, KxSegment& segment, KxStore& store)
      : m_Staged(staged), m_Segment(segment), m_Store(store) {}

  bool Record(const KxRecordType& type, uint8_t* pRecord, size_t uiImage);
  bool Map(KxEmbeddedMap* pSlot, const KxRecordType& element, uint32_t uiContainer);
  bool Array(KxArrayHeader* pHeader, const KxRecordType& element, uint32_t uiContainer);

 private:
  const KxStaged& m_Staged;
  KxSegment& m_Segment;
  KxStore& m_Store;
};

bool KxXmlRebuild::Map(KxEmbeddedMap* pSlot, const KxRecordType& element, uint32_t uiContainer) {
  if (uiContainer == 0) return true;
  const bool bText = reinterpret_cast<const KxMapKernelPart*>(pSlot->kernelBytes)->keyKind ==
                     static_cast<uint32_t>(KxKeyKind::kText);
  for (const KxStagedEntry& entry : m_Staged.containers[uiContainer - 1].entries) {
    const char* csKey = bText ? m_Staged.texts[entry.uiTextKey - 1].c_str() : nullptr;
    const uint32_t uiHandle = m_Store.MapCommand(pSlot, D2MapCmd::Add, entry.uiKey, csKey);
    if (uiHandle == 0) return false;
    if (!Record(element, m_Segment.At(uiHandle) + sizeof(KxMapNode), entry.uiImage)) return false;
  }
  return true;
}

bool KxXmlRebuild::Array(KxArrayHeader* pHeader, const KxRecordType& element,
                         uint32_t uiContainer) {
  if (uiContainer == 0) return true;
  const auto& items = m_Staged.containers[uiContainer - 1].entries;
  if (!m_Store.ResizeArray(pHeader, static_cast<uint32_t>(items.size()))) return false;
  for (size_t e = 0; e < items.size(); ++e) {
    uint8_t* pItem = m_Segment.At(pHeader->dataOffset) + e * element.size;
    if (!Record(element, pItem, items[e].uiImage)) return false;
  }
  return true;
}

bool KxXmlRebuild::Record(const KxRecordType& type, uint8_t* pRecord, size_t uiImage) {
  const uint8_t* pImage = m_Staged.arena.data() + uiImage;
  for (uint32_t f = 0; f < type.fieldCount; ++f) {
    const KxRecordField& field = type.fields[f];
    uint8_t* pField = pRecord + field.offset;
    const size_t uiAt = uiImage + field.offset;
    switch (field.kind) {
      case KxFieldKind::kStrDU:
      case KxFieldKind::kStrD: {
        if (m_Staged.Word(uiAt) == 0) break;  // never written, as laid out
        const std::string& csText = m_Staged.texts[m_Staged.Word(uiAt + 4)];
        const size_t uiChar = field.kind == KxFieldKind::kStrDU ? 2 : 1;
        KxDynString* pString = reinterpret_cast<KxDynString*>(pField);
        if (!m_Store.ResizeString(pString, static_cast<uint32_t>(csText.size() / uiChar)))
          return false;
        if (!csText.empty())
          std::memcpy(m_Segment.At(pString->textOffset), csText.data(), csText.size());
        break;
      }
      case KxFieldKind::kMap: {
        KxEmbeddedMap* pSlot = reinterpret_cast<KxEmbeddedMap*>(pField);
        if (m_Staged.Word(uiAt + 4) != 0)
          m_Store.MapCommand(pSlot, D2MapCmd::KeyNoCase, 0, nullptr);
        if (!Map(pSlot, *field.element, m_Staged.Word(uiAt))) return false;
        break;
      }
      case KxFieldKind::kArray:
        if (!Array(reinterpret_cast<KxArrayHeader*>(pField), *field.element, m_Staged.Word(uiAt)))
          return false;
        break;
      case KxFieldKind::kRecord:
        if (!Record(*field.element, pField, uiAt)) return false;
        break;
      default:
        std::memcpy(pField, pImage + field.offset, field.width);
        break;
    }
  }
  return true;
}

// Holds the mutexes of every segment of a file, in member order.
class KxAllSegmentsLock {
 public:
  explicit KxAllSegmentsLock(KxLiveFile& file) {
    for (size_t i = 0; i < file.MemberCount(); ++i)
      m_Locks.push_back(std::make_unique<KxSegmentLock>(file.Segment(i)));
  }
  ~KxAllSegmentsLock() {
    while (!m_Locks.empty()) m_Locks.pop_back();
  }
  KxAllSegmentsLock(const KxAllSegmentsLock&) = delete;
  KxAllSegmentsLock& operator=(const KxAllSegmentsLock&) = delete;

 private:
  std::vector<std::unique_ptr<KxSegmentLock>> m_Locks;
};

// An open descriptor, closed with its scope.
class KxFd {
 public:
  explicit KxFd(int iFd) : m_iFd(iFd) {}
  ~KxFd() {
    if (m_iFd >= 0) close(m_iFd);
  }
  KxFd(const KxFd&) = delete;
  KxFd& operator=(const KxFd&) = delete;
  int Get() const { return m_iFd; }
  // Closes now, answering close's errno (0 when fine).
  int Close() {
    const int iResult = m_iFd >= 0 ? close(m_iFd) : 0;
    m_iFd = -1;
    return iResult == 0 ? 0 : errno;
  }

 private:
  int m_iFd;
};

}  // namespace

// ---------------------------------------------------------------------------

bool KxExportXml(KxLiveFile& file, size_t uiMember, const std::string& csPath, std::string& csWhy) {
  xmlInitParser();
  const KxFileType& fileType = file.FileType();
  if (uiMember != kKxWholeFile && uiMember >= file.MemberCount()) {
    csWhy = "member " + std::to_string(uiMember) + " does not exist";
    return false;
  }
  KxRemoveAbandonedFiles(csPath, ".part.");
  const std::string csPartial = csPath + ".part." + std::to_string(getpid());
  KxXmlSink sink;
  sink.iFd = open(csPartial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (sink.iFd < 0) {
    csWhy = "cannot create " + csPartial + ": " + std::strerror(errno);
    return false;
  }
  KxFd fd(sink.iFd);
  sink.buffer.reserve(KxXmlSink::kBufferBytes + 8192);

  xmlOutputBufferPtr pOutput =
      xmlOutputBufferCreateIO(KxXmlSink::Write, KxXmlSink::Close, &sink, nullptr);
  xmlTextWriterPtr pWriter = pOutput != nullptr ? xmlNewTextWriter(pOutput) : nullptr;
  bool bOk = pWriter != nullptr;
  std::string csFault = bOk ? "" : "the XML writer cannot be started";
  if (pWriter == nullptr && pOutput != nullptr) xmlOutputBufferClose(pOutput);
  if (bOk) {
    KxXmlExporter exporter(pWriter, KxXmlLimits{}.uiMaxTextBytes);
    const auto attribute = [&](const char* csName, const char* csValue) {
      return xmlTextWriterWriteAttribute(pWriter, BAD_CAST csName, BAD_CAST csValue) >= 0;
    };
    bOk = xmlTextWriterSetIndent(pWriter, 1) >= 0 &&
          xmlTextWriterSetIndentString(pWriter, BAD_CAST " ") >= 0 &&
          xmlTextWriterStartDocument(pWriter, "1.0", "UTF-8", nullptr) >= 0 &&
          xmlTextWriterStartElement(pWriter, BAD_CAST kRootName) >= 0 &&
          attribute("family", fileType.family) && attribute("type", fileType.name) &&
          attribute("version", kFormatVersion) &&
          (uiMember == kKxWholeFile || attribute("member", fileType.members[uiMember].name));
    for (size_t i = 0; bOk && i < file.MemberCount(); ++i) {
      if (uiMember == kKxWholeFile || uiMember == i) bOk = exporter.Member(file, i);
    }
    bOk = bOk && xmlTextWriterEndDocument(pWriter) >= 0;
    if (!bOk) csFault = exporter.Why().empty() ? "the XML writer failed" : exporter.Why();
    xmlFreeTextWriter(pWriter);  // flushes into the sink
  }
  if (bOk && !sink.Flush()) bOk = false;
  if (sink.iErrno != 0) csFault = "cannot write " + csPartial + ": " + std::strerror(sink.iErrno);
  if (const int iClose = fd.Close(); bOk && iClose != 0) {
    bOk = false;
    csFault = "cannot write " + csPartial + ": " + std::strerror(iClose);
  }
  if (bOk && rename(csPartial.c_str(), csPath.c_str()) != 0) {
    bOk = false;
    csFault = "cannot rename " + csPartial + " to " + csPath + ": " + std::strerror(errno);
  }
  if (!bOk) {
    unlink(csPartial.c_str());
    csWhy = csFault;
  }
  return bOk;
}

bool KxImportXml(KxLiveFile& file, const std::string& csPath, std::string& csWhy) {
  return KxImportXml(file, csPath, KxXmlLimits{}, csWhy);
}

bool KxImportXml(KxLiveFile& file, const std::string& csPath, const KxXmlLimits& limits,
                 std::string& csWhy) {
  xmlInitParser();
  const KxFileType& fileType = file.FileType();
  KxFd fd(open(csPath.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) {
    csWhy = "cannot open " + csPath + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    csWhy = csPath + " is no regular file";
    return false;
  }
  if (static_cast<uint64_t>(st.st_size) > limits.uiMaxDocumentBytes) {
    csWhy = "the document is larger than " + std::to_string(limits.uiMaxDocumentBytes) + " bytes";
    return false;
  }

  // Read and check everything first.
  auto pReader = std::make_unique<KxXmlReader>(fileType, limits);
  if (!pReader->Read(fd.Get(), csWhy)) return false;
  fd.Close();
  const KxStaged& staged = pReader->Staged();

  KxAllSegmentsLock lock(file);
  // Make room for the rebuild before anything changes, so that it cannot
  // run out of storage half way.
  for (size_t i = 0; i < file.MemberCount(); ++i) {
    KxSegment& segment = file.Segment(i);
    const uint64_t uiWanted = uint64_t{segment.Header().top} + staged.members[i].uiUnits;
    if (uiWanted > UINT32_MAX || !segment.Reserve(static_cast<uint32_t>(uiWanted))) {
      csWhy = std::string("the live storage of ") + fileType.members[i].name + " cannot grow by " +
              std::to_string(4 * staged.members[i].uiUnits) + " bytes for the imported content";
      return false;
    }
  }
  for (size_t i = 0; i < file.MemberCount(); ++i) {
    const KxMemberClass& memberClass = *fileType.members[i].memberClass;
    const KxStagedMember& member = staged.members[i];
    KxStore& store = file.Store(i);
    void* pContainer = file.Container(i);
    store.ClearMember(memberClass, pContainer);
    KxXmlRebuild rebuild(staged, file.Segment(i), store);
    bool bOk = true;
    switch (memberClass.kind) {
      case KxMemberKind::kSingle:
        bOk =
            rebuild.Record(*memberClass.element, static_cast<uint8_t*>(pContainer), member.uiImage);
        break;
      case KxMemberKind::kMap: {
        KxEmbeddedMap* pSlot = static_cast<KxEmbeddedMap*>(pContainer);
        if (memberClass.key == KxKeyKind::kText && NoCase(pSlot) != member.bNoCase) {
          store.MapCommand(pSlot, member.bNoCase ? D2MapCmd::KeyNoCase : D2MapCmd::KeyCase, 0,
                           nullptr);
        }
        bOk = rebuild.Map(pSlot, *memberClass.element, member.uiContainer);
        break;
      }
      case KxMemberKind::kArray:
        bOk = rebuild.Array(static_cast<KxArrayHeader*>(pContainer), *memberClass.element,
                            member.uiContainer);
        break;
    }
    if (!bOk) {
      csWhy = std::string("the live storage of ") + fileType.members[i].name +
              " ran out while rebuilding it; the file is left partly imported";
      return false;
    }
  }
  return true;
}
