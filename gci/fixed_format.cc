#include "gci/fixed_format.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <utility>

namespace {

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr std::uint64_t kPowersOfTen[] = {1,
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
constexpr int kMaxPrecision = 17;
constexpr std::uint64_t kMaxScaled = kPowersOfTen[18];  // the scaled value stays below this

// Writes the last `count` decimal digits of `value` so that they end at
// `end`, with leading zeros; returns where they begin.
char* digitsBackwards(char* end, std::uint64_t value, int count) {
  for (; count >= 2; count -= 2) {
    end -= 2;
    std::memcpy(end, kDigitPairs + 2 * (value % 100), 2);
    value /= 100;
  }
  if (count == 1) *--end = static_cast<char>('0' + value % 10);
  return end;
}

// Writes all decimal digits of `value` (one "0" for 0) so that they end at
// `end`; returns where they begin.
char* integerBackwards(char* end, std::uint64_t value) {
  while (value >= 100) {
    end -= 2;
    std::memcpy(end, kDigitPairs + 2 * (value % 100), 2);
    value /= 100;
  }
  if (value >= 10) {
    end -= 2;
    std::memcpy(end, kDigitPairs + 2 * value, 2);
  } else {
    *--end = static_cast<char>('0' + value);
  }
  return end;
}

char* padded(char* out, const char* text, std::size_t length, int width) {
  if (width > 0 && length < static_cast<std::size_t>(width)) {
    const std::size_t blanks = static_cast<std::size_t>(width) - length;
    std::memset(out, ' ', blanks);
    out += blanks;
  }
  std::memcpy(out, text, length);
  return out + length;
}

char* viaToChars(char* out, double value, int width, int precision) {
  char text[fixedMaxLength(kMaxPrecision) + 64];
  const std::to_chars_result result =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, precision);
  const std::size_t length = result.ec == std::errc() ? static_cast<std::size_t>(result.ptr - text) : 0;
  return padded(out, text, length, width);
}

#if defined(__SIZEOF_INT128__)
// |value| * 10^precision rounded to the nearest integer, a tie to the even
// one, computed from the exact binary value; false when the value is not
// finite, not below 2^52, or the result would reach kMaxScaled.
bool scaledExactly(std::uint64_t bits, int precision, std::uint64_t* scaled) {
  __extension__ typedef unsigned __int128 Wide;  // a GCC and Clang extension
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  // |value| = significand * 2^-shift exactly.
  const std::uint64_t significand = biased == 0 ? fraction : fraction | (std::uint64_t{1} << 52);
  const int shift = biased == 0 ? 1074 : 1075 - biased;
  if (shift <= 0) return false;  // 2^52 or more, infinite or NaN: no decimals to round
  const Wide product = static_cast<Wide>(significand) * kPowersOfTen[precision];  // below 2^110
  if (shift > 110) {
    *scaled = 0;  // below half of one unit of the last decimal: not even a tie
    return true;
  }
  Wide quotient = product >> shift;
  const Wide remainder = product - (quotient << shift);
  const Wide half = static_cast<Wide>(1) << (shift - 1);
  if (remainder > half || (remainder == half && (quotient & 1) != 0)) ++quotient;
  if (quotient >= kMaxScaled) return false;
  *scaled = static_cast<std::uint64_t>(quotient);
  return true;
}
#else
bool scaledExactly(std::uint64_t, int, std::uint64_t*) { return false; }
#endif

// Writes the decimal form of `scaled` / 10^Precision, with its sign, at
// `out`, right-aligned in `width`; returns the end. A field of up to 32
// characters is made in a buffer of blanks and copied as one block of a
// size known here, so that neither needs a call.
template <int Precision>
char* writeScaled(char* out, std::uint64_t scaled, bool negative, int width) {
  constexpr std::uint64_t kUnit = kPowersOfTen[Precision];
  constexpr int kBlock = 32;
  char text[2 * kBlock];
  std::memset(text, ' ', sizeof text);
  char* const end = text + kBlock;
  char* begin = end;
  if (Precision > 0) {
    begin = digitsBackwards(begin, scaled % kUnit, Precision);
    *--begin = '.';
  }
  begin = integerBackwards(begin, scaled / kUnit);
  if (negative) *--begin = '-';
  const int length = static_cast<int>(end - begin);
  const int field = width > length ? width : length;
  if (field > kBlock) return padded(out, begin, static_cast<std::size_t>(length), width);
  // out has room for fixedMaxLength(Precision) >= kBlock characters; the ones
  // after the field are written over by what comes next.
  std::memcpy(out, end - field, kBlock);
  return out + field;
}

using ScaledWriter = char* (*)(char*, std::uint64_t, bool, int);

template <std::size_t... Precisions>
constexpr std::array<ScaledWriter, sizeof...(Precisions)> scaledWriters(std::index_sequence<Precisions...>) {
  return {&writeScaled<static_cast<int>(Precisions)>...};
}

// writeScaled for every precision the integer arithmetic serves.
constexpr std::array<ScaledWriter, kMaxPrecision + 1> kScaledWriters =
    scaledWriters(std::make_index_sequence<kMaxPrecision + 1>());

}  // namespace

char* formatFixed(char* out, double value, int width, int precision) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  std::uint64_t scaled = 0;
  if (precision < 0 || precision > kMaxPrecision || !scaledExactly(bits, precision, &scaled)) {
    return viaToChars(out, value, width, precision);
  }
  return kScaledWriters[static_cast<std::size_t>(precision)](out, scaled, (bits >> 63) != 0, width);
}
