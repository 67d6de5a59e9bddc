#include "trendview/trendwindow.h"

#include "common/error.h"
#include "trendview/trendplot.h"

#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QSaveFile>
#include <QStatusBar>
#include <QThread>
#include <QToolBar>

namespace qf {

namespace {

constexpr int ProgressScale = 1000;
constexpr int ProgressWidth = 420; // pixels, to hold the progress text
const QString Caption = QStringLiteral("Quillfern trend");

QString errorText(const StationError &e)
{
    return QStringLiteral("%1: %2").arg(e.error().number()).arg(e.error().description);
}

// "1 min 10 s", "25 s"
QString durationText(qint64 seconds)
{
    constexpr qint64 Minute = 60;
    if (seconds < Minute)
        return QStringLiteral("%1 s").arg(seconds);
    return QStringLiteral("%1 min %2 s").arg(seconds / Minute).arg(seconds % Minute);
}

} // namespace

TrendWindow::TrendWindow(TrendFeed &feed, QWidget *parent)
    : QMainWindow(parent), m_feed(feed), m_plot(new TrendPlot(feed.data(), this)), m_record(new QLabel(this)),
      m_count(new QLabel(this)), m_progress(new QProgressBar(this))
{
    setWindowTitle(Caption);
    setCentralWidget(m_plot);
    setUpMenus();
    m_alarms = new TrendAlarms(*this, *m_plot, feed.store().path());
    m_record->setTextFormat(Qt::PlainText); // the store's texts and the sensors' names
    statusBar()->addWidget(m_record, 1);
    statusBar()->addPermanentWidget(m_count);
    statusBar()->addPermanentWidget(m_progress);
    m_progress->setRange(0, ProgressScale);
    m_progress->setMinimumWidth(ProgressWidth);
    m_progress->hide();
    m_poll.setInterval(PollInterval);
    m_showBuilt.setInterval(BuildShowInterval);
    connect(&m_poll, &QTimer::timeout, this, &TrendWindow::poll);
    connect(&m_showBuilt, &QTimer::timeout, this, &TrendWindow::showBuilt);
    connect(m_plot, &TrendPlot::hovered, this, &TrendWindow::showRecord);
    connect(m_plot, &TrendPlot::followChanged, m_follow, &QAction::setChecked);
    connect(m_follow, &QAction::toggled, m_plot, &TrendPlot::setFollow);
    connect(m_plot, &TrendPlot::dataDamaged, this, &TrendWindow::rebuild, Qt::QueuedConnection);
}

TrendWindow::~TrendWindow()
{
    stopCatchUp();
    m_feed.saveCache(); // also a build cut short: it goes on from here
}

void TrendWindow::setUpMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("Save picture…"), this, &TrendWindow::savePicture);
    file->addAction(QStringLiteral("Export visible range…"), this, &TrendWindow::exportVisible);
    file->addSeparator();
    file->addAction(QStringLiteral("Quit"), QKeySequence::Quit, this, &QWidget::close);
    QMenu *view = menuBar()->addMenu(QStringLiteral("&View"));
    QAction *whole = view->addAction(QStringLiteral("Whole history"), m_plot, &TrendPlot::showWholeHistory);
    whole->setShortcut(Qt::Key_Home);
    m_follow = view->addAction(QStringLiteral("Follow"));
    m_follow->setCheckable(true);
    m_follow->setChecked(m_plot->follow());
    QToolBar *tools = addToolBar(QStringLiteral("View"));
    tools->setMovable(false);
    tools->addAction(whole);
    tools->addAction(m_follow);
}

void TrendWindow::start()
{
    m_feed.openCache();
    m_plot->dataChanged();
    showCount();
    startCatchUp();
}

void TrendWindow::startCatchUp()
{
    m_stop = false;
    m_progress->setValue(0);
    m_progress->setFormat(QStringLiteral("Reading %1…").arg(m_feed.store().path()));
    m_progress->show();
    m_catchUpClock.start();
    m_showBuilt.start();
    const int run = ++m_catchUpRun;
    m_catchUp = QThread::create([this, run] {
        QString error;
        try {
            m_feed.catchUp(
                [this](qint64 read, qint64 estimate) {
                    QMetaObject::invokeMethod(
                        this, [this, read, estimate] { showProgress(read, estimate); }, Qt::QueuedConnection);
                },
                &m_stop);
        } catch (const StationError &e) {
            error = errorText(e);
        }
        QMetaObject::invokeMethod(
            this, [this, run, error] { finishCatchUp(run, error); }, Qt::QueuedConnection);
    });
    m_catchUp->start();
}

void TrendWindow::stopCatchUp()
{
    if (!m_catchUp)
        return;
    m_stop = true;
    m_catchUp->wait();
    delete m_catchUp;
    m_catchUp = nullptr;
    m_showBuilt.stop();
}

void TrendWindow::showProgress(qint64 read, qint64 estimate)
{
    const QLocale locale;
    const qint64 elapsedMs = m_catchUpClock.elapsed();
    const qint64 left = read > 0 ? (estimate - read) * elapsedMs / read / 1000 : 0;
    m_progress->setValue(int(read * ProgressScale / std::max<qint64>(estimate, 1)));
    m_progress->setFormat(QStringLiteral("%1 of about %2 records read, %3 left")
                              .arg(locale.toString(read), locale.toString(estimate), durationText(left)));
}

void TrendWindow::showBuilt()
{
    if (m_feed.takeBuilt()) {
        m_plot->dataChanged();
        showCount();
    }
}

void TrendWindow::finishCatchUp(int run, const QString &error)
{
    if (!m_catchUp || run != m_catchUpRun)
        return; // stopped (and maybe started again) since
    m_catchUp->wait();
    delete m_catchUp;
    m_catchUp = nullptr;
    m_showBuilt.stop();
    m_progress->hide();
    if (!error.isEmpty()) {
        fail(error);
        return;
    }
    m_feed.takeBuilt();
    showCount();
    m_plot->dataChanged();
    m_plot->replot();
    m_feed.saveCache();
    m_poll.start();
}

void TrendWindow::rebuild()
{
    if (!m_feed.data().damaged())
        return;
    qWarning("quillfern-trend: the cache file %s is damaged; it is built again",
             qPrintable(m_feed.cachePath()));
    m_poll.stop();
    stopCatchUp();
    m_record->clear();
    m_feed.restart();
    m_plot->dataChanged();
    startCatchUp();
}

void TrendWindow::fail(const QString &text)
{
    m_poll.stop();
    qCritical("%s", qPrintable(text));
    QMessageBox::critical(this, Caption, text);
    QCoreApplication::exit(1);
}

void TrendWindow::poll()
{
    try {
        const TrendFeed::Change change = m_feed.poll();
        if (change == TrendFeed::Change::Reset)
            m_record->clear(); // the record under the pointer is gone
        if (change != TrendFeed::Change::None) {
            m_plot->dataChanged();
            showCount();
        }
    } catch (const StationError &e) {
        fail(errorText(e));
    }
}

void TrendWindow::showCount()
{
    const QString problem = m_feed.cacheProblem();
    if (problem != m_cacheProblem && !problem.isEmpty())
        qWarning("quillfern-trend: the cache file %s is not written: %s", qPrintable(m_feed.cachePath()),
                 qPrintable(problem));
    m_cacheProblem = problem;
    const QString count = QStringLiteral("%1 records").arg(QLocale().toString(m_feed.data().size()));
    m_count->setText(problem.isEmpty() ? count : count + QStringLiteral(" (cache file not written)"));
    m_count->setToolTip(problem.isEmpty()
                            ? QString()
                            : QStringLiteral("The cache file %1 is not written: %2. The records "
                                             "it did not take are kept in memory.")
                                  .arg(m_feed.cachePath(), problem));
}

void TrendWindow::showRecord(qint64 index)
{
    if (index < 0)
        return;
    try {
        const std::optional<StoredRecord> record = m_feed.store().recordAt(m_feed.data().rowid(index));
        if (!record) {
            m_record->clear(); // the record went away (a delete-all): the next poll starts again
            return;
        }
        QStringList values;
        for (const auto &value : record->values)
            values.append(value ? QString::number(*value, 'g', QLocale::FloatingPointShortest) : QString());
        m_record->setText(QStringLiteral("Sr No %1   %2   %3")
                              .arg(record->srNo.value_or(QString()), record->stamp.value_or(QString()),
                                   m_alarms->valuesText(values)));
    } catch (const StationError &) {
        m_record->clear();
    }
}

void TrendWindow::savePicture()
{
    const QString file =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save picture"), QStringLiteral("trend.png"),
                                     QStringLiteral("PNG pictures (*.png)"));
    if (!file.isEmpty() && !m_plot->savePng(file))
        QMessageBox::warning(this, Caption, QStringLiteral("Cannot write %1").arg(file));
}

void TrendWindow::exportVisible()
{
    const TrendData &data = m_feed.data();
    const QCPRange range = m_plot->visibleRange();
    const qint64 first = data.lowerBound(range.lower);
    const qint64 end = data.lowerBound(std::floor(range.upper) + 1);
    if (first >= end) {
        QMessageBox::information(this, Caption, QStringLiteral("No records in the range shown."));
        return;
    }
    const QString name =
        QFileDialog::getSaveFileName(this, QStringLiteral("Export visible range"),
                                     QStringLiteral("trend.csv"), QStringLiteral("CSV (*.csv)"));
    if (name.isEmpty())
        return;
    QSaveFile file(name);
    try {
        if (!file.open(QIODevice::WriteOnly))
            throw StationError(ErrorCode::StoreFailed, QStringLiteral("Cannot write %1").arg(name));
        exportRecords(m_feed.store(), data.rowid(first), data.rowid(end - 1), file);
        if (!file.commit())
            throw StationError(ErrorCode::StoreFailed, QStringLiteral("Cannot write %1").arg(name));
    } catch (const StationError &e) {
        QMessageBox::warning(this, Caption, errorText(e));
    }
}

} // namespace qf
