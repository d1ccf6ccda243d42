// The checked formatter: agreement with printf where the format is good, a
// clean failure where it is not.
#include "NetInterface/CkxOrbNetInterface/KxFormat.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "contracts/kernel/KxRecords.h"

namespace {

// The C library's own rendering, to compare against.
__attribute__((format(printf, 1, 2))) std::string Printf(const char* csFormat, ...) {
  va_list args;
  va_start(args, csFormat);
  va_list copy;
  va_copy(copy, args);
  const int iLen = std::vsnprintf(nullptr, 0, csFormat, copy);
  va_end(copy);
  std::string strOut(static_cast<size_t>(iLen), '\0');
  std::vsnprintf(strOut.data(), strOut.size() + 1, csFormat, args);
  va_end(args);
  return strOut;
}

std::string Format(const char* csFormat, std::span<const KxArg> args) {
  std::string strOut = "previous content";
  EXPECT_TRUE(KxFormatArgs(strOut, csFormat, args)) << csFormat;
  return strOut;
}

// Formats with both and expects the same text.
#define EXPECT_LIKE_PRINTF(csFormat, ...)                                                        \
  do {                                                                                           \
    const KxArg aArgs[] = {__VA_ARGS__};                                                         \
    EXPECT_EQ(Format(csFormat, aArgs), Printf(csFormat, __VA_ARGS__)) << "format: " << csFormat; \
  } while (0)

TEST(KxFormatTest, ConversionsMatchPrintf) {
  EXPECT_LIKE_PRINTF("%d|%i", INT_MIN, INT_MAX);
  EXPECT_LIKE_PRINTF("[%5d][%-5d][%05d][%+d][% d][%.3d][%8.3d]", 42, 42, -42, 42, 42, 7, -7);
  EXPECT_LIKE_PRINTF("%u %o %#o %x %#x %X %#X", 4000000000u, 8u, 8u, 255u, 255u, 255u, 0u);
  EXPECT_LIKE_PRINTF("%lld %llu %llx", LLONG_MIN, ULLONG_MAX, 0x123456789abcdefULL);
  EXPECT_LIKE_PRINTF("%ld %lu %zu %zd %jd %ju %td", LONG_MIN, ULONG_MAX, SIZE_MAX,
                     static_cast<ssize_t>(-3), INTMAX_MIN, UINTMAX_MAX, PTRDIFF_MIN);
  EXPECT_LIKE_PRINTF("%hd %hu %hhd %hhu %hhx", static_cast<short>(-300),
                     static_cast<unsigned short>(65000), static_cast<signed char>(-5),
                     static_cast<unsigned char>(250), static_cast<unsigned char>(0xAB));
  EXPECT_LIKE_PRINTF("%c%c%-3c|%3c", 'a', 66, 'x', 'y');
  EXPECT_LIKE_PRINTF("%f %.2f %10.3f %-10.1f| %+08.2f %#.0f", 3.14159, 2.675, -1.5, 9.99, 3.5, 2.0);
  EXPECT_LIKE_PRINTF("%e %E %.3e %g %G %g %#g", 12345.678, 0.000123, 1e300, 0.0001, 1e-10, 100000.0,
                     1.0);
  EXPECT_LIKE_PRINTF("%a %A %.2a", 1.0, -0.5, 3.0);
  EXPECT_LIKE_PRINTF("%f %F %e %g", INFINITY, -INFINITY, NAN, DBL_MAX);
  EXPECT_LIKE_PRINTF("%Lf %.3Le %lf", 1.25L, 2.5L, 0.1);
  EXPECT_LIKE_PRINTF("[%s][%10s][%-10s][%.3s][%8.2s]", "abc", "abc", "abc", "abcdef", "xyz");
  int iLocal = 0;
  EXPECT_LIKE_PRINTF("%p %20p %-20p|", static_cast<void*>(&iLocal), static_cast<void*>(&iLocal),
                     static_cast<void*>(nullptr));
  // A negative '*' width left-justifies, a negative precision is none.
  EXPECT_LIKE_PRINTF("[%*d][%-*d][%*d][%.*f][%.*f]", 6, 42, 6, 42, -6, 42, 2, 3.14159, -1, 3.14159);
  EXPECT_LIKE_PRINTF("[%*.*s][%-*.*d|%s]", 8, 3, "abcdef", 7, 4, -12, "tail");
}

// A format, its arguments and the text expected (none for a bad format).
struct FormatCase {
  const char* csFormat;
  std::vector<KxArg> args;
  std::string strExpected = "";
};

// Each argument is cast to the type its conversion names; enumerations,
// bool, char and std::string pass as their natural kinds, an unsigned '*'
// width as an int, a null text as "(null)" (%p also takes a text); "%%" is a
// literal and surplus arguments are ignored; %c of 0 yields an embedded zero;
// long output is not truncated, around the size of the first rendering
// buffer (256) and well beyond it.
TEST(KxFormatTest, ArgumentsAreCastLiteralsKeptSurplusIgnoredAndNothingTruncated) {
  const std::string strText = "str", strLong(100000, 'q');
  const std::string strLiteral = std::string(5000, 'L') + "%d" + std::string(3000, 'M');
  const char* csNull = nullptr;
  const FormatCase aCases[] = {
      {"%d|%u|%x|%llx|%hhu|%hd|%llu",
       {int64_t{0x100000005}, -1, -1, -1, 257, 65537u, uint64_t{18446744073709551615u}},
       "5|4294967295|ffffffff|ffffffffffffffff|1|1|18446744073709551615"},
      {"%d %d %c %s", {OrbLogEvtFileMess, true, 'z', strText}, "104 1 z str"},
      {"[%*d]", {4u, 1}, "[   1]"},
      {"%s|%p", {csNull, csNull}, "(null)|" + Printf("%p", static_cast<void*>(nullptr))},
      {"100%% sure, %%d stays", {}, "100% sure, %d stays"},
      {"", {}, ""},
      {"%d%%", {50, "ignored", 2.0}, "50%"},
      {"no conversions", {1, 2}, "no conversions"},
      {"a%cb", {0}, std::string("a\0b", 3)},
      {"<%s>%d", {strLong, 7}, "<" + strLong + ">7"},
      {strLiteral.c_str(), {12}, std::string(5000, 'L') + "12" + std::string(3000, 'M')},
      {"%*d", {254, 9}, std::string(253, ' ') + "9"},
      {"%*d", {255, 9}, std::string(254, ' ') + "9"},
      {"%*d", {256, 9}, std::string(255, ' ') + "9"},
      {"%*d", {257, 9}, std::string(256, ' ') + "9"},
      {"%300d|%.400f|%-70000s|", {1, 1.0, "x"}, Printf("%300d|%.400f|%-70000s|", 1, 1.0, "x")},
  };
  for (const FormatCase& c : aCases) EXPECT_EQ(Format(c.csFormat, c.args), c.strExpected);
}

TEST(KxFormatTest, BadFormatsFailAndLeaveNoText) {
  int iLocal = 0;
  const std::vector<FormatCase> cases = {
      // missing arguments
      {"%d", {}},
      {"%d and %d", {1}},
      {"%*d", {5}},
      {"%.*f", {2}},
      {"%s", {}},
      // kind mismatches
      {"%s", {5}},
      {"%d", {"text"}},
      {"%d", {1.5}},
      {"%f", {5}},
      {"%x", {&iLocal}},
      {"%p", {5}},
      {"%c", {"c"}},
      {"%*d", {"5", 1}},
      {"%*d", {2.0, 1}},
      // invalid conversions and modifiers
      {"%q", {1}},
      {"%n", {&iLocal}},
      {"%1$d", {1}},
      {"%'d", {1}},
      {"%5%", {1}},
      {"%-%", {1}},
      {"%Ld", {1}},
      {"%hf", {1.0}},
      {"%lc", {65}},
      {"%ls", {"s"}},
      {"%lls", {"s"}},
      {"%hhp", {&iLocal}},
      // undefined flag and precision combinations
      {"%#d", {1}},
      {"%#u", {1u}},
      {"%Lx", {1u}},
      {"%0s", {"s"}},
      {"%.3c", {65}},
      {"%.3p", {&iLocal}},
      // the format ends inside a conversion
      {"abc%", {1}},
      {"%5", {1}},
      {"%ll", {1}},
      {"%.", {1}},
      // widths and precisions beyond the limit
      {"%2000000d", {1}},
      {"%.2000000f", {1.0}},
      {"%*d", {2000000, 1}},
      {"%*d", {kKxFormatMaxField + 1, 1}},
      {"%*d", {INT_MIN, 1}},
      {"%99999999999999999999d", {1}},
  };
  for (const FormatCase& badCase : cases) {
    std::string strOut = "previous content";
    EXPECT_FALSE(KxFormatArgs(strOut, badCase.csFormat, badCase.args)) << badCase.csFormat;
    EXPECT_EQ(strOut, "") << badCase.csFormat;
  }
  std::string strOut = "previous content";
  EXPECT_FALSE(KxFormat(strOut, nullptr, 1));
  EXPECT_EQ(strOut, "");
}

}  // namespace
