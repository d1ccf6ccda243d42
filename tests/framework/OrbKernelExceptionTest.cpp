// The "{0}" formatter and the exception that carries its messages.
#include <gtest/gtest.h>

#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxOrbUnmanException.h"
#include "contracts/framework/OrbKernelException.h"
#include "contracts/kernel/KxText.h"

namespace {

using namespace Tarvex::Orb::DataDirectAcces;

struct FormatCase {
  std::u16string format;
  std::vector<OrbFormatArg> args;
  std::u16string expected;
};

class OrbFormatTest : public testing::TestWithParam<FormatCase> {};

TEST_P(OrbFormatTest, ReplacesEachPlaceholder) {
  const FormatCase& c = GetParam();
  EXPECT_EQ(OrbFormat(c.format, c.args), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OrbFormatTest,
    testing::Values(FormatCase{u"GetVal ({0}):\r\n", {int32_t{16}}, u"GetVal (16):\r\n"},
                    FormatCase{u"{1}-{0}-{1}",
                               {u"a", uint64_t{18446744073709551615u}},
                               u"18446744073709551615-a-18446744073709551615"},
                    FormatCase{u"{{{0}}}", {true}, u"{True}"},
                    FormatCase{u"[{0}]", {nullptr}, u"[]"},
                    FormatCase{u"{0}", {int64_t{-5}}, u"-5"}, FormatCase{u"{0}", {0.5}, u"0.5"},
                    FormatCase{u"no placeholder", {}, u"no placeholder"}));

TEST(OrbFormatTest, RefusesPlaceholdersItCannotFill) {
  for (const char16_t* format : {u"{1}", u"{", u"}", u"{x}", u"{0", u"a } b"}) {
    const std::vector<OrbFormatArg> one{int32_t{1}};
    EXPECT_THROW(OrbFormat(format, one), OrbKernelException) << KxText::Utf16ToUtf8(format);
  }
}

TEST(OrbKernelExceptionTest, WhatIsTheMessageFollowedByItsCause) {
  const CkxD2RangeException native(1, 8, 9);
  std::string nativeText;
  native.GetErrorText(nativeText);

  const OrbKernelException caught(u"D2mVarnox_FT_COMPETITORS_CompetitorsStringMap.Name:\r\n",
                                  native);
  EXPECT_EQ(caught.Message(), u"D2mVarnox_FT_COMPETITORS_CompetitorsStringMap.Name:\r\n");
  EXPECT_FALSE(nativeText.empty());
  EXPECT_EQ(std::string(caught.what()),
            "D2mVarnox_FT_COMPETITORS_CompetitorsStringMap.Name:\r\n" + nativeText);

  const OrbKernelException formatted(u"GetVal ({0}):\r\n", {int32_t{16}});
  EXPECT_EQ(std::string(formatted.what()), "GetVal (16):\r\n");
  EXPECT_TRUE(formatted.CauseText().empty());

  const OrbKernelException copy = caught;  // shares, never fails
  EXPECT_EQ(copy.CauseText(), caught.CauseText());
}

}  // namespace
