#include "trend/trendcache.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

constexpr quint32 CacheMagic = 0x51465431; // "QFT1"
constexpr qint32 CacheVersion = 1;
constexpr int CacheNameHashLength = 16;
const QString CacheSuffix = QStringLiteral(".trend");

template <typename T> bool writeColumn(QIODevice &out, const std::vector<T> &column)
{
    const qint64 bytes = qint64(column.size() * sizeof(T));
    return out.write(reinterpret_cast<const char *>(column.data()), bytes) == bytes;
}

template <typename T> bool readColumn(QIODevice &in, std::vector<T> &column, qint64 count)
{
    column.reserve(std::size_t(TrendData::roomFor(count)));
    column.resize(std::size_t(count));
    const qint64 bytes = count * qint64(sizeof(T));
    return in.read(reinterpret_cast<char *>(column.data()), bytes) == bytes;
}

QDataStream &operator<<(QDataStream &out, const RecordKey &key)
{
    return out << key.rowid << key.serial << key.stamp;
}

QDataStream &operator>>(QDataStream &in, RecordKey &key)
{
    return in >> key.rowid >> key.serial >> key.stamp;
}

} // namespace

QString trendCachePath(const QString &storePath)
{
    const QFileInfo store(storePath);
    if (QFileInfo(store.absolutePath()).isWritable())
        return store.absoluteFilePath() + CacheSuffix;
    const QByteArray hash =
        QCryptographicHash::hash(store.absoluteFilePath().toUtf8(), QCryptographicHash::Sha1).toHex();
    const QString dir =
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/quillfern");
    QDir().mkpath(dir);
    return dir + QStringLiteral("/velk-") + QString::fromLatin1(hash.left(CacheNameHashLength)) + CacheSuffix;
}

bool writeTrendCache(const QString &path, const TrendData &data, const TrendSnapshot &header)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    {
        QDataStream out(&file);
        out << CacheMagic << CacheVersion << header.zone << header.first << header.last << bool(header.clock)
            << header.clock.value_or(0) << qint64(data.size()) << data.base()
            << qint64(data.rowidRuns().size());
        for (const auto &run : data.rowidRuns())
            out << run[0] << run[1];
    }
    bool written = writeColumn(file, data.moments());
    for (int s = 0; s < SensorCount; ++s)
        written = written && writeColumn(file, data.values(s));
    return written && file.commit();
}

std::optional<TrendSnapshot> readTrendCache(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    TrendSnapshot snapshot;
    quint32 magic = 0;
    qint32 version = 0;
    bool hasClock = false;
    qint64 clock = 0, count = 0, runs = 0;
    QDataStream in(&file);
    in >> magic >> version;
    if (magic != CacheMagic || version != CacheVersion)
        return std::nullopt;
    in >> snapshot.zone >> snapshot.first >> snapshot.last >> hasClock >> clock >> count >>
        snapshot.columns.base >> runs;
    if (in.status() != QDataStream::Ok || count < 0 || runs < 0 || runs > count)
        return std::nullopt;
    snapshot.columns.rowidRuns.resize(std::size_t(runs));
    for (auto &run : snapshot.columns.rowidRuns)
        in >> run[0] >> run[1];
    if (count > 0 && (runs == 0 || snapshot.columns.rowidRuns.front()[0] != 0))
        return std::nullopt;
    if (in.status() != QDataStream::Ok || !readColumn(file, snapshot.columns.moments, count))
        return std::nullopt;
    for (auto &values : snapshot.columns.values) {
        if (!readColumn(file, values, count))
            return std::nullopt;
    }
    if (hasClock)
        snapshot.clock = clock;
    return snapshot;
}
