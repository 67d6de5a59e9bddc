#pragma once

#include "framesource.h"
#include "pollreader.h"
#include "pseudoterminal.h"

#include <QByteArray>

#include <chrono>
#include <cstdio>

// Plays the acquisition device on the master end of a pseudo-terminal, in
// lock-step with the station: it sends the frames of its source one
// character at a time and sends the next character only once it has read
// the poll burst answering the previous one.
//
// The station may close and reopen the port at any time (STOP, START): while
// the slave end is closed the simulator waits, and once it is open again it
// lets the port settle, then sends the character that was not answered.
class DeviceSimulator {
public:
    struct Options {
        std::chrono::milliseconds interval{500}; // pause between frames
        long long frames = 0;                    // stop after this many; 0 = never
        std::chrono::milliseconds resend{1000};  // no answer for this long: send again
        std::chrono::milliseconds settle{200};   // quiet time after the port opens
    };

    DeviceSimulator(PseudoTerminal &pty, FrameSource &source, Options options, std::FILE *log);

    // Runs until the frame limit or until stopFd becomes readable (a signal).
    // Returns the process exit code.
    int run(int stopFd);

    long long framesSent() const { return m_frames; }

private:
    using Clock = std::chrono::steady_clock;

    void sendDue(Clock::time_point now);
    bool readStation(Clock::time_point now);
    void reportOther(const QByteArray &bytes);
    std::chrono::milliseconds timeout(Clock::time_point now) const;

    PseudoTerminal &m_pty;
    FrameSource &m_source;
    Options m_options;
    std::FILE *m_log = nullptr;

    bool m_connected = false;
    bool m_inFlight = false;
    QByteArray m_frame;
    int m_position = 0;
    long long m_frames = 0;
    PollReader m_reader;
    Clock::time_point m_nextSend{};
    Clock::time_point m_sentAt{};
    Clock::time_point m_lastRead{};
};
