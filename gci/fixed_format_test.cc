#include "gci/fixed_format.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

// The formats of the GCI file, and further widths and precisions.
struct Format {
  int width;
  int precision;
};
constexpr Format kGciFormats[] = {{20, 8}, {12, 8}, {12, 3}};

double fromBits(std::uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Compares formatFixed with snprintf on every value; stops at the first
// difference and names it.
class Differential {
 public:
  void check(double value, int width, int precision) {
    if (failed_) return;
    ++checked_;
    const int length = std::snprintf(expected_, sizeof expected_, "%*.*f", width, precision, value);
    char* const end = formatFixed(actual_, value, width, precision);
    if (length < 0 || end - actual_ != length || std::memcmp(actual_, expected_, static_cast<std::size_t>(length))) {
      failed_ = true;
      char bits[40];
      std::snprintf(bits, sizeof bits, "%a", value);
      ADD_FAILURE() << "%" << width << "." << precision << "f of " << bits << ": printf \"" << expected_
                    << "\", formatFixed \"" << std::string(actual_, static_cast<std::size_t>(end - actual_)) << "\"";
    }
  }
  void checkGci(double value) {
    for (const Format f : kGciFormats) check(value, f.width, f.precision);
  }
  long checked() const { return checked_; }

 private:
  char expected_[fixedMaxLength(17) + 64];
  char actual_[fixedMaxLength(17) + 64];
  bool failed_ = false;
  long checked_ = 0;
};

TEST(FixedFormatTest, EqualsPrintfOnExtremesAndEdges) {
  const double max = std::numeric_limits<double>::max();
  const double tiny = std::numeric_limits<double>::denorm_min();
  std::vector<double> values = {0.0,
                                -0.0,
                                tiny,
                                std::numeric_limits<double>::min(),
                                max,
                                1e300,
                                1e22,
                                1e18,
                                1e17,
                                1e10,
                                9999999999.999999,
                                4503599627370495.5,  // the last doubles below 2^52 with a fraction
                                4503599627370496.0,  // 2^52, the first integer-only ones
                                9007199254740993.0,
                                0.5,
                                1.5,
                                2.5,
                                0.0005,
                                0.0015,
                                0.00000001,
                                0.000000005,
                                0.000000015,
                                0.000000025,
                                9.999999995,
                                99.9995,
                                999999999.9999999,
                                std::numeric_limits<double>::infinity()};
  Differential differential;
  for (const double v : values) {
    for (const double signed_value : {v, -v}) {
      for (int precision = 0; precision <= 17; ++precision) {
        for (const int width : {0, 1, 12, 20, 40}) differential.check(signed_value, width, precision);
      }
      // Every value just beside it, too.
      differential.checkGci(std::nextafter(signed_value, 0.0));
      differential.checkGci(std::nextafter(signed_value, signed_value < 0 ? -max : max));
    }
  }
  // Where the scaled value reaches 10^18 and the integer arithmetic stops.
  for (int precision = 0; precision <= 17; ++precision) {
    const double limit = std::pow(10.0, 18 - precision);
    double below = limit;
    double above = limit;
    for (int i = 0; i < 200; ++i) {
      differential.check(below, 0, precision);
      differential.check(above, 0, precision);
      below = std::nextafter(below, 0.0);
      above = std::nextafter(above, max);
    }
  }
}

// A tie is a value exactly halfway between two numbers of `precision`
// decimals: an odd multiple of 2^-(precision + 1) (5^precision divides the
// numerator). Every tie below 2^20 / 2^(precision + 1) and random ties of every
// magnitude, with the doubles on either side of each, round as printf rounds
// them: to the even last digit, and away from the tie for the neighbours.
TEST(FixedFormatTest, RoundsEveryTieAsPrintfDoes) {
  Differential differential;
  std::mt19937_64 random(28);
  for (const Format f : kGciFormats) {
    const double step = std::ldexp(1.0, -(f.precision + 1));
    for (std::int64_t odd = 1; odd < (std::int64_t{1} << 20); odd += 2) {
      differential.check(static_cast<double>(odd) * step, f.width, f.precision);
    }
    for (int i = 0; i < 200000; ++i) {
      const int bits = 1 + static_cast<int>(random() % 53);
      const std::int64_t odd = static_cast<std::int64_t>((random() >> (64 - bits)) | 1);
      const double tie = (i & 1 ? -1.0 : 1.0) * static_cast<double>(odd) * step;
      differential.check(tie, f.width, f.precision);
      differential.check(std::nextafter(tie, 0.0), f.width, f.precision);
      differential.check(std::nextafter(tie, tie * 2), f.width, f.precision);
    }
  }
  EXPECT_GT(differential.checked(), 3000000);
}

// Random doubles: any bit pattern, and the coordinates of blocks (pixels,
// projected metres, heights) of every number of digits.
TEST(FixedFormatTest, EqualsPrintfOnRandomValues) {
  Differential differential;
  std::mt19937_64 random(2026);
  for (int i = 0; i < 100000; ++i) {
    const double any = fromBits(random());
    if (!std::isnan(any)) differential.checkGci(any);
  }
  std::uniform_real_distribution<double> exponent(-10, 16);
  for (int i = 0; i < 600000; ++i) {
    const double magnitude = std::pow(10.0, exponent(random));
    differential.checkGci((random() & 1 ? -1 : 1) * magnitude * std::generate_canonical<double, 53>(random));
  }
  for (int i = 0; i < 100000; ++i) {
    const int precision = static_cast<int>(random() % 18);
    const double magnitude = std::pow(10.0, exponent(random));
    differential.check(magnitude * std::generate_canonical<double, 53>(random), 0, precision);
  }
  EXPECT_GT(differential.checked(), 2000000);
}

// A NaN is written as std::to_chars writes it ("nan", "-nan"), the same with
// every C runtime; printf's sign of a NaN differs from one to the next.
TEST(FixedFormatTest, NaNsAreThoseOfToChars) {
  for (const double nan : {std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN()}) {
    for (const Format f : kGciFormats) {
      char expected[64];
      const std::to_chars_result r =
          std::to_chars(expected, expected + sizeof expected, nan, std::chars_format::fixed, f.precision);
      const std::string text(expected, r.ptr);
      char actual[fixedMaxLength(17) + 32];
      const std::string written(actual, formatFixed(actual, nan, f.width, f.precision));
      EXPECT_EQ(written, std::string(static_cast<std::size_t>(f.width) - text.size(), ' ') + text);
    }
  }
}

}  // namespace
