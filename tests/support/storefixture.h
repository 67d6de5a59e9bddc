#pragma once

#include "recordlog/recordlog.h"
#include "store/logstore.h"
#include "store/storemaintenance.h"
#include "support/fakes.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

namespace qf {

// A temporary application directory whose path has spaces and non-ASCII
// characters, with a way to make and inspect store files behind the
// station's back.
class StoreFixture {
public:
    StoreFixture() : m_dir(QDir::temp().filePath("quillfern store ü#%-XXXXXX")) {}

    QString dir() const { return m_dir.path(); }
    QString path() const { return storeFilePath(dir()); }
    QStringList files() const { return QDir(dir()).entryList(QDir::Files | QDir::Hidden); }

    // A store as the tool makes it, with count synthetic records.
    void create(qint64 count = 0) const
    {
        createStore(path());
        if (count > 0)
            fillStore(path(), count);
    }
    // The station's record set over the store.
    auto records() const { return LogDatabase::OpenDatabase(path())->OpenRecordset(); }

    // A connection of its own to the store file, open (creating the file if
    // need be); the caller removes it.
    QSqlDatabase connect(const QString &name) const
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
        db.setDatabaseName(path());
        QTest::qVerify(db.open(), "open", qPrintable(db.lastError().text()), __FILE__, __LINE__);
        return db;
    }

    // Runs statements on a connection of its own; returns the last one's
    // rows as text, columns joined by '|', a null as "NULL".
    QStringList sql(const QStringList &statements) const
    {
        QStringList values;
        const QString name = QUuid::createUuid().toString();
        {
            const QSqlDatabase db = connect(name);
            for (const QString &statement : statements) {
                QSqlQuery query(db);
                const bool ran = query.exec(statement);
                QTest::qVerify(ran, qPrintable(statement), qPrintable(query.lastError().text()), __FILE__,
                               __LINE__);
                for (values.clear(); query.next();) {
                    QStringList columns;
                    for (int c = 0; c < query.record().count(); ++c)
                        columns.append(query.isNull(c) ? QStringLiteral("NULL") : query.value(c).toString());
                    values.append(columns.join(u'|'));
                }
            }
        }
        QSqlDatabase::removeDatabase(name);
        return values;
    }
    QStringList column(const QString &select) const { return sql({select}); }

private:
    QTemporaryDir m_dir;
};

// A record log over a store, opened and listed as at start-up; its clock
// stands at `now` when that is valid.
struct ListedLog {
    explicit ListedLog(const StoreFixture &store, const QDateTime &now = {}) : log(store.dir(), boxes)
    {
        if (now.isValid())
            log.setClock([now] { return now; });
        log.openStore();
        log.listAllRecords();
    }
    QString total() { return log.total().text(); }
    FakeMessageBoxes boxes;
    RecordLog log;
};

} // namespace qf
