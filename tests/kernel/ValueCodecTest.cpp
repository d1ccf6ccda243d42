// The text codec and the packed value words, checked as properties over
// generated input (rapidcheck) and, where the domain is small, over all of
// it. glibc's iconv and wide-character case mapping serve as independent
// references.
#include <gtest/gtest.h>
#include <iconv.h>
#include <rapidcheck/gtest.h>

#include <clocale>
#include <cstring>
#include <cwctype>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxD2DateTime.h"
#include "contracts/kernel/KxText.h"
#include "contracts/kernel/KxValueWords.h"
#include "kernel/KxXmlForms.h"
#include "templates/Sd2KxTime.h"

namespace {

// ---------------------------------------------------------------------------
// References and generators.

// `csIn` converted by iconv, or nothing when iconv refuses some of it.
std::optional<std::string> Iconv(const char* csTo, const char* csFrom, const std::string& csIn) {
  iconv_t cd = iconv_open(csTo, csFrom);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string csIn2 = csIn;
  std::string out(4 * csIn.size() + 4, '\0');
  char* pIn = csIn2.data();
  char* pOut = out.data();
  size_t uiIn = csIn2.size(), uiOut = out.size();
  const size_t uiResult = iconv(cd, &pIn, &uiIn, &pOut, &uiOut);
  iconv_close(cd);
  if (uiResult == static_cast<size_t>(-1)) return std::nullopt;
  out.resize(out.size() - uiOut);
  return out;
}

std::string Bytes(const std::u16string& cs) {
  return std::string(reinterpret_cast<const char*>(cs.data()), 2 * cs.size());
}

// Texts made of generated pieces, joined.
template <class Text>
rc::Gen<Text> Joined(rc::Gen<Text> pieces) {
  return rc::gen::map(rc::gen::container<std::vector<Text>>(std::move(pieces)),
                      [](const std::vector<Text>& parts) {
                        Text out;
                        for (const Text& part : parts) out += part;
                        return out;
                      });
}

// UTF-16 units of every kind: ASCII, the rest of the BMP, pairs, and lone
// high and low surrogates.
rc::Gen<std::u16string> Utf16Texts() {
  auto pieces = rc::gen::oneOf(
      rc::gen::map(rc::gen::inRange<char16_t>(0, 0x80),
                   [](char16_t c) { return std::u16string(1, c); }),
      rc::gen::map(rc::gen::inRange<uint32_t>(0x80, 0x10000),
                   [](uint32_t c) { return std::u16string(1, static_cast<char16_t>(c)); }),
      rc::gen::map(rc::gen::inRange<uint32_t>(0x10000, 0x110000),
                   [](uint32_t cp) {
                     char16_t aUnits[2];
                     return std::u16string(aUnits, KxText::EncodeUtf16(cp, aUnits));
                   }),
      rc::gen::map(rc::gen::inRange<uint32_t>(0xD800, 0xE000),
                   [](uint32_t c) { return std::u16string(1, static_cast<char16_t>(c)); }));
  return Joined(pieces);
}

// Byte strings that are partly well-formed UTF-8 and partly any bytes.
rc::Gen<std::string> MixedUtf8() {
  auto pieces =
      rc::gen::oneOf(rc::gen::map(rc::gen::arbitrary<uint8_t>(),
                                  [](uint8_t c) { return std::string(1, static_cast<char>(c)); }),
                     rc::gen::map(rc::gen::inRange<uint32_t>(0, 0x110000), [](uint32_t cp) {
                       std::string out;
                       if (!KxText::IsSurrogate(cp)) KxText::AppendUtf8(out, cp);
                       return out;
                     }));
  return Joined(pieces);
}

rc::Gen<std::string> AnyBytes() {
  return rc::gen::map(
      rc::gen::container<std::vector<uint8_t>>(rc::gen::arbitrary<uint8_t>()),
      [](const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); });
}

// ---------------------------------------------------------------------------
// UTF-16 and UTF-8.

// Every UTF-16 text survives UTF-8 and back, but for its unpaired surrogates,
// which come back as U+FFFD; a text without any has the UTF-8 iconv gives.
RC_GTEST_PROP(TextCodec, Utf16SurvivesUtf8AndBack, ()) {
  const std::u16string csText = *Utf16Texts();
  std::u16string csExpected;
  bool bPaired = true;
  for (size_t i = 0; i < csText.size(); ++i) {
    const char16_t c = csText[i];
    const bool bPair = c >= 0xD800 && c <= 0xDBFF && i + 1 < csText.size() &&
                       csText[i + 1] >= 0xDC00 && csText[i + 1] <= 0xDFFF;
    if (bPair) {
      csExpected += csText.substr(i++, 2);
    } else {
      csExpected += KxText::IsSurrogate(c) ? u'\xFFFD' : c;
      bPaired = bPaired && !KxText::IsSurrogate(c);
    }
  }
  const std::string csUtf8 = KxText::Utf16ToUtf8(csText);
  RC_ASSERT(KxText::Utf8ToUtf16(csUtf8) == csExpected);
  if (bPaired) RC_ASSERT(Iconv("UTF-8", "UTF-16LE", Bytes(csText)) == csUtf8);
}

// Any bytes read as UTF-8 give what iconv gives where iconv accepts them, and
// U+FFFD in place of what it refuses; the result is valid UTF-16 that comes
// back unchanged through UTF-8.
RC_GTEST_PROP(TextCodec, AnyBytesReadAsUtf8, ()) {
  const std::string csBytes = *MixedUtf8();
  const std::u16string csText = KxText::Utf8ToUtf16(csBytes);
  if (const auto csReference = Iconv("UTF-16LE", "UTF-8", csBytes)) {
    RC_ASSERT(Bytes(csText) == *csReference);
  } else {
    RC_ASSERT(csText.find(u'\xFFFD') != std::u16string::npos);
  }
  RC_ASSERT(KxText::Utf8ToUtf16(KxText::Utf16ToUtf8(csText)) == csText);
}

// Each byte that starts no well-formed sequence is one U+FFFD.
struct BadUtf8Case {
  const char* csName;
  std::string csBytes;
  std::u16string csText;
  friend void PrintTo(const BadUtf8Case& c, std::ostream* pOut) { *pOut << c.csName; }
};

class BadUtf8 : public testing::TestWithParam<BadUtf8Case> {};

TEST_P(BadUtf8, EachBadByteIsOneReplacement) {
  EXPECT_EQ(KxText::Utf8ToUtf16(GetParam().csBytes), GetParam().csText);
  // Windows-1252 lacks U+FFFD: the same bytes become '?' there.
  std::string csAnsi;
  for (const char16_t c : GetParam().csText) csAnsi += c == 0xFFFD ? '?' : static_cast<char>(c);
  EXPECT_EQ(KxText::Utf8ToCp1252(GetParam().csBytes), csAnsi);
}

INSTANTIATE_TEST_SUITE_P(
    TextCodec, BadUtf8,
    testing::Values(BadUtf8Case{"Overlong", "a\xC0\xAFz", u"a\xFFFD\xFFFDz"},
                    BadUtf8Case{"Surrogate", "\xED\xA0\x80", u"\xFFFD\xFFFD\xFFFD"},
                    BadUtf8Case{"BeyondUnicode", "\xF4\x90\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD"},
                    BadUtf8Case{"Truncated", "x\xE2\x82", u"x\xFFFD\xFFFD"},
                    BadUtf8Case{"StrayContinuation", "\x80y", u"\xFFFDy"},
                    BadUtf8Case{"NoLeadByte", "\xF8\xFF", u"\xFFFD\xFFFD"}),
    [](const testing::TestParamInfo<BadUtf8Case>& param) { return param.param.csName; });

// ---------------------------------------------------------------------------
// Windows-1252.

// Every byte has a code point and comes back from it; every code point the
// code page lacks is refused (-1); where iconv knows a byte, it agrees. The
// fold is Unicode's lower case where the code page has it, joins each
// capital with its small letter, and folding twice changes nothing.
TEST(TextCodec, Cp1252MapsAndFoldsEveryByte) {
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr) << "the C.UTF-8 locale is needed";
  std::map<char32_t, int> bytesOf;
  for (int b = 0; b < 256; ++b) {
    const char32_t cp = KxText::Cp1252ToUnicode(static_cast<uint8_t>(b));
    EXPECT_EQ(KxText::UnicodeToCp1252(cp), b) << b;
    EXPECT_TRUE(bytesOf.emplace(cp, b).second) << "two bytes for U+" << std::hex << uint32_t{cp};
    const auto csReference =
        Iconv("UTF-32LE", "WINDOWS-1252", std::string(1, static_cast<char>(b)));
    if (csReference) {
      EXPECT_EQ(csReference->size(), 4u);
      char32_t cpReference = 0;
      std::memcpy(&cpReference, csReference->data(), 4);
      EXPECT_EQ(uint32_t{cp}, uint32_t{cpReference}) << b;
    } else {
      EXPECT_EQ(uint32_t{cp}, static_cast<uint32_t>(b))
          << "an undefined byte stands for its C1 control";
    }
    const uint8_t cFolded = KxText::FoldCp1252(static_cast<uint8_t>(b));
    const int iLower = KxText::UnicodeToCp1252(static_cast<char32_t>(std::towlower(cp)));
    const int iUpper = KxText::UnicodeToCp1252(static_cast<char32_t>(std::towupper(cp)));
    EXPECT_EQ(cFolded, iLower >= 0 ? iLower : b) << b;
    if (iUpper >= 0) {
      EXPECT_EQ(KxText::FoldCp1252(static_cast<uint8_t>(iUpper)), cFolded) << b;
    }
    EXPECT_EQ(KxText::FoldCp1252(cFolded), cFolded) << b;
  }
  std::setlocale(LC_CTYPE, "C");
  for (char32_t cp = 0; cp <= KxText::kMaxCodePoint; ++cp) {
    if (!bytesOf.contains(cp)) {
      ASSERT_EQ(KxText::UnicodeToCp1252(cp), -1) << std::hex << uint32_t{cp};
    }
  }
}

RC_GTEST_PROP(TextCodec, Cp1252TextSurvivesUtf8AndBack, ()) {
  const std::string csBytes = *AnyBytes();
  RC_ASSERT(KxText::Utf8ToCp1252(KxText::Cp1252ToUtf8(csBytes)) == csBytes);
}

// A character the code page lacks (an unpaired surrogate too) becomes '?'.
RC_GTEST_PROP(TextCodec, MissingCharactersBecomeQuestionMarks, ()) {
  const std::u16string csText = *Utf16Texts();
  std::string csExpected;
  for (size_t i = 0; i < csText.size();) {
    char32_t cp = 0;
    KxText::NextUtf16(csText.data(), csText.size(), i, cp);
    const int iByte = KxText::UnicodeToCp1252(cp);
    csExpected += iByte < 0 ? '?' : static_cast<char>(iByte);
  }
  RC_ASSERT(KxText::Utf8ToCp1252(KxText::Utf16ToUtf8(csText)) == csExpected);
}

// ---------------------------------------------------------------------------
// Packed value words.

RC_GTEST_PROP(ValueWords, RaceTimeKeepsItsFields,
              (uint64_t uiTime, uint32_t uiPrecision, bool bNegative, uint16_t usHigh)) {
  const Sd2KxTime time = Sd2KxTime::Make(static_cast<int64_t>(uiTime), uiPrecision, bNegative);
  RC_ASSERT(static_cast<uint64_t>(time.Time()) == (uiTime & KxTimeWord::kTimeMask));
  RC_ASSERT(time.Precision() == (uiPrecision & KxTimeWord::kMaxPrecision));
  RC_ASSERT(time.Negative() == bNegative);
  RC_ASSERT(!time.IsNull());
  RC_ASSERT((time.m_uliWord & KxTimeWord::kUnusedBits) == 0);
  // Bits 48 to 63 are ignored when read.
  const Sd2KxTime dirty{time.m_uliWord | (uint64_t{usHigh} << 48)};
  RC_ASSERT(dirty.Time() == time.Time() && dirty.Precision() == time.Precision() &&
            dirty.Negative() == time.Negative() && !dirty.IsNull());
  RC_ASSERT(Sd2KxTime{time.m_uliWord | KxTimeWord::kNoValue}.IsNull());
}

RC_GTEST_PROP(ValueWords, DateTimeKeepsItsFields, (uint64_t uiTicks, uint64_t uiWord)) {
  const auto eKind =
      *rc::gen::element(KxDateTimeKind::kUnspecified, KxDateTimeKind::kUtc, KxDateTimeKind::kLocal);
  const int64_t liWord = CkxD2DateTime::Pack(static_cast<int64_t>(uiTicks), eKind);
  RC_ASSERT(CkxD2DateTime::KindOf(liWord) == eKind);
  RC_ASSERT(static_cast<uint64_t>(CkxD2DateTime::TicksOf(liWord)) ==
            (uiTicks & KxDateWord::kTicksMask));
  // Both kind bits read as unspecified; the ticks never see the kind bits.
  const auto liBoth = static_cast<int64_t>(uiWord | KxDateWord::kKindMask);
  RC_ASSERT(CkxD2DateTime::KindOf(liBoth) == KxDateTimeKind::kUnspecified);
  RC_ASSERT(CkxD2DateTime::TicksOf(liBoth) == CkxD2DateTime::TicksOf(static_cast<int64_t>(uiWord)));
}

// Every word survives the XML text forms and back.
RC_GTEST_PROP(ValueWords, EveryWordSurvivesItsXmlForm, (uint64_t uiWord)) {
  // Mostly words of real values, some of any bits.
  const uint64_t uiTime =
      *rc::gen::oneOf(rc::gen::just(uiWord),
                      rc::gen::just(uiWord & ~KxTimeWord::kUnusedBits & ~KxTimeWord::kNoValue),
                      rc::gen::just(KxTimeWord::kNoValue));
  const uint64_t uiDate = *rc::gen::oneOf(
      rc::gen::just(uiWord),
      rc::gen::just((uiWord & KxDateWord::kKindMask) |
                    (uiWord & KxDateWord::kTicksMask) % (KxDateWord::kMaxTicks + 1)));
  std::string csText;
  uint64_t uiBack = ~uiTime;
  KxXmlDetail::FormatKxTime(uiTime, csText);
  RC_ASSERT(KxXmlDetail::ParseKxTime(csText, uiBack));
  RC_ASSERT(uiBack == uiTime);
  uiBack = ~uiDate;
  KxXmlDetail::FormatDateTime(uiDate, csText);
  RC_ASSERT(KxXmlDetail::ParseDateTime(csText, uiBack));
  RC_ASSERT(uiBack == uiDate);
}

}  // namespace
