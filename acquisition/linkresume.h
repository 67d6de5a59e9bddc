#pragma once

#include "acquisition/frameparser.h"
#include "acquisition/linkcontrol.h"
#include "acquisition/serialcomm.h"
#include "common/messageboxes.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

namespace qf {

// Keeps the link going without the operator. When the device is lost while
// the link is started, the port is opened again by the same path about once
// a second until it opens or STOP is pressed; the operator gets one warning
// box that closes itself when the link is back, and the journal one line for
// the loss and one for the return. Lost or dropped input gives up the frame
// it cut, so no record is pieced together from two frames.
class LinkResume : public QObject {
    Q_OBJECT
public:
    // Writes one line of the service journal.
    using Journal = std::function<void(const QString &line)>;

    static constexpr std::chrono::milliseconds RetryInterval{1000};

    LinkResume(SerialComm &comm, FrameParser &parser, const LinkControl &link, MessageBoxes &boxes,
               Journal journal);

    bool retrying() const { return m_retry.isActive(); }
    // Frames thrown away whole because input came too fast.
    long long framesDropped() const { return m_framesDropped; }

    // Lines on standard error, each led by the local date and time.
    static Journal standardError();

Q_SIGNALS:
    // The port is open again after a loss.
    void resumed();

private:
    void onLost(const Error &error);
    void onDropped(const QString &text);
    void tryOpen();
    void finish();
    void closeNotice();
    QString portName() const;

    SerialComm &m_comm;
    FrameParser &m_parser;
    const LinkControl &m_link;
    MessageBoxes &m_boxes;
    Journal m_journal;

    QTimer m_retry;
    QElapsedTimer m_outage;
    int m_notice = 0; // key of the open warning box, 0 for none
    long long m_framesDropped = 0;
    bool m_dropTold = false;
};

} // namespace qf
