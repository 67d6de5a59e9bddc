#include "trendview/trendwindow.h"

#include "common/error.h"
#include "trendview/trendplot.h"

#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QSaveFile>
#include <QStatusBar>
#include <QThread>
#include <QToolBar>

namespace {

constexpr int ProgressScale = 1000;
const QString Caption = QStringLiteral("Quillfern trend");

} // namespace

TrendWindow::TrendWindow(TrendFeed &feed, QWidget *parent)
    : QMainWindow(parent), m_feed(feed), m_plot(new TrendPlot(feed.data(), this)), m_record(new QLabel(this)),
      m_count(new QLabel(this)), m_progress(new QProgressBar(this))
{
    setWindowTitle(Caption);
    setCentralWidget(m_plot);
    setUpMenus();
    m_alarms = new qf::TrendAlarms(*this, *m_plot, feed.store().path());
    m_record->setTextFormat(Qt::PlainText); // the store's texts and the sensors' names
    statusBar()->addWidget(m_record, 1);
    statusBar()->addPermanentWidget(m_count);
    statusBar()->addPermanentWidget(m_progress);
    m_progress->setRange(0, ProgressScale);
    m_progress->hide();
    m_poll.setInterval(PollInterval);
    connect(&m_poll, &QTimer::timeout, this, &TrendWindow::poll);
    connect(m_plot, &TrendPlot::hovered, this, &TrendWindow::showRecord);
    connect(m_plot, &TrendPlot::followChanged, m_follow, &QAction::setChecked);
    connect(m_follow, &QAction::toggled, m_plot, &TrendPlot::setFollow);
}

TrendWindow::~TrendWindow()
{
    if (m_loader) {
        m_loader->wait();
        delete m_loader;
    } else
        m_feed.saveCache();
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
    m_plot->setDataReady(false);
    m_progress->show();
    m_record->setText(QStringLiteral("Reading %1…").arg(m_feed.store().path()));
    m_loader = QThread::create([this] {
        QString error;
        try {
            m_feed.load([this](qint64 done, qint64 total) {
                const int step = total > 0 ? int(done * ProgressScale / total) : 0;
                QMetaObject::invokeMethod(m_progress, "setValue", Qt::QueuedConnection, Q_ARG(int, step));
            });
            m_feed.saveCache();
        } catch (const StationError &e) {
            error = QStringLiteral("%1: %2").arg(e.error().number()).arg(e.error().description);
        }
        QMetaObject::invokeMethod(
            this, [this, error] { finishLoading(error.isEmpty(), error); }, Qt::QueuedConnection);
    });
    m_loader->start();
}

void TrendWindow::finishLoading(bool ok, const QString &error)
{
    m_loader->wait();
    delete m_loader;
    m_loader = nullptr;
    m_progress->hide();
    m_plot->setDataReady(true);
    if (!ok) {
        fail(error);
        return;
    }
    m_record->clear();
    showCount();
    m_plot->showWholeHistory();
    m_plot->replot();
    m_poll.start();
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
        fail(QStringLiteral("%1: %2").arg(e.error().number()).arg(e.error().description));
    }
}

void TrendWindow::showCount()
{
    m_count->setText(QStringLiteral("%1 records").arg(m_feed.data().size()));
}

void TrendWindow::showRecord(qsizetype index)
{
    if (index < 0)
        return;
    try {
        const QStringList texts = m_feed.store().recordTexts(m_feed.data().rowid(index));
        if (texts.size() == SensorCount + 2)
            m_record->setText(QStringLiteral("Sr No %1   %2   %3")
                                  .arg(texts[0], texts[1], m_alarms->valuesText(texts.mid(2))));
    } catch (const StationError &) {
        m_record->clear(); // the record went away (a delete-all): the next poll starts again
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
    const qsizetype first = data.lowerBound(range.lower);
    const qsizetype end = data.lowerBound(std::floor(range.upper) + 1);
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
        m_feed.store().exportRange(data.rowid(first), data.rowid(end - 1), file);
        if (!file.commit())
            throw StationError(ErrorCode::StoreFailed, QStringLiteral("Cannot write %1").arg(name));
    } catch (const StationError &e) {
        QMessageBox::warning(this, Caption,
                             QStringLiteral("%1: %2").arg(e.error().number()).arg(e.error().description));
    }
}
