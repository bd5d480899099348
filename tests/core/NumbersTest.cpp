#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "core/Numbers.h"
#include "core/Samples.h"

namespace rv8 {
namespace {

struct TextCase {
    const char* name;
    QString text;
    double expected;
};

class TextToNumberTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextToNumberTest, ReadsTheLeadingNumber) {
    const TextCase& c = GetParam();
    const double got = TextToNumber(c.text);
    if (std::isinf(c.expected)) {
        EXPECT_EQ(got, c.expected);
    } else {
        EXPECT_DOUBLE_EQ(got, c.expected) << c.text.toStdString();
    }
}

const double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Table, TextToNumberTest,
    ::testing::Values(TextCase{"Volts", "12.5 V", 12.5}, TextCase{"Letters", "abc", 0},
                      TextCase{"Exponent", "2.5e3", 2500}, TextCase{"UpperExponent", "2.5E3", 2500},
                      TextCase{"InnerBlank", "1 000", 1000}, TextCase{"SignSpace", " 50000", 50000},
                      TextCase{"LeadingPoint", " .025", 0.025}, TextCase{"Negative", "-40", -40},
                      TextCase{"Tabs", "\t1\n2", 12}, TextCase{"Empty", "", 0},
                      TextCase{"Blanks", "   ", 0}, TextCase{"LonePoint", ".", 0},
                      TextCase{"LoneSign", "-", 0}, TextCase{"ExpOnly", "e5", 0},
                      TextCase{"DoubleSign", "+-1", 0}, TextCase{"SecondPoint", "1.2.3", 1.2},
                      TextCase{"DanglingExp", "7e", 7}, TextCase{"DanglingExpSign", "7e-", 7},
                      TextCase{"NegExp", "5e-1", 0.5}, TextCase{"Huge", "1e400", kInf},
                      TextCase{"HugeNeg", "-1e400", -kInf}, TextCase{"Tiny", "1e-400", 0},
                      TextCase{"ManyDigitsTimesTiny", "123456e-400", 0},
                      TextCase{"NaNText", "NaN", 0}, TextCase{"InfText", "Inf", 0},
                      TextCase{"ArabicIndicDigits", QString::fromUtf8("\u0661\u0662"), 0},
                      TextCase{"Comma", "12,5", 12}, TextCase{"HalfLeadingZeros", "0007.5", 7.5},
                      TextCase{"HugeExponentDigits", "1e99999999999999", kInf},
                      // Leading zeros of the exponent count for nothing, however many.
                      TextCase{"ExponentLeadingZeros", "1e0000000005", 1e5},
                      TextCase{"NegExponentLeadingZeros", "1e-00000000001", 0.1},
                      TextCase{"ExponentAllZeros", "3e-000000000000", 3},
                      TextCase{"ExponentZerosThenHuge", "1e0000000000400", kInf}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TextToNumber, LongInputsStayBounded) {
    EXPECT_EQ(TextToNumber(QString(10000, QLatin1Char('9'))), kInf);
    EXPECT_DOUBLE_EQ(TextToNumber(QStringLiteral("1") + QString(1 << 20, QLatin1Char('0'))), kInf);
    EXPECT_EQ(TextToNumber(QString(1 << 20, QLatin1Char('x'))), 0);
}

struct RoundCase {
    double in;
    int32_t i32;
    int16_t i16;
};

TEST(Rounding, HalvesGoToTheEvenNeighbourAndRangesSaturate) {
    const RoundCase cases[] = {
        {2.5, 2, 2},
        {3.5, 4, 4},
        {-2.5, -2, -2},
        {12.5, 12, 12},
        {13.5, 14, 14},
        {0.4999, 0, 0},
        {253.90625, 254, 254},
        {40000, 40000, 32767},
        {-40000, -40000, -32768},
        {32767.5, 32768, 32767},
        {2147483647.5, 2147483647, 32767},
        {3e9, 2147483647, 32767},
        {-3e9, -2147483647 - 1, -32768},
        {kInf, 2147483647, 32767},
        {-kInf, -2147483647 - 1, -32768},
        {std::nan(""), 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RoundToI32(c.in), c.i32) << c.in;
        EXPECT_EQ(RoundToI16(c.in), c.i16) << c.in;
    }
}

TEST(Rounding, ThreeDecimalsTieToEven) {
    EXPECT_DOUBLE_EQ(Round3(0.1234), 0.123);
    EXPECT_DOUBLE_EQ(Round3(0.0625), 0.062);  // exact binary tie
    EXPECT_DOUBLE_EQ(Round3(-0.0625), -0.062);
    EXPECT_DOUBLE_EQ(Round3(3.9), 3.9);
    EXPECT_TRUE(std::isnan(Round3(std::nan(""))));
    EXPECT_EQ(Round3(1e300), 1e300);
}

struct FormatCase {
    double v;
    const char* signSpace;
    const char* plain;
};

TEST(Formats, SignSpaceAndPlain) {
    const FormatCase cases[] = {
        {0, " 0", "0"},
        {50000, " 50000", "50000"},
        {0.025, " .025", "0.025"},
        {0.2, " .2", "0.2"},
        {80, " 80", "80"},
        {10, " 10", "10"},
        {-4, "-4", "-4"},
        {-0.4, "-.4", "-0.4"},
        {50000.5, " 50000.5", "50000.5"},
        {2008, " 2008", "2008"},
        {1.0 / 3.0, " .333333333333333", "0.333333333333333"},
        {123456789012345.0, " 123456789012345", "123456789012345"},
        {1e20, " 1E+20", "1E+20"},
        {-0.0, " 0", "0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatSignSpace(c.v).toStdString(), c.signSpace) << c.v;
        EXPECT_EQ(FormatPlain(c.v).toStdString(), c.plain) << c.v;
    }
}

TEST(Formats, ZeroPatternRoundsHalvesAwayFromZero) {
    EXPECT_EQ(FormatZeroPattern(6172.5), "6173");
    EXPECT_EQ(FormatZeroPattern(50000), "50000");
    EXPECT_EQ(FormatZeroPattern(0.5), "1");
    EXPECT_EQ(FormatZeroPattern(-0.5), "-1");
    EXPECT_EQ(FormatZeroPattern(0.4), "0");
    EXPECT_EQ(FormatZeroPattern(1073741823.5), "1073741824");
}

TEST(Formats, VoltsUseTheLocaleSeparator) {
    const QLocale c(QLocale::C);
    const QLocale de(QLocale::German, QLocale::Germany);
    EXPECT_EQ(FormatVolts(4, c), "4.00 V");
    EXPECT_EQ(FormatVolts(-4, c), "-4.00 V");
    EXPECT_EQ(FormatVolts(0.4, de), "0,40 V");
    EXPECT_EQ(FormatVolts(1234.5, de), "1234,50 V");
    EXPECT_EQ(FormatVolts(0.125, c), "0.13 V");
    EXPECT_EQ(FormatVolts(-0.001, c), "0.00 V");
}

// Only the decimal separator follows the locale: locales whose own number format has a U+2212
// minus sign, native digits or direction marks still read "-4,00 V" / "-4.00 V".
struct VoltsLocaleCase {
    const char* locale;
    const char* separator;  // UTF-8
};
void PrintTo(const VoltsLocaleCase& c, std::ostream* os) {
    *os << c.locale;
}

class VoltsInLocale : public ::testing::TestWithParam<VoltsLocaleCase> {};

TEST_P(VoltsInLocale, AsciiDigitsAndMinusWithTheLocalesSeparator) {
    const VoltsLocaleCase& c = GetParam();
    const QLocale locale(QString::fromLatin1(c.locale));
    const QString sep = QString::fromUtf8(c.separator);
    ASSERT_EQ(locale.decimalPoint(), sep) << "the table's separator for " << c.locale;
    const struct {
        double v;
        const char* text;  // with '.' standing for the locale's separator
    } values[] = {
        {4, "4.00 V"},       {-4, "-4.00 V"},       {-0.8, "-0.80 V"},           {0.125, "0.13 V"},
        {-0.125, "-0.13 V"}, {1234.5, "1234.50 V"}, {-5242880, "-5242880.00 V"}, {-0.001, "0.00 V"},
        {0, "0.00 V"}};
    for (const auto& v : values) {
        const QString expected = QString::fromLatin1(v.text).replace(QLatin1Char('.'), sep);
        EXPECT_EQ(FormatVolts(v.v, locale), expected) << c.locale << " " << v.v;
    }
    EXPECT_EQ(FormatVolts(-kInf, locale), "-inf V") << c.locale;
}

INSTANTIATE_TEST_SUITE_P(
    Locales, VoltsInLocale,
    ::testing::Values(VoltsLocaleCase{"en_US", "."}, VoltsLocaleCase{"de_DE", ","},
                      VoltsLocaleCase{"C", "."}, VoltsLocaleCase{"sv_SE", ","},  // U+2212 minus
                      VoltsLocaleCase{"nb_NO", ","}, VoltsLocaleCase{"fi_FI", ","},
                      // Arabic-Indic digits, U+066B, direction marks
                      VoltsLocaleCase{"ar_EG", "\u066B"}, VoltsLocaleCase{"fa_IR", "\u066B"},
                      // native digits
                      VoltsLocaleCase{"bn_BD", "."}, VoltsLocaleCase{"mr_IN", "."},
                      VoltsLocaleCase{"my_MM", "."}),
    [](const auto& info) { return std::string(info.param.locale); });

TEST(Samples, RawToSignedInvertsBit15) {
    EXPECT_EQ(RawToSigned(0), -32768);
    EXPECT_EQ(RawToSigned(32767), -1);
    EXPECT_EQ(RawToSigned(32768), 0);
    EXPECT_EQ(RawToSigned(65535), 32767);
}

TEST(Samples, MaskClearsTheTwoLowestBits) {
    int16_t v[] = {-1, 5, 32767, 0, -32768, 3, 4};
    MaskLowBits(v, 7);
    const int16_t expected[] = {-4, 4, 32764, 0, -32768, 0, 4};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(v[i], expected[i]) << i;
}

}  // namespace
}  // namespace rv8

namespace rv8 {
namespace {

// The vector path and the leftover loop must agree with the one-sample rule for every length.
TEST(Samples, InterleaveAndMaskAgreeWithTheSampleRuleForEveryLength) {
    for (std::size_t frames = 0; frames <= 40; ++frames) {
        std::vector<uint16_t> ch1(frames), ch2(frames);
        for (std::size_t i = 0; i < frames; ++i) {
            ch1[i] = static_cast<uint16_t>(i * 4099u + 3);
            ch2[i] = static_cast<uint16_t>(65535u - i * 977u);
        }
        std::vector<int16_t> block(2 * frames + 1, 77);
        InterleaveRaw(ch1.data(), ch2.data(), block.data(), frames);
        MaskLowBits(block.data(), 2 * frames);
        for (std::size_t i = 0; i < frames; ++i) {
            ASSERT_EQ(block[2 * i], static_cast<int16_t>(RawToSigned(ch1[i]) & ~3)) << frames;
            ASSERT_EQ(block[2 * i + 1], static_cast<int16_t>(RawToSigned(ch2[i]) & ~3)) << frames;
        }
        EXPECT_EQ(block[2 * frames], 77) << "wrote past the block for " << frames;
    }
}

}  // namespace
}  // namespace rv8
