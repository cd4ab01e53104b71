// Dates: the CCYYMMDD text of date fields, day numbers on the astronomical
// Julian day scale (1 January 2000 is 2451545; 0 means no date, -1 an
// invalid one), text laid out by pictures such as "MM/DD/YY", weekday and
// month names, today's date and the context's date picture. Used by the
// field operations, the translator, the expression functions and the index
// keys. The Gregorian calendar is extended backwards to year 0.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "data/data_layer.h"
#include "foundation/foundation.h"
#include "platform/platform.h"

namespace tablekit {
namespace {

constexpr int kDateLen = 8;
constexpr long kDayNumberOffset = 1721425;  // 1 January of year 1 is day 1721426
// The last day a 4-digit year can hold: 31 December 9999.
constexpr long kLastDayNumber = 5373484;

// Days before each month of a common year, then the length of the year.
constexpr int kMonthTotals[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

// Weekday names, 12 bytes each: the name, a NUL, blanks up to the 11th byte,
// a NUL in the 12th. Entry 0 is the empty name of an invalid date.
constexpr char kDayNames[8][12] = {
    "\0          ", "Sunday\0    ", "Monday\0    ",    "Tuesday\0   ",
    "Wednesday\0 ", "Thursday\0  ", "Friday\0    ", "Saturday\0  ",
};

// Month names, 10 bytes each: the name, a NUL when it is shorter than 10,
// blanks, and a final NUL where room is left. Entry 0 is the empty name.
constexpr char kMonthNames[13][10] = {
    {'\0', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', '\0'},
    {'J', 'a', 'n', 'u', 'a', 'r', 'y', '\0', ' ', '\0'},
    {'F', 'e', 'b', 'r', 'u', 'a', 'r', 'y', '\0', '\0'},
    {'M', 'a', 'r', 'c', 'h', '\0', ' ', ' ', ' ', '\0'},
    {'A', 'p', 'r', 'i', 'l', '\0', ' ', ' ', ' ', '\0'},
    {'M', 'a', 'y', '\0', ' ', ' ', ' ', ' ', ' ', '\0'},
    {'J', 'u', 'n', 'e', '\0', ' ', ' ', ' ', ' ', '\0'},
    {'J', 'u', 'l', 'y', '\0', ' ', ' ', ' ', ' ', '\0'},
    {'A', 'u', 'g', 'u', 's', 't', '\0', ' ', ' ', '\0'},
    {'S', 'e', 'p', 't', 'e', 'm', 'b', 'e', 'r', '\0'},
    {'O', 'c', 't', 'o', 'b', 'e', 'r', '\0', ' ', '\0'},
    {'N', 'o', 'v', 'e', 'm', 'b', 'e', 'r', '\0', '\0'},
    {'D', 'e', 'c', 'e', 'm', 'b', 'e', 'r', '\0', '\0'},
};

// The longest month name; pictures show at most this many of its bytes.
constexpr int kMonthNameShown = 9;

bool isLeapYear(long year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int yearLength(long year) { return isLeapYear(year) ? 366 : 365; }

// Days of the month in the given year, for month 1..12.
int monthLength(long year, int month) {
  const int days = kMonthTotals[month] - kMonthTotals[month - 1];
  return (month == 2 && isLeapYear(year)) ? days + 1 : days;
}

// Writes year (4 digits), month and day (2 each), zero-padded.
void writeDate(char *date, long year, int month, int day) {
  c4ltoa45(year, date, -4);
  c4ltoa45(month, date + 4, -2);
  c4ltoa45(day, date + 6, -2);
}

// The letters a picture lays out and the date positions they stand for.
struct PictureLetter {
  char letter;
  int first;  // the letter's first position in CCYYMMDD
};
constexpr PictureLetter kPictureLetters[] = {{'C', 0}, {'Y', 2}, {'M', 4}, {'D', 6}};

// Step 5 of parsing: the month given by (up to) three letters of its name.
// Returns 1..12, or 0 when no name starts with them.
int monthFromName(const char *value, std::size_t valueLen, std::size_t start) {
  char name[4] = {0, 0, 0, 0};
  std::size_t len = 0;
  while (len < 3 && start + len < valueLen) {
    name[len] = value[start + len];
    ++len;
  }
  while (len > 0 && name[len - 1] == ' ') name[--len] = '\0';
  // An empty name names no month.
  if (len == 0) return 0;
  c4lower(name);
  name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
  for (int month = 1; month <= 12; ++month) {
    if (std::strncmp(name, kMonthNames[month], len) == 0) return month;
  }
  return 0;
}

// c4atoi of n bytes that are digits and blanks only: leading blanks are
// skipped and the digits up to the next blank read.
int blankDigitsValue(const char *bytes, int n) {
  int i = 0;
  while (i < n && bytes[i] == ' ') ++i;
  int value = 0;
  for (; i < n && bytes[i] != ' '; ++i) value = value * 10 + (bytes[i] - '0');
  return value;
}

}  // namespace

namespace data {

long fieldDayNumber(const char *bytes, unsigned len) {
  char date[kDateLen];
  std::memset(date, ' ', sizeof date);
  std::memcpy(date, bytes, std::min<unsigned>(len, kDateLen));
  return date4long(date);
}

void fieldAssignDayNumber(char *bytes, unsigned len, long dayNumber) {
  char date[kDateLen];
  date4assignLow(date, dayNumber, 0);
  const unsigned copied = std::min<unsigned>(len, kDateLen);
  std::memcpy(bytes, date, copied);
  if (len > copied) std::memset(bytes + copied, ' ', len - copied);
}

}  // namespace data
}  // namespace tablekit

using namespace tablekit;

extern "C" {

TK_EXPORT long c4ytoj(int year) {
  const long y = static_cast<long>(year) - 1;
  return y * 365 + y / 4 + y / 400 - y / 100;
}

TK_EXPORT long date4yymmddToJulianLong(int year, int month, int day) {
  if (year < 0 || month < 1 || month > 12 || day < 1 || day > monthLength(year, month)) return -1;
  int dayOfYear = kMonthTotals[month - 1] + day;
  if (month > 2 && isLeapYear(year)) ++dayOfYear;
  return dayOfYear + c4ytoj(year) + kDayNumberOffset;
}

TK_EXPORT long date4long(const char *date) {
  if (date == nullptr) return -1;
  bool allBlank = true;
  for (int i = 0; i < kDateLen; ++i) {
    if (date[i] != ' ' && (date[i] < '0' || date[i] > '9')) return -1;
    if (date[i] != ' ') allBlank = false;
  }
  const int year = blankDigitsValue(date, 4);
  if (year == 0 && allBlank) return 0;
  return date4yymmddToJulianLong(year, blankDigitsValue(date + 4, 2), blankDigitsValue(date + 6, 2));
}

TK_EXPORT int c4monDy(int year, int dayOfYear, int *month, int *day) {
  int foundMonth = 0;
  int foundDay = 0;
  if (dayOfYear >= 1 && dayOfYear <= yearLength(year)) {
    const int leapDay = isLeapYear(year) ? 1 : 0;
    for (int m = 1; m <= 12; ++m) {
      // Days up to the end of month m; February and later gain the leap day.
      const int total = kMonthTotals[m] + (m >= 2 ? leapDay : 0);
      if (dayOfYear <= total) {
        foundMonth = m;
        foundDay = dayOfYear - kMonthTotals[m - 1] - (m > 2 ? leapDay : 0);
        break;
      }
    }
  }
  if (month != nullptr) *month = foundMonth;
  if (day != nullptr) *day = foundDay;
  return foundMonth == 0 ? -1 : 0;
}

// Day numbers past 31 December 9999 have no 4-digit year: they are written
// as 8 asterisks.
TK_EXPORT void date4assignLow(char *date, long dayNumber, int zeroFill) {
  if (date == nullptr) return;
  if (dayNumber <= 0) {
    std::memset(date, zeroFill ? '0' : ' ', kDateLen);
    return;
  }
  if (dayNumber > kLastDayNumber) {
    std::memset(date, '*', kDateLen);
    return;
  }
  const long d = dayNumber - kDayNumberOffset;
  constexpr long double kYearsPerDay = 1.0L / 365.2425L;
  const long a = static_cast<long>(static_cast<long double>(d) * kYearsPerDay);
  long year = a + 1;
  long b = d - c4ytoj(static_cast<int>(year));
  if (b <= 0) {
    year = a;
    b = d - c4ytoj(static_cast<int>(year));
  }
  if (b > yearLength(year)) {
    b -= yearLength(year);
    ++year;
  }
  int month = 0;
  int day = 0;
  (void)c4monDy(static_cast<int>(year), static_cast<int>(b), &month, &day);
  writeDate(date, year, month, day);
}

TK_EXPORT int date4isLeap(const char *date) {
  if (date == nullptr) return 0;
  return isLeapYear(c4atoi(date, 4)) ? 1 : 0;
}

TK_EXPORT int date4dow(const char *date) {
  const long n = date4long(date);
  if (n < 0) return 0;
  return static_cast<int>((n + 1) % 7) + 1;
}

TK_EXPORT const char *date4cdow(const char *date) { return kDayNames[date4dow(date)]; }

TK_EXPORT const char *date4cmonth(const char *date) {
  if (date == nullptr) return kMonthNames[0];
  const int month = c4atoi(date + 4, 2);
  return (month >= 0 && month <= 12) ? kMonthNames[month] : kMonthNames[0];
}

// The value is read at every position of the picture; where it is shorter,
// its missing characters count as blanks. A result with no character given
// is the blank date, whatever the buffer holds after its 8 characters.
TK_EXPORT void date4init(char *date, const char *value, char *picture) {
  if (date == nullptr) return;
  // 1. A blank date; the picture upper-cased in place.
  std::memset(date, ' ', kDateLen);
  if (picture == nullptr) return;
  c4upper(picture);
  const std::size_t valueLen = value == nullptr ? 0 : std::strlen(value);

  // 2. Each picture letter copies the value's character at its position into
  // the next of its two date positions.
  int used[4] = {0, 0, 0, 0};
  for (std::size_t i = 0; picture[i] != '\0'; ++i) {
    for (int k = 0; k < 4; ++k) {
      if (picture[i] != kPictureLetters[k].letter) continue;
      if (used[k] < 2) date[kPictureLetters[k].first + used[k]] = i < valueLen ? value[i] : ' ';
      ++used[k];
    }
  }

  // 3. Nothing given: the blank date.
  if (std::memcmp(date, "        ", kDateLen) == 0) return;

  // 4. Defaults for the parts the picture leaves out.
  if (used[0] == 0) c4ltoa45(platform::localTime().year / 100, date, -2);
  if (used[1] == 0) std::memcpy(date + 2, "01", 2);
  if (used[2] == 0) std::memcpy(date + 4, "01", 2);
  if (used[3] == 0) std::memcpy(date + 6, "01", 2);

  // 5. A month given by its name.
  if (used[2] >= 3) {
    std::memset(date + 4, ' ', 2);
    const std::size_t start = static_cast<std::size_t>(std::strchr(picture, 'M') - picture);
    const int month = monthFromName(value, valueLen, start);
    if (month != 0) c4ltoa45(month, date + 4, -2);
  }

  // 6. Blanks left become zeros.
  for (int i = 0; i < kDateLen; ++i) {
    if (date[i] == ' ') date[i] = '0';
  }
}

TK_EXPORT void date4format(const char *date, char *result, char *picture) {
  if (result == nullptr) return;
  if (picture == nullptr) {
    result[0] = '\0';
    return;
  }
  // 1-2. The picture upper-cased; each letter's first run receives its date
  // characters.
  c4upper(picture);
  const std::size_t len = std::strlen(picture);
  std::memcpy(result, picture, len + 1);
  if (date == nullptr) return;
  for (const PictureLetter &part : kPictureLetters) {
    const char *at = std::strchr(picture, part.letter);
    if (at == nullptr) continue;
    const std::size_t start = static_cast<std::size_t>(at - picture);
    for (int k = 0; k < 2 && picture[start + k] == part.letter; ++k) result[start + k] = date[part.first + k];
  }

  // 3. A run of three or more M shows the month's name.
  const char *run = std::strchr(picture, 'M');
  if (run == nullptr) return;
  const std::size_t start = static_cast<std::size_t>(run - picture);
  std::size_t runLen = 0;
  while (picture[start + runLen] == 'M') ++runLen;
  if (runLen < 3) return;
  char *out = result + start;
  std::memset(out, ' ', runLen);
  if (date[4] == ' ' && date[5] == ' ') return;
  const int month = std::clamp(c4atoi(date + 4, 2), 1, 12);
  const std::size_t shown = std::min<std::size_t>(runLen, kMonthNameShown);
  for (std::size_t i = 0; i < shown; ++i) out[i] = kMonthNames[month][i] == '\0' ? ' ' : kMonthNames[month][i];
  // Messages and texts share one character set here: no conversion.
}

TK_EXPORT void date4today(char *date) {
  if (date == nullptr) return;
  const platform::LocalTime now = platform::localTime();
  writeDate(date, now.year, now.month, now.day);
}

TK_EXPORT void date4timeNow(char *time) {
  if (time == nullptr) return;
  const platform::LocalTime now = platform::localTime();
  c4ltoa45(now.hour, time, -2);
  time[2] = ':';
  c4ltoa45(now.minute, time + 3, -2);
  time[5] = ':';
  c4ltoa45(now.second, time + 6, -2);
}

TK_EXPORT double date4formatMdx(const char *date) {
  const long n = date4long(date);
  if (n == 0) return 1.0E100;
  if (n < 0) return -1.0;
  return static_cast<double>(n);
}

TK_EXPORT int date4formatMdx2(const char *date, double *out) {
  if (out != nullptr) *out = date4formatMdx(date);
  return 0;
}

TK_EXPORT const char *code4dateFormat(CODE4 *c4) {
  if (c4 == nullptr) {
    report(nullptr, err::kParmNull, loc::code4dateFormat);
    return nullptr;
  }
  return c4->dateFormat;
}

TK_EXPORT int code4dateFormatSet(CODE4 *c4, const char *picture) {
  if (c4 == nullptr || picture == nullptr) return report(c4, err::kParmNull, loc::code4dateFormatSet);
  if (int rc = inError(c4)) return rc;
  const std::size_t len = std::strlen(picture);
  if (len >= sizeof c4->dateFormat) return report(c4, err::kParm, loc::code4dateFormatSet);
  std::memcpy(c4->dateFormat, picture, len + 1);
  return 0;
}

}  // extern "C"
