// Fuzzes the number rules of the boxes and labels (core/Numbers.h). The first byte chooses what
// the rest is: text for TextToNumber, or a double for the formats and the rounding helpers.
//
// Checks, besides "no crash and no undefined behaviour":
// - TextToNumber equals the correctly rounded value (strtod) of the leading number that the
//   documented rule picks out of the text, and is never NaN;
// - every format reads back: TextToNumber(FormatPlain(x)) and TextToNumber(FormatSignSpace(x))
//   give x rounded to 15 significant digits, FormatZeroPattern gives x rounded half away from
//   zero, FormatVolts gives x rounded to 2 decimals;
// - RoundToI32 / RoundToI16 give the nearest whole number (halves to even), limited to the
//   type's range, 0 for NaN; Round3 stays within half a thousandth.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include <QLocale>
#include <QString>

#include "core/Numbers.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "FAILED: %s: %s\n", what, detail.c_str());
    std::abort();
}

// The leading number of `text` by the documented rule, as plain ASCII for strtod.
std::string LeadingNumber(const QString& text) {
    std::string s;
    for (QChar c : text) {
        if (c == u' ' || c == u'\t' || c == u'\n') continue;
        s.push_back(c.unicode() < 128 ? static_cast<char>(c.unicode()) : '\x01');
    }
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    const std::size_t mantissaStart = i;
    std::size_t digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
        ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9')
            ++i, ++digits;
    }
    if (digits == 0) return "0";
    (void)mantissaStart;
    std::size_t end = i;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        const std::size_t expDigits = j;
        while (j < s.size() && s[j] >= '0' && s[j] <= '9')
            ++j;
        if (j > expDigits) end = j;
    }
    return s.substr(0, end);
}

bool Same(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

std::string Show(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

double Rounded15(double x) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", x);
    return std::strtod(buf, nullptr);
}

// Nearest whole number, halves to even, computed without the rounding mode.
double NearestEven(double x) {
    const double f = std::floor(x);
    const double d = x - f;
    if (d > 0.5) return f + 1;
    if (d < 0.5) return f;
    return std::fmod(f, 2.0) == 0 ? f : f + 1;
}

void CheckText(const QString& text) {
    const double v = rv8::TextToNumber(text);
    if (std::isnan(v)) Fail("TextToNumber gave NaN", text.left(200).toStdString());
    const std::string lead = LeadingNumber(text);
    const double expected = std::strtod(lead.c_str(), nullptr);
    if (!Same(v, expected)) {
        Fail("TextToNumber",
             lead.substr(0, 200) + " gave " + Show(v) + ", expected " + Show(expected));
    }
    (void)rv8::FormatPlain(v);
    (void)rv8::RoundToI32(v);
}

void CheckDouble(double x) {
    const QString plain = rv8::FormatPlain(x);
    const QString signSpace = rv8::FormatSignSpace(x);
    for (const QString& s : {plain, signSpace}) {
        for (QChar c : s)
            if (c.unicode() >= 128 || c == u',') Fail("format character", s.toStdString());
    }
    if (std::isfinite(x)) {
        const double want = Rounded15(x);
        const double gotPlain = rv8::TextToNumber(plain);
        const double gotSign = rv8::TextToNumber(signSpace);
        if (!Same(gotPlain, want))
            Fail("FormatPlain round trip", plain.toStdString() + " for " + Show(x));
        if (!Same(gotSign, want))
            Fail("FormatSignSpace round trip", signSpace.toStdString() + " for " + Show(x));
        if (signSpace[0] != u' ' && signSpace[0] != u'-')
            Fail("sign position", signSpace.toStdString());
        if (std::fabs(x) < 1 && x != 0 && !signSpace.contains(u'E') && signSpace[1] == u'0')
            Fail("zero before the point", signSpace.toStdString());

        const QString zero = rv8::FormatZeroPattern(x);
        if (!Same(rv8::TextToNumber(zero), std::round(x)))
            Fail("FormatZeroPattern", zero.left(100).toStdString() + " for " + Show(x));

        const QString volts = rv8::FormatVolts(x, QLocale::c());
        if (!volts.endsWith(QStringLiteral(" V"))) Fail("FormatVolts unit", volts.toStdString());
        if (std::fabs(x) < 1e13) {
            double want2 = std::round(x * 100.0) / 100.0;
            if (want2 == 0) want2 = 0.0;
            if (!Same(rv8::TextToNumber(volts), want2))
                Fail("FormatVolts", volts.toStdString() + " for " + Show(x));
        }
        const double r3 = rv8::Round3(x);
        if (std::fabs(x) < 1e12 && !(std::fabs(r3 - x) <= 0.0005 + 1e-12 * std::fabs(x)))
            Fail("Round3", Show(r3) + " for " + Show(x));
    } else {
        (void)rv8::FormatZeroPattern(x);
        (void)rv8::FormatVolts(x, QLocale::c());
        if (!Same(rv8::Round3(x), x)) Fail("Round3 of a non-finite value", Show(x));
    }

    const int32_t i32 = rv8::RoundToI32(x);
    const int16_t i16 = rv8::RoundToI16(x);
    if (std::isnan(x)) {
        if (i32 != 0 || i16 != 0) Fail("rounding NaN", "not 0");
    } else {
        const double n = std::isfinite(x) ? NearestEven(x) : x;
        const double want32 = std::fmin(std::fmax(n, -2147483648.0), 2147483647.0);
        const double want16 = std::fmin(std::fmax(n, -32768.0), 32767.0);
        if (i32 != want32) Fail("RoundToI32", Show(x) + " gave " + std::to_string(i32));
        if (i16 != want16) Fail("RoundToI16", Show(x) + " gave " + std::to_string(i16));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0] % 4;
    ++data;
    --size;
    switch (mode) {
        case 0:  // UTF-8 text, as typed or pasted
            CheckText(QString::fromUtf8(reinterpret_cast<const char*>(data),
                                        static_cast<qsizetype>(size)));
            break;
        case 1:  // raw UTF-16, including lone surrogates and control characters
            CheckText(
                QString(reinterpret_cast<const QChar*>(data), static_cast<qsizetype>(size / 2)));
            break;
        case 2: {  // doubles, 8 bytes each
            for (std::size_t i = 0; i + 8 <= size; i += 8) {
                double x;
                std::memcpy(&x, data + i, 8);
                CheckDouble(x);
            }
            break;
        }
        default: {  // the text's number, formatted and read back
            const double v = rv8::TextToNumber(QString::fromLatin1(
                reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
            CheckDouble(v);
            CheckDouble(v / 3);
            break;
        }
    }
    return 0;
}
