#include "acquisition/linkresume.h"

#include <QDateTime>
#include <QMetaObject>

#include <cmath>
#include <cstdio>

namespace qf {

namespace {
// The description of a loss without the "COMn: " it begins with.
QString reasonOf(const Error &error, const QString &name)
{
    const QString prefix = name + QStringLiteral(": ");
    return error.description.startsWith(prefix) ? error.description.mid(prefix.size()) : error.description;
}
} // namespace

LinkResume::LinkResume(SerialComm &comm, FrameParser &parser, const LinkControl &link, MessageBoxes &boxes,
                       Journal journal)
    : m_comm(comm), m_parser(parser), m_link(link), m_boxes(boxes), m_journal(std::move(journal))
{
    m_retry.setInterval(RetryInterval);
    connect(&m_retry, &QTimer::timeout, this, &LinkResume::tryOpen);
    connect(&m_comm, &SerialComm::deviceLost, this, &LinkResume::onLost);
    connect(&m_comm, &SerialComm::inputDropped, this, &LinkResume::onDropped);
}

LinkResume::Journal LinkResume::standardError()
{
    return [](const QString &line) {
        const QString stamp =
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
        std::fprintf(stderr, "%s %s\n", qPrintable(stamp), qPrintable(line));
        std::fflush(stderr);
    };
}

QString LinkResume::portName() const
{
    return QStringLiteral("COM%1").arg(m_comm.CommPort());
}

void LinkResume::onLost(const Error &error)
{
    m_parser.restartFrame();
    if (!m_link.started()) {
        // Opened by ON alone: told as before, once the component is done.
        QMetaObject::invokeMethod(
            this,
            [this, error] { m_boxes.msgBox(error.description, MsgStyle::OkOnly | MsgStyle::Exclamation); },
            Qt::QueuedConnection);
        return;
    }
    m_journal(QStringLiteral("%1 lost: %2").arg(portName(), reasonOf(error, portName())));
    m_outage.start();
    m_retry.start();
    if (m_notice == 0)
        m_notice = m_boxes.openNotice(
            error.description +
                QStringLiteral(
                    "\n\nThe station keeps trying to open %1 and logs on by itself when the device "
                    "is back.")
                    .arg(portName()),
            MsgStyle::OkOnly | MsgStyle::Exclamation);
}

void LinkResume::tryOpen()
{
    if (!m_link.started()) {
        // STOP ends the tries, and the box no longer tells the truth.
        m_retry.stop();
        closeNotice();
        return;
    }
    if (!m_comm.PortOpen()) {
        try {
            m_comm.reopen();
        } catch (const StationError &) {
            return; // not back yet
        }
    }
    finish();
}

void LinkResume::finish()
{
    m_retry.stop();
    const auto seconds = std::lround(double(m_outage.elapsed()) / 1000.0);
    m_journal(QStringLiteral("%1 back after %2 s").arg(portName()).arg(seconds));
    closeNotice();
    Q_EMIT resumed();
}

void LinkResume::closeNotice()
{
    if (m_notice != 0)
        m_boxes.closeNotice(m_notice);
    m_notice = 0;
}

void LinkResume::onDropped(const QString &text)
{
    const int frames = m_parser.dropInput(text);
    if (!m_dropTold)
        m_journal(QStringLiteral("%1: input arrives faster than the station handles it; whole frames are "
                                 "dropped (%2 now; further drops are not reported)")
                      .arg(portName())
                      .arg(frames));
    m_dropTold = true;
    m_framesDropped += frames;
}

} // namespace qf
