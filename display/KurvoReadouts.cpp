#include "display/KurvoReadouts.h"

#include <algorithm>
#include <cmath>

#include "display/KurvoMath.h"
#include "display/KurvoText.h"
#include "display/RecordReadings.h"

namespace rv8::kurvo {

namespace {

double NaN() {
    return std::numeric_limits<double>::quiet_NaN();
}

bool Positive(double v) {
    return v > 0.0 && std::isfinite(v);
}

// Pixel column of point p (fractional) of `points` across `width` columns, as the chart draws
// them: with at least one point per column each column shows points/width of them, otherwise
// the points are spread from the first column to the last.
double ColumnOfPoint(double p, int points, int width) {
    if (points >= width) return p * width / points;
    if (points < 2) return 0.0;
    return p * (width - 1) / (points - 1);
}

double PointOfColumn(double x, int points, int width) {
    if (points >= width) return x * points / width;
    if (width < 2) return 0.0;
    return x * (points - 1) / (width - 1);
}

// The raw value at row y of a picture `height` rows tall showing ymin..ymax.
double ValueAtRow(double y, int32_t ymin, int32_t ymax, int height) {
    if (height < 2) return ymin;
    return ymax - y / (height - 1) * (static_cast<double>(ymax) - ymin);
}

void Measured(const measure::ChannelMeasurement& m, double fs, double sensitivity,
              ChannelReadouts& out) {
    if (m.frames <= 0 || !Positive(sensitivity)) return;
    // The numbers are the ones rv8rec measure prints (display/RecordReadings.h); here they are
    // written with the record's resolution.
    const measure::ChannelReadings r = measure::Readings(m, fs, sensitivity);
    out.frequency = FrequencyText(r.frequency);
    out.period = PeriodText(r.period);
    const double step = RecordStep(sensitivity);
    auto volts = [&](double v, const QString& unit) { return VoltsText(v, step, unit); };
    out.peakToPeak = volts(r.peakToPeak, QStringLiteral("Vpp"));
    // Over whole periods where there are some, over the record otherwise: the label says which.
    out.meanLabel = r.cycles ? QStringLiteral("cycle mean") : QStringLiteral("mean");
    out.rms = volts(r.rms, r.cycles ? QStringLiteral("V cycle rms") : QStringLiteral("V rms"));
    out.mean = volts(r.mean, QStringLiteral("V"));
    out.min = volts(r.min, QStringLiteral("V"));
    out.max = volts(r.max, QStringLiteral("V"));
    if (r.period > 0) {
        out.duty = DutyText(r.duty);
        out.rise = EdgeTimeText(r.rise, 1.0 / fs);
        out.fall = EdgeTimeText(r.fall, 1.0 / fs);
    }
}

void PeakReadout(const measure::SpectrumPeak& p, double binHz, const ReadoutInputs& in, int c,
                 ChannelReadouts& ch) {
    const double s = in.sensitivity[c];
    const double amplitude = std::min(p.amplitude, 2147483647.0);
    ch.peakY =
        ValueToRow(static_cast<int32_t>(std::lround(amplitude)), in.ymin[c], in.ymax[c], in.height);
    if (p.belowResolution) {
        // Below 1.5 bins no line can be told from the DC and its own mirror image.
        ch.peak =
            QStringLiteral("below resolution (< ") + FrequencyText(1.5 * binHz) + QLatin1Char(')');
        ch.peakX = ColumnOfPoint(1.0, in.points, in.width);
        return;
    }
    ch.peak = FrequencyText(p.bin * binHz) + QStringLiteral("  ") +
              (p.atLeast ? QStringLiteral("> ") : QString()) +
              VoltsText(RawToVolts(p.amplitude, s), RecordStep(s));
    ch.peakX = ColumnOfPoint(p.bin, in.points, in.width);
    // A line above the top of the view is drawn cut off: the label says so.
    if (p.amplitude > in.ymax[c]) {
        ch.peakCutOff = true;
        ch.peak += QStringLiteral("  cut off");
    }
}

// The band the signal must leave before the trigger looks for the level: below it for a rising
// slope, above it for a falling one, both ways while the slope is unknown.
void HysteresisBand(const ReadoutInputs& in, int c, double levelRaw, ChannelReadouts& ch) {
    const double hys = in.triggerHysteresis[c];
    if (!(hys > 0.0) || !std::isfinite(hys)) return;
    const double band = std::min(hys / in.sensitivity[c] * 32768.0, 4294967296.0);
    const double lo = in.triggerSlope == 1 ? levelRaw : levelRaw - band;
    const double hi = in.triggerSlope == 0 ? levelRaw : levelRaw + band;
    auto row = [&](double raw) {
        const double limited = std::clamp(raw, -2147483648.0, 2147483647.0);
        return ValueToRow(static_cast<int32_t>(std::lround(limited)), in.ymin[c], in.ymax[c],
                          in.height);
    };
    ch.hysteresisTop = row(hi);
    ch.hysteresisBottom = row(lo);
}

}  // namespace

QString ChannelName(int channel) {
    return channel == 0 ? QStringLiteral("CH1") : QStringLiteral("CH2");
}

Readouts ComputeReadouts(const ReadoutInputs& in) {
    Readouts r;
    const int w = in.width;
    const int h = in.height;
    const double fs = in.sampleFrequency;
    const bool timeKnown = Positive(fs) && in.points > 0;
    if (Positive(fs)) {
        r.info = SampleRateText(fs);
        if (in.recordLength > 0) r.info += QStringLiteral(", %1 samples").arg(in.recordLength);
    }

    // The frame the instrument places the trigger at: the post-trigger samples follow it.
    const bool triggerKnown =
        in.recordLength > 0 && in.postSamples >= 0 && in.postSamples <= in.recordLength;
    const double triggerFrame = static_cast<double>(in.recordLength) - in.postSamples;

    if (!in.spectrum) {
        // The frames the graticule's width spans: fewer points than columns run from the first
        // column to the last, one interval fewer than points.
        const double span = in.points >= w ? in.points : in.points - 1.0;
        if (timeKnown) r.perDivision = TimePerDivisionText(SecondsPerDivision(span, fs));
        if (timeKnown && triggerKnown) {
            for (int i = 0; i <= kDivisionsX; i += 2) {
                double frames =
                    in.windowStart + static_cast<double>(i) * span / kDivisionsX - triggerFrame;
                if (std::fabs(frames) < 1e-6) frames = 0.0;
                r.axis.push_back(
                    AxisLabel{i * (w - 1) / kDivisionsX, TimeFromTriggerText(frames / fs)});
            }
        }
        const double offset = triggerFrame - in.windowStart;
        if (triggerKnown && in.points > 0 && offset >= 0 && offset < in.points) {
            r.triggerPointX = static_cast<int>(std::floor(ColumnOfPoint(offset, in.points, w)));
            if (in.triggerState != 0)
                r.triggerStatus =
                    in.triggerState > 0 ? QStringLiteral("Trig'd") : QStringLiteral("Auto");
        }
        if (in.cursor && timeKnown) {
            double frames = in.windowStart + PointOfColumn(in.cursorX, in.points, w);
            frames -= triggerKnown ? triggerFrame : 0.0;
            r.cursorPosition = QStringLiteral("t ") + TimeFromTriggerText(frames / fs, false);
        }
    } else {
        const double binHz = in.points > 1 && Positive(fs) ? fs / (2.0 * (in.points - 1)) : NaN();
        if (Positive(fs)) {
            r.perDivision = Engineering(fs / 2.0 / kDivisionsX, QStringLiteral("Hz"), 4, true) +
                            QStringLiteral("/div");
            for (int i = 0; i <= kDivisionsX; i += 2) {
                r.axis.push_back(AxisLabel{i * (w - 1) / kDivisionsX,
                                           FrequencyAxisText(i * fs / 2.0 / kDivisionsX)});
            }
        }
        if (in.cursor && binHz == binHz) {
            r.cursorPosition = QStringLiteral("f ") +
                               FrequencyText(PointOfColumn(in.cursorX, in.points, w) * binHz);
        }
        for (int c = 0; c < 2; ++c) {
            const measure::SpectrumPeak& p = in.peaks[c];
            if (!in.shown[c] || !p.found || binHz != binHz || !Positive(in.sensitivity[c]))
                continue;
            PeakReadout(p, binHz, in, c, r.channel[c]);
        }
    }

    for (int c = 0; c < 2; ++c) {
        if (!in.shown[c]) continue;
        ChannelReadouts& ch = r.channel[c];
        const double s = in.sensitivity[c];
        if (Positive(s)) {
            ch.voltsPerDivision = ChannelName(c) + QLatin1Char(' ') +
                                  VoltsPerDivisionText(VoltsPerDivision(in.ymin[c], in.ymax[c], s));
        }
        if (!in.channelMeasured[c]) {
            ch.notMeasured = ChannelName(c) + QStringLiteral(" not measured");
            ch.peak.clear();
        } else {
            if (!in.spectrum) Measured(in.measured[c], fs, s, ch);
            // Only a measured record can be over range: before the first one the buffers hold
            // zeros. The whole record, as min and max are, in both views.
            if (in.measured[c].frames > 0 && in.measured[c].overRange)
                ch.overRange = ChannelName(c) + QStringLiteral(" over range");
            if (in.statisticsShown) ch.statistics = StatisticsLines(c, in.statistics[c], s, fs);
        }
        if (!in.spectrum && in.triggerSource == c && Positive(s) &&
            std::isfinite(in.triggerLevel[c])) {
            const double raw =
                std::clamp(in.triggerLevel[c] / s * 32768.0, -2147483648.0, 2147483647.0);
            ch.triggerLevelRow =
                ValueToRow(static_cast<int32_t>(std::lround(raw)), in.ymin[c], in.ymax[c], h);
            HysteresisBand(in, c, raw, ch);
        }
        if (in.cursor && Positive(s)) {
            // Its resolution is one row of the picture.
            const double volts = RawToVolts(ValueAtRow(in.cursorY, in.ymin[c], in.ymax[c], h), s);
            const double row = RawToVolts(
                (static_cast<double>(in.ymax[c]) - in.ymin[c] + 1.0) / std::max(1, h), s);
            ch.cursor = ChannelName(c) + QLatin1Char(' ') + VoltsText(volts, row);
        }
    }
    return r;
}

}  // namespace rv8::kurvo
