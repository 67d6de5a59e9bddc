#include "uplink/logsource.h"

#include "store/storetext.h"

#include <QCryptographicHash>
#include <QDateTime>

#include <cmath>
#include <limits>

namespace qf {
namespace {

constexpr const char *Table = "quillfern_log";
constexpr const char *StationColumn = "station";
constexpr const char *GenerationColumn = "generation";
constexpr const char *RowidColumn = "record_rowid";
constexpr const char *SrNoColumn = "sr_no";
constexpr const char *TimeColumnName = "time_and_date";
// The central column of sensor s (0-based): temp1, temp2, ...
QByteArray valueColumn(int sensor)
{
    return "temp" + QByteArray::number(sensor + 1);
}

// The arrays a batch travels in, one per column, and the first of them
// among the statement's parameters.
enum BatchArray {
    RowidArray,
    SrNoArray,
    TimeArray,
    FirstValueArray,
    BatchArrays = FirstValueArray + schema::SensorCount
};
constexpr int FirstArrayParam = 7;

// A stamp that is no time in the station's zone (not in the store's form, no
// such day, a null) arrives as -infinity, which every table shape the
// reference gives takes (also a partitioned one with time_and_date NOT NULL,
// in its default partition).
constexpr const char *NoInstant = "-Infinity"; // as an element of float8[]
constexpr const char *NoLocalTime = "-infinity";
constexpr const char *LocalTimeFormat = "yyyy-MM-dd HH:mm:ss";

// Room for one row's element in an array, mostly enough.
constexpr qsizetype ArrayBytesPerRow = 24;
// How much of a field the uplink shows when it tells of a record.
constexpr qsizetype ShownLength = 40;

constexpr const char *NewestRow = "SELECT generation, record_rowid FROM quillfern_log WHERE station = $1"
                                  " ORDER BY generation DESC, record_rowid DESC LIMIT 1";

QByteArray tableColumns()
{
    QByteArray sql = "(station text NOT NULL, generation integer NOT NULL,"
                     " record_rowid bigint NOT NULL, sr_no text, time_and_date timestamptz";
    for (int s = 0; s < schema::SensorCount; ++s)
        sql += ", " + valueColumn(s) + " double precision";
    return sql + ", PRIMARY KEY (station, generation, record_rowid))";
}

bool isOneOf(const QByteArray &type, std::initializer_list<const char *> types)
{
    return std::any_of(types.begin(), types.end(), [&type](const char *t) { return type == t; });
}

// What a column must be to hold what the uplink sends into it; nothing when
// it can.
std::optional<QString> missingFrom(const CentralColumn &column, qsizetype stationLength)
{
    const QByteArray &name = column.name;
    const QByteArray &type = column.baseType;
    if (name == StationColumn &&
        (column.category != 'S' || (column.length >= 0 && column.length < stationLength)))
        return QStringLiteral("a text type that holds the station's name");
    if (name == GenerationColumn && !isOneOf(type, {"int4", "int8", "numeric"}))
        return QStringLiteral("integer, bigint or numeric");
    if (name == RowidColumn && !isOneOf(type, {"int8", "numeric"}))
        return QStringLiteral("bigint or numeric (a rowid takes 64 bits)");
    if (name == SrNoColumn && column.category != 'S')
        return QStringLiteral("a text type");
    if (name == TimeColumnName && !isOneOf(type, {"timestamptz", "timestamp"}))
        return QStringLiteral("timestamp with time zone or timestamp");
    if (name.startsWith("temp") && column.category != 'N')
        return QStringLiteral("a number type");
    return std::nullopt;
}

QByteArray bytesOf(const std::optional<std::string_view> &text)
{
    return text ? QByteArray(text->data(), qsizetype(text->size())) : QByteArray();
}

// A field of the store as the operator may be shown it: the store's text is
// no markup and no terminal control.
QString shown(const std::optional<QByteArray> &text)
{
    if (!text)
        return QStringLiteral("null");
    QString shown = QString::fromUtf8(*text).left(ShownLength);
    for (QChar &c : shown) {
        if (!c.isPrint())
            c = QLatin1Char('?');
    }
    return QLatin1Char('"') + shown + QLatin1Char('"');
}

// A kept position: the follower's mark, then the last record's digest.
constexpr char DigestSeparator = '\n';

// What a record holds, so that a record at the same rowid with the same key
// but other values is told from it.
QByteArray digestOf(const RecordKey &key,
                    const std::array<std::optional<double>, schema::SensorCount> &values)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QByteArray &field : {key.srNo, key.stamp}) {
        hash.addData(QByteArray::number(field.size()) + ':');
        hash.addData(field);
    }
    QByteArray text;
    for (const std::optional<double> &value : values) {
        if (value)
            appendArrayNumber(text, *value);
        text += ';';
    }
    hash.addData(text);
    return hash.result().toHex();
}

// The parts of a kept position.
QByteArray markOf(const QByteArray &position)
{
    const qsizetype separator = position.indexOf(DigestSeparator);
    return separator < 0 ? position : position.left(separator);
}
QByteArray digestIn(const QByteArray &position)
{
    const qsizetype separator = position.indexOf(DigestSeparator);
    return separator < 0 ? QByteArray() : position.mid(separator + 1);
}

} // namespace

LogSource::LogSource(QString storePath, QString station, Report report)
    : m_storePath(std::move(storePath)), m_station(std::move(station)), m_report(std::move(report)),
      m_follower(std::make_unique<StoreFollower>(m_storePath))
{
}

LogSource::~LogSource() = default;

void LogSource::checkTable(CentralDatabase &central)
{
    std::vector<CentralColumn> columns = central.columns(Table);
    if (columns.empty()) {
        central.createTable(Table, tableColumns());
        columns = central.columns(Table);
    }
    std::vector<QByteArray> needed{StationColumn, GenerationColumn, RowidColumn, SrNoColumn, TimeColumnName};
    for (int s = 0; s < schema::SensorCount; ++s)
        needed.push_back(valueColumn(s));
    const auto refuse = [](const QString &why) {
        throw CentralError(
            CentralFault::Refused,
            QStringLiteral("the central table quillfern_log cannot hold the records as sent: %1").arg(why));
    };
    for (const QByteArray &name : needed) {
        const auto column = std::find_if(columns.begin(), columns.end(),
                                         [&name](const CentralColumn &c) { return c.name == name; });
        if (column == columns.end())
            refuse(QStringLiteral("it has no column %1").arg(QLatin1String(name)));
        if (column->generated)
            refuse(QStringLiteral("column %1 is generated").arg(QLatin1String(name)));
        if (const auto needs = missingFrom(*column, m_station.toUcs4().size()))
            refuse(QStringLiteral("column %1 is %2, not %3")
                       .arg(QLatin1String(name), QString::fromUtf8(column->type), *needs));
        if (name == SrNoColumn)
            m_srNoType = column->type;
        if (name == TimeColumnName)
            m_time = column->baseType == "timestamptz" ? TimeColumn::Instant : TimeColumn::LocalTime;
    }
    for (const CentralColumn &column : columns) {
        if (column.needsValue && std::find(needed.begin(), needed.end(), column.name) == needed.end())
            refuse(QStringLiteral("column %1 needs a value (NOT NULL without a default), and the uplink has "
                                  "none for it")
                       .arg(QString::fromUtf8(column.name)));
    }

    QByteArray names;
    for (const QByteArray &name : needed)
        names += (names.isEmpty() ? "" : ", ") + name;
    QByteArray values = "$1, $3, r, s, ";
    values += m_time == TimeColumn::Instant ? "to_timestamp(t)" : "t::timestamp";
    QByteArray arrays = "$7::bigint[], $8::text[], ";
    arrays += m_time == TimeColumn::Instant ? "$9::float8[]" : "$9::text[]";
    QByteArray aliases = "r, s, t";
    for (int s = 0; s < schema::SensorCount; ++s) {
        const QByteArray alias = "v" + QByteArray::number(s);
        values += ", " + alias;
        arrays += ", $" + QByteArray::number(FirstArrayParam + FirstValueArray + s) + "::float8[]";
        aliases += ", " + alias;
    }
    central.prepareRows(statement(),
                        "INSERT INTO quillfern_log (" + names + ") SELECT " + values + " FROM unnest(" +
                            arrays + ") AS u(" + aliases + ")",
                        BatchArrays);
}

SourcePosition LogSource::firstPosition(CentralDatabase &central)
{
    // A station forwarded before positions were kept: its newest central row
    // is the store's record at that rowid when both fields of the record's
    // key arrive at the same values, compared in the columns' own types.
    const std::vector<CentralDatabase::Row> newest =
        central.query(QStringLiteral("reading the newest row"), NewestRow, {m_station.toUtf8()});
    if (newest.empty())
        return {1, FollowMark{}.toText()};
    const int generation = newest.front()[0]->toInt();
    const qint64 rowid = newest.front()[1]->toLongLong();
    std::optional<Row> record;
    std::optional<RecordKey> first;
    m_follower->readAfter(rowid - 1, 1, [&](const RecordView &view) {
        if (view.rowid == rowid)
            record = rowOf(view);
    });
    m_follower->readAfter(std::numeric_limits<qint64>::min(), 1, [&](const RecordView &view) {
        first = RecordKey{view.rowid, bytesOf(view.srNo), bytesOf(view.stamp)};
    });
    if (record) {
        const QByteArray time = m_time == TimeColumn::Instant ? "to_timestamp($5::float8)" : "$5::timestamp";
        const QByteArray same = "SELECT count(*) FROM quillfern_log WHERE station = $1 AND generation = $2"
                                " AND record_rowid = $3 AND sr_no IS NOT DISTINCT FROM CAST($4::text AS " +
                                m_srNoType + ") AND time_and_date IS NOT DISTINCT FROM " + time;
        const std::vector<CentralDatabase::Row> found =
            central.query(QStringLiteral("comparing the newest row"), same.constData(),
                          {m_station.toUtf8(), QByteArray::number(generation), QByteArray::number(rowid),
                           record->srNo, record->time});
        if (found.front()[0] == "1")
            return {generation, FollowMark{first, record->key}.toText() + DigestSeparator +
                                    digestOf(record->key, record->values)};
    }
    return {generation + 1, FollowMark{}.toText()};
}

QString LogSource::resume(CentralDatabase &central)
{
    checkTable(central);
    std::optional<SourcePosition> kept = central.position(m_station, name());
    if (!kept) {
        central.keepFirstPosition(m_station, name(), firstPosition(central));
        kept = central.position(m_station, name()); // another uplink's, when it kept one first
    }
    const QByteArray markText = kept ? markOf(kept->mark) : QByteArray();
    const std::optional<FollowMark> mark = FollowMark::fromText(markText);
    if (!mark) {
        throw CentralError(CentralFault::Refused,
                           QStringLiteral("the position of station %1 in "
                                          "quillfern_uplink_position is not the uplink's")
                               .arg(m_station));
    }
    m_committed = *kept;
    m_generation = kept->generation;
    m_lastRowid = mark->last ? mark->last->rowid : 0;
    m_lastDigest = digestIn(kept->mark);
    m_batch.clear();
    m_follower = std::make_unique<StoreFollower>(m_storePath, *mark);
    if (m_follower->poll() == StoreChange::Restarted || lastChanged()) {
        startOver();
        return QStringLiteral("connected; the store no longer holds record %1 of generation %2: forwarding "
                              "generation %3 from the first record")
            .arg(m_lastRowid)
            .arg(kept->generation)
            .arg(m_generation);
    }
    if (!mark->last)
        return QStringLiteral("connected; forwarding generation %1 from the first record").arg(m_generation);
    return QStringLiteral("connected; forwarding generation %1 after record %2")
        .arg(m_generation)
        .arg(m_lastRowid);
}

bool LogSource::lastChanged()
{
    bool changed = false;
    if (!m_lastDigest.isEmpty() && m_generation == m_committed.generation) {
        m_follower->readAfter(m_lastRowid - 1, 1, [&](const RecordView &view) {
            const Row row = rowOf(view);
            changed = view.rowid == m_lastRowid && digestOf(row.key, row.values) != m_lastDigest;
        });
    }
    return changed;
}

void LogSource::startOver()
{
    if (m_follower->mark().last) // the follower did not tell it itself
        m_follower = std::make_unique<StoreFollower>(m_storePath);
    m_generation = m_committed.generation + 1;
}

qsizetype LogSource::read(qsizetype limit)
{
    m_batch.clear();
    const bool changed = lastChanged();
    const StoreChange change = changed ? StoreChange::Restarted : m_follower->poll();
    if (change == StoreChange::Restarted) {
        startOver();
        m_report(
            QStringLiteral("the store no longer holds record %1: forwarding generation %2 from the first "
                           "record")
                .arg(m_lastRowid)
                .arg(m_generation));
    }
    if (change != StoreChange::None)
        m_follower->next(limit, [this](const RecordView &record) { m_batch.push_back(rowOf(record)); });
    m_first = m_follower->mark().first;
    return qsizetype(m_batch.size());
}

LogSource::Row LogSource::rowOf(const RecordView &record) const
{
    Row row;
    row.key = {record.rowid, bytesOf(record.srNo), bytesOf(record.stamp)};
    if (record.srNo) { // as UTF-8 without NULs, which a central text cannot hold
        const bool sendable = !row.key.srNo.contains('\0') && QByteArrayView(row.key.srNo).isValidUtf8();
        row.srNo = sendable ? row.key.srNo : QString::fromUtf8(row.key.srNo).remove(QChar(0)).toUtf8();
    }
    const QDateTime stamp =
        record.stamp ? parseStoredDateTime(QString::fromUtf8(row.key.stamp)) : QDateTime();
    if (!stamp.isValid())
        row.time = m_time == TimeColumn::Instant ? NoInstant : NoLocalTime;
    else if (m_time == TimeColumn::Instant)
        row.time = QByteArray::number(stamp.toSecsSinceEpoch());
    else
        row.time = stamp.toString(QLatin1String(LocalTimeFormat)).toLatin1();
    row.values = record.values;
    return row;
}

SourcePosition LogSource::after(qsizetype i) const
{
    const Row &row = m_batch[std::size_t(i)];
    return {m_generation,
            FollowMark{m_first, row.key}.toText() + DigestSeparator + digestOf(row.key, row.values)};
}

std::vector<QByteArray> LogSource::rows(qsizetype from, qsizetype to) const
{
    std::vector<QByteArray> arrays(BatchArrays, QByteArray("{"));
    for (QByteArray &array : arrays)
        array.reserve((to - from) * ArrayBytesPerRow);
    for (qsizetype i = from; i < to; ++i) {
        const Row &row = m_batch[std::size_t(i)];
        if (i > from) {
            for (QByteArray &array : arrays)
                array += ',';
        }
        arrays[RowidArray] += QByteArray::number(row.key.rowid);
        if (row.srNo)
            appendArrayText(arrays[SrNoArray], *row.srNo);
        else
            arrays[SrNoArray] += ArrayNull;
        if (m_time == TimeColumn::Instant)
            arrays[TimeArray] += row.time;
        else
            appendArrayText(arrays[TimeArray], row.time);
        for (int s = 0; s < schema::SensorCount; ++s) {
            if (const std::optional<double> &value = row.values[std::size_t(s)])
                appendArrayNumber(arrays[FirstValueArray + s], *value);
            else
                arrays[FirstValueArray + s] += ArrayNull;
        }
    }
    for (QByteArray &array : arrays)
        array += '}';
    return arrays;
}

QString LogSource::describe(qsizetype i) const
{
    const Row &row = m_batch[std::size_t(i)];
    return QStringLiteral("record %1 (Sr No %2)").arg(row.key.rowid).arg(shown(row.srNo));
}

void LogSource::committedThrough(qsizetype to)
{
    m_committed = after(to - 1);
    m_lastRowid = m_batch[std::size_t(to - 1)].key.rowid;
    m_lastDigest = digestIn(m_committed.mark);
}

QString LogSource::caughtUp() const
{
    return QStringLiteral("caught up after record %1 of generation %2; following")
        .arg(m_generation == m_committed.generation ? m_lastRowid : 0)
        .arg(m_generation);
}

} // namespace qf
