#include "acquisition/linesettings.h"

#include "common/error.h"

#include <QStringList>

namespace qf {

std::optional<LineSettings> LineSettings::parse(const QString &text)
{
    const QStringList parts = text.split(u',');
    if (parts.size() != 4)
        return std::nullopt;
    LineSettings s;
    bool ok = false;
    s.baud = parts[0].trimmed().toInt(&ok);
    if (!ok || s.baud <= 0)
        return std::nullopt;
    const QString parity = parts[1].trimmed().toUpper();
    if (parity.size() != 1 || !QStringLiteral("NEOMS").contains(parity[0]))
        return std::nullopt;
    s.parity = parity[0];
    s.dataBits = parts[2].trimmed().toInt(&ok);
    if (!ok || s.dataBits < 5 || s.dataBits > 8)
        return std::nullopt;
    s.stopBits = parts[3].trimmed();
    if (s.stopBits != u"1" && s.stopBits != u"1.5" && s.stopBits != u"2")
        return std::nullopt;
    return s;
}

LineSettings LineSettings::parseOrThrow(const QString &text)
{
    if (auto s = parse(text))
        return *s;
    throw StationError(ErrorCode::InvalidSettings,
                       QStringLiteral("Invalid Settings \"%1\": expected baud,parity,data,stop such as "
                                      "\"9600,N,8,1\"")
                           .arg(text));
}

} // namespace qf
