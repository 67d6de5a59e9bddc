#pragma once

#include "common/messageboxes.h"
#include "common/value.h"
#include "grid/flexgrid.h"
#include "store/logstore.h"
#include "store/recordschema.h"
#include "store/storefiles.h"
#include "store/storelock.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace qf {

// The record log of the window: the grid of records with its total, the
// delete-all command and the commit of a completed frame into grid and store.
class RecordLog {
public:
    // appDir: the application's directory, where velk.mdb lies.
    RecordLog(QString appDir, MessageBoxes &boxes);

    // Opens the store and its record set, and lays out the grid's header row
    // over them.
    void openStore();
    // Lists every record from where the record set stands to its end, with
    // the total.
    void listAllRecords();
    // Deletes all records on a thread of its own, with its own connection to
    // the store, then empties the grid and reopens the store; meanwhile the
    // window stays painted, takes no input and shows the busy indicator, and
    // deleting() is true: nothing may be committed.
    void deleteAllRecords();
    // Asks the operator to confirm, and deletes all records on Yes.
    void confirmDeleteAll();
    // Commits one complete frame; sensorValues are the four sensors' texts as
    // shown. A field whose number is too large for a double is stored as
    // null.
    void commit(const std::array<QString, qf::schema::SensorCount> &sensorValues);

    // The grid of records and the total shown below it.
    FlexGrid &grid() { return m_grid; }
    TextValue &total() { return m_total; }

    bool deleting() const { return m_deleting; }
    // Shown while deleteAllRecords runs (the window sets a busy cursor).
    void setBusyIndicator(std::function<void(bool busy)> indicator)
    {
        m_busyIndicator = std::move(indicator);
    }

    // The local clock the commit reads (tests set their own).
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

    // How long a commit waits for another program's lock on the store
    // (StoreBusyWait unless set).
    void setStoreWait(std::chrono::milliseconds wait);

private:
    // Marks a delete-all from start to end, also when it fails.
    class DeletingScope {
    public:
        explicit DeletingScope(RecordLog &log);
        ~DeletingScope();
        DeletingScope(const DeletingScope &) = delete;
        DeletingScope &operator=(const DeletingScope &) = delete;

    private:
        RecordLog &m_log;
    };

    void layOutGrid();
    QString storePath() const;
    // Before the first open (recordlogfiles.cpp): the file must be a store,
    // and no other station may log into it.
    void guardFirstOpen();
    // After every open: the journal's limit, and what the files are.
    void watchStoreFiles();
    // Stops the commit when the files were changed behind the station's
    // back, after keeping what can be kept.
    void guardStoreFiles(bool ownWrites);
    Error keepAfter(StoreFileChange change);
    QString keepReplacedStore();
    // Moves the stored records from the write-ahead log into the store file.
    void checkpoint(const QString &mode);
    LogDatabase &database();
    LogRecordset &recordset();

    QString m_appDir;
    MessageBoxes &m_boxes;
    FlexGrid m_grid;
    TextValue m_total;
    std::unique_ptr<LogDatabase> m_database;
    std::shared_ptr<LogRecordset> m_recordset; // shared with the grid's listing
    std::unique_ptr<StoreLock> m_lock;         // held from the first open for the program's life
    std::optional<StoreFileWatch> m_files;     // what the open store's files are
    bool m_deleting = false;
    std::function<void(bool)> m_busyIndicator;
    std::function<QDateTime()> m_clock = [] { return QDateTime::currentDateTime(); };
};

} // namespace qf
