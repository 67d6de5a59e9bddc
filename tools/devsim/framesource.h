#pragma once

#include <QByteArray>

#include <array>
#include <random>

// Readings as the acquisition device sends them: "N", then three
// temperatures between 20 and 30 that drift slowly with some noise and one
// small vibration value, each followed by ",".
class FrameSource {
public:
    explicit FrameSource(unsigned seed);

    QByteArray next();

private:
    std::mt19937 m_rng;
    std::array<double, 3> m_temperature{24.0, 25.5, 23.0};
    std::array<double, 3> m_drift{};
};
