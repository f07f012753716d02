#pragma once
// Numbers of the JSON form: general decimal form with at most 15 significant digits and a full
// stop, independent of the process locale.
#include <optional>
#include <string>

namespace krp::types {

// 2.5 -> "2.5", 0.1 -> "0.1", 0 -> "0", 1e-20 -> "1e-20", 1e15 -> "1e15",
// 123456789012345 -> "123456789012345", 0.00001 -> "0.00001", 0.000001 -> "1e-6".
// Positional form for magnitudes from 1e-5 up to (but not including) 1e15, exponent form
// outside. No value for NaN or an infinity, which JSON cannot carry.
std::optional<std::string> generalNumberText(double value);

}  // namespace krp::types
