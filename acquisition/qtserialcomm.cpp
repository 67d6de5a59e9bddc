#include "acquisition/qtserialcomm.h"

#include "acquisition/linesettings.h"
#include "acquisition/portnumber.h"
#include "acquisition/portpath.h"

#include <QFileInfo>
#include <QMetaObject>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#ifndef Q_OS_WIN
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#endif
#include <unistd.h>

namespace qf {

namespace {
QSerialPort::Parity toParity(QChar letter)
{
    switch (letter.unicode()) {
    case u'E':
        return QSerialPort::EvenParity;
    case u'O':
        return QSerialPort::OddParity;
    case u'M':
        return QSerialPort::MarkParity;
    case u'S':
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits toStopBits(const QString &text)
{
    if (text == u"2")
        return QSerialPort::TwoStop;
    if (text == u"1.5")
        return QSerialPort::OneAndHalfStop;
    return QSerialPort::OneStop;
}

#ifndef Q_OS_WIN
// Whether the device itself could be opened for reading and writing by this
// process, which tells a port held by another program from a device that
// this user may not use.
bool accessible(const QString &path)
{
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0;
}
#endif
} // namespace

QtSerialComm::QtSerialComm(QString appDir, QObject *parent) : SerialComm(parent), m_appDir(std::move(appDir))
{
    connect(&m_port, &QSerialPort::readyRead, this, &QtSerialComm::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialComm::onError);
}

QtSerialComm::~QtSerialComm()
{
    m_port.disconnect(this);
}

QString QtSerialComm::portPath(int port) const
{
    return commPortPath(m_appDir, port);
}

QString QtSerialComm::portName() const
{
    return QStringLiteral("COM%1").arg(m_commPort);
}

void QtSerialComm::setCommPort(int port)
{
    checkCommPort(port);
    m_commPort = port;
}

void QtSerialComm::setSettings(const QString &settings)
{
    LineSettings::parseOrThrow(settings);
    m_settings = settings;
}

void QtSerialComm::setInputLen(int length)
{
    if (length < 0 || length > 32767)
        throw StationError(ErrorCode::InvalidSettings, QStringLiteral("Invalid InputLen %1").arg(length));
    m_inputLen = length;
}

void QtSerialComm::setPortOpen(bool open)
{
    if (open)
        this->open();
    else
        close();
}

void QtSerialComm::close()
{
    m_lost = false;
    if (m_port.isOpen()) {
        // The last poll burst still waits in the write buffer: it answers a
        // character already handled, and the device would send that again.
        m_port.flush();
        m_port.close();
    }
}

void QtSerialComm::open()
{
    // A second open closes and reopens with the current port and settings.
    close();
    m_openedName = portName();
    openPath(portPath(m_commPort));
}

void QtSerialComm::reopen()
{
    if (m_path.isEmpty()) {
        open();
        return;
    }
    close();
    openPath(m_path);
}

void QtSerialComm::openPath(const QString &path)
{
    m_path = path;
    const LineSettings line = LineSettings::parseOrThrow(m_settings);
    // Named by the device the entry resolves to, QSerialPort's lock file
    // belongs to the device, not to one of its names.
    const QString device = QFileInfo(path).canonicalFilePath();
    m_port.setPortName(device.isEmpty() ? path : device);
    m_port.setReadBufferSize(ReadBufferLimit);
    m_port.setBaudRate(line.baud);
    m_port.setDataBits(QSerialPort::DataBits(line.dataBits));
    m_port.setParity(toParity(line.parity));
    m_port.setStopBits(toStopBits(line.stopBits));
    m_port.setFlowControl(QSerialPort::NoFlowControl);

    m_opening = true;
    const bool opened = m_port.open(QIODevice::ReadWrite);
    if (!opened) {
        m_opening = false;
        const auto error = m_port.error();
        const QString detail = m_port.errorString();
        m_port.clearError();
        throwOpenError(path, error, detail);
    }
    // The lines stay low. A device without modem lines, such as a
    // pseudo-terminal, refuses the control ("Inappropriate ioctl for
    // device"); that is no failure of the open.
    m_port.setDataTerminalReady(false);
    m_port.setRequestToSend(false);
    m_port.clearError();
    m_opening = false;
    lockDevice(path);

    m_commEvent = EventCode::None;
    if (m_port.bytesAvailable() > 0)
        m_receiveEvents.schedule();
}

void QtSerialComm::lockDevice(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path);
#else
    // Exclusive use: no later open of the device succeeds (but root's), and
    // no other holder of this lock, whatever name it opened the device by,
    // root included, shares it.
    const int fd = int(m_port.handle());
    ::ioctl(fd, TIOCEXCL);
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return;
    m_port.close();
    m_port.clearError();
    throwOpenError(path, QSerialPort::PermissionError, QString());
#endif
}

void QtSerialComm::throwOpenError(const QString &path, QSerialPort::SerialPortError error,
                                  const QString &detail)
{
    const QString where = QStringLiteral("%1: %2 (%3)").arg(portName());
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        throw StationError(ErrorCode::PortNotFound, where.arg(QStringLiteral("no such port"), path));
    case QSerialPort::PermissionError:
#ifndef Q_OS_WIN
        if (!accessible(path))
            throw StationError(ErrorCode::PortAccessDenied,
                               where.arg(QStringLiteral("permission denied"), path) +
                                   QStringLiteral("; the user may need to join the dialout group"));
#endif
        throw StationError(ErrorCode::PortInUse,
                           where.arg(QStringLiteral("port already in use by another program"), path));
    default:
        throw StationError(ErrorCode::PortOpenFailed,
                           where.arg(QStringLiteral("cannot open the port"), path) + QStringLiteral(": ") +
                               detail);
    }
}

QString QtSerialComm::Input()
{
    if (!m_port.isOpen())
        throw StationError(ErrorCode::PortNotOpen, QStringLiteral("%1: port is not open").arg(portName()));
    m_receiveEvents.noteRead();
    const QByteArray bytes = m_inputLen == 0 ? m_port.readAll() : m_port.read(m_inputLen);
    return QString::fromLatin1(bytes);
}

void QtSerialComm::Output(const QString &text)
{
    if (m_lost)
        return;
    if (!m_port.isOpen())
        throw StationError(ErrorCode::PortNotOpen, QStringLiteral("%1: port is not open").arg(portName()));
    // A device that takes nothing we send leaves its answers here unsent.
    if (m_port.bytesToWrite() >= WriteBufferLimit)
        return;
    const QByteArray bytes = text.toLatin1();
    if (m_port.write(bytes) != bytes.size())
        throw StationError(ErrorCode::WriteFailed,
                           QStringLiteral("%1: write failed: %2").arg(portName(), m_port.errorString()));
}

void QtSerialComm::onReadyRead()
{
    if (m_port.bytesAvailable() >= ReadBufferLimit)
        dropBacklog();
    m_receiveEvents.schedule();
}

void QtSerialComm::dropBacklog()
{
    // Reading (not clearing) lets QSerialPort take in the line again.
    const QByteArray dropped = m_port.readAll();
    Q_EMIT inputDropped(QString::fromLatin1(dropped));
}

void QtSerialComm::onError(QSerialPort::SerialPortError error)
{
    if (m_opening || !m_port.isOpen())
        return;
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError &&
        error != QSerialPort::WriteError)
        return;
    // Qt keeps raising a failed read for as long as the descriptor stays
    // open (a hung-up pseudo-terminal spins at full CPU): close at once.
    const QString what = error == QSerialPort::ResourceError ? QStringLiteral("the device disappeared")
                         : error == QSerialPort::ReadError   ? QStringLiteral("reading failed")
                                                             : QStringLiteral("writing failed");
    m_port.close();
    m_port.clearError();
    m_lost = true;
    Q_EMIT deviceLost(Error{ErrorCode::DeviceLost,
                            QStringLiteral("%1: device lost (%2): %3").arg(m_openedName, m_path, what)});
}

} // namespace qf
