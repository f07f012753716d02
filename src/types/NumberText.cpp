#include "NumberText.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace krp::types {

std::optional<std::string> generalNumberText(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    if (value == 0)
        return std::string("0");  // negative zero too

    // Round to 15 significant digits: d.dddddddddddddde[+-]x
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
    const std::string sci(buf, res.ptr);

    const bool negative = sci[0] == '-';
    const std::size_t start = negative ? 1 : 0;
    const std::size_t ePos = sci.find('e');
    std::string digits;  // significant digits without the point
    for (std::size_t i = start; i < ePos; ++i)
        if (sci[i] != '.')
            digits.push_back(sci[i]);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    const int exponent = std::atoi(sci.c_str() + ePos + 1);

    std::string out = negative ? "-" : "";
    if (exponent >= -5 && exponent < 15) {
        if (exponent < 0) {
            out += "0.";
            out.append(static_cast<std::size_t>(-exponent - 1), '0');
            out += digits;
        } else {
            const std::size_t intDigits = static_cast<std::size_t>(exponent) + 1;
            if (digits.size() <= intDigits) {
                out += digits;
                out.append(intDigits - digits.size(), '0');
            } else {
                out += digits.substr(0, intDigits);
                out += '.';
                out += digits.substr(intDigits);
            }
        }
    } else {
        out += digits[0];
        if (digits.size() > 1) {
            out += '.';
            out += digits.substr(1);
        }
        out += 'e';
        out += std::to_string(exponent);
    }
    return out;
}

}  // namespace krp::types
