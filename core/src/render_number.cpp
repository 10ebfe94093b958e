// Numbers in error texts: a binary64 as its shortest round-trip decimal, positional.
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>

#include "render_number.hpp"

#include "default_float_control.hpp"

namespace pelm_ossrel {

std::string render_number(double value) {
    // The caller's control must neither trap on a signalling NaN nor change a digit.
    const DefaultFloatControl control;
    value = fenced(value);
    if (std::isnan(value)) return "NaN";
    const bool negative = std::signbit(value);
    if (std::isinf(value)) return negative ? "-inf" : "inf";
    if (value == 0.0) return negative ? "-0" : "0";

    // Shortest round-trip digits in scientific form, "d[.ddd]e<sign><exp>"; the library
    // picks the nearest of the shortest candidates. Reshape them into positional notation.
    // The longest such text, "2.2250738585072014e-308", is 23 characters: the buffer
    // always suffices.
    char buf[64];
    const std::to_chars_result written =
        std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific);
    const std::string_view sci(buf, static_cast<std::size_t>(written.ptr - buf));
    const std::size_t e_pos = sci.find('e');

    std::string digits;
    for (char c : sci.substr(0, e_pos)) {
        if (c != '.') digits.push_back(c);
    }
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    // sci is d1.d2...dk x 10^x, i.e. 0.d1...dk x 10^(x+1).
    int sci_exp = 0;
    std::from_chars(sci.data() + e_pos + 1 + (sci[e_pos + 1] == '+'), sci.data() + sci.size(),
                    sci_exp);
    const long e = static_cast<long>(sci_exp) + 1;
    const long k = static_cast<long>(digits.size());

    std::string out;
    if (negative) out.push_back('-');
    if (e <= 0) {
        out.append("0.");
        out.append(static_cast<std::size_t>(-e), '0');
        out.append(digits);
    } else if (e < k) {
        out.append(digits, 0, static_cast<std::size_t>(e));
        out.push_back('.');
        out.append(digits, static_cast<std::size_t>(e), std::string::npos);
    } else {
        out.append(digits);
        out.append(static_cast<std::size_t>(e - k), '0');
    }
    return out;
}

}  // namespace pelm_ossrel
