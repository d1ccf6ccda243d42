// The value forms: each text either parses and is written back as the
// canonical form given, or is refused.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "lenex/LenexValues.h"

namespace {

using namespace Varnox::Lenex;

struct FormCase {
  const char* name;
  std::function<std::optional<std::string>(std::string_view)> roundTrip;
  std::string text;
  std::optional<std::string> written;  // nothing = refused
};

// Parse, then write what was parsed.
template <typename T>
std::function<std::optional<std::string>(std::string_view)> Through(
    std::optional<T> (*parse)(std::string_view), std::string (*format)(const T&)) {
  return [=](std::string_view text) -> std::optional<std::string> {
    const std::optional<T> value = parse(text);
    if (!value) return std::nullopt;
    return format(*value);
  };
}

const auto kSwim = Through(ParseSwimTime, FormatSwimTime);
const auto kReaction = Through(ParseReactionTime, FormatReactionTime);
const auto kDate = Through(ParseDate, FormatDate);
const auto kDaytime = Through(ParseDaytime, FormatDaytime);

class LenexValueFormTest : public testing::TestWithParam<FormCase> {};

TEST_P(LenexValueFormTest, ParsesToItsCanonicalFormOrRefuses) {
  EXPECT_EQ(GetParam().roundTrip(GetParam().text), GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LenexValueFormTest,
    testing::Values(FormCase{"SwimTime", kSwim, "00:01:02.47", "00:01:02.47"},
                    FormCase{"SwimTimeLongest", kSwim, "99:59:59.99", "99:59:59.99"},
                    FormCase{"NoTime", kSwim, "NT", "NT"},
                    FormCase{"ZeroIsNoTime", kSwim, "00:00:00.00", "NT"},
                    FormCase{"SwimTimeShort", kSwim, "01:02.47", std::nullopt},
                    FormCase{"SwimSeconds60", kSwim, "00:00:60.00", std::nullopt},
                    FormCase{"SwimMinutes60", kSwim, "00:60:00.00", std::nullopt},
                    FormCase{"SwimTimeSigned", kSwim, "+0:01:02.47", std::nullopt},
                    FormCase{"ReactionHundredths", kReaction, "+71", "+71"},
                    FormCase{"ReactionUnsigned", kReaction, "71", "+71"},
                    FormCase{"ReactionNegative", kReaction, "-5", "-5"},
                    FormCase{"ReactionZero", kReaction, "0", "0"},
                    FormCase{"ReactionSeconds", kReaction, "+0.71", "+71"},
                    FormCase{"ReactionNegativeSeconds", kReaction, "-0.05", "-5"},
                    FormCase{"ReactionOneDecimal", kReaction, "0.7", "+70"},
                    FormCase{"ReactionThreeDecimals", kReaction, "0.712", std::nullopt},
                    FormCase{"ReactionEmpty", kReaction, "+", std::nullopt},
                    FormCase{"Date", kDate, "2008-02-29", "2008-02-29"},
                    FormCase{"DateNoLeapDay", kDate, "2009-02-29", std::nullopt},
                    FormCase{"DateMonth13", kDate, "2008-13-01", std::nullopt},
                    FormCase{"DateYearOnly", kDate, "2008", std::nullopt},
                    FormCase{"Daytime", kDaytime, "09:05", "09:05"},
                    FormCase{"DaytimeHour24", kDaytime, "24:00", std::nullopt},
                    FormCase{"DaytimeSeconds", kDaytime, "09:05:00", std::nullopt}),
    [](const auto& one) { return std::string(one.param.name); });

// Each value of T up to `last` written as its code and parsed back.
template <typename T>
void ExpectEveryCodeParsesBack(T last) {
  for (int i = 0; i <= static_cast<int>(last); ++i)
    EXPECT_EQ(Codes<T>::Parse(Codes<T>::Code(static_cast<T>(i))), static_cast<T>(i)) << i;
}

TEST(LenexCodesTest, EveryCodeParsesBackToItsValue) {
  ExpectEveryCodeParsesBack(Round::kTimeTrial);
  ExpectEveryCodeParsesBack(Course::kOpen);
  EXPECT_FALSE(Codes<Stroke>::Parse("free"));  // codes are upper case
}

TEST(LenexNumberTest, RefusesWhatIsNoSigned32BitInteger) {
  EXPECT_EQ(ParseNumber("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseNumber("+7"), 7);
  for (const char* csText : {"2147483648", "", "+", "++1", "1.0", " 1", "1e3"})
    EXPECT_FALSE(ParseNumber(csText)) << csText;
}

}  // namespace
