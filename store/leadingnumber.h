#pragma once

#include <QString>

#include <optional>

namespace qf {

// The number a text starts with, as the store keeps a sensor reading.
//
// Blanks, tabs and line feeds are skipped wherever they stand. Then an
// optional sign, digits, at most one period as the decimal separator
// (whatever the locale) and an optional exponent (E or D, an optional sign,
// digits) are read, up to the first character that cannot continue the
// number. "&H" and "&O" introduce a hexadecimal or octal whole number. A text
// in which no number starts gives 0, and so does a number too small for a
// double. A number too large for a double (line noise such as "1E999") has
// no value: nullopt, never an error, so that it cannot cost the frame.
std::optional<double> leadingNumber(const QString &text);

} // namespace qf
