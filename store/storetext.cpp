#include "store/storetext.h"

namespace qf {

namespace {

// The locale's short time form, with seconds added after the minutes when
// the form has none ("h:mm AP" -> "h:mm:ss AP").
QString timeFormatWithSeconds(const QLocale &locale)
{
    QString format = locale.timeFormat(QLocale::ShortFormat);
    if (format.contains(QLatin1Char('s')))
        return format;
    const qsizetype minutes = format.indexOf(QLatin1String("mm"));
    if (minutes < 0)
        return locale.timeFormat(QLocale::LongFormat);
    const QChar separator = minutes > 0 ? format.at(minutes - 1) : QLatin1Char(':');
    format.insert(minutes + 2, QString(separator) + QLatin1String("ss"));
    return format;
}

int digits(const QString &text, qsizetype from, qsizetype count, bool &ok)
{
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        const QChar c = text.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            ok = false;
            return 0;
        }
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

} // namespace

QString dateTimeText(const QDateTime &dateTime, const QLocale &locale)
{
    return locale.toString(dateTime, locale.dateFormat(QLocale::ShortFormat) + QLatin1Char(' ') +
                                         timeFormatWithSeconds(locale));
}

QString valueText(const QVariant &value, const QLocale &locale)
{
    if (value.isNull())
        return {};
    QLocale numbers = locale;
    numbers.setNumberOptions(numbers.numberOptions() | QLocale::OmitGroupSeparator);
    switch (value.typeId()) {
    case QMetaType::QDateTime:
        return dateTimeText(value.toDateTime(), locale);
    case QMetaType::Double:
    case QMetaType::Float:
        return numbers.toString(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return numbers.toString(value.toLongLong());
    case QMetaType::QByteArray:
        return QString::fromUtf8(value.toByteArray());
    default:
        return value.toString();
    }
}

QString storedDateTime(const QDateTime &dateTime)
{
    return dateTime.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QDateTime parseStoredDateTime(const QString &text)
{
    // 'YYYY-MM-DD HH:MM:SS', read by hand: it is called for every shown row.
    if (text.size() != 19 || text.at(4) != QLatin1Char('-') || text.at(7) != QLatin1Char('-') ||
        (text.at(10) != QLatin1Char(' ') && text.at(10) != QLatin1Char('T')) ||
        text.at(13) != QLatin1Char(':') || text.at(16) != QLatin1Char(':'))
        return {};
    bool ok = true;
    const QDate date(digits(text, 0, 4, ok), digits(text, 5, 2, ok), digits(text, 8, 2, ok));
    const QTime time(digits(text, 11, 2, ok), digits(text, 14, 2, ok), digits(text, 17, 2, ok));
    if (!ok || !date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time, Qt::LocalTime);
}

} // namespace qf
