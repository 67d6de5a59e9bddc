#include "trendview/alarmsummary.h"

#include "common/error.h"

#include <QApplication>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace qf {

namespace {

enum class Column { Sensor, Limit, Value, Since, State, Priority };
constexpr int ColumnCount = int(Column::Priority) + 1;
const QStringList ColumnTitles{QStringLiteral("Sensor"), QStringLiteral("Limit"), QStringLiteral("Value"),
                               QStringLiteral("Since"),  QStringLiteral("State"), QStringLiteral("Priority")};
const QColor ProblemText(0xb0, 0x00, 0x00);
const QColor ShelvedText(0x80, 0x80, 0x80);
const QString Caption = QStringLiteral("Alarms");
const QString SinceFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
const QString TimeFormat = QStringLiteral("HH:mm:ss");
constexpr int DefaultShelveMinutes = 30;

QString sinceText(RealTime since)
{
    return QDateTime::fromMSecsSinceEpoch(since.time_since_epoch().count()).toString(SinceFormat);
}

// The time alone for today, for the status bar.
QString shortSinceText(RealTime since)
{
    const QDateTime moment = QDateTime::fromMSecsSinceEpoch(since.time_since_epoch().count());
    return moment.date() == QDate::currentDate() ? moment.toString(TimeFormat) : moment.toString(SinceFormat);
}

bool rings(const SummaryRow &row)
{
    return row.priority == AlarmPriority::High && unacknowledged(row.state);
}

QLabel *plainLabel(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

QColor priorityColor(AlarmPriority priority)
{
    switch (priority) {
    case AlarmPriority::High:
        return {0xff, 0x55, 0x55};
    case AlarmPriority::Medium:
        return {0xff, 0xa5, 0x30};
    case AlarmPriority::Low:
        return {0xf5, 0xdc, 0x50};
    }
    return {};
}

AlarmSummary::AlarmSummary(AlarmWatch &watch, QWidget *parent)
    : QWidget(parent), m_watch(watch), m_problem(plainLabel(this)),
      m_table(new QTableWidget(0, ColumnCount, this)),
      m_acknowledge(new QPushButton(QStringLiteral("Acknowledge"), this)),
      m_acknowledgeAll(new QPushButton(QStringLiteral("Acknowledge all"), this)),
      m_shelve(new QPushButton(QStringLiteral("Shelve…"), this)),
      m_silence(new QPushButton(QStringLiteral("Silence"), this)), m_newest(plainLabel(this))
{
    m_problem->setWordWrap(true);
    QPalette problemPalette = m_problem->palette();
    problemPalette.setColor(QPalette::WindowText, ProblemText);
    m_problem->setPalette(problemPalette);
    m_table->setHorizontalHeaderLabels(ColumnTitles);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setWordWrap(false);
    m_newest->setAutoFillBackground(true);
    m_newest->hide();

    auto *buttons = new QHBoxLayout;
    for (QPushButton *button : {m_acknowledge, m_acknowledgeAll, m_shelve, m_silence})
        buttons->addWidget(button);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_problem);
    layout->addWidget(m_table, 1);
    layout->addLayout(buttons);

    connect(m_acknowledge, &QPushButton::clicked, this,
            [this] { act([this] { m_watch.acknowledge(selectedAlarms()); }); });
    connect(m_acknowledgeAll, &QPushButton::clicked, this,
            [this] { act([this] { m_watch.acknowledgeAll(); }); });
    connect(m_shelve, &QPushButton::clicked, this, &AlarmSummary::shelveSelected);
    connect(m_silence, &QPushButton::clicked, this, &AlarmSummary::silence);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, &AlarmSummary::updateButtons);
    connect(&watch, &AlarmWatch::alarmsChanged, this, &AlarmSummary::showAlarms);
    connect(&watch, &AlarmWatch::limitsChanged, this, &AlarmSummary::showAlarms);
    connect(&watch, &AlarmWatch::problemChanged, this, &AlarmSummary::showProblem);
    m_blink.setInterval(BlinkInterval);
    connect(&m_blink, &QTimer::timeout, this, &AlarmSummary::blink);
    m_blink.start();
    m_bell.setInterval(BellInterval);
    connect(&m_bell, &QTimer::timeout, this, &AlarmSummary::ring);
    m_bell.start();
    showProblem();
    showAlarms();
}

void AlarmSummary::showProblem()
{
    const QString problem = m_watch.problem();
    m_problem->setText(problem);
    m_problem->setVisible(!problem.isEmpty());
}

void AlarmSummary::showAlarms()
{
    const bool rangBefore = ringing();
    const std::vector<AlarmId> selected = selectedAlarms();
    m_rows = summaryRows(m_watch.states(), m_watch.limits());
    for (int index = 0; index < AlarmCount; ++index) {
        const AlarmState state = m_watch.states()[std::size_t(index)].state;
        const AlarmState shown = m_shownStates[std::size_t(index)];
        const bool raisedAnew = state == AlarmState::Unacknowledged && shown != AlarmState::Unacknowledged;
        if (!unacknowledged(state) || raisedAnew)
            m_silenced[std::size_t(index)] = false;
        m_shownStates[std::size_t(index)] = state;
    }

    m_table->clearSelection(); // the selection follows the alarms, not the places of the rows
    m_table->setRowCount(int(m_rows.size()));
    for (int row = 0; row < int(m_rows.size()); ++row) {
        const SummaryRow &alarm = m_rows[std::size_t(row)];
        const QStringList texts{alarm.sensor,           alarm.limit,     alarm.value,
                                sinceText(alarm.since), alarm.stateText, priorityText(alarm.priority)};
        for (int column = 0; column < ColumnCount; ++column) {
            auto *item = new QTableWidgetItem(texts[column]);
            if (alarm.state == AlarmState::Shelved)
                item->setForeground(ShelvedText);
            m_table->setItem(row, column, item);
        }
        m_table->item(row, int(Column::Priority))->setBackground(priorityColor(alarm.priority));
        const bool reselect = std::find(selected.begin(), selected.end(), alarm.alarm) != selected.end();
        for (int column = 0; column < ColumnCount && reselect; ++column)
            m_table->item(row, column)->setSelected(true);
    }
    m_table->resizeColumnsToContents();
    showBlink();

    const auto newest = std::find_if(m_rows.begin(), m_rows.end(),
                                     [](const SummaryRow &row) { return unacknowledged(row.state); });
    if (newest == m_rows.end()) {
        m_newest->hide();
    } else {
        m_newest->setText(QStringLiteral("%1 %2: %3 since %4 (%5)")
                              .arg(newest->sensor, newest->limit, newest->value,
                                   shortSinceText(newest->since), newest->stateText));
        QPalette palette = m_newest->palette();
        palette.setColor(QPalette::Window, priorityColor(newest->priority));
        palette.setColor(QPalette::WindowText, Qt::black);
        m_newest->setPalette(palette);
        m_newest->show();
    }
    updateButtons();
    if (ringing() && !rangBefore) {
        ring();
        m_bell.start(); // the next one a whole interval later
    }
}

void AlarmSummary::blink()
{
    m_blinkOn = !m_blinkOn;
    showBlink();
}

void AlarmSummary::showBlink()
{
    for (int row = 0; row < int(m_rows.size()); ++row) {
        const SummaryRow &alarm = m_rows[std::size_t(row)];
        const QBrush background =
            unacknowledged(alarm.state) && m_blinkOn ? QBrush(priorityColor(alarm.priority)) : QBrush();
        for (int column = 0; column < int(Column::Priority); ++column)
            m_table->item(row, column)->setBackground(background);
    }
}

bool AlarmSummary::ringing() const
{
    return std::any_of(m_rows.begin(), m_rows.end(), [this](const SummaryRow &row) {
        return rings(row) && !m_silenced[std::size_t(alarmIndex(row.alarm))];
    });
}

void AlarmSummary::ring()
{
    if (ringing())
        QApplication::beep();
}

void AlarmSummary::silence()
{
    for (const SummaryRow &row : m_rows) {
        if (rings(row))
            m_silenced[std::size_t(alarmIndex(row.alarm))] = true;
    }
    updateButtons();
}

std::vector<AlarmId> AlarmSummary::selectedAlarms() const
{
    std::vector<AlarmId> alarms;
    for (int row = 0; row < m_table->rowCount() && row < int(m_rows.size()); ++row) {
        if (m_table->item(row, 0) && m_table->item(row, 0)->isSelected())
            alarms.push_back(m_rows[std::size_t(row)].alarm);
    }
    return alarms;
}

void AlarmSummary::updateButtons()
{
    const bool selected = !selectedAlarms().empty();
    m_acknowledge->setEnabled(selected);
    m_shelve->setEnabled(selected);
    m_acknowledgeAll->setEnabled(std::any_of(
        m_rows.begin(), m_rows.end(), [](const SummaryRow &row) { return unacknowledged(row.state); }));
    m_silence->setEnabled(ringing());
}

void AlarmSummary::act(const std::function<void()> &action)
{
    try {
        action();
    } catch (const StationError &e) {
        QMessageBox::warning(this, Caption,
                             QStringLiteral("%1: %2").arg(e.error().number()).arg(e.error().description));
    }
}

void AlarmSummary::shelveSelected()
{
    const std::vector<AlarmId> alarms = selectedAlarms();
    if (alarms.empty())
        return;
    bool ok = false;
    const int minutes = QInputDialog::getInt(
        this, Caption,
        QStringLiteral("Shelve the %1 alarm(s) selected for how many minutes?\n(0 unshelves; at most %2)")
            .arg(alarms.size())
            .arg(MaxShelve.count()),
        DefaultShelveMinutes, 0, int(MaxShelve.count()), 1, &ok);
    if (ok)
        act([&] { m_watch.shelve(alarms, std::chrono::minutes(minutes)); });
}

} // namespace qf
