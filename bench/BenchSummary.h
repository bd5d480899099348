// The summary rows both benchmark programs print after their own output, one per figure, for
// scripts/bench to gather into one table. A row is one line: "ROW" and seven tab-separated
// fields (figure, its value, the baseline, the baseline's value, ratio, target, met).
#pragma once

#include <string>

namespace rv8::bench {

struct SummaryRow {
    std::string figure;
    std::string value;
    std::string baseline = "-";
    std::string baselineValue = "-";
    std::string ratio = "-";
    std::string target = "-";
    std::string met = "-";  // "yes", "NO" or "-" when there is no target
};

void PrintRow(const SummaryRow& row);

// A duration in seconds as "812 ns", "45.6 us", "1.23 ms" or "2.50 s".
std::string FormatDuration(double seconds);
// A number with `decimals` decimals.
std::string FormatNumber(double value, int decimals);
std::string YesNo(bool met);

}  // namespace rv8::bench
