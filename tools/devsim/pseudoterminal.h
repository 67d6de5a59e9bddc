#pragma once

#include <QString>

namespace qf {

// A pseudo-terminal pair in raw mode. The master end stays with its owner;
// the slave end is closed at once and left for a serial port to open by its
// path. While nobody holds the slave open, the master reports a hang-up.
class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isValid() const { return m_master >= 0; }
    QString errorString() const { return m_error; }

    int masterFd() const { return m_master; }
    QString slavePath() const { return m_slavePath; }

    // Whether some process holds the slave end open now.
    bool slaveOpen() const;
    // Puts the line back into raw mode (a port that opened it may have
    // changed it).
    void makeRaw();
    // Hangs up: the slave end sees its device vanish.
    void closeMaster();

private:
    int m_master = -1;
    QString m_slavePath;
    QString m_error;
};

} // namespace qf
