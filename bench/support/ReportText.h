#pragma once
// Numbers as the benchmarks' Markdown tables show them.
#include <string>

namespace krp::bench {

// `value` with `decimals` digits after the point: fixed(0.0784, 3) == "0.078".
std::string fixed(double value, int decimals);
// Rounded to a whole number, thousands separated by commas: thousands(27935.4) == "27,935".
std::string thousands(double value);
// "yes" or "no".
inline const char* verdict(bool met)
{
    return met ? "yes" : "no";
}

}  // namespace krp::bench
