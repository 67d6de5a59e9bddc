#include "recordlog/storeretry.h"

#include "store/storeconnection.h"

#include <QDateTime>

namespace qf {

StoreRetry::StoreRetry(RecordLog &log, MessageBoxes &boxes, std::FILE *journal)
    : m_log(log), m_boxes(boxes), m_journal(journal)
{
    m_timer.setInterval(RetryInterval);
    connect(&m_timer, &QTimer::timeout, this, [this] { retry(); });
}

bool StoreRetry::passes(const Error &error)
{
    return error.code == ErrorCode::StoreBusy || error.code == ErrorCode::StoreFull;
}

bool StoreRetry::commit(const std::array<QString, qf::schema::SensorCount> &sensorValues)
{
    try {
        m_log.commit(sensorValues);
        return true;
    } catch (const StationError &e) {
        if (!passes(e.error()))
            throw;
        m_sensorValues = sensorValues;
        hold(e.error());
        return false;
    }
}

void StoreRetry::hold(const Error &error)
{
    // Tries do not wait for a lock: the window stays responsive between them.
    m_log.setStoreWait(std::chrono::milliseconds::zero());
    m_heldFor.start();
    m_timer.start();
    journal(
        QStringLiteral("cannot store records (error %1: %2); holding the frame and trying again every second")
            .arg(error.number())
            .arg(error.description));
    m_notice = m_boxes.openNotice(
        QStringLiteral(
            "The store cannot take records at the moment:\n%1\n\nThe station holds the latest frame, "
            "tries again every second and logs on by itself when the store takes records again.")
            .arg(error.description),
        MsgStyle::OkOnly | MsgStyle::Exclamation);
}

void StoreRetry::retry()
{
    // The timer fires in the delete-all's event loop too: the frame waits
    // for the emptied store and its fresh record set.
    if (m_log.deleting())
        return;
    try {
        m_log.commit(m_sensorValues);
    } catch (const StationError &e) {
        if (passes(e.error()))
            return;
        m_timer.stop();
        m_boxes.closeNotice(m_notice);
        Q_EMIT failed(e.error());
        return;
    }
    release();
}

void StoreRetry::release()
{
    m_timer.stop();
    m_log.setStoreWait(StoreBusyWait);
    m_boxes.closeNotice(m_notice);
    journal(QStringLiteral("storing records again after %1 s").arg(m_heldFor.elapsed() / 1000));
    Q_EMIT stored();
}

void StoreRetry::journal(const QString &line)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    std::fprintf(m_journal, "%s %s: %s\n", qPrintable(stamp), qPrintable(applicationTitle()),
                 line.toLocal8Bit().constData());
    std::fflush(m_journal);
}

} // namespace qf
