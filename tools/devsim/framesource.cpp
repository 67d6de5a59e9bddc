#include "framesource.h"

#include <algorithm>

FrameSource::FrameSource(unsigned seed) : m_rng(seed)
{
    std::uniform_real_distribution<double> start(21.0, 29.0);
    for (double &t : m_temperature)
        t = start(m_rng);
}

QByteArray FrameSource::next()
{
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
