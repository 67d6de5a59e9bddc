#pragma once

// JSON text written by hand, so that keys keep the order the messages
// promise. Every text from the store or the alarm journal is untrusted: it
// goes through jsonString, which escapes whatever it holds.

#include <QByteArray>
#include <QString>

#include <optional>
#include <string_view>

namespace qf {

// A JSON string literal, quotes included: quotes, backslashes and control
// characters escaped; bytes that are not UTF-8 read as U+FFFD.
QByteArray jsonString(std::string_view utf8);
QByteArray jsonString(const QString &text);
// A JSON number in its shortest form that reads back as the same double;
// null for no value, NaN or an infinity (JSON has none).
QByteArray jsonNumber(std::optional<double> value);

// Builds one JSON object, members in the order they are added.
class JsonObject {
public:
    JsonObject &add(std::string_view key, const QByteArray &json);
    JsonObject &addString(std::string_view key, const std::optional<QString> &text);
    JsonObject &addNumber(std::string_view key, std::optional<double> value)
    {
        return add(key, jsonNumber(value));
    }
    JsonObject &addInteger(std::string_view key, std::optional<qint64> value);
    QByteArray text() const { return m_text + '}'; }

private:
    QByteArray m_text = "{";
};

} // namespace qf
