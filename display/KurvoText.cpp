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

QString SampleRateText(double hz) {
    return Engineering(hz, QStringLiteral("S/s"), 4, true);
}

QString VoltsNumber(double volts, double fullScale) {
    if (!std::isfinite(volts)) return QStringLiteral("--");
    double reference = std::fabs(volts);
    if (std::isfinite(fullScale)) reference = std::max(reference, std::fabs(fullScale) / 4.0);
    const int decimals = reference > 0.0 ? std::min(6, DecimalsFor(reference, 3)) : 2;
    QString text = QString::number(volts, 'f', decimals);
    // No sign on a value that rounds to zero.
    if (text.startsWith(QLatin1Char('-')) && std::all_of(text.begin() + 1, text.end(), [](QChar c) {
            return c == QLatin1Char('0') || c == QLatin1Char('.');
        }))
        text.remove(0, 1);
    return text;
}

}  // namespace rv8::kurvo
