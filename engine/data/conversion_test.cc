// Tests of the conversions between record text and numbers: fixed-width
// formatting of doubles (rounding of the exact binary value) and integers,
// the number parser, and the small text helpers.
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "data/data_layer.h"
#include "foundation/codes.h"

namespace tablekit {
namespace {

struct DoubleCase {
  const char *name;
  double value;
  int width;
  int decimals;
  const char *expected;
  int rc;
};

TEST(FormatDouble, FixedWidthTextRoundedFromTheExactBinaryValue) {
  const DoubleCase cases[] = {
      {"pi in 8,2", 3.14159, 8, 2, "    3.14", 0},
      {"minus half in 4,1", -0.5, 4, 1, "-0.5", 0},
      {"minus half in 3,1 drops the zero", -0.5, 3, 1, "-.5", 0},
      {"too many integer digits", 1234, 3, 0, "***", err::kOverflow},
      {"rounding adds an integer digit", 999.999, 6, 2, "******", err::kOverflow},
      {"zero keeps one integer zero", 0, 5, 2, " 0.00", 0},
      {"zero without decimals", 0, 3, 0, "  0", 0},
      {"exact tie rounds away from zero", 0.125, 5, 2, " 0.13", 0},
      {"exact tie three eighths", 0.375, 4, 2, "0.38", 0},
      {"2.675 is stored below the tie", 2.675, 5, 2, " 2.67", 0},
      {"1.005 is stored below the tie", 1.005, 5, 2, " 1.00", 0},
      {"1.45 is stored below the tie", 1.45, 4, 1, " 1.4", 0},
      {"99.995 is stored above the tie", 99.995, 6, 2, "100.00", 0},
      {"carry into a new integer digit", 9.999, 5, 2, "10.00", 0},
      {"half to an integer", 2.5, 1, 0, "3", 0},
      {"negative half to an integer", -2.5, 2, 0, "-3", 0},
      {"negative needs a column for its sign", -42, 2, 0, "**", err::kOverflow},
      {"negative that just fits", -42, 3, 0, "-42", 0},
      {"small fraction", 0.05, 4, 2, "0.05", 0},
      {"rounds to zero", 0.001, 5, 2, " 0.00", 0},
      {"no integer position", 0.5, 2, 1, ".5", 0},
      {"no integer position, negative", -0.5, 2, 1, "**", err::kOverflow},
      {"decimals held to 15", 0.1, 20, 18, "   0.100000000000000", 0},
      {"decimals held to width less one", 123.456, 7, 10, "*******", err::kOverflow},
      {"large exact integer", 1e20, 25, 2, " 100000000000000000000.00", 0},
      {"huge value does not fit", 1e300, 10, 0, "**********", err::kOverflow},
      {"smallest subnormal", 5e-324, 6, 2, "  0.00", 0},
      {"integer in a wide field", 42, 5, 0, "   42", 0},
      {"negative with decimals", -12.346, 8, 2, "  -12.35", 0},
      {"text of a numeric field", 12.5, 6, 1, "  12.5", 0},
  };
  for (const DoubleCase &c : cases) {
    SCOPED_TRACE(c.name);
    std::string out(static_cast<std::size_t>(c.width) + 1, '#');
    EXPECT_EQ(c.rc, c4dtoa45(c.value, &out[0], c.width, c.decimals));
    EXPECT_EQ(std::string(c.expected) + "#", out);  // the byte after the width is untouched
  }
}

TEST(FormatDouble, ValuesThatAreNotNumbersFillWithAsterisks) {
  for (double value : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                       -std::numeric_limits<double>::infinity()}) {
    char out[6];
    EXPECT_EQ(err::kOverflow, c4dtoa45(value, out, 6, 2));
    EXPECT_EQ(0, std::memcmp(out, "******", 6));
  }
}

// The integer-arithmetic layout of amounts gives the general layout's bytes
// and result for every value it takes: random doubles of every size (below
// and around its 1e14 bound, halves, tiny and negative ones, -0) in widths
// and decimals from the degenerate to the wide.
TEST(FormatDouble, SmallValuePathAgreesWithTheGeneralOne) {
  std::uint64_t state = 835;
  const auto next = [&] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return state >> 11;
  };
  int compared = 0;
  for (int i = 0; i < 400000; ++i) {
    double value;
    switch (i % 4) {
      case 0:  // cents, the common amount
        value = static_cast<double>(static_cast<std::int64_t>(next() % 2000000001) - 1000000000) / 100.0;
        break;
      case 1:  // half way cases of every decimal count
        value = (static_cast<double>(next() % 200001) - 100000.0) / 8.0 / std::pow(10.0, static_cast<double>(next() % 4));
        break;
      case 2:  // any magnitude from tiny to beyond the bound
        value = std::ldexp(static_cast<double>(next() % (1ULL << 53)), static_cast<int>(next() % 160) - 140);
        if (next() % 2 != 0) value = -value;
        break;
      default:  // whole numbers, zero and minus zero
        value = static_cast<double>(static_cast<std::int64_t>(next() % 200001) - 100000);
        if (next() % 50 == 0) value = next() % 2 != 0 ? -0.0 : 0.0;
        break;
    }
    const int width = 1 + static_cast<int>(next() % 22);
    const int decimals = static_cast<int>(next() % 7) - 1;
    char small[32];
    char general[32];
    std::memset(small, '#', sizeof small);
    std::memset(general, '#', sizeof general);
    const int smallRc = data::formatFixedSmall(value, small, width, decimals);
    if (smallRc == data::kNotSmall) {
      ASSERT_EQ(0, std::memcmp(small, std::string(sizeof small, '#').data(), sizeof small));
      continue;
    }
    ++compared;
    const int generalRc = data::formatFixed(value, general, width, decimals);
    ASSERT_EQ(generalRc, smallRc) << value << " " << width << " " << decimals;
    ASSERT_EQ(std::string(general, sizeof general), std::string(small, sizeof small))
        << value << " " << width << " " << decimals;
  }
  EXPECT_GT(compared, 200000);  // the path was taken, not passed by
}

TEST(FormatDouble, ZeroWidthWritesNothing) {
  char out = '#';
  EXPECT_EQ(err::kOverflow, c4dtoa45(1.0, &out, 0, 2));
  EXPECT_EQ('#', out);
}

// Every amount of thousandths ending in 0 or 5 up to 10 formats as the exact
// decimal expansion of its double rounded half away from zero (an
// independent long-hand check).
TEST(FormatDouble, AgreesWithLongHandRoundingOfTheExactValue) {
  for (int cents = 0; cents <= 10000; ++cents) {
    for (int thousandth = 0; thousandth < 10; thousandth += 5) {
      const double value = (cents * 10 + thousandth) / 1000.0;
      // %.40f prints the exact binary value's first 40 decimals (glibc is exact).
      char exact[80];
      std::snprintf(exact, sizeof exact, "%.40f", value);
      const char *point = std::strchr(exact, '.');
      const long whole = std::strtol(exact, nullptr, 10);
      long hundredths = whole * 100 + (point[1] - '0') * 10 + (point[2] - '0');
      if (point[3] >= '5') ++hundredths;
      char expected[32];
      std::snprintf(expected, sizeof expected, "%7ld.%02ld", hundredths / 100, hundredths % 100);
      char out[11];
      ASSERT_EQ(0, c4dtoa45(value, out, 10, 2)) << value;
      ASSERT_EQ(std::string(expected), std::string(out, 10)) << exact;
    }
  }
}

struct LongCase {
  const char *name;
  long value;
  int width;
  const char *expected;
};

TEST(FormatLong, RightAlignedDigitsOrAsterisks) {
  const LongCase cases[] = {
      {"blank padded", 42, 5, "   42"},
      {"negative that fits", -42, 3, "-42"},
      {"negative without room for its sign", -42, 2, "**"},
      {"zero padded", 7, -2, "07"},
      {"zero is one digit", 0, 3, "  0"},
      {"too many digits", 123, 2, "**"},
      {"negative never fits zero padding", -5, -3, "***"},
      {"most negative long", LONG_MIN, 20, "-9223372036854775808"},
  };
  for (const LongCase &c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t len = std::strlen(c.expected);
    std::string out(len + 1, '#');
    c4ltoa45(c.value, &out[0], c.width);
    EXPECT_EQ(std::string(c.expected) + "#", out);
  }
}

struct ParseCase {
  const char *name;
  const char *text;
  double expected;
};

TEST(ParseNumber, FollowsTheFieldTextRules) {
  const ParseCase cases[] = {
      {"plain decimal", "12.5", 12.5},
      {"right-aligned negative", "  -3.25", -3.25},
      {"empty", "", 0},
      {"all blanks", "      ", 0},
      {"asterisks", "******", 0},
      {"no integer digits", "-.5", -0.5},
      {"leading point", ".75", 0.75},
      {"integer stops at a letter", "123abc", 123},
      {"no exponent notation", "1e5", 1},
      {"trailing blanks", "42   ", 42},
      {"long integer part", "1234567890123.5", 1234567890123.5},
      {"long fraction", "0.123456789012", 0.123456789012},
      {"ten-digit integer", "9876543210", 9876543210.0},
      {"fraction stops at a non-digit", "3.5x7", 3.5},
      {"cut to 39 characters", "1000000000000000000000000000000000000000000000", 1e38},
  };
  for (const ParseCase &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_DOUBLE_EQ(c.expected, c4atof(c.text));
  }
}

TEST(ParseNumber, FromBytesReadsAtMost49) {
  EXPECT_DOUBLE_EQ(123, c4atod("12345", 3));
  EXPECT_DOUBLE_EQ(12.5, c4atod(" 12.50xxx", 6));
  // 60 digits: only the first 49 bytes count, and of those the first 39.
  const std::string digits = "1" + std::string(59, '0');
  EXPECT_DOUBLE_EQ(1e38, c4atod(digits.c_str(), 60));
  const std::string blanked = std::string(49, ' ') + "7";
  EXPECT_DOUBLE_EQ(0, c4atod(blanked.c_str(), 50));
  EXPECT_DOUBLE_EQ(0, c4atod(nullptr, 5));
}

struct IntegerCase {
  const char *name;
  const char *bytes;
  int n;
  long expected;
};

TEST(ParseInteger, AsTheRuntimeAtolOverBoundedBytes) {
  const std::string many(200, '1');
  const IntegerCase cases[] = {
      {"leading blanks, stops at a letter", "  42abc", 7, 42},
      {"negative", "-17", 3, -17},
      {"plus sign", "+7", 2, 7},
      {"no digits", "abc", 3, 0},
      {"empty", "", 0, 0},
      {"bounded by n", "12", 1, 1},
      {"held to 32 bits", "9999999999", 10, INT32_MAX},
      {"held to 32 bits, negative", "-9999999999", 11, INT32_MIN},
      {"at most 127 bytes", many.c_str(), 200, INT32_MAX},
      {"a decimal point ends it", "3.9", 3, 3},
  };
  for (const IntegerCase &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, c4atol(c.bytes, c.n));
    EXPECT_EQ(static_cast<int>(c.expected), c4atoi(c.bytes, c.n));
  }
}

TEST(TextHelpers, TrimCutsAtTheLimitAndDropsTrailingBlanks) {
  char a[] = "ab  ";
  c4trimN(a, 10);
  EXPECT_STREQ("ab", a);
  char b[] = "abcdef";
  c4trimN(b, 4);
  EXPECT_STREQ("abc", b);
  char c[] = "a b \0xyz";
  c4trimN(c, 9);
  EXPECT_STREQ("a b", c);
  char d[] = "   ";
  c4trimN(d, 4);
  EXPECT_STREQ("", d);
}

TEST(TextHelpers, CaseConversionInPlace) {
  char text[] = "Name_1 x";
  c4upper(text);
  EXPECT_STREQ("NAME_1 X", text);
  c4lower(text);
  EXPECT_STREQ("name_1 x", text);
}

}  // namespace
}  // namespace tablekit
