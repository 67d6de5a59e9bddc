#include "devicesimulator.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace qf {

using namespace std::chrono_literals;

namespace {
constexpr auto HangUpCheck = 50ms;  // how often a closed port is looked at
constexpr auto PendingWait = 200ms; // how long a partial burst may wait
constexpr auto FloodWait = 1ms;     // shortest wait between frames of a flood
} // namespace

DeviceSimulator::DeviceSimulator(PseudoTerminal &pty, FrameSource &source, Options options, std::FILE *log)
    : m_pty(&pty), m_source(source), m_options(options), m_log(log)
{
}

int DeviceSimulator::run(int stopFd)
{
    m_nextBlink = Clock::now() + m_options.blinkEvery;
    for (;;) {
        auto now = Clock::now();
        if (m_pty == nullptr && now >= m_returnAt && !reappear(now))
            return 1;
        if (m_pty != nullptr && (m_blinkAsked || blinkDue(now)))
            vanish(now);
        if (m_pty != nullptr)
            followPort(now);

        pollfd fds[2] = {{stopFd, POLLIN, 0}, {m_pty ? m_pty->masterFd() : -1, POLLIN, 0}};
        const int count = m_connected ? 2 : 1;
        const int ms = int(m_connected ? timeout(now).count() : HangUpCheck.count());
        const int ready = ::poll(fds, count, ms);
        if (ready < 0 && errno != EINTR) {
            std::perror("poll");
            return 1;
        }
        if (fds[0].revents & POLLIN) {
            const Signal signal = readSignal(stopFd);
            if (signal == Signal::Stop) {
                logCut();
                return 0;
            }
            m_blinkAsked = m_blinkAsked || signal == Signal::Blink;
        }
        now = Clock::now();
        if (count == 2 && (fds[1].revents & POLLIN)) {
            if (readStation(now))
                return 0;
        }
        if (!m_reader.pending().isEmpty() && now - m_lastRead >= PendingWait)
            reportOther(m_reader.takePending());
    }
}

DeviceSimulator::Signal DeviceSimulator::readSignal(int stopFd) const
{
    signalfd_siginfo info{};
    if (::read(stopFd, &info, sizeof info) != ssize_t(sizeof info))
        return Signal::None;
    return info.ssi_signo == SIGUSR1 ? Signal::Blink : Signal::Stop;
}

bool DeviceSimulator::blinkDue(Clock::time_point now) const
{
    return m_options.blinkEvery > 0ms && m_blink.vanish && now >= m_nextBlink;
}

void DeviceSimulator::followPort(Clock::time_point now)
{
    const bool open = m_pty->slaveOpen();
    if (open && !m_connected) {
        m_connected = true;
        m_inFlight = false;
        m_pty->makeRaw();
        m_nextSend = std::max(m_nextSend, now + m_options.settle);
        std::fprintf(m_log, "station opened the port\n");
        std::fflush(m_log);
    } else if (!open && m_connected) {
        m_connected = false;
        m_inFlight = false;
        m_reader.takePending();
        std::fprintf(m_log, "station closed the port\n");
    }
    if (m_connected)
        sendDue(now);
}

void DeviceSimulator::vanish(Clock::time_point now)
{
    m_blinkAsked = false;
    if (!m_blink.vanish)
        return;
    // A burst already written counts: its frame may be complete.
    pollfd waiting{m_pty->masterFd(), POLLIN, 0};
    if (m_connected && ::poll(&waiting, 1, 0) > 0 && (waiting.revents & POLLIN))
        readStation(now);
    logCut();
    m_frame.clear(); // back with a new frame
    m_position = 0;
    m_inFlight = false;
    m_connected = false;
    m_reader.takePending();
    m_blink.vanish();
    m_pty = nullptr;
    m_returnAt = now + m_options.outage;
    std::fprintf(m_log, "device gone\n");
    std::fflush(m_log);
}

void DeviceSimulator::logCut()
{
    if (m_position > 0 || m_inFlight)
        std::fprintf(m_log, "frame cut: %s\n", m_frame.constData());
}

bool DeviceSimulator::reappear(Clock::time_point now)
{
    m_pty = m_blink.reappear();
    if (m_pty == nullptr)
        return false;
    m_nextBlink = now + m_options.blinkEvery;
    std::fprintf(m_log, "device back\n");
    std::fflush(m_log);
    return true;
}

void DeviceSimulator::sendDue(Clock::time_point now)
{
    if (m_options.flood) {
        flood(now);
        return;
    }
    if (m_inFlight && now - m_sentAt >= m_options.resend)
        m_inFlight = false; // not answered: the station did not get it
    if (m_inFlight || now < m_nextSend)
        return;
    if (m_position >= m_frame.size()) {
        m_frame = m_source.next();
        m_position = 0;
    }
    const char c = m_frame.at(m_position);
    if (::write(m_pty->masterFd(), &c, 1) == 1) {
        m_inFlight = true;
        m_sentAt = now;
    }
}

void DeviceSimulator::flood(Clock::time_point now)
{
    if (now < m_nextSend)
        return;
    if (m_position >= m_frame.size()) {
        m_frame = m_source.next();
        m_position = 0;
    }
    const ssize_t n =
        ::write(m_pty->masterFd(), m_frame.constData() + m_position, size_t(m_frame.size() - m_position));
    if (n > 0)
        m_position += int(n);
    if (m_position < m_frame.size())
        return; // the line is full: the rest follows when it takes more
    ++m_frames;
    std::fprintf(m_log, "frame %lld: %s\n", m_frames, m_frame.constData());
    m_nextSend = now + m_options.interval;
}

bool DeviceSimulator::readStation(Clock::time_point now)
{
    char buffer[512];
    const ssize_t n = ::read(m_pty->masterFd(), buffer, sizeof buffer);
    if (n <= 0)
        return false;
    m_lastRead = now;
    const PollReader::Result result = m_reader.feed(QByteArray(buffer, int(n)));
    reportOther(result.other);
    for (int i = 0; i < result.bursts; ++i) {
        if (!m_inFlight)
            continue; // an extra burst answers nothing of ours
        m_inFlight = false;
        ++m_position;
        if (m_position < m_frame.size())
            continue;
        ++m_frames;
        std::fprintf(m_log, "frame %lld: %s\n", m_frames, m_frame.constData());
        std::fflush(m_log);
        m_nextSend = now + m_options.interval;
        if (m_options.frames > 0 && m_frames >= m_options.frames)
            return true;
    }
    return false;
}

void DeviceSimulator::reportOther(const QByteArray &bytes)
{
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f)
            std::fprintf(m_log, "received \"%c\" (0x%02x)\n", c, u);
        else
            std::fprintf(m_log, "received 0x%02x\n", u);
    }
    if (!bytes.isEmpty())
        std::fflush(m_log);
}

std::chrono::milliseconds DeviceSimulator::timeout(Clock::time_point now) const
{
    auto until = [now](Clock::time_point t) {
        return std::max(0ms, std::chrono::ceil<std::chrono::milliseconds>(t - now));
    };
    std::chrono::milliseconds wait = HangUpCheck;
    if (m_options.flood)
        return std::max(FloodWait, std::min(wait, until(m_nextSend)));
    if (m_inFlight)
        wait = std::min(wait, until(m_sentAt + m_options.resend));
    else
        wait = std::min(wait, until(m_nextSend));
    if (!m_reader.pending().isEmpty())
        wait = std::min(wait, until(m_lastRead + PendingWait));
    return wait;
}

} // namespace qf
