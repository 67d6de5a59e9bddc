#include "pollreader.h"

namespace qf {

namespace {
constexpr char Burst[] = "bcde";
constexpr int BurstLength = 4;
} // namespace

PollReader::Result PollReader::feed(const QByteArray &bytes)
{
    Result result;
    m_buffer += bytes;
    while (!m_buffer.isEmpty()) {
        if (m_buffer.startsWith(Burst)) {
            ++result.bursts;
            m_buffer.remove(0, BurstLength);
        } else if (m_buffer.size() < BurstLength && QByteArray(Burst).startsWith(m_buffer)) {
            break;
        } else {
            result.other += m_buffer.front();
            m_buffer.remove(0, 1);
        }
    }
    return result;
}

QByteArray PollReader::takePending()
{
    return std::exchange(m_buffer, QByteArray());
}

} // namespace qf
