#pragma once
// The goals of a benchmark as one table of thresholds: each goal names what was measured, its
// yardstick (when the threshold is a share of one) and the threshold, is printed as a row of a
// Markdown table with "Met" yes or no, and decides the program's exit status.
#include <optional>
#include <string>
#include <vector>

namespace krp::bench {

enum class Comparison { AtLeast, AtMost };

struct Goal {
    std::string name;  // "search by EAN code at 16 sessions against Ping"
    std::string unit;  // of the measured value and the yardstick: "calls/s", "µs"
    double measured = 0;
    std::optional<double> yardstick;  // none: `threshold` is in `unit` itself
    std::string yardstickName;        // "Ping at 16 sessions", "nginx"
    double threshold = 0;             // a share of the yardstick (0.5: half) or a value in `unit`
    Comparison comparison = Comparison::AtLeast;
    int decimals = 0;   // of the measured value and the yardstick in the table
    std::string fault;  // non-empty: the measure itself failed ("12 errors"); not met

    // The measured value, or its share of the yardstick.
    double judged() const;
    bool met() const;
};

class GoalTable {
public:
    void add(Goal goal);
    // A goal whose measure did not run (nginx missing, a phase left out): printed, and not met.
    void addUnmeasured(const std::string& name, const std::string& why);

    // "## TITLE" and the table on standard output.
    void print(const std::string& title) const;
    bool allMet() const;
    // 0 when every goal is met, 1 otherwise.
    int exitStatus() const { return allMet() ? 0 : 1; }

private:
    std::vector<Goal> goals_;
};

}  // namespace krp::bench
