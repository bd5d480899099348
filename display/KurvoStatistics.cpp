#include "display/KurvoStatistics.h"

#include <algorithm>
#include <cmath>

#include "display/KurvoReadouts.h"
#include "display/KurvoText.h"

namespace rv8::kurvo {

void AddMeasurement(ChannelStatistics& s, const measure::ChannelMeasurement& m,
                    double sampleFrequency, double sensitivity) {
    if (m.frames <= 0 || !(sensitivity > 0.0) || !std::isfinite(sensitivity)) return;
    ++s.acquisitions;
    // The strip's own numbers (Running::add leaves out the ones the measurement lacks).
    const measure::ChannelReadings r = measure::Readings(m, sampleFrequency, sensitivity);
    auto add = [&](Quantity q, double v) { s.of[static_cast<std::size_t>(q)].add(v); };
    add(Quantity::PeakToPeak, r.peakToPeak);
    add(Quantity::Rms, r.rms);
    add(Quantity::Mean, r.mean);
    add(Quantity::Min, r.min);
    add(Quantity::Max, r.max);
    add(Quantity::Frequency, r.frequency);
    add(Quantity::Period, r.period);
    add(Quantity::Duty, r.duty);
    add(Quantity::Rise, r.rise);
    add(Quantity::Fall, r.fall);
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
