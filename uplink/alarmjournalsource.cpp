#include "uplink/alarmjournalsource.h"

#include "alarms/journalreader.h"
#include "common/error.h"

#include <QFileInfo>

namespace qf {
namespace {

constexpr const char *Table = "quillfern_alarm";
constexpr const char *TableColumns =
    "(station text NOT NULL, journal text NOT NULL, id bigint NOT NULL,"
    " time timestamptz NOT NULL, sensor integer NOT NULL, alarm text NOT NULL,"
    " event text NOT NULL, value double precision, record_rowid bigint,"
    " \"user\" text, PRIMARY KEY (station, journal, id))";
// The rows' own parameters, from $7 on: one array per column.
constexpr const char *Insert =
    "INSERT INTO quillfern_alarm (station, journal, id, time, sensor, alarm, event, value, record_rowid, "
    "\"user\")"
    " SELECT $1, j, i, to_timestamp(t::float8 / 1000), s, a, e, v, r, u FROM unnest($7::text[], $8::bigint[],"
    " $9::bigint[], $10::integer[], $11::text[], $12::text[], $13::float8[], $14::bigint[], $15::text[])"
    " AS x(j, i, t, s, a, e, v, r, u)";
enum EventArray {
    JournalArray,
    IdArray,
    TimeArray,
    SensorArray,
    AlarmArray,
    EventKindArray,
    ValueArray,
    RowidArray,
    UserArray,
    EventArrays
};
constexpr char MarkSeparator = ' ';

} // namespace

AlarmJournalSource::AlarmJournalSource(QString journalPath, QString station, Report report)
    : m_path(std::move(journalPath)), m_station(std::move(station)), m_report(std::move(report))
{
}

AlarmJournalSource::~AlarmJournalSource() = default;

QString AlarmJournalSource::resume(CentralDatabase &central)
{
    central.createTable(Table, TableColumns);
    central.prepareRows(statement(), Insert, EventArrays);
    std::optional<SourcePosition> kept = central.position(m_station, name());
    if (!kept) {
        central.keepFirstPosition(m_station, name(), {});
        kept = central.position(m_station, name());
    }
    m_committed = kept.value_or(SourcePosition{});
    const qsizetype separator = m_committed.mark.lastIndexOf(MarkSeparator);
    m_identity = QString::fromUtf8(m_committed.mark.left(std::max<qsizetype>(separator, 0)));
    m_lastId = m_committed.mark.mid(separator + 1).toLongLong();
    m_batch.clear();
    if (m_identity.isEmpty())
        return QStringLiteral("alarm journal: forwarding from its first event, once it is there");
    return QStringLiteral("alarm journal %1: forwarding after event %2").arg(m_identity).arg(m_lastId);
}

AlarmJournalReader *AlarmJournalSource::journal()
{
    if (!m_journal && QFileInfo::exists(m_path)) {
        try {
            m_journal = std::make_unique<AlarmJournalReader>(m_path);
        } catch (const StationError &e) {
            const QString fault = QStringLiteral("alarm journal %1 not forwarded: error %2: %3")
                                      .arg(m_path)
                                      .arg(e.error().number())
                                      .arg(e.error().description);
            if (fault != m_fault)
                m_report(fault);
            m_fault = fault;
        }
    }
    return m_journal.get();
}

qsizetype AlarmJournalSource::read(qsizetype limit)
{
    m_batch.clear();
    try {
        if (AlarmJournalReader *reader = journal()) {
            const QString identity = reader->identity();
            const qint64 after = identity == m_identity ? m_lastId : 0; // a new journal: from its start
            m_batch = reader->eventsAfter(after, limit);
            if (identity != m_identity && !m_batch.empty())
                m_report(QStringLiteral("alarm journal %1: forwarding from its first event").arg(identity));
            m_identity = identity;
        }
    } catch (const StationError &e) { // read again from the start next time
        m_journal.reset();
        m_batch.clear();
        if (e.error().code != ErrorCode::StoreBusy)
            m_report(QStringLiteral("alarm journal %1: error %2: %3")
                         .arg(m_path)
                         .arg(e.error().number())
                         .arg(e.error().description));
    }
    return qsizetype(m_batch.size());
}

SourcePosition AlarmJournalSource::after(qsizetype i) const
{
    return {m_committed.generation,
            m_identity.toUtf8() + MarkSeparator + QByteArray::number(m_batch[std::size_t(i)].id)};
}

std::vector<QByteArray> AlarmJournalSource::rows(qsizetype from, qsizetype to) const
{
    std::vector<QByteArray> arrays(EventArrays, QByteArray("{"));
    for (qsizetype i = from; i < to; ++i) {
        const AlarmEvent &event = m_batch[std::size_t(i)];
        if (i > from) {
            for (QByteArray &array : arrays)
                array += ',';
        }
        appendArrayText(arrays[JournalArray], m_identity.toUtf8());
        arrays[IdArray] += QByteArray::number(event.id);
        arrays[TimeArray] += QByteArray::number(qint64(event.time.time_since_epoch().count()));
        arrays[SensorArray] += QByteArray::number(event.alarm.sensor);
        appendArrayText(arrays[AlarmArray], alarmKindText(event.alarm.kind).toUtf8());
        appendArrayText(arrays[EventKindArray], alarmEventText(event.kind).toUtf8());
        if (event.value)
            appendArrayNumber(arrays[ValueArray], *event.value);
        else
            arrays[ValueArray] += ArrayNull;
        arrays[RowidArray] +=
            event.recordRowid ? QByteArray::number(*event.recordRowid) : QByteArray(ArrayNull);
        if (event.user.isEmpty())
            arrays[UserArray] += ArrayNull;
        else
            appendArrayText(arrays[UserArray], event.user.toUtf8());
    }
    for (QByteArray &array : arrays)
        array += '}';
    return arrays;
}

QString AlarmJournalSource::describe(qsizetype i) const
{
    return QStringLiteral("alarm event %1 of journal %2").arg(m_batch[std::size_t(i)].id).arg(m_identity);
}

void AlarmJournalSource::committedThrough(qsizetype to)
{
    m_committed = after(to - 1);
    m_lastId = m_batch[std::size_t(to - 1)].id;
}

QString AlarmJournalSource::caughtUp() const
{
    return QStringLiteral("alarm journal: all sent through event %1; following").arg(m_lastId);
}

} // namespace qf
