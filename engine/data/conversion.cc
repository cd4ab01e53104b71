// Conversions between the text a record holds and numbers: fixed-width,
// right-aligned formatting of doubles and integers (asterisks when a value
// does not fit), the number parser every numeric read goes through, and the
// small text helpers of the field layer. Used by the field operations, dates,
// the expression functions and the index keys.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "data/data_layer.h"
#include "foundation/foundation.h"

namespace tablekit {
namespace {

// The runtime's atol over [text, end): leading white space, an optional
// sign, decimal digits; the first other character ends the number, no digits
// give 0. The result is held to the 32-bit range, as a value of this engine's
// numeric fields and record numbers is, and clamped there like atol clamps.
long parseLong(const char *text, const char *end) {
  const char *p = text;
  while (p < end && std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  long long magnitude = 0;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > static_cast<long long>(INT32_MAX) + 1) magnitude = static_cast<long long>(INT32_MAX) + 1;
  }
  const long long value = negative ? -magnitude : magnitude;
  return static_cast<long>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

// Copies at most limit bytes of bytes[0 .. n) into buffer (limit + 1 bytes)
// and terminates it; an embedded NUL ends the text as it would in C.
const char *boundedCopy(char *buffer, const char *bytes, int n, int limit) {
  const int len = bytes == nullptr ? 0 : std::clamp(n, 0, limit);
  if (len > 0) std::memcpy(buffer, bytes, static_cast<std::size_t>(len));
  buffer[len] = '\0';
  return buffer;
}

// One part of a number (the integer or the decimal digits) as the parser
// converts it: atol when it is shorter than 10 characters; otherwise the
// leading characters, digit by digit in floating point, times 1e9 plus atol
// of the last 9.
long double partValue(const char *text, std::size_t len) {
  if (len < 10) return static_cast<long double>(parseLong(text, text + len));
  const std::size_t headLen = len - 9;
  long double head = 0;
  for (std::size_t i = 0; i < headLen && text[i] >= '0' && text[i] <= '9'; ++i) head = head * 10 + (text[i] - '0');
  return head * 1e9L + static_cast<long double>(parseLong(text + headLen, text + len));
}

long double powerOfTen(std::size_t k) {
  long double result = 1;
  while (k-- > 0) result *= 10;
  return result;
}

// ---------------------------------------------------------------------------
// Exact decimal rounding of a double (the fcvt part of c4dtoa45).

// Decimal digits of an unsigned 128-bit integer, written to the right end of
// [begin, end); returns where they start (end itself for 0). Once the value
// fits in 64 bits the rest is divided in 64-bit arithmetic, which is far
// cheaper than 128-bit division.
char *decimalDigits(unsigned __int128 value, char *begin, char *end) {
  char *p = end;
  while (value > std::numeric_limits<std::uint64_t>::max() && p > begin) {
    *--p = static_cast<char>('0' + static_cast<int>(value % 10));
    value /= 10;
  }
  for (auto small = static_cast<std::uint64_t>(value); small != 0 && p > begin; small /= 10)
    *--p = static_cast<char>('0' + static_cast<int>(small % 10));
  return p;
}

// Decimal digits of mantissa * 2^exponent (exponent >= 0), exactly: the
// integer is held in base-1e9 limbs, least significant first.
std::string decimalDigitsShifted(std::uint64_t mantissa, int exponent) {
  constexpr std::uint64_t kBase = 1000000000;
  std::vector<std::uint64_t> limbs;
  for (std::uint64_t m = mantissa; m != 0; m /= kBase) limbs.push_back(m % kBase);
  while (exponent > 0) {
    const int step = std::min(exponent, 29);  // limb * 2^29 + carry stays far below 2^64
    exponent -= step;
    std::uint64_t carry = 0;
    for (std::uint64_t &limb : limbs) {
      const std::uint64_t product = (limb << step) + carry;
      limb = product % kBase;
      carry = product / kBase;
    }
    while (carry != 0) {
      limbs.push_back(carry % kBase);
      carry /= kBase;
    }
  }
  if (limbs.empty()) return std::string();
  std::string digits = std::to_string(limbs.back());
  for (auto it = limbs.rbegin() + 1; it != limbs.rend(); ++it) {
    const std::string part = std::to_string(*it);
    digits.append(9 - part.size(), '0');
    digits += part;
  }
  return digits;
}

// What fcvt gives for a finite, non-negative value and 0..15 decimals: the
// digits of the value rounded to that many decimals (no leading zeros, none
// at all when it rounds to 0) and the position of the decimal point within
// them (<= 0: that many zeros stand between the point and the digits).
//
// The rounding is decimal rounding of the exact binary value, so 2.675
// (stored as 2.67499999...) gives 2.67; a value exactly half way (0.125 to
// two decimals) rounds away from zero, to 0.13.
struct FixedDigits {
  // A double below 2^1024 has at most 309 integer digits, and 15 decimals follow.
  char digits[309 + 15 + 1];
  int len = 0;
  int point = 0;
};

void fixedDigits(double value, int decimals, FixedDigits &out) {
  int binaryExponent = 0;
  const double fraction = std::frexp(value, &binaryExponent);
  // value = mantissa * 2^exponent exactly, mantissa below 2^53.
  const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
  const int exponent = binaryExponent - 53;

  out.len = 0;
  if (mantissa == 0) {
    // Zero rounds to no digits at all.
  } else if (exponent >= 0) {
    // An integer: its digits, then the decimals as zeros.
    const std::string digits = decimalDigitsShifted(mantissa, exponent);
    out.len = static_cast<int>(std::min(digits.size(), sizeof out.digits - 16));
    std::memcpy(out.digits, digits.data(), static_cast<std::size_t>(out.len));
    std::memset(out.digits + out.len, '0', static_cast<std::size_t>(decimals));
    out.len += decimals;
  } else {
    // value * 10^decimals = mantissa * 10^decimals / 2^shift; the product is
    // below 2^53 * 10^15 < 2^103.
    unsigned __int128 scaled = mantissa;
    for (int i = 0; i < decimals; ++i) scaled *= 10;
    const int shift = -exponent;
    unsigned __int128 rounded = shift >= 128 ? 0 : scaled >> shift;
    // The remainder is at least half of 2^shift exactly when bit shift-1 is set.
    if (shift <= 128 && ((scaled >> (shift - 1)) & 1) != 0) ++rounded;
    char *const end = out.digits + sizeof out.digits;
    char *const first = decimalDigits(rounded, out.digits, end);
    out.len = static_cast<int>(end - first);
    std::memmove(out.digits, first, static_cast<std::size_t>(out.len));
  }
  out.point = out.len - decimals;
}

}  // namespace
}  // namespace tablekit

using namespace tablekit;

extern "C" {

TK_EXPORT double c4atof(const char *text) {
  if (text == nullptr) return 0.0;
  const char *p = text;
  while (*p == ' ') ++p;
  int sign = 1;
  if (*p == '-') {
    sign = -1;
    ++p;
  }
  char rest[40];
  boundedCopy(rest, p, static_cast<int>(std::strlen(p)), 39);
  const std::size_t restLen = std::strlen(rest);
  const char *point = std::strchr(rest, '.');

  // The integer part: everything before the point; without a point, the
  // leading run of digits and minus signs.
  std::size_t intLen = 0;
  if (point != nullptr) {
    intLen = static_cast<std::size_t>(point - rest);
  } else {
    while (intLen < restLen && ((rest[intLen] >= '0' && rest[intLen] <= '9') || rest[intLen] == '-')) ++intLen;
  }
  const long double intValue = partValue(rest, intLen);

  // The decimal digits: the run of digits right after the point.
  long double fracValue = 0;
  if (point != nullptr) {
    const char *digits = point + 1;
    std::size_t k = 0;
    while (digits[k] >= '0' && digits[k] <= '9') ++k;
    fracValue = partValue(digits, k) / powerOfTen(k);
    if (intValue < 0) fracValue = -fracValue;
  }
  return static_cast<double>((intValue + fracValue) * sign);
}

TK_EXPORT double c4atod(const char *bytes, int n) {
  char buffer[50];
  return c4atof(boundedCopy(buffer, bytes, n, 49));
}

TK_EXPORT long c4atol(const char *bytes, int n) {
  char buffer[128];
  const char *text = boundedCopy(buffer, bytes, n, 127);
  return parseLong(text, text + std::strlen(text));
}

TK_EXPORT int c4atoi(const char *bytes, int n) { return static_cast<int>(c4atol(bytes, n)); }

TK_EXPORT int c4dtoa45(double value, char *out, int width, int decimals) {
  const int rc = data::formatFixedSmall(value, out, width, decimals);
  return rc != data::kNotSmall ? rc : data::formatFixed(value, out, width, decimals);
}

}  // extern "C"

namespace tablekit::data {

// The numbered steps follow the layout rules of numeric fields: W bytes,
// n integer positions, a point at position n when there are decimals, a
// minus sign directly before the first digit.
int formatFixed(double value, char *out, int width, int decimals) {
  // No byte to write: nothing fits.
  if (out == nullptr || width <= 0) return err::kOverflow;
  const auto fill = [&](char c) { std::memset(out, c, static_cast<std::size_t>(width)); };

  // 1-2. Zeros everywhere, the point, the number of integer positions.
  fill('0');
  int n = width;
  if (decimals > 0) {
    decimals = std::min({decimals, 15, width - 1});
    n = width - decimals - 1;
    out[n] = '.';
  } else {
    decimals = 0;
  }
  if (!std::isfinite(value)) {
    fill('*');
    return err::kOverflow;
  }

  // 3. The rounded digits, the point's position and the sign.
  const bool negative = value < 0;
  FixedDigits fixed;
  fixedDigits(std::fabs(value), decimals, fixed);
  const char *const digits = fixed.digits;
  const int len = fixed.len;
  const int p = fixed.point;

  // 4-5. Where the sign goes, and whether the value fits.
  int s = p > 0 ? n - p - 1 : (n == 1 ? 0 : n - 2);
  if (p > n || n < 0 || (negative && s < 0)) {
    fill('*');
    return err::kOverflow;
  }

  // 6. The integer positions.
  if (p > 0) {
    for (int i = 0; i < n - p; ++i) out[i] = ' ';
    for (int i = 0; i < p; ++i) out[n - p + i] = i < len ? digits[i] : '\0';
    if (out[n - 1] == '\0') out[n - 1] = '0';
  } else if (n > 0) {
    for (int i = 0; i < n - 1; ++i) out[i] = ' ';
  }

  // 7. The sign.
  if (negative) out[s] = '-';

  // 8. The decimals.
  if (decimals > 0) {
    int pos = n + 1;
    int from = 0;
    int count = decimals;
    if (p >= 0) {
      from = p;
    } else {
      pos += -p;
      count -= -p;
    }
    for (int i = 0; i < count && from + i < len; ++i) out[pos + i] = digits[from + i];
  }
  return 0;
}

// "00" to "99": two digits per division in the loops below.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

int formatFixedSmall(double value, char *out, int width, int decimals) {
  if (out == nullptr || width <= 0) return err::kOverflow;
  // The point stands at n whenever decimals were asked for, even when the
  // width leaves room for none of them.
  const bool point = decimals > 0;
  decimals = point ? std::min({decimals, 15, width - 1}) : 0;
  const int n = point ? width - decimals - 1 : width;
  const double magnitude = std::fabs(value);
  // Finite and below 1e14 (NaN fails the test too), at most four decimals:
  // the value times 10^decimals rounds to an integer below 10^18.
  if (!(magnitude < 1e14) || decimals > 4) return kNotSmall;

  static constexpr std::uint64_t kPowers[] = {1,
                                              10,
                                              100,
                                              1000,
                                              10000,
                                              100000,
                                              1000000,
                                              10000000,
                                              100000000,
                                              1000000000,
                                              10000000000,
                                              100000000000,
                                              1000000000000,
                                              10000000000000,
                                              100000000000000,
                                              1000000000000000,
                                              10000000000000000,
                                              100000000000000000,
                                              1000000000000000000};
  // Rounded to whole units of the last decimal, half way away from zero.
  std::uint64_t rounded;
  const auto whole = static_cast<std::uint64_t>(magnitude);
  if (static_cast<double>(whole) == magnitude) {
    rounded = whole * kPowers[decimals];
  } else {
    // magnitude = mantissa * 2^exponent exactly, from the bits of the double;
    // a fraction is there, so exponent < 0.
    std::uint64_t bits;
    std::memcpy(&bits, &magnitude, sizeof bits);
    const int biased = static_cast<int>(bits >> 52);
    std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
    int exponent = -1074;
    if (biased != 0) {
      mantissa |= std::uint64_t{1} << 52;
      exponent = biased - 1075;
    }
    const unsigned __int128 scaled = static_cast<unsigned __int128>(mantissa) * kPowers[decimals];
    const int shift = -exponent;
    if (shift >= 128) {
      rounded = 0;
    } else {
      rounded = static_cast<std::uint64_t>(scaled >> shift);
      if (((scaled >> (shift - 1)) & 1) != 0) ++rounded;
    }
  }

  // Right to left: the decimals (leading zeros kept) and the point.
  char *at = out + width;
  int left = decimals;
  for (; left >= 2; left -= 2) {
    at -= 2;
    std::memcpy(at, &kDigitPairs[2 * (rounded % 100)], 2);
    rounded /= 100;
  }
  if (left == 1) {
    *--at = static_cast<char>('0' + rounded % 10);
    rounded /= 10;
  }
  if (point) *--at = '.';

  // The integer part q fits when its digits fit the n integer positions,
  // and a minus sign in front of them; a zero integer part shows as '0' in
  // the last position, the sign before it or, with one position only, in
  // its place.
  const std::uint64_t q = rounded;
  const bool negative = value < 0;
  const bool fits =
      q == 0 ? !(negative && n == 0) : n >= 19 || (q < kPowers[n] && !(negative && q >= kPowers[n - 1]));
  if (!fits) {
    std::memset(out, '*', static_cast<std::size_t>(width));
    return err::kOverflow;
  }
  if (n > 0) {
    for (; rounded >= 100; rounded /= 100) {
      at -= 2;
      std::memcpy(at, &kDigitPairs[2 * (rounded % 100)], 2);
    }
    if (rounded >= 10) {
      at -= 2;
      std::memcpy(at, &kDigitPairs[2 * rounded], 2);
    } else {
      *--at = static_cast<char>('0' + rounded);
    }
  }
  if (negative) {
    if (at > out) --at;
    *at = '-';
  }
  std::memset(out, ' ', static_cast<std::size_t>(at - out));
  return 0;
}

}  // namespace tablekit::data

extern "C" {

TK_EXPORT void c4ltoa45(long value, char *out, int width) {
  if (out == nullptr) return;
  rightAlignLong(out, value, width);
}

TK_EXPORT void c4trimN(char *text, int n) {
  if (text == nullptr || n < 1) return;
  int len = 0;
  while (len < n - 1 && text[len] != '\0') ++len;
  text[len] = '\0';
  while (len > 0 && text[len - 1] == ' ') text[--len] = '\0';
}

TK_EXPORT void c4upper(char *text) {
  if (text == nullptr) return;
  for (; *text != '\0'; ++text) *text = static_cast<char>(std::toupper(static_cast<unsigned char>(*text)));
}

TK_EXPORT void c4lower(char *text) {
  if (text == nullptr) return;
  for (; *text != '\0'; ++text) *text = static_cast<char>(std::tolower(static_cast<unsigned char>(*text)));
}

}  // extern "C"
