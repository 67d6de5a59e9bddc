#pragma once

#include "trend/trendfeed.h"
#include "trendview/trendalarms.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>

#include <atomic>
#include <chrono>

class QAction;
class QLabel;
class QProgressBar;
class QThread;

namespace qf {

class TrendPlot;

// The trend viewer's window: the plot, a File menu to save the picture or
// export the records shown, Whole history (Home) and Follow, and the status
// bar with the record under the pointer and the number of records. While
// the records the cache file does not hold are read (all of them, the first
// time), a progress bar tells how far and how long, and the plot shows what
// is read so far. Then it looks for new records a few times a second.
class TrendWindow : public QMainWindow {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds PollInterval{250};
    // How often the plot takes in what is read while catching up.
    static constexpr std::chrono::milliseconds BuildShowInterval{1000};

    explicit TrendWindow(TrendFeed &feed, QWidget *parent = nullptr);
    ~TrendWindow() override;

    // Maps the cache file and shows it, then reads the rest in the
    // background and follows.
    void start();

private:
    void setUpMenus();
    // Reading the store in the background, up to its newest record.
    void startCatchUp();
    void stopCatchUp();
    void showProgress(qint64 read, qint64 estimate);
    void showBuilt();
    void finishCatchUp(int run, const QString &error);
    // The cache file was found damaged: everything is read again.
    void rebuild();
    void poll();
    void fail(const QString &text);
    void showCount();
    void showRecord(qint64 index);
    void savePicture();
    void exportVisible();

    TrendFeed &m_feed;
    TrendPlot *m_plot = nullptr;
    TrendAlarms *m_alarms = nullptr;
    QAction *m_follow = nullptr;
    QLabel *m_record = nullptr;
    QLabel *m_count = nullptr;
    QProgressBar *m_progress = nullptr;
    QTimer m_poll;
    QTimer m_showBuilt;
    QThread *m_catchUp = nullptr;
    int m_catchUpRun = 0; // catch-ups started, to tell a stopped one's end
    std::atomic<bool> m_stop = false;
    QElapsedTimer m_catchUpClock;
    QString m_cacheProblem; // as last shown
};

} // namespace qf
