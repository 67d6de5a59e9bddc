// The record log's guard over the store's files: one station per store, a
// store that is a database, and files that stay the ones it opened.

#include "recordlog/recordlog.h"
#include "store/storeconnection.h"

#include <QDateTime>
#include <QFileInfo>

namespace qf {

namespace {

// The write-ahead log is cut back to this size after a checkpoint, so that
// a reader holding a snapshot for long leaves no large file behind.
constexpr qint64 JournalSizeLimit = 1 << 20;

Error filesChanged(const QString &what)
{
    return {ErrorCode::StoreFailed, what + QStringLiteral(" The station stops.")};
}

} // namespace

void RecordLog::guardFirstOpen()
{
    checkStoreFile(storePath());
    if (QFileInfo::exists(storePath()))
        m_lock = StoreLock::take(storePath());
}

void RecordLog::watchStoreFiles()
{
    database().Execute(QStringLiteral("PRAGMA journal_size_limit=%1").arg(JournalSizeLimit));
    m_files.emplace(storePath(), database().writingConnection());
}

void RecordLog::setStoreWait(std::chrono::milliseconds wait)
{
    database().Execute(QStringLiteral("PRAGMA busy_timeout=%1").arg(wait.count()));
}

void RecordLog::checkpoint(const QString &mode)
{
    try {
        database().Execute(QStringLiteral("PRAGMA wal_checkpoint(%1)").arg(mode));
    } catch (const StationError &) {
        // The records are stored in the log; a later checkpoint moves them.
    }
}

void RecordLog::guardStoreFiles(bool ownWrites)
{
    if (!m_files)
        return;
    if (const std::optional<StoreFileChange> change = m_files->check(ownWrites))
        throw StationError(keepAfter(*change));
    if (ownWrites)
        m_files->remember();
}

Error RecordLog::keepAfter(StoreFileChange change)
{
    const QString store = m_files->path();
    const QString wal = m_files->walPath();
    switch (change) {
    case StoreFileChange::WalReplaced:
        // The log this connection writes is still open: its records reach the store file.
        checkpoint(QStringLiteral("FULL"));
        return filesChanged(
            QStringLiteral("The write-ahead log %1 was removed or replaced by another program while the "
                           "station logged; every stored record was written into %2.")
                .arg(wal, store));
    case StoreFileChange::WalDamaged:
        return filesChanged(QStringLiteral("The write-ahead log %1 was cut short or overwritten by another "
                                           "program while the station logged; records stored since the last "
                                           "checkpoint into %2 may be lost.")
                                .arg(wal, store));
    case StoreFileChange::MainOverwritten:
        m_files->emptyWal();
        return filesChanged(QStringLiteral("The store file %1 was overwritten by another program while the "
                                           "station logged; no more records are written into it.")
                                .arg(store));
    case StoreFileChange::MainReplaced:
        break;
    }
    return filesChanged(keepReplacedStore());
}

QString RecordLog::keepReplacedStore()
{
    // The file this connection opened still holds every record: copy it out,
    // then take its log away from the file that now has its name.
    const QString store = m_files->path();
    const QString kept = store + QStringLiteral(".kept-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString outcome = QStringLiteral("the records it held are kept in %1.").arg(kept);
    try {
        database().Execute(QStringLiteral("VACUUM INTO ") + quotedText(kept));
    } catch (const StationError &e) {
        outcome = QStringLiteral("its records could not be kept (%1).").arg(e.error().description);
    }
    m_files->emptyWal();
    return QStringLiteral("The store file %1 was removed or replaced by another program while the station "
                          "logged; ")
               .arg(store) +
           outcome;
}

} // namespace qf
