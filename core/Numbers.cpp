#include "core/Numbers.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace rv8 {

namespace {

bool IsIgnorable(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}
bool IsDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// from_chars reports out-of-range for both overflow and underflow; tell them apart by the
// decimal magnitude of the first significant digit plus the exponent.
double OutOfRange(const std::string& mantissaDigits, long long exponent, bool negative) {
    const std::size_t firstNonZero = mantissaDigits.find_first_not_of("0.");
    if (firstNonZero == std::string::npos) return negative ? -0.0 : 0.0;
    const std::size_t pointPos = mantissaDigits.find('.');
    const long long digitsBefore = pointPos == std::string::npos
                                       ? static_cast<long long>(mantissaDigits.size())
                                       : static_cast<long long>(pointPos);
    const long long first = static_cast<long long>(firstNonZero);
    const long long magnitude =
        first < digitsBefore ? digitsBefore - first : digitsBefore + 1 - first;
    const double inf = std::numeric_limits<double>::infinity();
    if (magnitude + exponent > 0) return negative ? -inf : inf;
    return negative ? -0.0 : 0.0;
}

// Formats with up to 15 significant digits in the shortest of fixed and exponent notation,
// independent of the locale. Returns digits without a sign.
std::string FormatMagnitude(double a) {
    if (std::isnan(a)) return "NaN";
    if (std::isinf(a)) return "Inf";
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::general, 15);
    std::string s(buf, res.ptr);
    std::size_t e = s.find('e');
    if (e != std::string::npos) {
        // to_chars writes e+20 / e-08; we write E+20 / E-08.
        s[e] = 'E';
    }
    return s;
}

}  // namespace

double TextToNumber(const QString& text) {
    // Gather the characters of the leading number, skipping ignorable blanks.
    std::string number;
    std::string mantissa;
    bool negative = false;
    bool haveDigits = false;
    bool havePoint = false;
    enum class State { Start, Mantissa, ExpStart, ExpSign, ExpDigits } state = State::Start;
    std::string expPart;
    for (QChar c : text) {
        if (IsIgnorable(c)) continue;
        if (state == State::Start) {
            state = State::Mantissa;
            if (c == u'+' || c == u'-') {
                negative = c == u'-';
                continue;
            }
        }
        if (state == State::Mantissa) {
            if (IsDigit(c)) {
                mantissa.push_back(static_cast<char>(c.unicode()));
                haveDigits = true;
                continue;
            }
            if (c == u'.' && !havePoint) {
                mantissa.push_back('.');
                havePoint = true;
                continue;
            }
            if ((c == u'e' || c == u'E') && haveDigits) {
                state = State::ExpStart;
                continue;
            }
            break;
        }
        if (state == State::ExpStart) {
            if (c == u'+' || c == u'-') {
                expPart.push_back(static_cast<char>(c.unicode()));
                state = State::ExpSign;
                continue;
            }
            if (IsDigit(c)) {
                if (c != u'0') expPart.push_back(static_cast<char>(c.unicode()));
                state = State::ExpDigits;
                continue;
            }
            break;
        }
        if (state == State::ExpSign || state == State::ExpDigits) {
            if (IsDigit(c)) {
                // Keep the exponent bounded: beyond 6 digits the result is 0 or infinite anyway.
                // Leading zeros carry no magnitude and must not use up the digits kept.
                const bool leadingZero =
                    c == u'0' && expPart.find_first_not_of("+-0") == std::string::npos;
                if (!leadingZero && expPart.size() < 9)
                    expPart.push_back(static_cast<char>(c.unicode()));
                state = State::ExpDigits;
                continue;
            }
            break;
        }
    }
    if (!haveDigits) return 0.0;
    long long exponent = 0;
    if (state == State::ExpDigits) {
        // Only zeros after the E (and its sign) leave no digit behind: the exponent is 0.
        if (expPart.find_first_not_of("+-") != std::string::npos) exponent = std::stoll(expPart);
    }
    number = mantissa;
    if (number.front() == '.') number.insert(number.begin(), '0');
    if (state == State::ExpDigits) {
        // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) about the string
        // concatenation "e" + std::to_string(exponent).
        char digits[24];
        const auto written = std::to_chars(digits, digits + sizeof digits, exponent);
        number.push_back('e');
        number.append(digits, written.ptr);
    }
    double value = 0.0;
    auto res = std::from_chars(number.data(), number.data() + number.size(), value,
                               std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        return OutOfRange(mantissa, exponent, negative);
    }
    if (res.ec != std::errc()) return 0.0;
    return negative ? -value : value;
}

int32_t RoundToI32(double v) {
    if (std::isnan(v)) return 0;
    const double r = std::nearbyint(v);  // default rounding mode: halves to even
    if (r >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (r <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(r);
}

int16_t RoundToI16(double v) {
    if (std::isnan(v)) return 0;
    const double r = std::nearbyint(v);
    if (r >= 32767.0) return 32767;
    if (r <= -32768.0) return -32768;
    return static_cast<int16_t>(r);
}

double Round3(double x) {
    if (!std::isfinite(x)) return x;
    const double scaled = x * 1000.0;
    if (!std::isfinite(scaled) || std::fabs(scaled) >= 4503599627370496.0) return x;  // 2^52
    return std::nearbyint(scaled) / 1000.0;
}

QString FormatSignSpace(double v) {
    const bool negative = v < 0;
    std::string s = FormatMagnitude(std::fabs(v));
    if (s.size() > 1 && s[0] == '0' && s[1] == '.') s.erase(0, 1);
    return QString::fromLatin1((negative ? "-" : " ") + s);
}

QString FormatPlain(double v) {
    const bool negative = v < 0;
    std::string s = FormatMagnitude(std::fabs(v));
    return QString::fromLatin1((negative ? "-" : "") + s);
}

QString FormatZeroPattern(double v) {
    if (!std::isfinite(v)) return FormatPlain(v);
    const double r = std::round(v);  // halves away from zero
    if (r == 0) return QStringLiteral("0");
    char buf[400];
    auto res = std::to_chars(buf, buf + sizeof buf, r, std::chars_format::fixed, 0);
    return QString::fromLatin1(buf, static_cast<int>(res.ptr - buf));
}

QString FormatVolts(double v, const QLocale& locale) {
    // Only the decimal separator comes from the locale: digits and the minus sign stay ASCII, as
    // everywhere else in the window (a locale's own digits, minus sign or direction marks would
    // make the labels unlike every box beside them).
    if (!std::isfinite(v)) return QLocale::c().toString(v) + QStringLiteral(" V");
    // Halves away from zero at two decimals, then drop a sign that only rounding left.
    double r = std::round(v * 100.0) / 100.0;
    if (!std::isfinite(r)) r = v;
    if (r == 0) r = 0.0;
    char buf[400];  // the largest double has 309 digits before the point
    const auto res = std::to_chars(buf, buf + sizeof buf, r, std::chars_format::fixed, 2);
    QString text = QString::fromLatin1(buf, static_cast<int>(res.ptr - buf));
    text.replace(QLatin1Char('.'), locale.decimalPoint());
    return text + QStringLiteral(" V");
}

}  // namespace rv8
