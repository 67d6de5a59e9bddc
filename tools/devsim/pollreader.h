#pragma once

#include <QByteArray>

namespace qf {

// Splits what the station sends into poll bursts "bcde" and other bytes
// (relay letters). Bytes that may begin a burst wait for the rest.
class PollReader {
public:
    struct Result {
        int bursts = 0;
        QByteArray other;
    };

    Result feed(const QByteArray &bytes);
    // Bytes held back as the possible start of a burst.
    const QByteArray &pending() const { return m_buffer; }
    // Gives up waiting: the held-back bytes are other bytes after all.
    QByteArray takePending();

private:
    QByteArray m_buffer;
};

} // namespace qf
