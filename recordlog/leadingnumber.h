#pragma once

#include <QString>

// The number a text starts with, as the store keeps a sensor reading.
//
// Blanks, tabs and line feeds are skipped wherever they stand. Then an
// optional sign, digits, at most one period as the decimal separator
// (whatever the locale) and an optional exponent (E or D, an optional sign,
// digits) are read, up to the first character that cannot continue the
// number. "&H" and "&O" introduce a hexadecimal or octal whole number. A text
// in which no number starts gives 0. A number beyond the range of a double
// raises ErrorCode::Overflow.
double leadingNumber(const QString &text);
