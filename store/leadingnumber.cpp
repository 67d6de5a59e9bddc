#include "store/leadingnumber.h"

#include <charconv>
#include <cmath>
#include <string>

namespace qf {

namespace {

bool isSkipped(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

std::optional<double> wholeNumber(const QString &digits, int base)
{
    double value = 0;
    for (const QChar c : digits) {
        const QChar upper = c.toUpper();
        int digit = 0;
        if (isDigit(c))
            digit = c.unicode() - '0';
        else if (upper >= QLatin1Char('A') && upper <= QLatin1Char('F'))
            digit = 10 + (upper.unicode() - 'A');
        else
            break;
        if (digit >= base)
            break;
        value = value * base + digit;
    }
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

std::optional<double> leadingNumber(const QString &text)
{
    QString s;
    s.reserve(text.size());
    for (const QChar c : text) {
        if (!isSkipped(c))
            s.append(c);
    }

    if (s.size() >= 2 && s.at(0) == QLatin1Char('&')) {
        const QChar prefix = s.at(1).toUpper();
        if (prefix == QLatin1Char('H'))
            return wholeNumber(s.mid(2), 16);
        if (prefix == QLatin1Char('O'))
            return wholeNumber(s.mid(2), 8);
        return 0;
    }

    // Collect the longest prefix that forms a number, in C form.
    std::string number;
    qsizetype i = 0;
    if (i < s.size() && (s.at(i) == QLatin1Char('+') || s.at(i) == QLatin1Char('-'))) {
        if (s.at(i) == QLatin1Char('-'))
            number += '-';
        ++i;
    }
    int mantissaDigits = 0;
    int integerDigits = 0; // significant digits before the period
    bool period = false;
    for (; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (isDigit(c)) {
            number += char(c.unicode());
            ++mantissaDigits;
            if (!period && (integerDigits > 0 || c != QLatin1Char('0')))
                ++integerDigits;
        } else if (c == QLatin1Char('.') && !period) {
            number += '.';
            period = true;
        } else {
            break;
        }
    }
    if (mantissaDigits == 0)
        return 0;

    long long exponent = 0;
    if (i < s.size() && QStringLiteral("EeDd").contains(s.at(i))) {
        qsizetype j = i + 1;
        bool negative = false;
        if (j < s.size() && (s.at(j) == QLatin1Char('+') || s.at(j) == QLatin1Char('-')))
            negative = s.at(j++) == QLatin1Char('-');
        const qsizetype digitsStart = j;
        for (; j < s.size() && isDigit(s.at(j)); ++j)
            exponent = std::min<long long>(exponent * 10 + s.at(j).digitValue(), 100000);
        if (j > digitsStart) {
            if (negative)
                exponent = -exponent;
            number += 'e';
            number += std::to_string(exponent);
        } else {
            exponent = 0; // an exponent letter without digits is not part of the number
        }
    }

    double value = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    Q_UNUSED(end);
    if (ec == std::errc::result_out_of_range) {
        // Beyond the range: too large has no value, too small is zero.
        if (integerDigits + exponent > 0)
            return std::nullopt;
        return number.front() == '-' ? -0.0 : 0.0;
    }
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace qf
