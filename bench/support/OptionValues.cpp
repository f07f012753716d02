#include "OptionValues.h"

#include <sstream>
#include <stdexcept>

namespace krp::bench {

void forEachOption(int argc, char** argv,
                   const std::function<void(const std::string& option, const OptionValue& value)>& handle)
{
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        handle(option, [&]() -> std::string {
            if (i + 1 >= argc)
                throw std::invalid_argument(option + " needs a value");
            return argv[++i];
        });
    }
}

unsigned wholeNumber(const std::string& option, const std::string& text)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        throw std::invalid_argument(option + " takes a whole number, not \"" + text + "\"");
    return static_cast<unsigned>(std::stoul(text));
}

std::vector<unsigned> wholeNumbers(const std::string& option, const std::string& text)
{
    std::vector<unsigned> values;
    std::istringstream in(text);
    for (std::string item; std::getline(in, item, ',');)
        values.push_back(wholeNumber(option, item));
    return values;
}

std::chrono::milliseconds secondsValue(const std::string& option, const std::string& text)
{
    std::size_t used = 0;
    double value = -1;
    try {
        value = std::stod(text, &used);
    } catch (const std::exception&) {
    }
    if (text.empty() || used != text.size() || !(value >= 0) || value > 86400)
        throw std::invalid_argument(option + " takes seconds (0 to 86400), not \"" + text + "\"");
    return std::chrono::milliseconds(static_cast<long long>(value * 1000));
}

}  // namespace krp::bench
