#pragma once
// The values of the benchmarks' command-line options; each throws std::invalid_argument naming
// the option when the text is not one (the programs answer it with their usage and status 2).
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace krp::bench {

// Takes the value after the option being handled; "OPTION needs a value" when there is none.
using OptionValue = std::function<std::string()>;

// Calls `handle(option, value)` for each option of the command line after the program's name.
void forEachOption(int argc, char** argv,
                   const std::function<void(const std::string& option, const OptionValue& value)>& handle);

// A whole number of at most 9 digits.
unsigned wholeNumber(const std::string& option, const std::string& text);
// Whole numbers separated by commas: "1,16,64"; "" is none (the phases left out).
std::vector<unsigned> wholeNumbers(const std::string& option, const std::string& text);
// Seconds, with a fraction if need be, from 0 to a day.
std::chrono::milliseconds secondsValue(const std::string& option, const std::string& text);

}  // namespace krp::bench
