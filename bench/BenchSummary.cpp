#include "bench/BenchSummary.h"

#include <cmath>
#include <cstdio>

namespace rv8::bench {

void PrintRow(const SummaryRow& r) {
    std::printf("ROW\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", r.figure.c_str(), r.value.c_str(),
                r.baseline.c_str(), r.baselineValue.c_str(), r.ratio.c_str(), r.target.c_str(),
                r.met.c_str());
    std::fflush(stdout);
}

std::string FormatNumber(double value, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return buf;
}

std::string FormatDuration(double seconds) {
    const double a = std::fabs(seconds);
    auto fmt = [](double v, const char* unit) {
        const int decimals = v >= 100 ? 0 : (v >= 10 ? 1 : 2);
        return FormatNumber(v, decimals) + " " + unit;
    };
    if (a < 1e-6) return fmt(seconds * 1e9, "ns");
    if (a < 1e-3) return fmt(seconds * 1e6, "us");
    if (a < 1.0) return fmt(seconds * 1e3, "ms");
    return fmt(seconds, "s");
}

std::string YesNo(bool met) {
    return met ? "yes" : "NO";
}

}  // namespace rv8::bench
