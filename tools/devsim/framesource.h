#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>
#include <optional>
#include <random>

namespace qf {

// Readings as the acquisition device sends them: "N", then three
// temperatures between 20 and 30 that drift slowly with some noise and one
// small vibration value, each followed by ",". Or given readings, played
// in turn and again from the first.
class FrameSource {
public:
    explicit FrameSource(unsigned seed);

    // Plays these frames instead, one after the other, without end.
    void play(QList<QByteArray> frames) { m_played = std::move(frames); }
    // The frames of a file of readings: one frame per line, its four values
    // separated by commas ("35.5,22,23,0.5"); empty lines and lines starting
    // with '#' are skipped. Nothing when the file cannot be read or a line
    // is no frame (error says which).
    static std::optional<QList<QByteArray>> readFrames(const QString &path, QString *error);

    QByteArray next();

private:
    QList<QByteArray> m_played;
    qsizetype m_nextPlayed = 0;
    std::mt19937 m_rng;
    std::array<double, 3> m_temperature{24.0, 25.5, 23.0};
    std::array<double, 3> m_drift{};
};

} // namespace qf
