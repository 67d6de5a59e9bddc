// quillfern-devsim: the acquisition device, simulated on a pseudo-terminal.

#include "devicesimulator.h"
#include "framesource.h"
#include "portlink.h"
#include "pseudoterminal.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <random>
#include <sys/signalfd.h>
#include <unistd.h>

using namespace qf;

namespace {
// Blocks the stop signals and SIGUSR1 (blink) and returns a descriptor that
// becomes readable when one arrives, so the main loop can stop and clean up.
int stopSignalFd()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGUSR1);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    return signalfd(-1, &set, SFD_CLOEXEC);
}

long long toNumber(const QString &text, long long min, const char *what, bool *ok)
{
    const long long n = text.toLongLong(ok);
    if (!*ok || n < min) {
        std::fprintf(stderr, "quillfern-devsim: invalid %s \"%s\"\n", what, qPrintable(text));
        *ok = false;
    }
    return n;
}

// The device's pseudo-terminal and its COMn name, which a blink takes away
// and publishes anew.
struct PublishedDevice {
    QString dir;
    int port = 1;
    std::unique_ptr<PseudoTerminal> pty;
    std::unique_ptr<PortLink> link;

    PseudoTerminal *publish()
    {
        auto fresh = std::make_unique<PseudoTerminal>();
        if (!fresh->isValid()) {
            std::fprintf(stderr, "quillfern-devsim: %s\n", qPrintable(fresh->errorString()));
            return nullptr;
        }
        auto name = std::make_unique<PortLink>(dir, port, fresh->slavePath());
        if (!name->isValid()) {
            std::fprintf(stderr, "quillfern-devsim: %s\n", qPrintable(name->errorString()));
            return nullptr;
        }
        std::fprintf(stderr, "quillfern-devsim: COM%d is %s -> %s\n", port, qPrintable(name->path()),
                     qPrintable(fresh->slavePath()));
        std::fflush(stderr);
        pty = std::move(fresh);
        link = std::move(name);
        return pty.get();
    }

    // Hang-up first, as an unplugged device's port fails before its node goes.
    void vanish()
    {
        pty.reset();
        link.reset();
    }
};
} // namespace

int main(int argc, char *argv[])
{
    const int stopFd = stopSignalFd();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillfern-devsim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated acquisition device on a pseudo-terminal. Publishes the device end as COMn in a "
        "directory, sends frames \"N\" + four values each followed by \",\", one character at a time, "
        "the next only after the poll burst \"bcde\" for the previous one has been read. Prints "
        "other received bytes (relay letters) and every frame sent on stderr. Stops on SIGINT or "
        "SIGTERM and removes the link; SIGUSR1 makes it vanish and return (see --blink)."));
    parser.addHelpOption();
    const QCommandLineOption dirOption(
        {QStringLiteral("d"), QStringLiteral("dir")},
        QStringLiteral("Directory of the COMn link (default: this program's own directory)."),
        QStringLiteral("directory"), QCoreApplication::applicationDirPath());
    const QCommandLineOption portOption({QStringLiteral("p"), QStringLiteral("port")},
                                        QStringLiteral("COM port number n of the link (default 1)."),
                                        QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption intervalOption(
        {QStringLiteral("i"), QStringLiteral("interval")},
        QStringLiteral("Pause between frames in milliseconds (default 500)."), QStringLiteral("ms"),
        QStringLiteral("500"));
    const QCommandLineOption framesOption(
        {QStringLiteral("n"), QStringLiteral("frames")},
        QStringLiteral("Exit after this many frames have been answered (default 0: never)."),
        QStringLiteral("count"), QStringLiteral("0"));
    const QCommandLineOption resendOption(
        QStringLiteral("resend"),
        QStringLiteral("Send a character again when no poll burst answers it within this many "
                       "milliseconds (default 1000)."),
        QStringLiteral("ms"), QStringLiteral("1000"));
    const QCommandLineOption seedOption(QStringLiteral("seed"),
                                        QStringLiteral("Seed of the simulated readings (default: random)."),
                                        QStringLiteral("number"));
    const QCommandLineOption blinkOption(
        QStringLiteral("blink"),
        QStringLiteral("Vanish every this many seconds, as an unplugged device does: hang up, remove the "
                       "port, wait --outage, publish a new pseudo-terminal under the same name and start a "
                       "new frame (default 0: only when SIGUSR1 arrives)."),
        QStringLiteral("seconds"), QStringLiteral("0"));
    const QCommandLineOption outageOption(QStringLiteral("outage"),
                                          QStringLiteral("How long a blink stays away, in milliseconds "
                                                         "(default 3000)."),
                                          QStringLiteral("ms"), QStringLiteral("3000"));
    const QCommandLineOption floodOption(
        QStringLiteral("flood"), QStringLiteral("Do not wait for the poll: send each frame whole, one every "
                                                "--interval, as fast as the line takes them."));
    const QCommandLineOption playOption(
        QStringLiteral("play"),
        QStringLiteral("Send the readings of this file instead of simulated ones, in turn and again from the "
                       "first: one frame per line, four values separated by commas (\"35.5,22,23,0.5\"); "
                       "empty lines and lines starting with # are skipped."),
        QStringLiteral("file"));
    parser.addOptions({floodOption, dirOption, portOption, intervalOption, framesOption, resendOption,
                       seedOption, blinkOption, outageOption, playOption});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "quillfern-devsim: unexpected argument \"%s\"\n",
                     qPrintable(parser.positionalArguments().first()));
        return 2;
    }

    bool ok = true;
    const long long port = toNumber(parser.value(portOption), 1, "port", &ok);
    if (ok && port > 255) {
        std::fprintf(stderr, "quillfern-devsim: invalid port \"%lld\"\n", port);
        ok = false;
    }
    DeviceSimulator::Options options;
    if (ok)
        options.interval =
            std::chrono::milliseconds(toNumber(parser.value(intervalOption), 0, "interval", &ok));
    if (ok)
        options.frames = toNumber(parser.value(framesOption), 0, "frame count", &ok);
    if (ok)
        options.resend =
            std::chrono::milliseconds(toNumber(parser.value(resendOption), 1, "resend time", &ok));
    if (ok)
        options.blinkEvery = std::chrono::seconds(toNumber(parser.value(blinkOption), 0, "blink time", &ok));
    if (ok)
        options.outage = std::chrono::milliseconds(toNumber(parser.value(outageOption), 0, "outage", &ok));
    options.flood = parser.isSet(floodOption);
    unsigned seed = std::random_device{}();
    if (ok && parser.isSet(seedOption))
        seed = unsigned(toNumber(parser.value(seedOption), 0, "seed", &ok));
    if (!ok)
        return 2;
    FrameSource source(seed);
    if (parser.isSet(playOption)) {
        QString error;
        const std::optional<QList<QByteArray>> frames =
            FrameSource::readFrames(parser.value(playOption), &error);
        if (!frames) {
            std::fprintf(stderr, "quillfern-devsim: %s\n", qPrintable(error));
            return 2;
        }
        source.play(*frames);
    }
    if (stopFd < 0) {
        std::perror("quillfern-devsim: signalfd");
        return 1;
    }

    PublishedDevice device{parser.value(dirOption), int(port), nullptr, nullptr};
    PseudoTerminal *pty = device.publish();
    if (pty == nullptr)
        return 1;

    DeviceSimulator simulator(*pty, source, options, stderr);
    simulator.setBlink({[&device] { device.vanish(); }, [&device] { return device.publish(); }});
    const int code = simulator.run(stopFd);
    std::fprintf(stderr, "quillfern-devsim: %lld frames sent\n", simulator.framesSent());
    ::close(stopFd);
    return code;
}
