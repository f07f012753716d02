#include "GoalTable.h"

#include "ReportText.h"

#include <cstdio>

namespace krp::bench {

double Goal::judged() const
{
    if (!yardstick)
        return measured;
    return *yardstick > 0 ? measured / *yardstick : 0;
}

bool Goal::met() const
{
    if (!fault.empty() || (yardstick && *yardstick <= 0))
        return false;
    return comparison == Comparison::AtLeast ? judged() >= threshold : judged() <= threshold;
}

void GoalTable::add(Goal goal)
{
    goals_.push_back(std::move(goal));
}

void GoalTable::addUnmeasured(const std::string& name, const std::string& why)
{
    Goal goal;
    goal.name = name;
    goal.fault = "not measured: " + why;
    goals_.push_back(std::move(goal));
}

namespace {

std::string valueText(double value, int decimals, const std::string& unit)
{
    return (decimals == 0 ? thousands(value) : fixed(value, decimals)) + " " + unit;
}

}  // namespace

void GoalTable::print(const std::string& title) const
{
    std::printf("\n## %s\n\n| Goal | Measured | Yardstick | Threshold | Ratio | Met |\n|---|---:|---|---|---:|---|\n",
                title.c_str());
    for (const Goal& g : goals_) {
        if (g.fault.rfind("not measured", 0) == 0) {
            std::printf("| %s | – | – | – | – | no (%s) |\n", g.name.c_str(), g.fault.c_str());
            continue;
        }
        const char* sign = g.comparison == Comparison::AtLeast ? "≥" : "≤";
        std::string yardstick = "–";
        std::string threshold;
        std::string ratio = "–";
        if (g.yardstick) {
            yardstick = g.yardstickName + ": " + valueText(*g.yardstick, g.decimals, g.unit);
            threshold = std::string(sign) + " " + fixed(g.threshold * 100, 0) + " % of it";
            ratio = fixed(g.judged() * 100, 0) + " %";
        } else {
            threshold = std::string(sign) + " " + valueText(g.threshold, g.decimals, g.unit);
        }
        std::string met = verdict(g.met());
        if (!g.fault.empty())
            met += " (" + g.fault + ")";
        std::printf("| %s | %s | %s | %s | %s | %s |\n", g.name.c_str(),
                    valueText(g.measured, g.decimals, g.unit).c_str(), yardstick.c_str(), threshold.c_str(),
                    ratio.c_str(), met.c_str());
    }
    std::fflush(stdout);
}

bool GoalTable::allMet() const
{
    for (const Goal& g : goals_)
        if (!g.met())
            return false;
    return true;
}

}  // namespace krp::bench
