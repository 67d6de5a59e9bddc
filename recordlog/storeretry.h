#pragma once

#include "common/error.h"
#include "common/messageboxes.h"
#include "recordlog/recordlog.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <array>
#include <chrono>
#include <cstdio>

namespace qf {

// Commits completed frames, and holds one that the store cannot take for a
// passing reason (another program holds its lock, the disk is full): it tries
// again about once a second until the store takes it, tells the operator
// once (a warning box that closes itself when the store is back, and a line
// with date and time on the error stream) and says when it is stored.
class StoreRetry : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds RetryInterval{1000};

    // journal: where the lines for a service journal go (the error stream).
    StoreRetry(RecordLog &log, MessageBoxes &boxes, std::FILE *journal = stderr);

    // Commits one frame: true when stored, false when held. A lasting fault
    // raises its error.
    bool commit(const std::array<QString, qf::schema::SensorCount> &sensorValues);

    // Whether a fault passes by itself, so that the frame is worth holding.
    static bool passes(const Error &error);

Q_SIGNALS:
    // The held frame is stored.
    void stored();
    // Trying again met a fault that does not pass: the held frame is lost.
    void failed(const Error &error);

private:
    void hold(const Error &error);
    void retry();
    void release();
    void journal(const QString &line);

    RecordLog &m_log;
    MessageBoxes &m_boxes;
    std::FILE *m_journal;
    QTimer m_timer;
    QElapsedTimer m_heldFor;
    std::array<QString, qf::schema::SensorCount> m_sensorValues;
    int m_notice = 0;
};

} // namespace qf
