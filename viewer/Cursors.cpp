#include "viewer/Cursors.h"

#include <cmath>

#include "display/KurvoReadouts.h"
#include "display/KurvoText.h"
#include "display/Spektra.h"

namespace rv8::viewer {

namespace {

const QString kDelta = QStringLiteral("\u0394");  // Δ

bool Usable(double v) {
    return v > 0 && std::isfinite(v);
}

// The voltage a raw value stands for on channel c, NaN without its sensitivity.
double Volts(const RecordView::Facts& f, int c, double raw) {
    const double s = f.settings.channel[c].sensitivity;
    return Usable(s) ? kurvo::RawToVolts(raw, s) : Cursors::kNone;
}

// Channel c's recorded value at the cursor: a sample in the time view, a bin in the spectrum
// view (amplitudes are the bins' as the chart draws them).
double ValueAt(const RecordView::Facts& f, int c, int64_t at) {
    if (f.spectrum) {
        if (at < 0 || 2 * at + c >= static_cast<int64_t>(f.bins.size())) return Cursors::kNone;
        return Volts(f, c, f.bins[2 * at + c]);
    }
    if (at < 0 || at >= f.frames || f.samples == nullptr) return Cursors::kNone;
    return Volts(f, c, f.samples[2 * at + c]);
}

// The raw value at `fraction` of the height on a chart showing ymin..ymax (as the chart maps
// rows: the top row ymax, the bottom row ymin).
double RawAtLevel(double fraction, int32_t ymin, int32_t ymax) {
    return ymax - fraction * (static_cast<double>(ymax) - ymin);
}

}  // namespace

QString CursorVolts(double volts) {
    return kurvo::Engineering(volts, QStringLiteral("V"), 4, false);
}

void Cursors::clear() {
    frames_ = {-1, -1};
    bins_ = {-1, -1};
    levels_ = {kNone, kNone};
    active_ = -1;
}

void Cursors::placeTime(int which, int64_t frame, bool spectrum) {
    (spectrum ? bins_ : frames_)[which & 1] = frame;
}

void Cursors::placeLevel(int which, double fraction) {
    levels_[which & 1] = std::clamp(fraction, 0.0, 1.0);
}

int64_t Cursors::time(int which, bool spectrum) const {
    return (spectrum ? bins_ : frames_)[which & 1];
}

bool Cursors::placed() const {
    return frames_[0] >= 0 || frames_[1] >= 0 || bins_[0] >= 0 || bins_[1] >= 0 ||
           std::isfinite(levels_[0]) || std::isfinite(levels_[1]);
}

kurvo::Marks Cursors::marks(const RecordView::Facts& f, const std::array<int32_t, 2>& ymin,
                            const std::array<int32_t, 2>& ymax) const {
    kurvo::Marks m;
    m.sampleDots = f.spectrum ? 0.0 : 6.0;
    if (!on_) return m;
    for (int i = 0; i < 2; ++i) {
        const int64_t at = time(i, f.spectrum);
        if (at < 0) continue;
        // At the point of the plot that shows it; off the view: not drawn.
        const double point =
            f.spectrum ? static_cast<double>(at) : static_cast<double>(at - f.window.start);
        const double points = f.spectrum ? Spektra::kBins : f.window.count;
        if (point >= 0 && point < points) m.points[i] = point;
    }
    m.levels = levels_;
    m.active = active_;
    m.box = readings(f, ymin, ymax);
    return m;
}

std::vector<kurvo::MarkLine> Cursors::readings(const RecordView::Facts& f,
                                               const std::array<int32_t, 2>& ymin,
                                               const std::array<int32_t, 2>& ymax) const {
    std::vector<kurvo::MarkLine> lines;
    const double fs = f.settings.sampleFrequency;
    const bool rate = Usable(fs);
    const QString name = f.spectrum ? QStringLiteral("F") : QStringLiteral("T");
    std::array<bool, 2> channels{};
    for (int c = 0; c < 2; ++c)
        channels[c] = f.measured[c] && f.shown[c];
    // Where a time cursor is: from the trigger point where it is known, as the chart's axis.
    const auto position = [&](int64_t at) {
        if (f.spectrum)
            return kurvo::FrequencyText(rate ? at * fs / (2.0 * (Spektra::kBins - 1)) : kNone);
        if (!rate) return QStringLiteral("frame %1").arg(at);
        const double origin = std::isfinite(f.triggerFrame) ? f.triggerFrame : 0.0;
        const QString t = kurvo::TimeFromTriggerText((at - origin) / fs, false);
        return t == QStringLiteral("0") ? QStringLiteral("0 s") : t;
    };
    for (int i = 0; i < 2; ++i) {
        const int64_t at = time(i, f.spectrum);
        if (at < 0) continue;
        lines.push_back({QStringLiteral("%1%2 %3").arg(name).arg(i + 1).arg(position(at)), -1});
        for (int c = 0; c < 2; ++c) {
            if (!channels[c]) continue;
            lines.push_back({QStringLiteral("   %1  %2")
                                 .arg(kurvo::ChannelName(c), CursorVolts(ValueAt(f, c, at))),
                             c});
        }
    }
    const int64_t a = time(0, f.spectrum), b = time(1, f.spectrum);
    if (a >= 0 && b >= 0) {
        if (f.spectrum) {
            const double df = rate ? (b - a) * fs / (2.0 * (Spektra::kBins - 1)) : kNone;
            lines.push_back({kDelta + QStringLiteral("F %1").arg(kurvo::FrequencyText(df)), -1});
        } else {
            const double dt = rate ? (b - a) / fs : kNone;
            const QString inverse = dt != 0 && std::isfinite(dt)
                                        ? kurvo::FrequencyText(1.0 / std::fabs(dt))
                                        : QStringLiteral("--");
            const QString span =
                dt < 0 ? QStringLiteral("-") + kurvo::PeriodText(-dt) : kurvo::PeriodText(dt);
            lines.push_back({QStringLiteral("%1T %2   1/%1T %3").arg(kDelta, span, inverse), -1});
        }
        for (int c = 0; c < 2; ++c) {
            if (!channels[c]) continue;
            lines.push_back({kDelta + kurvo::ChannelName(c) + QLatin1Char(' ') +
                                 CursorVolts(ValueAt(f, c, b) - ValueAt(f, c, a)),
                             c});
        }
    }
    for (int i = 0; i < 2; ++i) {
        if (!std::isfinite(levels_[i])) continue;
        QString text = QStringLiteral("V%1").arg(i + 1);
        for (int c = 0; c < 2; ++c) {
            if (channels[c])
                text += QStringLiteral("  %1 %2").arg(
                    kurvo::ChannelName(c),
                    CursorVolts(Volts(f, c, RawAtLevel(levels_[i], ymin[c], ymax[c]))));
        }
        lines.push_back({text, -1});
    }
    if (std::isfinite(levels_[0]) && std::isfinite(levels_[1])) {
        QString text = kDelta + QLatin1Char('V');
        for (int c = 0; c < 2; ++c) {
            if (!channels[c]) continue;
            const double v1 = Volts(f, c, RawAtLevel(levels_[0], ymin[c], ymax[c]));
            const double v2 = Volts(f, c, RawAtLevel(levels_[1], ymin[c], ymax[c]));
            text += QStringLiteral("  %1 %2").arg(kurvo::ChannelName(c), CursorVolts(v2 - v1));
        }
        lines.push_back({text, -1});
    }
    return lines;
}

}  // namespace rv8::viewer
