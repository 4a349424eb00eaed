#pragma once

// Fixed-point numbers as printf's "%*.*f" writes them in the "C" locale,
// without a locale and faster than the C library.

#include <cstddef>
#include <limits>

// The most characters formatFixed writes for a value with `precision`
// decimals at a width of at most that many: a sign, the 309 integer digits of
// the largest double, the point and the decimals.
constexpr std::size_t fixedMaxLength(int precision) {
  return 1 + std::numeric_limits<double>::max_exponent10 + 1 + 1 + static_cast<std::size_t>(precision);
}

// Writes `value` at `out`, right-aligned with blanks in at least `width`
// characters with exactly `precision` (0 to 17) decimals, byte for byte as
// snprintf(out, n, "%*.*f", width, precision, value) in the "C" locale, and
// returns the end of the field; `out` must have room for
// max(width, fixedMaxLength(precision)) characters, and those after the
// field may be written over. The decimals are the
// exact binary value rounded to the nearest, a tie to the even last digit;
// a negative value keeps its sign when it rounds to zero (-0.000), and so
// does -0.0; infinities and NaNs read "inf", "-inf", "nan" and "-nan". Wide
// values are never cut: 1e300 keeps all its digits.
//
// Values whose decimal form is short enough (|value| below 2^52 and
// |value| * 10^precision below 10^18) are worked out in integer arithmetic;
// the others by std::to_chars, which rounds the same way.
char* formatFixed(char* out, double value, int width, int precision);
