#include "alarms/limitsfile.h"

#include "common/error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QSaveFile>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace qf {

namespace {

constexpr QLatin1String StationSection("Station");
constexpr QLatin1String SensorSectionPrefix("Sensor");
constexpr QLatin1String SilentAfterKey("silentAfter");
constexpr QLatin1String StationPriorityKey("priority");

constexpr double MillisecondsPerSecond = 1000.0;

// A section of the file: a sensor's (1..SensorCount) or the station's (0).
constexpr int StationSectionNumber = 0;

QString sectionName(int section)
{
    return section == StationSectionNumber ? QString(StationSection)
                                           : SensorSectionPrefix + QString::number(section);
}

class Parser {
public:
    Parser(const QByteArray &text, QString fileName) : m_text(text), m_file(std::move(fileName)) {}

    AlarmLimits run()
    {
        const QList<QByteArray> lines = m_text.split('\n');
        for (qsizetype i = 0; i < lines.size(); ++i) {
            m_line = int(i + 1);
            parseLine(lines.at(i));
        }
        for (int sensor = 1; sensor <= schema::SensorCount; ++sensor)
            if (const std::optional<LimitsProblem> problem = validateSensor(m_limits.sensor(sensor)))
                failAt(sensor, *problem);
        return m_limits;
    }

private:
    [[noreturn]] void fail(const QString &key, const QString &message) const
    {
        QString where = m_file + QLatin1Char(':') + QString::number(m_line) + QStringLiteral(": ");
        if (m_section)
            where += QLatin1Char('[') + sectionName(*m_section) + QStringLiteral("] ");
        if (!key.isEmpty())
            where += key + QStringLiteral(": ");
        throw StationError(ErrorCode::LimitsInvalid, where + message);
    }

    // A rule broken by keys of a sensor: points at the later of its keys.
    [[noreturn]] void failAt(int sensor, const LimitsProblem &problem)
    {
        LimitsKey key = problem.key;
        if (problem.other && lineOf(sensor, *problem.other) > lineOf(sensor, key))
            key = *problem.other;
        m_section = sensor;
        m_line = lineOf(sensor, key);
        fail(limitsKeyText(key), problem.message);
    }
    int lineOf(int sensor, LimitsKey key) const { return m_seen.value({sensor, limitsKeyText(key)}); }

    void parseLine(QByteArray bytes)
    {
        if (bytes.endsWith('\r'))
            bytes.chop(1);
        QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString line = QString(decode(bytes)).trimmed();
        if (decode.hasError())
            fail({}, QStringLiteral("the line is not UTF-8 text"));
        if (m_line == 1 && line.startsWith(QChar(0xfeff))) // a byte order mark
            return parseLine(bytes.mid(3));
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            return;
        if (line.startsWith(QLatin1Char('[')))
            return parseSection(line);
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            fail({}, QStringLiteral("expected key=value or [Section], found \"%1\"").arg(line));
        const QString key = line.left(equals).trimmed();
        if (key.isEmpty())
            fail({}, QStringLiteral("a value without a key"));
        if (!m_section)
            fail(key, QStringLiteral("a key before the first section"));
        const auto [first, added] = tryRemember(key);
        if (!added)
            fail(key, QStringLiteral("given twice (first on line %1)").arg(first));
        const QString value = unquote(key, line.mid(equals + 1).trimmed());
        if (*m_section == StationSectionNumber)
            stationKey(key, value);
        else
            sensorKey(m_limits.sensor(*m_section), key, value);
    }

    void parseSection(const QString &line)
    {
        if (!line.endsWith(QLatin1Char(']')))
            fail({}, QStringLiteral("a section header must end with ']'"));
        const QString name = line.mid(1, line.size() - 2).trimmed();
        m_section.reset();
        if (name == StationSection)
            m_section = StationSectionNumber;
        for (int sensor = 1; sensor <= schema::SensorCount; ++sensor)
            if (name == sectionName(sensor))
                m_section = sensor;
        if (!m_section)
            fail({}, QStringLiteral("unknown section [%1]; the sections are [%2] and [%3] to [%4]")
                         .arg(name, StationSection, sectionName(1), sectionName(schema::SensorCount)));
    }

    std::pair<int, bool> tryRemember(const QString &key)
    {
        const auto found = m_seen.constFind({*m_section, key});
        if (found != m_seen.constEnd())
            return {*found, false};
        m_seen.insert({*m_section, key}, m_line);
        return {m_line, true};
    }

    QString unquote(const QString &key, const QString &value) const
    {
        if (!value.startsWith(QLatin1Char('"')))
            return value;
        QString text;
        for (qsizetype i = 1; i < value.size(); ++i) {
            const QChar c = value.at(i);
            if (c == QLatin1Char('"')) {
                if (i + 1 != value.size())
                    fail(key, QStringLiteral("text after the closing quote"));
                return text;
            }
            if (c != QLatin1Char('\\')) {
                text += c;
                continue;
            }
            const QChar escaped = ++i < value.size() ? value.at(i) : QChar();
            if (escaped == QLatin1Char('n'))
                text += QLatin1Char('\n');
            else if (escaped == QLatin1Char('t'))
                text += QLatin1Char('\t');
            else if (escaped == QLatin1Char('"') || escaped == QLatin1Char('\\'))
                text += escaped;
            else
                fail(key, QStringLiteral("unknown escape \\%1 in quotes").arg(escaped));
        }
        fail(key, QStringLiteral("the closing quote is missing"));
    }

    // A number; nothing for an empty value.
    std::optional<double> number(const QString &key, const QString &value) const
    {
        if (value.isEmpty())
            return std::nullopt;
        bool ok = false;
        const double n = QLocale::c().toDouble(value, &ok);
        if (!ok || !std::isfinite(n))
            fail(key, QStringLiteral("\"%1\" is not a number").arg(value));
        return n;
    }
    double notNegative(const QString &key, const QString &value) const
    {
        const double n = number(key, value).value_or(0);
        if (n < 0)
            fail(key, QStringLiteral("must be at least 0, not %1").arg(value));
        return n;
    }
    std::chrono::milliseconds seconds(const QString &key, const QString &value) const
    {
        return std::chrono::milliseconds(std::llround(notNegative(key, value) * MillisecondsPerSecond));
    }
    AlarmPriority priority(const QString &key, const QString &value) const
    {
        const std::optional<AlarmPriority> parsed = priorityFromText(value);
        if (!parsed)
            fail(key, QStringLiteral("\"%1\" is no priority; give high, medium or low").arg(value));
        return *parsed;
    }

    void stationKey(const QString &key, const QString &value)
    {
        if (key == SilentAfterKey)
            m_limits.silentAfter = seconds(key, value);
        else if (key == StationPriorityKey)
            m_limits.silentPriority = priority(key, value);
        else
            fail(key, QStringLiteral("unknown key; [%1] knows %2 and %3")
                          .arg(StationSection, SilentAfterKey, StationPriorityKey));
    }

    void sensorKey(SensorLimits &sensor, const QString &key, const QString &value)
    {
        LimitsKey known = LimitsKey::Name;
        while (limitsKeyText(known) != key) {
            if (known == LimitsKey::Priority)
                fail(key, QStringLiteral("unknown key; a sensor knows name, unit, highHigh, high, low, "
                                         "lowLow, deadband, delay and priority"));
            known = LimitsKey(int(known) + 1);
        }
        switch (known) {
        case LimitsKey::Name:
            if (!value.isEmpty()) // an empty name keeps the default
                sensor.name = value;
            break;
        case LimitsKey::Unit:
            sensor.unit = value;
            break;
        case LimitsKey::HighHigh:
            sensor.highHigh = number(key, value);
            break;
        case LimitsKey::High:
            sensor.high = number(key, value);
            break;
        case LimitsKey::Low:
            sensor.low = number(key, value);
            break;
        case LimitsKey::LowLow:
            sensor.lowLow = number(key, value);
            break;
        case LimitsKey::Deadband:
            sensor.deadband = notNegative(key, value);
            break;
        case LimitsKey::Delay:
            sensor.delay = seconds(key, value);
            break;
        case LimitsKey::Priority:
            sensor.priority = priority(key, value);
            break;
        }
    }

    const QByteArray &m_text;
    const QString m_file;
    AlarmLimits m_limits = AlarmLimits::defaults();
    int m_line = 0;
    std::optional<int> m_section;
    QHash<std::pair<int, QString>, int> m_seen; // (section, key) -> line
};

// A text value as written: in quotes when it would not read back as it is.
QString quoted(const QString &text)
{
    const bool plain = text.trimmed() == text && !text.startsWith(QLatin1Char('"')) &&
                       std::none_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x20; });
    if (plain)
        return text;
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\') + c;
        else if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            out += QStringLiteral("\\t");
        else if (c.unicode() >= 0x20)
            out += c;
    }
    return out + QLatin1Char('"');
}

QString numberText(std::optional<double> value)
{
    return value ? QString::number(*value, 'g', QLocale::FloatingPointShortest) : QString();
}
QString secondsText(std::chrono::milliseconds ms)
{
    return numberText(double(ms.count()) / MillisecondsPerSecond);
}

[[noreturn]] void writeFailed(const QString &path, const QString &why)
{
    throw StationError(ErrorCode::StoreFailed, QStringLiteral("cannot write %1: %2").arg(path, why));
}

} // namespace

QString limitsFilePath(const QString &appDir)
{
    return QDir(appDir).filePath(LimitsFileName);
}

AlarmLimits parseLimits(const QByteArray &text, const QString &fileName)
{
    return Parser(text, fileName).run();
}

AlarmLimits readLimitsFile(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return AlarmLimits::defaults();
    if (!file.open(QIODevice::ReadOnly))
        throw StationError(ErrorCode::LimitsInvalid,
                           QStringLiteral("%1: cannot be read: %2").arg(path, file.errorString()));
    return parseLimits(file.readAll(), path);
}

QByteArray limitsText(const AlarmLimits &limits)
{
    QString text = QStringLiteral("; Alarm limits of the station. An empty limit is no limit; delay and\n"
                                  "; silentAfter in seconds; priority high, medium or low.\n");
    text += QStringLiteral("[%1]\n%2=%3\n%4=%5\n")
                .arg(StationSection, SilentAfterKey, secondsText(limits.silentAfter), StationPriorityKey,
                     priorityText(limits.silentPriority));
    for (int number = 1; number <= schema::SensorCount; ++number) {
        const SensorLimits &sensor = limits.sensor(number);
        const std::array<QString, LimitsKeyCount> values{
            quoted(sensor.name),         quoted(sensor.unit),       numberText(sensor.highHigh),
            numberText(sensor.high),     numberText(sensor.low),    numberText(sensor.lowLow),
            numberText(sensor.deadband), secondsText(sensor.delay), priorityText(sensor.priority)};
        text += QStringLiteral("\n[%1]\n").arg(sectionName(number));
        for (int key = 0; key < LimitsKeyCount; ++key)
            text += limitsKeyText(LimitsKey(key)) + QLatin1Char('=') + values[std::size_t(key)] +
                    QLatin1Char('\n');
    }
    return text.toUtf8();
}

void writeLimitsFile(const QString &path, const AlarmLimits &limits)
{
    QSaveFile file(path);
    const QByteArray text = limitsText(limits);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.flush())
        writeFailed(path, file.errorString());
    if (::fsync(file.handle()) != 0)
        writeFailed(path, QString::fromLocal8Bit(std::strerror(errno)));
    if (!file.commit())
        writeFailed(path, file.errorString());
    // The rename lasts only once the directory is on the disk.
    const int dir =
        ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

} // namespace qf
