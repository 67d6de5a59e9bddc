#include "gateway/alarmjournal.h"

#include "gateway/jsontext.h"
#include "gateway/recordmessage.h"

#include <QDateTime>
#include <QFile>

#include <sqlite3.h>
#include <sys/stat.h>

namespace qf {

namespace {

// How long a read waits for the alarm service's write to finish.
constexpr int BusyTimeoutMs = 200;
constexpr int SensorsWithLimits = 4;
constexpr int BitsPerSensor = int(AlarmLimitNames.size());

// A prepared statement, finalised when it goes out of scope.
class Statement {
public:
    Statement(sqlite3 *db, const char *sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr) != SQLITE_OK) {
            sqlite3_finalize(m_statement);
            m_statement = nullptr;
        }
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    explicit operator bool() const { return m_statement != nullptr; }
    sqlite3_stmt *get() const { return m_statement; }
    bool step() { return m_statement != nullptr && sqlite3_step(m_statement) == SQLITE_ROW; }

    std::optional<QString> text(int column) const
    {
        if (sqlite3_column_type(m_statement, column) == SQLITE_NULL)
            return std::nullopt;
        const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
        return QString::fromUtf8(bytes, sqlite3_column_bytes(m_statement, column));
    }
    std::optional<qint64> integer(int column) const
    {
        if (sqlite3_column_type(m_statement, column) == SQLITE_NULL)
            return std::nullopt;
        return sqlite3_column_int64(m_statement, column);
    }
    std::optional<double> number(int column) const
    {
        const int type = sqlite3_column_type(m_statement, column);
        if (type != SQLITE_INTEGER && type != SQLITE_FLOAT)
            return std::nullopt;
        return sqlite3_column_double(m_statement, column);
    }
    // The column's value as JSON, whatever its type.
    QByteArray json(int column) const
    {
        switch (sqlite3_column_type(m_statement, column)) {
        case SQLITE_INTEGER:
            return QByteArray::number(sqlite3_column_int64(m_statement, column));
        case SQLITE_FLOAT:
            return jsonNumber(sqlite3_column_double(m_statement, column));
        case SQLITE_NULL:
            return QByteArrayLiteral("null");
        default:
            return jsonString(*text(column));
        }
    }

private:
    sqlite3_stmt *m_statement = nullptr;
};

// What one row of alarm_state says about its alarm, by the journal's state
// words: normal, unacknowledged and acknowledged (active), returned (to
// normal, not yet acknowledged), shelved (out of service: neither active nor
// waiting for an acknowledgement, but listed).
struct AlarmCondition {
    bool active = false;
    bool unacknowledged = false;
    bool listed = false;
};

AlarmCondition conditionOf(const QString &state)
{
    const QString word = state.toLower();
    return {word == QLatin1String("unacknowledged") || word == QLatin1String("acknowledged"),
            word == QLatin1String("unacknowledged") || word == QLatin1String("returned"),
            !word.isEmpty() && word != QLatin1String("normal")};
}

QString isoTime(const QString &journalTime)
{
    for (const QLatin1String format :
         {QLatin1String("yyyy-MM-dd HH:mm:ss.zzz"), QLatin1String("yyyy-MM-ddTHH:mm:ss.zzz"),
          QLatin1String("yyyy-MM-dd HH:mm:ss")}) {
        const QDateTime time = QDateTime::fromString(journalTime, format);
        if (time.isValid())
            return isoTimeWithOffset(time, true);
    }
    return journalTime;
}

} // namespace

AlarmJournalFile::AlarmJournalFile(QString path) : m_path(std::move(path))
{
}

AlarmJournalFile::~AlarmJournalFile()
{
    close();
}

void AlarmJournalFile::close()
{
    sqlite3_close(m_db);
    m_db = nullptr;
}

bool AlarmJournalFile::isOpen()
{
    struct stat file {};
    if (::stat(QFile::encodeName(m_path).constData(), &file) != 0 || !S_ISREG(file.st_mode)) {
        close();
        return false;
    }
    if (m_db != nullptr && (file.st_ino != m_inode || file.st_dev != m_device))
        close(); // another journal in its place
    if (m_db != nullptr)
        return true;
    if (sqlite3_open_v2(QFile::encodeName(m_path).constData(), &m_db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        close();
        return false;
    }
    sqlite3_busy_timeout(m_db, BusyTimeoutMs);
    m_inode = file.st_ino;
    m_device = file.st_dev;
    return true;
}

qint64 AlarmJournalFile::newestEventId()
{
    if (!isOpen())
        return 0;
    Statement newest(m_db, "SELECT max(id) FROM alarm_event");
    return newest.step() ? newest.integer(0).value_or(0) : 0;
}

std::vector<AlarmEvent> AlarmJournalFile::eventsAfter(qint64 after, int limit)
{
    std::vector<AlarmEvent> events;
    if (!isOpen())
        return events;
    Statement select(m_db, "SELECT id, time, sensor, alarm, event, value, record_rowid, user FROM alarm_event"
                           " WHERE id > ? ORDER BY id LIMIT ?");
    if (!select)
        return events;
    sqlite3_bind_int64(select.get(), 1, after);
    sqlite3_bind_int(select.get(), 2, limit);
    while (select.step()) {
        events.push_back({select.integer(0).value_or(0), select.text(1).value_or(QString()),
                          select.integer(2), select.text(3), select.text(4), select.number(5),
                          select.integer(6), select.text(7)});
    }
    return events;
}

AlarmSummary AlarmJournalFile::summary()
{
    AlarmSummary summary;
    if (!isOpen())
        return summary;
    Statement select(m_db, "SELECT * FROM alarm_state ORDER BY rowid");
    if (!select)
        return summary;
    const int columns = sqlite3_column_count(select.get());
    auto columnNamed = [&](const char *name) {
        for (int c = 0; c < columns; ++c) {
            if (qstricmp(sqlite3_column_name(select.get(), c), name) == 0)
                return c;
        }
        return -1;
    };
    const int sensorColumn = columnNamed("sensor");
    const int alarmColumn = columnNamed("alarm");
    const int stateColumn = columnNamed("state");
    QByteArray listed;
    while (select.step()) {
        const AlarmCondition condition =
            conditionOf(stateColumn < 0 ? QString() : select.text(stateColumn).value_or(QString()));
        if (!condition.listed)
            continue;
        summary.anyActive = summary.anyActive || condition.active;
        summary.anyUnacknowledged = summary.anyUnacknowledged || condition.unacknowledged;
        const qint64 sensor = sensorColumn < 0 ? 0 : select.integer(sensorColumn).value_or(0);
        const QString alarm = alarmColumn < 0 ? QString() : select.text(alarmColumn).value_or(QString());
        for (int limit = 0; limit < BitsPerSensor; ++limit) {
            if (condition.active && sensor >= 1 && sensor <= SensorsWithLimits &&
                alarm == QLatin1String(AlarmLimitNames[std::size_t(limit)]))
                summary.activeBits |= quint16(1U << ((sensor - 1) * BitsPerSensor + limit));
        }
        JsonObject row;
        for (int c = 0; c < columns; ++c)
            row.add(sqlite3_column_name(select.get(), c), select.json(c));
        if (!listed.isEmpty())
            listed += ',';
        listed += row.text();
    }
    summary.json = '[' + listed + ']';
    return summary;
}

QByteArray alarmEventMessage(const AlarmEvent &event)
{
    return JsonObject()
        .addInteger("id", event.id)
        .addString("time", isoTime(event.time))
        .addInteger("sensor", event.sensor)
        .addString("alarm", event.alarm)
        .addString("event", event.event)
        .addNumber("value", event.value)
        .addInteger("record_rowid", event.recordRowid)
        .addString("user", event.user)
        .text();
}

} // namespace qf
