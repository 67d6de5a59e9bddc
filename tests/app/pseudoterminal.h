#pragma once

#include <QByteArray>
#include <QSocketNotifier>
#include <QString>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <memory>

// The device end of a pseudo-terminal: the station opens the other end as
// its serial port. Everything the station sends collects in received().
// The test keeps the port end open too, so that the line stays up while the
// station closes and reopens it.
class PseudoTerminal {
public:
    PseudoTerminal()
    {
        if (::openpty(&m_device, &m_port, nullptr, nullptr, nullptr) != 0)
            return;
        termios raw{};
        ::tcgetattr(m_port, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(m_port, TCSANOW, &raw);
        ::fcntl(m_device, F_SETFL, ::fcntl(m_device, F_GETFL) | O_NONBLOCK);
        m_portPath = QString::fromLocal8Bit(::ptsname(m_device));
        m_notifier = std::make_unique<QSocketNotifier>(m_device, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { readWaiting(); });
    }
    ~PseudoTerminal()
    {
        m_notifier.reset();
        if (m_device >= 0)
            ::close(m_device);
        if (m_port >= 0)
            ::close(m_port);
    }
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isOpen() const { return m_device >= 0; }
    const QString &portPath() const { return m_portPath; }

    bool send(const QByteArray &bytes)
    {
        return ::write(m_device, bytes.constData(), bytes.size()) == bytes.size();
    }
    const QByteArray &received() const { return m_received; }
    void clearReceived() { m_received.clear(); }

private:
    void readWaiting()
    {
        char buffer[512];
        ssize_t n = 0;
        while ((n = ::read(m_device, buffer, sizeof buffer)) > 0)
            m_received.append(buffer, n);
    }

    int m_device = -1;
    int m_port = -1;
    QString m_portPath;
    QByteArray m_received;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
