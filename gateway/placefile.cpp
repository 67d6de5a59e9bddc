#include "gateway/placefile.h"

#include "common/error.h"

#include <QFile>
#include <QSaveFile>

namespace qf {

namespace {

constexpr QByteArrayView Heading = "quillfern-gateway place 1\n";
constexpr QByteArrayView GenerationKey = "generation ";
constexpr QByteArrayView AlarmEventKey = "alarm-event ";
constexpr QByteArrayView AlarmJournalKey = "alarm-journal ";
constexpr QByteArrayView MarkKey = "mark\n"; // the rest of the file is the mark's text
// A place file is a few lines; anything larger is not one.
constexpr qint64 LargestPlaceFile = 1 << 20;

StationError notAPlace(const QString &path, const QString &why)
{
    return StationError(ErrorCode::StoreFailed,
                        QStringLiteral("%1 is not the gateway's place file (%2); remove it to start after "
                                       "the store's newest record")
                            .arg(path, why));
}

// The number after key at the start of text, which it then drops.
std::optional<qint64> takeNumber(QByteArrayView &text, QByteArrayView key)
{
    const qsizetype end = text.indexOf('\n');
    if (!text.startsWith(key) || end < 0)
        return std::nullopt;
    bool ok = false;
    const qint64 number = text.sliced(key.size(), end - key.size()).toLongLong(&ok);
    text = text.sliced(end + 1);
    return ok ? std::optional(number) : std::nullopt;
}

// The text after key on the first line of text, which it then drops.
std::optional<QString> takeText(QByteArrayView &text, QByteArrayView key)
{
    const qsizetype end = text.indexOf('\n');
    if (!text.startsWith(key) || end < 0)
        return std::nullopt;
    const QString value = QString::fromUtf8(text.sliced(key.size(), end - key.size()));
    text = text.sliced(end + 1);
    return value;
}

} // namespace

std::optional<GatewayPlace> PlaceFile::load() const
{
    QFile file(m_path);
    if (!file.exists())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly))
        throw StationError(ErrorCode::StoreFailed,
                           QStringLiteral("cannot read %1: %2").arg(m_path, file.errorString()));
    if (file.size() > LargestPlaceFile)
        throw notAPlace(m_path, QStringLiteral("too large"));
    const QByteArray content = file.readAll();
    QByteArrayView text = content;
    if (!text.startsWith(Heading))
        throw notAPlace(m_path, QStringLiteral("no heading"));
    text = text.sliced(Heading.size());
    const std::optional<qint64> generation = takeNumber(text, GenerationKey);
    const std::optional<qint64> alarmEvent = takeNumber(text, AlarmEventKey);
    const std::optional<QString> alarmJournal = takeText(text, AlarmJournalKey);
    if (!generation || *generation < 1 || *generation > std::numeric_limits<int>::max() || !alarmEvent ||
        !alarmJournal || !text.startsWith(MarkKey))
        throw notAPlace(m_path, QStringLiteral("a line is missing or damaged"));
    const std::optional<FollowMark> mark = FollowMark::fromText(text.sliced(MarkKey.size()).toByteArray());
    if (!mark)
        throw notAPlace(m_path, QStringLiteral("the mark is damaged"));
    return GatewayPlace{int(*generation), *mark, *alarmEvent, *alarmJournal};
}

void PlaceFile::save(const GatewayPlace &place) const
{
    QSaveFile file(m_path);
    QByteArray text = Heading.toByteArray();
    text += GenerationKey.toByteArray() + QByteArray::number(place.generation) + '\n';
    text += AlarmEventKey.toByteArray() + QByteArray::number(place.alarmEvent) + '\n';
    text += AlarmJournalKey.toByteArray() + place.alarmJournal.toUtf8() + '\n';
    text += MarkKey.toByteArray() + place.mark.toText();
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        const bool full = file.error() == QFileDevice::ResourceError;
        throw StationError(full ? ErrorCode::StoreFull : ErrorCode::StoreFailed,
                           QStringLiteral("cannot write %1: %2").arg(m_path, file.errorString()));
    }
}

} // namespace qf
