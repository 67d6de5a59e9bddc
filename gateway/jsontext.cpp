#include "gateway/jsontext.h"

#include <QLocale>

#include <cmath>

namespace qf {

QByteArray jsonString(std::string_view utf8)
{
    return jsonString(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
}

QByteArray jsonString(const QString &text)
{
    static constexpr char Hex[] = "0123456789abcdef";
    static constexpr QByteArrayView LineSeparator("\xe2\x80\xa8");
    static constexpr QByteArrayView ParagraphSeparator("\xe2\x80\xa9");
    const QByteArray utf8 = text.toUtf8(); // valid UTF-8: a lone surrogate became U+FFFD
    QByteArray json;
    json.reserve(utf8.size() + 2);
    json += '"';
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const auto byte = uchar(utf8[i]);
        const QByteArrayView rest = QByteArrayView(utf8).sliced(i);
        if (byte == '"' || byte == '\\') {
            json += '\\';
            json += char(byte);
        } else if (byte < 0x20 || byte == 0x7f) {
            json += "\\u00";
            json += Hex[byte >> 4];
            json += Hex[byte & 0xf];
        } else if (rest.startsWith(LineSeparator) || rest.startsWith(ParagraphSeparator)) {
            // Line ends to some JSON readers (JavaScript before ES2019).
            json += rest.startsWith(LineSeparator) ? "\\u2028" : "\\u2029";
            i += LineSeparator.size() - 1;
        } else {
            json += char(byte);
        }
    }
    json += '"';
    return json;
}

QByteArray jsonNumber(std::optional<double> value)
{
    if (!value || !std::isfinite(*value))
        return QByteArrayLiteral("null");
    return QByteArray::number(*value, 'g', QLocale::FloatingPointShortest);
}

JsonObject &JsonObject::add(std::string_view key, const QByteArray &json)
{
    if (m_text.size() > 1)
        m_text += ',';
    m_text += jsonString(key);
    m_text += ':';
    m_text += json;
    return *this;
}

JsonObject &JsonObject::addString(std::string_view key, const std::optional<QString> &text)
{
    return add(key, text ? jsonString(*text) : QByteArrayLiteral("null"));
}

JsonObject &JsonObject::addInteger(std::string_view key, std::optional<qint64> value)
{
    return add(key, value ? QByteArray::number(*value) : QByteArrayLiteral("null"));
}

} // namespace qf
