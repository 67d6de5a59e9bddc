#pragma once

#include "framesource.h"
#include "pollreader.h"
#include "pseudoterminal.h"

#include <QByteArray>

#include <chrono>
#include <cstdio>
#include <functional>

namespace qf {

// Plays the acquisition device on the master end of a pseudo-terminal, in
// lock-step with the station: it sends the frames of its source one
// character at a time and sends the next character only once it has read
// the poll burst answering the previous one.
//
// The station may close and reopen the port at any time (STOP, START): while
// the slave end is closed the simulator waits, and once it is open again it
// lets the port settle, then sends the character that was not answered.
//
// It can also vanish and return, like a device unplugged for a moment: every
// blinkEvery, or when SIGUSR1 arrives on the stop descriptor, it hangs up
// and removes its port, stays away for outage, then publishes a new
// pseudo-terminal under the same name and starts a new frame from "N". A
// frame cut by a blink or by the stop is logged as "frame cut: ...".
//
// As a device that does not wait for the poll (flood), it writes each frame
// whole, one every interval, as fast as the line takes them, and logs each
// frame once written.
class DeviceSimulator {
public:
    struct Options {
        std::chrono::milliseconds interval{500}; // pause between frames
        long long frames = 0;                    // stop after this many; 0 = never
        std::chrono::milliseconds resend{1000};  // no answer for this long: send again
        std::chrono::milliseconds settle{200};   // quiet time after the port opens
        std::chrono::milliseconds blinkEvery{0}; // vanish this often; 0 = only on SIGUSR1
        std::chrono::milliseconds outage{3000};  // how long a blink stays away
        bool flood = false;                      // send each frame whole, not waiting for the poll
    };

    // Takes the device away (hang-up, port removed) and publishes a new one;
    // the second returns nullptr when it cannot.
    struct Blink {
        std::function<void()> vanish;
        std::function<PseudoTerminal *()> reappear;
    };

    DeviceSimulator(PseudoTerminal &pty, FrameSource &source, Options options, std::FILE *log);

    void setBlink(Blink blink) { m_blink = std::move(blink); }

    // Runs until the frame limit or until a stop signal arrives on stopFd (a
    // signalfd; SIGUSR1 there asks for a blink). Returns the process exit
    // code.
    int run(int stopFd);

    long long framesSent() const { return m_frames; }

private:
    using Clock = std::chrono::steady_clock;

    enum class Signal { None, Stop, Blink };
    Signal readSignal(int stopFd) const;
    void followPort(Clock::time_point now);
    void vanish(Clock::time_point now);
    void logCut();
    bool reappear(Clock::time_point now);
    bool blinkDue(Clock::time_point now) const;
    void sendDue(Clock::time_point now);
    void flood(Clock::time_point now);
    bool readStation(Clock::time_point now);
    void reportOther(const QByteArray &bytes);
    std::chrono::milliseconds timeout(Clock::time_point now) const;

    PseudoTerminal *m_pty = nullptr; // nullptr while away
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

    Blink m_blink;
    bool m_blinkAsked = false;
    Clock::time_point m_nextBlink{};
    Clock::time_point m_returnAt{};
};

} // namespace qf
