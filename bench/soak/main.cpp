// quillfern-soak: the station program logging unattended through device
// blinks. Runs the built station (a copy in a fresh application directory,
// with a fresh store) against quillfern-devsim, which vanishes and returns
// every few minutes, presses START with xdotool, opens the store now and
// then as another reader would, and at the end prints: records sent and
// stored, records spliced or stored twice (both must be 0), acknowledged
// records lost, outages and the times the station took to resume, its peak
// memory and its CPU (overall and while waiting for the device).
//
// Needs an X display (run it under xvfb-run -a) and xdotool.
//   quillfern-soak [--minutes 30] [--blink 120] [--outage 3000] [--interval 200]

#include "bench/support/benchsupport.h"
#include "common/error.h"
#include "store/logstore.h"
#include "store/storemaintenance.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>

using namespace qf;

using namespace std::chrono_literals;
using namespace qf::bench;

namespace {

constexpr int StartX = 720; // the middle of START in the window, in pixels
constexpr int StartY = 508;
constexpr auto ReaderEvery = 45s;    // how often another reader opens the store
constexpr auto SampleEvery = 1s;     // how often the station's CPU and memory are read
constexpr auto WindowDeadline = 20s; // for the window to appear
constexpr auto LinkDeadline = 5s;    // for the device to publish COM1
constexpr auto ToolDeadline = 10s;   // for a run of xdotool
constexpr double ValueTolerance = 1e-6;

using Reading = std::array<double, 4>;

std::optional<Reading> readingOf(const QByteArray &frame)
{
    // "N" then four fields, each ended by ","
    const QList<QByteArray> fields = frame.mid(1).split(',');
    if (!frame.startsWith('N') || fields.size() != 5)
        return std::nullopt;
    Reading r{};
    for (int k = 0; k < 4; ++k)
        r[k] = fields[k].toDouble();
    return r;
}

bool same(const Reading &a, const Reading &b)
{
    for (int k = 0; k < 4; ++k) {
        if (std::abs(a[k] - b[k]) > ValueTolerance)
            return false;
    }
    return true;
}

// Peak or current resident memory of a running process, in KiB.
long statusKb(qint64 pid, const char *key)
{
    return long(procFigure("status", key, pid));
}

QString run(const QString &program, const QStringList &args)
{
    return QString::fromLocal8Bit(runToEnd(program, args, ToolDeadline));
}

class Soak : public QObject {
public:
    struct Options {
        std::chrono::seconds length{30 * 60};
        int blinkSeconds = 120;
        int outageMs = 3000;
        int intervalMs = 200;
        bool flood = false; // the device does not wait for the poll
    };

    Soak(QString binDir, Options options) : m_binDir(std::move(binDir)), m_options(options) {}

    int start();
    void finish();

private:
    bool prepare();
    void startDevice();
    void startStation();
    bool pressStart();
    void onDeviceLine(const QByteArray &line);
    void onStationLine(const QByteArray &line);
    void sample();
    void readStore();
    void report();

    double now() const { return double(m_clock.nsecsElapsed()) / 1e9; }

    QString m_binDir;
    Options m_options;
    QTemporaryDir m_dir;
    Child m_device{Child::Read::ErrorLines};
    Child m_station{Child::Read::ErrorLines};
    QElapsedTimer m_clock;
    QTimer m_sampler, m_reader;

    std::vector<Reading> m_frames; // every frame begun, in order
    std::vector<bool> m_acked;     // and whether the device saw it answered
    long long m_sent = 0;
    int m_outages = 0;
    double m_goneAt = -1, m_backAt = -1;
    bool m_awaitOpen = false, m_awaitFrame = false;
    std::vector<double> m_reopen, m_firstRecord;
    double m_waitCpu = 0, m_waitSeconds = 0, m_cpuAtGone = 0;
    long m_peakKb = 0, m_lastKb = 0;
    double m_cpuEnd = 0;
    int m_reads = 0;
    long long m_lastCount = 0;
    QStringList m_journal;
};

int Soak::start()
{
    if (!prepare())
        return 1;
    m_clock.start();
    startDevice();
    startStation();
    if (!pressStart())
        return 1;
    connect(&m_sampler, &QTimer::timeout, this, [this] { sample(); });
    connect(&m_reader, &QTimer::timeout, this, [this] { readStore(); });
    m_sampler.start(SampleEvery);
    m_reader.start(ReaderEvery);
    QTimer::singleShot(m_options.length, this, [this] { finish(); });
    std::printf("soak: %lld s, device blinks every %d s for %d ms, a frame every %d ms, store in %s\n",
                (long long)m_options.length.count(), m_options.blinkSeconds, m_options.outageMs,
                m_options.intervalMs, qPrintable(m_dir.path()));
    std::fflush(stdout);
    return 0;
}

bool Soak::prepare()
{
    const QString station = m_dir.filePath(QStringLiteral("quillfern"));
    if (!QFile::copy(m_binDir + QStringLiteral("/quillfern"), station)) {
        std::fprintf(stderr, "soak: cannot copy the station program\n");
        return false;
    }
    QFile::setPermissions(station, QFile::permissions(station) | QFile::ExeOwner);
    createStore(storeFilePath(m_dir.path()));
    return true;
}

void Soak::startDevice()
{
    m_device.onErrorLine([this](const QByteArray &line) { onDeviceLine(line); });
    QStringList args{QStringLiteral("--dir"),      m_dir.path(),
                     QStringLiteral("--blink"),    QString::number(m_options.blinkSeconds),
                     QStringLiteral("--outage"),   QString::number(m_options.outageMs),
                     QStringLiteral("--interval"), QString::number(m_options.intervalMs)};
    if (m_options.flood)
        args << QStringLiteral("--flood");
    m_device.start(m_binDir + QStringLiteral("/quillfern-devsim"), args);
    waitUntil([this] { return QFileInfo(m_dir.filePath(QStringLiteral("COM1"))).isSymLink(); }, LinkDeadline);
}

void Soak::startStation()
{
    m_station.onErrorLine([this](const QByteArray &line) { onStationLine(line); });
    m_station.setEnv(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    m_station.start(m_dir.filePath(QStringLiteral("quillfern")), {});
}

bool Soak::pressStart()
{
    const QString pid = QString::number(m_station.pid());
    QElapsedTimer waited;
    waited.start();
    while (std::chrono::milliseconds(waited.elapsed()) < WindowDeadline) {
        const QStringList windows =
            run(QStringLiteral("xdotool"),
                {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"), pid,
                 QStringLiteral("--name"), QStringLiteral("^Quillfern$")})
                .split(u'\n', Qt::SkipEmptyParts);
        if (!windows.isEmpty()) {
            QThread::msleep(500); // laid out and painted
            run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("--window"),
                                            windows.last(), QString::number(StartX), QString::number(StartY),
                                            QStringLiteral("click"), QStringLiteral("1")});
            return true;
        }
        QThread::msleep(200);
    }
    std::fprintf(stderr, "soak: the station's window did not appear\n");
    return false;
}

void Soak::onDeviceLine(const QByteArray &line)
{
    const double t = now();
    if (line.startsWith("frame cut: ") || line.startsWith("frame ")) {
        const bool cut = line.startsWith("frame cut: ");
        if (const auto reading = readingOf(line.mid(line.indexOf(": ") + 2))) {
            m_frames.push_back(*reading);
            m_acked.push_back(!cut);
        }
        if (!cut) {
            ++m_sent;
            if (m_awaitFrame) {
                m_firstRecord.push_back(t - m_backAt);
                m_awaitFrame = false;
            }
        }
    } else if (line == "device gone") {
        ++m_outages;
        m_goneAt = t;
        m_cpuAtGone = processCpu(m_station.pid()).count();
    } else if (line == "device back") {
        m_backAt = t;
        m_awaitOpen = m_awaitFrame = true;
    } else if (line == "station opened the port" && m_awaitOpen) {
        m_awaitOpen = false;
        m_reopen.push_back(t - m_backAt);
        m_waitCpu += processCpu(m_station.pid()).count() - m_cpuAtGone;
        m_waitSeconds += t - m_goneAt;
    }
}

void Soak::onStationLine(const QByteArray &line)
{
    m_journal << QString::fromLocal8Bit(line);
}

void Soak::sample()
{
    const qint64 pid = m_station.pid();
    if (pid <= 0)
        return;
    m_peakKb = std::max(m_peakKb, statusKb(pid, "VmHWM:"));
    m_lastKb = statusKb(pid, "VmRSS:");
    m_cpuEnd = processCpu(pid).count();
}

void Soak::readStore()
{
    try {
        auto db = LogDatabase::OpenDatabase(storeFilePath(m_dir.path()));
        auto rs = db->OpenRecordset();
        m_lastCount = rs->RecordCount();
        rs->ReadRows(std::max<qint64>(0, m_lastCount - 100), 100);
        ++m_reads;
    } catch (const StationError &e) {
        std::fprintf(stderr, "soak: reader: %s\n", qPrintable(e.error().description));
    }
}

void Soak::finish()
{
    sample();
    const double seconds = now();
    const bool stationAlive = m_station.running();
    m_station.stop();
    m_device.stop();
    report();
    std::printf("station ran %s the whole time; %.0f s; store read by another reader %d times\n",
                stationAlive ? "on" : "NOT", seconds, m_reads);
    std::printf("CPU of the station: %.2f %% of a core overall\n", 100.0 * m_cpuEnd / seconds);
    QCoreApplication::exit(0);
}

void Soak::report()
{
    auto db = LogDatabase::OpenDatabase(storeFilePath(m_dir.path()));
    auto rs = db->OpenRecordset();
    const auto rows = rs->ReadRows(0, rs->RecordCount());
    // Stored records must be the frames begun, in order, none twice.
    std::vector<bool> stored(m_frames.size(), false);
    size_t next = 0;
    long long spliced = 0, twice = 0;
    for (const auto &values : rows) {
        const Reading r{values[2].toDouble(), values[3].toDouble(), values[4].toDouble(),
                        values[5].toDouble()};
        size_t k = next;
        while (k < m_frames.size() && !same(m_frames[k], r))
            ++k;
        if (k < m_frames.size()) {
            stored[k] = true;
            next = k + 1;
        } else if (next > 0 && same(m_frames[next - 1], r)) {
            ++twice;
        } else {
            ++spliced;
        }
    }
    long long lost = 0;
    for (size_t k = 0; k < m_frames.size(); ++k)
        lost += m_acked[k] && !stored[k] ? 1 : 0;

    // In lock-step a record is sent once the station has answered it, so
    // none may be lost; a flood loses the frames the station dropped.
    std::printf("records sent %lld, stored %zu, spliced %lld, stored twice %lld, sent but not stored %lld\n",
                m_sent, rows.size(), spliced, twice, lost);
    std::printf("outages %d; port open again after the device's return: p50 %.2f s, p95 %.2f s, max %.2f s "
                "(%zu)\n",
                m_outages, percentile(m_reopen, 0.5), percentile(m_reopen, 0.95), percentile(m_reopen, 1.0),
                m_reopen.size());
    std::printf("first record answered after the return: p50 %.2f s, p95 %.2f s, max %.2f s (%zu)\n",
                percentile(m_firstRecord, 0.5), percentile(m_firstRecord, 0.95),
                percentile(m_firstRecord, 1.0), m_firstRecord.size());
    std::printf("memory of the station: peak %ld KiB, at the end %ld KiB; CPU while waiting for the device "
                "%.3f %% of a core "
                "(%.0f s waited)\n",
                m_peakKb, m_lastKb, m_waitSeconds > 0 ? 100.0 * m_waitCpu / m_waitSeconds : 0.0,
                m_waitSeconds);
    std::printf("journal lines of the station: %lld\n", (long long)m_journal.size());
    for (qsizetype i = 0; i < std::min<qsizetype>(4, m_journal.size()); ++i)
        std::printf("  %s\n", qPrintable(m_journal[i]));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Options options;
    options.add(QStringLiteral("minutes"), QStringLiteral("Length of the run."), QStringLiteral("n"),
                QStringLiteral("30"));
    options.add(QStringLiteral("blink"), QStringLiteral("Seconds between blinks."), QStringLiteral("s"),
                QStringLiteral("120"));
    options.add(QStringLiteral("outage"), QStringLiteral("Milliseconds a blink lasts."), QStringLiteral("ms"),
                QStringLiteral("3000"));
    options.add(QStringLiteral("interval"), QStringLiteral("Milliseconds between the device's frames."),
                QStringLiteral("ms"), QStringLiteral("200"));
    options.add(QStringLiteral("flood"), QStringLiteral("The device sends without waiting for the poll (see "
                                                        "quillfern-devsim --flood); no record need be lost "
                                                        "otherwise."));
    options.process(app);

    Soak::Options soakOptions;
    soakOptions.length = std::chrono::seconds(std::llround(options.number(QStringLiteral("minutes")) * 60));
    soakOptions.blinkSeconds = int(options.integer(QStringLiteral("blink")));
    soakOptions.outageMs = int(options.integer(QStringLiteral("outage")));
    soakOptions.intervalMs = int(options.integer(QStringLiteral("interval")));
    soakOptions.flood = options.isSet(QStringLiteral("flood"));
    Soak soak(QCoreApplication::applicationDirPath(), soakOptions);
    if (soak.start() != 0)
        return 1;
    return QCoreApplication::exec();
}
