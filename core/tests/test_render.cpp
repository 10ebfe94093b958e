// Numbers in error texts and the two message templates.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <string_view>

#include "cast_error.hpp"
#include "render_number.hpp"

namespace pelm_ossrel {
namespace {

double from_bits(std::uint64_t bits) { return std::bit_cast<double>(bits); }

// head, then `zeros` zeros, then tail.
std::string with_zeros(std::string head, std::size_t zeros, std::string_view tail) {
    head.append(zeros, '0');
    head.append(tail);
    return head;
}

TEST(RenderNumber, Table) {
    struct Case {
        double value;
        std::string text;
    };
    const Case cases[] = {
        {300.0, "300"},
        {0.1, "0.1"},
        {2.5, "2.5"},
        {2147483647.5, "2147483647.5"},
        {1e-7, "0.0000001"},
        {0x1p63, "9223372036854776000"},
        {0x1p64, "18446744073709552000"},
        {3.4028234663852886e38, "340282346638528860000000000000000000000"},
        {1e300, with_zeros("1", 300, "")},
        {-0.0, "-0"},
        {0.0, "0"},
        {std::numeric_limits<double>::quiet_NaN(), "NaN"},
        {-std::numeric_limits<double>::quiet_NaN(), "NaN"},
        {from_bits(0x7FF0000000000001), "NaN"},  // signalling, smallest payload
        {from_bits(0xFFF8DEADBEEF0000), "NaN"},  // negative, with payload
        {std::numeric_limits<double>::infinity(), "inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"},
        {-1.0, "-1"},
        {1.0, "1"},
        {-128.0, "-128"},
        {127.0, "127"},
        {-300.5, "-300.5"},
        {0.5, "0.5"},
        {-0.001, "-0.001"},
        {123.456, "123.456"},
        {1e21, "1000000000000000000000"},
        {1e22, "10000000000000000000000"},
        {1e23, "100000000000000000000000"},  // shortest digits "1", not 9.999999999999999e22
        {9007199254740993.0, "9007199254740992"},
        {18446744073709551615.0, "18446744073709552000"},
        {-9223372036854775808.0, "-9223372036854776000"},
        {4294967295.0, "4294967295"},
        {1.5e-10, "0.00000000015"},
        {0.30000000000000004, "0.30000000000000004"},
        {std::numeric_limits<double>::max(),
         with_zeros("17976931348623157", 292, "")},
        {std::numeric_limits<double>::denorm_min(), with_zeros("0.", 323, "5")},
        {-std::numeric_limits<double>::denorm_min(), with_zeros("-0.", 323, "5")},
        {std::numeric_limits<double>::min(), with_zeros("0.", 307, "22250738585072014")},
        {static_cast<double>(std::numeric_limits<float>::denorm_min()),
         with_zeros("0.", 44, "1401298464324817")},
        {65504.0, "65504"},
        {5.960464477539063e-08, "0.00000005960464477539063"},  // smallest binary16 subnormal
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(render_number(c.value), c.text);
    }
}

// -?(0|[1-9][0-9]*)(\.[0-9]*[1-9])?: positional, no exponent, no redundant zero.
bool is_positional(std::string_view t) {
    auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!t.empty() && t.front() == '-') t.remove_prefix(1);
    const std::size_t dot = t.find('.');
    const std::string_view whole = t.substr(0, dot);
    if (whole.empty() || !std::all_of(whole.begin(), whole.end(), is_digit)) return false;
    if (whole.size() > 1 && whole.front() == '0') return false;
    if (dot == std::string_view::npos) return true;
    const std::string_view fraction = t.substr(dot + 1);
    return !fraction.empty() && std::all_of(fraction.begin(), fraction.end(), is_digit) &&
           fraction.back() != '0';
}

TEST(RenderNumber, FormatCheckItself) {
    for (std::string_view good : {"0", "-0", "1", "10", "0.5", "-12.25", "0.0001"})
        EXPECT_TRUE(is_positional(good)) << good;
    for (std::string_view bad : {"", "-", "01", "1.", ".5", "1.50", "1e5", "+1", "1.2.3", "inf"})
        EXPECT_FALSE(is_positional(bad)) << bad;
}

// Independent reference for the digit count: the smallest precision at which printf's
// correctly rounded scientific form reads back as the same value.
int printf_shortest_digits(double x) {
    for (int p = 1; p <= 17; ++p) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*e", p - 1, x);
        if (std::strtod(buf, nullptr) == x) return p;
    }
    return 17;
}

int significant_digits(const std::string& text) {
    std::string digits;
    for (char c : text)
        if (c >= '0' && c <= '9') digits.push_back(c);
    const auto first = digits.find_first_not_of('0');
    const auto last = digits.find_last_not_of('0');
    return static_cast<int>(last - first + 1);
}

// Random finite values over every exponent, subnormals included: the text is positional,
// reads back as the same binary64, and is never longer than the shortest correctly rounded
// form.
TEST(RenderNumber, RandomValuesRoundTripInPositionalForm) {
    std::mt19937_64 rng(20240611);
    int checked = 0;
    while (checked < 20000) {
        const double x = from_bits(rng());
        if (!std::isfinite(x) || x == 0.0) continue;
        ++checked;
        const std::string text = render_number(x);
        SCOPED_TRACE(text);
        ASSERT_TRUE(is_positional(text));
        ASSERT_EQ(text.front() == '-', std::signbit(x));
        const double back = std::strtod(text.c_str(), nullptr);
        ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(x));
        ASSERT_LE(significant_digits(text), printf_shortest_digits(x));
    }
}

// Integers of every magnitude up to 2^63, as integer elements reach an error: no fraction,
// and the exact decimal wherever binary64 holds the value exactly.
TEST(RenderNumber, IntegralValuesHaveNoFraction) {
    std::mt19937_64 rng(7);
    for (int i = 0; i < 20000; ++i) {
        const std::int64_t v = static_cast<std::int64_t>(rng() >> (rng() % 64));
        const double x = static_cast<double>(v);
        const std::string text = render_number(x);
        ASSERT_EQ(text.find('.'), std::string::npos) << text;
        ASSERT_EQ(std::strtod(text.c_str(), nullptr), x) << text;
        if (v > -(std::int64_t{1} << 53) && v < (std::int64_t{1} << 53)) {
            ASSERT_EQ(text, std::to_string(v));
        }
    }
}

TEST(CastErrorMessage, WholeTexts) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    struct Case {
        CastError error;
        std::string text;
    };
    const Case cases[] = {
        {CastError::out_of_range(300, -128, 127),
         "Value 300 out of range [-128, 127]. Set out_of_range='clamp' or out_of_range='wrap' to "
         "handle this."},
        {CastError::out_of_range(-1, 0, 0x1p63),
         "Value -1 out of range [0, 9223372036854776000]. Set out_of_range='clamp' or "
         "out_of_range='wrap' to handle this."},
        {CastError::out_of_range(1e39, -3.4028234663852886e38, 3.4028234663852886e38),
         "Value 1000000000000000000000000000000000000000 out of range "
         "[-340282346638528860000000000000000000000, 340282346638528860000000000000000000000]. "
         "Set out_of_range='clamp' or out_of_range='wrap' to handle this."},
        {CastError::out_of_range(-0.0, 0, 255),
         "Value -0 out of range [0, 255]. Set out_of_range='clamp' or out_of_range='wrap' to "
         "handle this."},
        {CastError::out_of_range(-inf, -32768, 32767),
         "Value -inf out of range [-32768, 32767]. Set out_of_range='clamp' or "
         "out_of_range='wrap' to handle this."},
        {CastError::out_of_range(2147483647.5, -2147483648.0, 2147483647.0),
         "Value 2147483647.5 out of range [-2147483648, 2147483647]. Set out_of_range='clamp' or "
         "out_of_range='wrap' to handle this."},
        {CastError::non_finite(nan), "Cannot cast NaN to integer type without scalar_map"},
        {CastError::non_finite(-nan), "Cannot cast NaN to integer type without scalar_map"},
        {CastError::non_finite(inf), "Cannot cast inf to integer type without scalar_map"},
        {CastError::non_finite(-inf), "Cannot cast -inf to integer type without scalar_map"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.error.message(), c.text);
    }
}

TEST(CastErrorMessage, NonFiniteIgnoresTheBounds) {
    CastError e = CastError::non_finite(std::numeric_limits<double>::quiet_NaN());
    e.lo = -1;
    e.hi = 1;
    EXPECT_EQ(e.message(), "Cannot cast NaN to integer type without scalar_map");
}

}  // namespace
}  // namespace pelm_ossrel
