#include "display/KurvoStatistics.h"

#include <algorithm>
#include <cmath>

#include "display/KurvoReadouts.h"
#include "display/KurvoText.h"

namespace rv8::kurvo {

void Running::add(double x) {
    if (!std::isfinite(x)) return;
    ++count;
    if (count == 1) {
        min = max = mean = x;
        m2 = 0.0;
        return;
    }
    min = std::min(min, x);
    max = std::max(max, x);
    const double delta = x - mean;
    mean += delta / count;
    m2 += delta * (x - mean);
}

double Running::deviation() const {
    return count > 1 ? std::sqrt(std::max(0.0, m2) / count) : 0.0;
}

void AddMeasurement(ChannelStatistics& s, const measure::ChannelMeasurement& m,
                    double sampleFrequency, double sensitivity) {
    if (m.frames <= 0 || !(sensitivity > 0.0) || !std::isfinite(sensitivity)) return;
    ++s.acquisitions;
    auto add = [&](Quantity q, double v) { s.of[static_cast<std::size_t>(q)].add(v); };
    auto volts = [&](double raw) { return RawToVolts(raw, sensitivity); };
    const bool cycles = m.hasPeriod() && std::isfinite(m.cycleMean);
    add(Quantity::PeakToPeak, volts(m.peakToPeak()));
    add(Quantity::Rms, volts(cycles ? m.cycleRms : m.rms));
    add(Quantity::Mean, volts(cycles ? m.cycleMean : m.mean));
    add(Quantity::Min, volts(m.min));
    add(Quantity::Max, volts(m.max));
    if (!m.hasPeriod() || !(sampleFrequency > 0.0) || !std::isfinite(sampleFrequency)) return;
    add(Quantity::Frequency, sampleFrequency / m.period);
    add(Quantity::Period, m.period / sampleFrequency);
    add(Quantity::Duty, m.duty);
    add(Quantity::Rise, m.riseTime / sampleFrequency);
    add(Quantity::Fall, m.fallTime / sampleFrequency);
}

QStringList StatisticsLines(int channel, const ChannelStatistics& s, double sensitivity,
                            double sampleFrequency) {
    QStringList lines{ChannelName(channel) +
                      QStringLiteral(" statistics of %1 acquisitions").arg(s.acquisitions)};
    const double step = RecordStep(sensitivity);
    struct Row {
        Quantity q;
        const char* name;
    };
    const Row rows[] = {{Quantity::Frequency, "freq"}, {Quantity::Period, "period"},
                        {Quantity::PeakToPeak, "pp"},  {Quantity::Rms, "rms"},
                        {Quantity::Mean, "mean"},      {Quantity::Min, "min"},
                        {Quantity::Max, "max"},        {Quantity::Duty, "duty"},
                        {Quantity::Rise, "rise"},      {Quantity::Fall, "fall"}};
    for (const Row& row : rows) {
        const Running& r = s[row.q];
        if (r.count == 0) continue;
        // A value as the strip writes it; a deviation the same way, except the edges' (a
        // deviation is no edge time) and one that is only rounding noise against the mean.
        auto text = [&](double v, bool deviation) {
            if (deviation && v < 1e-9 * std::fabs(r.mean)) v = 0.0;
            switch (row.q) {
                case Quantity::Frequency:
                    return FrequencyText(v);
                case Quantity::Period:
                    return PeriodText(v);
                case Quantity::Duty:
                    return DutyText(v);
                case Quantity::Rise:
                case Quantity::Fall:
                    return deviation ? Engineering(v, QStringLiteral("s"), 3, false)
                                     : EdgeTimeText(v, 1.0 / sampleFrequency);
                default:
                    return VoltsText(v, step);
            }
        };
        lines << QString::fromLatin1(row.name) + QStringLiteral("  min ") + text(r.min, false) +
                     QStringLiteral("  mean ") + text(r.mean, false) + QStringLiteral("  max ") +
                     text(r.max, false) + QStringLiteral("  sd ") + text(r.deviation(), true) +
                     QStringLiteral("  n %1").arg(r.count);
    }
    return lines;
}

}  // namespace rv8::kurvo
