#pragma once

#include "recordlog/storemaintenance.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

// A temporary application directory whose path has spaces and non-ASCII
// characters, with helpers to make and inspect store files behind the
// station's back.
class StoreFixture {
public:
    StoreFixture() : m_dir(QDir::temp().filePath(QStringLiteral("quillfern store ü#%-XXXXXX"))) {}

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

    // Runs statements on a connection of its own (creating the file if need be).
    void sql(const QStringList &statements) const
    {
        const QString name = QUuid::createUuid().toString();
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(path());
            QVERIFY2(db.open(), qPrintable(db.lastError().text()));
            for (const QString &statement : statements) {
                QSqlQuery query(db);
                QVERIFY2(query.exec(statement),
                         qPrintable(statement + QLatin1String(": ") + query.lastError().text()));
            }
        }
        QSqlDatabase::removeDatabase(name);
    }

    // The values of one column of a query, as text.
    QStringList column(const QString &select) const
    {
        QStringList values;
        const QString name = QUuid::createUuid().toString();
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(path());
            if (db.open()) {
                QSqlQuery query(select, db);
                while (query.next())
                    values.append(query.value(0).toString());
            }
        }
        QSqlDatabase::removeDatabase(name);
        return values;
    }

private:
    QTemporaryDir m_dir;
};
