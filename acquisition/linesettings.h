#pragma once

#include <QString>

#include <optional>

namespace qf {

// Line settings as the serial component takes them: "baud,parity,data,stop",
// for example "9600,N,8,1". Parity is one of N, E, O, M, S (either case);
// data bits 5..8; stop bits 1, 1.5 or 2.
// The station's line: 9600 baud, no parity, 8 data bits, 1 stop bit. Also
// the serial component's initial settings.
inline const QString defaultLineSettings = QStringLiteral("9600,N,8,1");

struct LineSettings {
    int baud = 9600;
    QChar parity = u'N';
    int dataBits = 8;
    QString stopBits = QStringLiteral("1");

    // The settings of the text, or nothing when the text is malformed.
    static std::optional<LineSettings> parse(const QString &text);
    // Parses or throws StationError ErrorCode::InvalidSettings.
    static LineSettings parseOrThrow(const QString &text);
};

} // namespace qf
