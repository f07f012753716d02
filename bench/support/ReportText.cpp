#include "ReportText.h"

#include <cstdio>

namespace krp::bench {

std::string fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string thousands(double value)
{
    const std::string digits = std::to_string(static_cast<long long>(value + 0.5));
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

}  // namespace krp::bench
