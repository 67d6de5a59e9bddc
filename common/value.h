#pragma once

#include <QObject>
#include <QString>

namespace qf {

// Named values of the window that double as the station's state (the parser's
// working texts, the sensor captions, enabled flags). The logic reads and
// writes them without any widget; the window binds its widgets to them.
class TextValue : public QObject {
    Q_OBJECT
public:
    explicit TextValue(QString text = {}, QObject *parent = nullptr)
        : QObject(parent), m_text(std::move(text))
    {
    }

    const QString &text() const { return m_text; }
    void setText(const QString &text)
    {
        if (text == m_text)
            return;
        m_text = text;
        Q_EMIT changed(m_text);
    }

Q_SIGNALS:
    void changed(const QString &text);

private:
    QString m_text;
};

class FlagValue : public QObject {
    Q_OBJECT
public:
    explicit FlagValue(bool on = true, QObject *parent = nullptr) : QObject(parent), m_on(on) {}

    bool isOn() const { return m_on; }
    void set(bool on)
    {
        if (on == m_on)
            return;
        m_on = on;
        Q_EMIT changed(m_on);
    }

Q_SIGNALS:
    void changed(bool on);

private:
    bool m_on = true;
};

} // namespace qf
