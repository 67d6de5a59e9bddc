#include "framesource.h"

#include <QFile>

#include <algorithm>

namespace qf {

namespace {
// The values of a frame: one per sensor.
constexpr qsizetype FrameValues = 4;
} // namespace

FrameSource::FrameSource(unsigned seed) : m_rng(seed)
{
    std::uniform_real_distribution<double> start(21.0, 29.0);
    for (double &t : m_temperature)
        t = start(m_rng);
}

std::optional<QList<QByteArray>> FrameSource::readFrames(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return std::nullopt;
    }
    QList<QByteArray> frames;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i).trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.endsWith(','))
            line.chop(1);
        const QList<QByteArray> values = line.split(',');
        const bool frame = values.size() == FrameValues && !line.contains('N');
        if (!frame) {
            *error = QStringLiteral("%1:%2: expected %3 values separated by commas")
                         .arg(path)
                         .arg(i + 1)
                         .arg(FrameValues);
            return std::nullopt;
        }
        frames.append('N' + values.join(',') + ',');
    }
    if (frames.isEmpty()) {
        *error = path + QStringLiteral(": no frames");
        return std::nullopt;
    }
    return frames;
}

QByteArray FrameSource::next()
{
    if (!m_played.isEmpty())
        return m_played.at(m_nextPlayed++ % m_played.size());
    std::normal_distribution<double> noise(0.0, 0.05);
    std::normal_distribution<double> driftStep(0.0, 0.01);
    std::uniform_real_distribution<double> vibration(0.05, 0.95);

    QByteArray frame("N");
    for (std::size_t i = 0; i < m_temperature.size(); ++i) {
        m_drift[i] = std::clamp(m_drift[i] + driftStep(m_rng), -0.05, 0.05);
        m_temperature[i] += m_drift[i];
        // Turn back well before the edges of the range.
        if (m_temperature[i] > 29.0 || m_temperature[i] < 21.0)
            m_drift[i] = -m_drift[i];
        const double shown = std::clamp(m_temperature[i] + noise(m_rng), 20.0, 30.0);
        frame += QByteArray::number(shown, 'f', 1) + ',';
    }
    frame += QByteArray::number(vibration(m_rng), 'f', 2) + ',';
    return frame;
}

} // namespace qf
