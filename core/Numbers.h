// The number rules every box and label of the window shares: reading a box's text, rounding
// to whole numbers, and the text formats numbers are written in.
#pragma once

#include <cstdint>

#include <QLocale>
#include <QString>

namespace rv8 {

// Reads the leading number of a box's text. Never fails: blanks, tabs and line feeds anywhere
// are ignored; the longest leading number (sign, digits, one point as the decimal separator
// whatever the locale, optional exponent E[sign]digits) is taken and the rest ignored; text
// without a leading number gives 0. A number too large for a double gives +/-infinity, one too
// small gives 0. Never returns NaN.
double TextToNumber(const QString& text);

// Nearest whole number, halves to the even neighbour. Values beyond the target's range are
// limited to the range and NaN gives 0: converting them directly would be undefined behaviour.
int32_t RoundToI32(double v);
int16_t RoundToI16(double v);

// x rounded to 3 decimal places, a tie going to the even digit. Non-finite values pass through.
double Round3(double x);

// One space before a number that is not negative, "-" before a negative one; a point as the
// decimal separator; no zero before the point below 1 (" .025"); at most 15 significant
// digits; no trailing zeros; whole numbers without a point; no grouping. Very large or very
// small magnitudes use an exponent (" 1E+20").
QString FormatSignSpace(double v);

// As FormatSignSpace without the sign position and with a zero before the point ("0.025").
QString FormatPlain(double v);

// The display pattern "0": a whole number, halves rounded away from zero, no grouping.
QString FormatZeroPattern(double v);

// The display pattern "0.00 V": two decimals (halves away from zero), no grouping, then a blank
// and V. Only the decimal separator is the locale's: digits and the minus sign are ASCII.
QString FormatVolts(double v, const QLocale& locale = QLocale());

}  // namespace rv8
