#include "display/KurvoText.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace rv8::kurvo {

namespace {

// Decimals that leave `digits` significant digits for a number of magnitude r (r > 0).
int DecimalsFor(double r, int digits) {
    return std::max(0, digits - 1 - static_cast<int>(std::floor(std::log10(r))));
}

// The exponent of the decade of x > 0: 2 for 100 to 999.9..., -3 for 0.001 to 0.0099...
int Decade(double x) {
    int e = static_cast<int>(std::floor(std::log10(x)));
    if (std::pow(10.0, e + 1) <= x) ++e;  // log10 a hair short of a power of ten
    if (std::pow(10.0, e) > x) --e;
    return e;
}

QString Trimmed(QString text) {
    if (!text.contains(QLatin1Char('.'))) return text;
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.'))) text.chop(1);
    return text;
}

QString Prefix(int exponent) {
    switch (exponent) {
        case -9:
            return QStringLiteral("n");
        case -6:
            return QString(QChar(0xB5));  // micro sign
        case -3:
            return QStringLiteral("m");
        case 3:
            return QStringLiteral("k");
        case 6:
            return QStringLiteral("M");
        case 9:
            return QStringLiteral("G");
        default:
            return QString();
    }
}

}  // namespace

QString Engineering(double value, const QString& unit, int digits, bool trim) {
    if (!std::isfinite(value)) return QStringLiteral("--");
    if (value == 0.0) return QStringLiteral("0 ") + unit;
    digits = std::clamp(digits, 1, 15);
    const double magnitude = std::fabs(value);
    int exponent = static_cast<int>(std::floor(std::log10(magnitude) / 3.0)) * 3;
    exponent = std::clamp(exponent, -9, 9);
    double scaled = magnitude / std::pow(10.0, exponent);
    int decimals = DecimalsFor(scaled, digits);
    double rounded = std::round(scaled * std::pow(10.0, decimals)) / std::pow(10.0, decimals);
    if (rounded >= 1000.0 && exponent < 9) {
        exponent += 3;
        scaled = magnitude / std::pow(10.0, exponent);
        decimals = DecimalsFor(scaled, digits);
        rounded = std::round(scaled * std::pow(10.0, decimals)) / std::pow(10.0, decimals);
    }
    // Rounding may have added a digit in front (9.9996 -> 10.000): one decimal less then.
    decimals = std::min(decimals, DecimalsFor(rounded, digits));
    QString text = QString::number(rounded, 'f', decimals);
    if (trim) text = Trimmed(text);
    return (value < 0 ? QStringLiteral("-") : QString()) + text + QLatin1Char(' ') +
           Prefix(exponent) + unit;
}

double SecondsPerDivision(double frames, double sampleFrequency) {
    if (!(frames > 0.0) || !(sampleFrequency > 0.0) || !std::isfinite(sampleFrequency))
        return std::numeric_limits<double>::quiet_NaN();
    return frames / sampleFrequency / kDivisionsX;
}

double VoltsPerDivision(int32_t ymin, int32_t ymax, double sensitivity) {
    const double units = static_cast<double>(ymax) - static_cast<double>(ymin) + 1.0;
    return RawToVolts(units, sensitivity) / kDivisionsY;
}

QString TimePerDivisionText(double seconds) {
    return Engineering(seconds, QStringLiteral("s"), 4, true) + QStringLiteral("/div");
}

QString VoltsPerDivisionText(double volts) {
    return Engineering(volts, QStringLiteral("V"), 4, true) + QStringLiteral("/div");
}

QString TimeFromTriggerText(double seconds, bool trim) {
    if (!std::isfinite(seconds)) return QStringLiteral("--");
    if (std::fabs(seconds) < 1e-15) return QStringLiteral("0");
    const QString text = Engineering(seconds, QStringLiteral("s"), 4, trim);
    return seconds > 0 ? QLatin1Char('+') + text : text;
}

QString FrequencyAxisText(double hz) {
    if (hz == 0.0) return QStringLiteral("0");
    return Engineering(hz, QStringLiteral("Hz"), 4, true);
}

QString FrequencyText(double hz) {
    return Engineering(hz, QStringLiteral("Hz"), 4, false);
}

QString PeriodText(double seconds) {
    return Engineering(seconds, QStringLiteral("s"), 4, false);
}

QString EdgeTimeText(double seconds, double sampleInterval) {
    if (!(seconds >= 0.0) || !(sampleInterval > 0.0) || !std::isfinite(seconds))
        return QStringLiteral("--");
    if (seconds < sampleInterval)
        return QStringLiteral("< ") + Engineering(sampleInterval, QStringLiteral("s"), 3, false);
    return Engineering(seconds, QStringLiteral("s"), 3, false);
}

QString DutyText(double duty) {
    if (!std::isfinite(duty)) return QStringLiteral("--");
    return QString::number(duty * 100.0, 'f', 1) + QStringLiteral(" %");
}

QString SampleRateText(double hz) {
    return Engineering(hz, QStringLiteral("S/s"), 4, true);
}

QString VoltsText(double volts, double step, const QString& unit) {
    if (!std::isfinite(volts)) return QStringLiteral("-- ") + unit;
    const bool stepKnown = step > 0.0 && std::isfinite(step);
    const int stepExponent = stepKnown ? Decade(step) : 0;
    // The exponent of the last digit: the fourth significant one, not below the step's decade.
    auto lastDigit = [&](double magnitude) {
        int last = magnitude > 0.0 ? Decade(magnitude) - 3 : stepExponent;
        if (stepKnown) last = std::max(last, stepExponent);
        return std::clamp(last, -12, 12);
    };
    auto roundTo = [](double magnitude, int last) {
        const double scale = std::pow(10.0, -last);
        return std::round(magnitude * scale) / scale;
    };
    const double magnitude = std::fabs(volts);
    int last = lastDigit(magnitude);
    double rounded = roundTo(magnitude, last);
    // Rounding may have added a digit in front (9.9996 -> 10.000): one digit less then.
    if (rounded > 0.0 && lastDigit(rounded) > last) {
        last = lastDigit(rounded);
        rounded = roundTo(magnitude, last);
    }
    const QString number = QString::number(rounded, 'f', std::max(0, -last));
    // No sign on a value that rounds to 0.
    return (volts < 0 && rounded > 0.0 ? QStringLiteral("-") : QString()) + number +
           QLatin1Char(' ') + unit;
}

}  // namespace rv8::kurvo
