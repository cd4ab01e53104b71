// Tests of dates: the day-number scale against an independent calendar
// computation, the picture parsing and formatting examples, the name tables
// byte for byte, today's date and the context's date picture.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/data_layer.h"
#include "foundation/foundation.h"
#include "platform/platform.h"
#include "testing/message_capture.h"

namespace tablekit {
namespace {

// Days since 1970-01-01 of a Gregorian date, by the era arithmetic of the
// proleptic calendar (independent of the engine's month tables).
long daysFromCivil(long y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

constexpr long kUnixEpochDay = 2440588;  // 1970-01-01

bool civilLeap(long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int civilMonthDays(long y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && civilLeap(y) ? 29 : kDays[m - 1];
}

std::string dateOf(const char *date) { return std::string(date, 8); }

TEST(DayNumbers, EveryDayOfYears1To9999MatchesTheCalendar) {
  char text[32];
  char written[9];
  for (long y = 1; y <= 9999; ++y) {
    for (int m = 1; m <= 12; ++m) {
      for (int d = 1; d <= civilMonthDays(y, m); ++d) {
        std::snprintf(text, sizeof text, "%04ld%02d%02d", y, m, d);
        const long expected = daysFromCivil(y, m, d) + kUnixEpochDay;
        ASSERT_EQ(expected, date4long(text)) << text;
        date4assignLow(written, expected, 0);
        ASSERT_EQ(dateOf(text), dateOf(written)) << expected;
      }
    }
  }
}

struct LongCase {
  const char *name;
  const char *date;
  long expected;
};

TEST(DayNumbers, TextToDayNumber) {
  const LongCase cases[] = {
      {"the scale's anchor", "20000101", 2451545},
      {"leap day of 2000", "20000229", 2451604},
      {"1900 is not a leap year", "19000229", -1},
      {"blank date", "        ", 0},
      {"blanks inside the digits", "2000 1 1", 2451545},
      {"first day of year 1", "00010101", 1721426},
      {"last day of year 9999", "99991231", 5373484},
      {"a letter", "2000A101", -1},
      {"month 13", "20001301", -1},
      {"month 0", "20000001", -1},
      {"31 April", "20000431", -1},
      {"day 0", "20000100", -1},
      {"a sign is no digit", "-0000101", -1},
  };
  for (const LongCase &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, date4long(c.date));
  }
}

TEST(DayNumbers, DayNumberToText) {
  char date[10] = "#########";
  date4assignLow(date, 2451545, 0);
  EXPECT_EQ("20000101", dateOf(date));
  date4assignLow(date, 0, 0);
  EXPECT_EQ("        ", dateOf(date));
  date4assignLow(date, 0, 1);
  EXPECT_EQ("00000000", dateOf(date));
  date4assignLow(date, -5, 0);
  EXPECT_EQ("        ", dateOf(date));
  // No 4-digit year after 9999.
  date4assignLow(date, 5373485, 0);
  EXPECT_EQ("********", dateOf(date));
  EXPECT_EQ('#', date[8]);  // 8 characters, no terminator
}

TEST(DayNumbers, Helpers) {
  EXPECT_EQ(0, c4ytoj(1));
  EXPECT_EQ(730119, c4ytoj(2000));
  EXPECT_EQ(2451545, date4yymmddToJulianLong(2000, 1, 1));
  EXPECT_EQ(-1, date4yymmddToJulianLong(2000, 2, 30));
  EXPECT_EQ(-1, date4yymmddToJulianLong(-1, 1, 1));
  EXPECT_EQ(1, date4isLeap("20000101"));
  EXPECT_EQ(0, date4isLeap("19000101"));
  EXPECT_EQ(1, date4isLeap("2024    "));
  EXPECT_EQ(0, date4isLeap("20230101"));
}

struct MonDyCase {
  int year;
  int dayOfYear;
  int rc;
  int month;
  int day;
};

TEST(DayNumbers, DayOfYearToMonthAndDay) {
  const MonDyCase cases[] = {
      {2024, 1, 0, 1, 1},    {2024, 59, 0, 2, 28},  {2024, 60, 0, 2, 29},  {2024, 61, 0, 3, 1},
      {2023, 60, 0, 3, 1},   {2024, 366, 0, 12, 31}, {2023, 365, 0, 12, 31}, {2023, 366, -1, 0, 0},
      {2024, 367, -1, 0, 0}, {2024, 0, -1, 0, 0},
  };
  for (const MonDyCase &c : cases) {
    SCOPED_TRACE(std::to_string(c.year) + " day " + std::to_string(c.dayOfYear));
    int month = -7;
    int day = -7;
    EXPECT_EQ(c.rc, c4monDy(c.year, c.dayOfYear, &month, &day));
    EXPECT_EQ(c.month, month);
    EXPECT_EQ(c.day, day);
  }
}

TEST(Names, WeekdaysFromDayNumbers) {
  EXPECT_EQ(7, date4dow("20000101"));
  EXPECT_STREQ("Saturday", date4cdow("20000101"));
  EXPECT_EQ(1, date4dow("20240317"));
  EXPECT_STREQ("Sunday", date4cdow("20240317"));
  EXPECT_EQ(2, date4dow("        "));  // a blank date counts as day 0
  EXPECT_EQ(0, date4dow("20001301"));
  EXPECT_STREQ("", date4cdow("20001301"));
}

TEST(Names, DayNameTableLayout) {
  const char *expected[] = {
      "\0          \0", "Sunday\0    \0",  "Monday\0    \0", "Tuesday\0   \0",
      "Wednesday\0 \0", "Thursday\0  \0", "Friday\0    \0", "Saturday\0  \0",
  };
  // 1 January 2000 is a Saturday; the six days after it walk the week.
  const char *dates[] = {"20001301", "20000102", "20000103", "20000104",
                         "20000105", "20000106", "20000107", "20000101"};
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(0, std::memcmp(expected[i], date4cdow(dates[i]), 12));
  }
}

TEST(Names, MonthNameTableLayout) {
  const char *expected[] = {
      "\0        \0", "January\0 \0", "February\0\0", "March\0   \0", "April\0   \0",
      "May\0     \0", "June\0    \0", "July\0    \0", "August\0  \0", "September\0",
      "October\0 \0", "November\0\0", "December\0\0",
  };
  for (int month = 0; month <= 12; ++month) {
    SCOPED_TRACE(month);
    char date[32];
    std::snprintf(date, sizeof date, "2024%02d01", month);
    EXPECT_EQ(0, std::memcmp(expected[month], date4cmonth(date), 10));
  }
}

TEST(Names, MonthOutsideTheTableHasTheEmptyName) {
  EXPECT_STREQ("", date4cmonth("20241501"));
  EXPECT_STREQ("", date4cmonth("2024-101"));
  EXPECT_STREQ("", date4cmonth("2024  01"));
}

// Fixed local time: 5 March 2026, 14:07:09.
void fixedTime(platform::LocalTime *out) { *out = {2026, 3, 5, 14, 7, 9, 120}; }
void lastCenturyTime(platform::LocalTime *out) { *out = {1999, 12, 31, 23, 59, 58, 0}; }

class LocalTimeTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::methods().localTime = fixedTime; }
  void TearDown() override { platform::methods() = platform::defaultMethods(); }
};

struct PictureCase {
  const char *name;
  const char *value;
  const char *picture;
  const char *expected;
};

// Parses with the value in a heap block of its exact size, so that reading
// past its end would be seen by the address sanitizer.
std::string parse(const char *value, const char *picture) {
  const std::size_t len = std::strlen(value);
  std::unique_ptr<char[]> exact(new char[len + 1]);
  std::memcpy(exact.get(), value, len + 1);
  std::string pic(picture);
  char date[10] = "#########";
  date4init(date, exact.get(), &pic[0]);
  EXPECT_EQ('#', date[8]);
  return dateOf(date);
}

TEST_F(LocalTimeTest, ParsingByPicture) {
  const PictureCase cases[] = {
      {"two-digit year takes today's century", "03/15/24", "MM/DD/YY", "20240315"},
      {"month by name", "15-MAR-2024", "DD-MMM-CCYY", "20240315"},
      {"blanks become zeros", "2024 3 5", "CCYYMMDD", "20240305"},
      {"parsing does not validate", "20241301", "CCYYMMDD", "20241301"},
      {"lower-case picture", "03/15/24", "mm/dd/yy", "20240315"},
      {"month name in any case", "15 march 2024", "DD MMMMM CCYY", "20240315"},
      {"unknown month name leaves zeros", "15-XYZ-2024", "DD-MMM-CCYY", "20240015"},
      {"month defaults to January", "1524", "DDYY", "20240115"},
      {"year defaults to 01", "03/15", "MM/DD", "20010315"},
      {"day defaults to 01", "0324", "MMYY", "20240301"},
      {"value shorter than the picture", "03/15", "MM/DD/YY", "20000315"},
      {"third letter is counted, copies nothing", "2024031599", "CCYYMMDDD", "20240315"},
      {"empty value is the blank date", "", "MM/DD/YY", "        "},
      {"blank value is the blank date", "        ", "CCYYMMDD", "        "},
      {"month name cut short", "15-MA", "DD-MMM", "20010315"},
      {"month name of blanks", "15-   ", "DD-MMM", "20010015"},
  };
  for (const PictureCase &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, parse(c.value, c.picture));
  }
}

TEST_F(LocalTimeTest, ParsingUpperCasesThePictureInPlace) {
  char picture[] = "dd-mmm-ccyy";
  char date[8];
  date4init(date, "15-mar-2024", picture);
  EXPECT_STREQ("DD-MMM-CCYY", picture);
  EXPECT_EQ("20240315", dateOf(date));
  EXPECT_EQ(2460385, date4long(date));
}

TEST_F(LocalTimeTest, CenturyComesFromTheLocalYear) {
  platform::methods().localTime = lastCenturyTime;
  EXPECT_EQ("19991231", parse("12/31/99", "MM/DD/YY"));
}

// Formats into a buffer one byte longer than the picture needs, and checks
// that the byte after the terminator is untouched.
std::string format(const char *date, const char *picture) {
  std::string pic(picture);
  std::vector<char> result(pic.size() + 2, '#');
  date4format(date, result.data(), &pic[0]);
  EXPECT_EQ('\0', result[pic.size()]);
  EXPECT_EQ('#', result[pic.size() + 1]);
  return std::string(result.data());
}

TEST(Formatting, LaysOutTheDateByPicture) {
  const PictureCase cases[] = {
      {"american", "20240315", "MM/DD/YY", "03/15/24"},
      {"european", "20240315", "DD.MM.CCYY", "15.03.2024"},
      {"month name in a long run", "20240315", "MMMMMMMMMM DD, CCYY", "March      15, 2024"},
      {"a letter takes at most two characters", "20240315", "YYYY", "24YY"},
      {"blank date", "        ", "MMM DD, CCYY", "      ,     "},
      {"nine-letter name in a longer run", "20240915", "MMMMMMMMMMMM", "September   "},
      {"name cut to the run", "20240515", "MMM", "May"},
      {"name padded to the run", "20240515", "MMMM", "May "},
      {"month above 12 shows December", "20241315", "MMM", "Dec"},
      {"month 0 shows January", "20240015", "MMM", "Jan"},
      {"lower-case picture", "20240315", "dd/mm/ccyy", "15/03/2024"},
      {"only the first run receives the letter", "20240315", "DD DD", "15 DD"},
      {"other characters stay", "20240315", "CCYY-MM-DD (x)", "2024-03-15 (X)"},
  };
  for (const PictureCase &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, format(c.value, c.picture));
  }
}

TEST_F(LocalTimeTest, TodayAndNowReadTheLocalTime) {
  char date[10] = "#########";
  date4today(date);
  EXPECT_EQ("20260305", dateOf(date));
  EXPECT_EQ('#', date[8]);
  char time[10] = "#########";
  date4timeNow(time);
  EXPECT_EQ("14:07:09", std::string(time, 8));
  EXPECT_EQ('#', time[8]);
}

TEST(IndexKeys, DateKeysAreDayNumbers) {
  EXPECT_DOUBLE_EQ(2451545.0, date4formatMdx("20000101"));
  EXPECT_DOUBLE_EQ(1.0E100, date4formatMdx("        "));
  EXPECT_DOUBLE_EQ(-1.0, date4formatMdx("20001301"));
  double key = 0;
  EXPECT_EQ(0, date4formatMdx2("20000102", &key));
  EXPECT_DOUBLE_EQ(2451546.0, key);
}


class DatePictureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, code4initLow(&c4_, 0, TK_HEADER_VERSION, sizeof(CODE4), 1));
  }
  void TearDown() override {
    code4initUndo(&c4_);
    platform::methods() = platform::defaultMethods();
  }
  test_support::MessageCapture capture_;
  CODE4 c4_;
};

TEST_F(DatePictureTest, DefaultAndChange) {
  EXPECT_STREQ("MM/DD/YY", code4dateFormat(&c4_));
  EXPECT_EQ(0, code4dateFormatSet(&c4_, "CCYY-MM-DD"));
  EXPECT_STREQ("CCYY-MM-DD", code4dateFormat(&c4_));
  const std::string longest(19, 'D');
  EXPECT_EQ(0, code4dateFormatSet(&c4_, longest.c_str()));
  EXPECT_EQ(longest, code4dateFormat(&c4_));
  EXPECT_TRUE(test_support::MessageCapture::shown().empty());
}

TEST_F(DatePictureTest, TwentyCharactersAreRefused) {
  const std::string tooLong(20, 'D');
  EXPECT_EQ(err::kParm, code4dateFormatSet(&c4_, tooLong.c_str()));
  EXPECT_STREQ("MM/DD/YY", code4dateFormat(&c4_));
  EXPECT_EQ(err::kParm, c4_.errorCode);
  EXPECT_EQ(loc::code4dateFormatSet, c4_.errorCode2);
  EXPECT_EQ(1u, test_support::MessageCapture::shown().size());
}

TEST_F(DatePictureTest, MissingArgumentsAndErrorState) {
  EXPECT_EQ(err::kParmNull, code4dateFormatSet(&c4_, nullptr));
  EXPECT_EQ(err::kParmNull, c4_.errorCode);
  // The context is in error now: nothing changes.
  EXPECT_EQ(-1, code4dateFormatSet(&c4_, "DD.MM.YY"));
  EXPECT_STREQ("MM/DD/YY", code4dateFormat(&c4_));
  EXPECT_EQ(nullptr, code4dateFormat(nullptr));
  EXPECT_EQ(err::kParmNull, code4dateFormatSet(nullptr, "DD"));
}

}  // namespace
}  // namespace tablekit
