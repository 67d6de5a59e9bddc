#pragma once

#include "trend/trendfeed.h"
#include "trendview/trendalarms.h"

#include <QMainWindow>
#include <QTimer>

#include <chrono>

class QAction;
class QLabel;
class QProgressBar;
class TrendPlot;

// The trend viewer's window: the plot, a File menu to save the picture or
// export the records shown, Whole history (Home) and Follow, a progress bar
// while the records load and, in the status bar, the record under the
// pointer. While open it looks for new records in the store a few times a
// second.
class TrendWindow : public QMainWindow {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds PollInterval{250};

    explicit TrendWindow(TrendFeed &feed, QWidget *parent = nullptr);
    ~TrendWindow() override;

    // Loads the records in the background, then shows them and follows.
    void start();

private:
    void setUpMenus();
    void finishLoading(bool ok, const QString &error);
    void poll();
    void showRecord(qsizetype index);
    void savePicture();
    void exportVisible();
    void fail(const QString &text);
    void showCount();

    TrendFeed &m_feed;
    TrendPlot *m_plot = nullptr;
    qf::TrendAlarms *m_alarms = nullptr;
    QAction *m_follow = nullptr;
    QLabel *m_record = nullptr;
    QLabel *m_count = nullptr;
    QProgressBar *m_progress = nullptr;
    QTimer m_poll;
    QThread *m_loader = nullptr;
};
