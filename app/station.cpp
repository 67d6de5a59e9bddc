#include "app/station.h"

#include "grid/flexgridview.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalBlocker>

#include <stdexcept>
#include <utility>

namespace qf {

namespace {
// Most characters a text box holds of its value. The parser's working boxes
// take every character the device sends; laying out a longer text anew for
// each of them would make a field of thousands of characters without a comma
// cost more time per character than the line takes to carry it.
constexpr int TextBoxLimit = 1024;

template <typename Widget> Widget *designed(const Form1 &form, const QString &name)
{
    auto *widget = form.control<Widget>(name);
    if (!widget)
        throw std::logic_error("the window lacks a designed control");
    return widget;
}
} // namespace

Station::Station(SerialComm &comm, const QString &appDir, MessageBoxes &boxes, ErrorReport &report,
                 std::function<void(int)> endProcess)
    : m_comm(comm), m_report(report), m_endProcess(std::move(endProcess)), m_link(comm, boxes),
      m_parser(comm), m_resume(comm, m_parser, m_link, boxes, LinkResume::standardError()),
      m_log(appDir, boxes), m_storeRetry(m_log, boxes),
      m_relay(
          comm, [this] { return m_parser.pollChannel(); }, boxes),
      m_form([this](QWidget *parent) { return new FlexGridView(m_log.grid(), parent); })
{
    // A completed frame becomes a record of the grid and the store.
    m_parser.setHoldingCommit([this] { return commitFrame(); });
    m_log.setBusyIndicator([this](bool busy) { showDeleting(busy); });
    bindControls();
    bindStore();
}

bool Station::commitFrame()
{
    try {
        return m_storeRetry.commit(m_parser.sensorValues());
    } catch (const StationError &) {
        closePort();
        throw;
    }
}

void Station::closePort()
{
    try {
        if (m_comm.PortOpen())
            m_comm.setPortOpen(false);
    } catch (const StationError &) {
        // The store's error is the one to report.
    }
}

void Station::bindStore()
{
    // The held frame is stored: its poll burst tells the device, and
    // receive events are handled again.
    connect(&m_storeRetry, &StoreRetry::stored, this, [this] { run([this] { m_parser.releaseFrame(); }); });
    connect(&m_storeRetry, &StoreRetry::failed, this, [this](const Error &error) {
        closePort();
        m_report.report(error);
    });
}

bool Station::startUp()
{
    return run([this] {
        m_log.openStore();
        m_log.listAllRecords();
        m_link.stopEnabled().set(false);
        setSelector(1);
        m_link.portText().setText(QStringLiteral("1"));
    });
}

void Station::exitAtOnce()
{
    m_endProcess(0);
}

// The one place where the window's controls, by their names in the design
// table, meet the logic behind them. Each event is marked with its handler's
// name in the design and what the operator sees; the window's load,
// Form_Load, is startUp(), which the program runs before the window shows.
void Station::bindControls()
{
    bindText(m_parser.fieldText(), QStringLiteral("Text2"));
    bindText(m_parser.lastCharacter(), QStringLiteral("Text3"));
    bindText(m_link.portText(), QStringLiteral("Text4"));
    for (int k = 0; k < 4; ++k)
        bindCaption(m_parser.sensorValue(k), QStringLiteral("Label1(%1)").arg(k));
    bindCaption(m_log.total(), QStringLiteral("totalrec"));
    bindEnabled(m_link.startEnabled(), QStringLiteral("Start"));
    bindEnabled(m_link.stopEnabled(), QStringLiteral("stopcmd"));
    bindEnabled(m_link.selectorEnabled(), QStringLiteral("VScroll3"));

    // Start_Click: START opens the COM port shown beside "COM:"; stopcmd_Click:
    // STOP closes it. Each hands the keyboard focus to the other.
    bindLinkButtons(designed<QAbstractButton>(m_form, QStringLiteral("Start")),
                    designed<QAbstractButton>(m_form, QStringLiteral("stopcmd")));
    // exit_Click: EXIT ends the program at once.
    bindClick(QStringLiteral("exit"), [this] { exitAtOnce(); });
    // Command1_Click: "Delete all Records" asks, then empties the store and the grid.
    bindClick(QStringLiteral("Command1"), [this] { m_log.confirmDeleteAll(); });
    // Command2_Click: ON switches the relay on.
    bindClick(QStringLiteral("Command2"), [this] { m_relay.switchOn(); });
    // Command3_Click: OFF switches it off.
    bindClick(QStringLiteral("Command3"), [this] { m_relay.switchOff(); });
    // VScroll3_Change: the arrows beside "COM:" change the port number shown.
    bindSelector(designed<QScrollBar>(m_form, QStringLiteral("VScroll3")));
    // Form_Unload: closing the window closes the link.
    connect(&m_form, &Form1::unloading, this, [this] { run([this] { m_link.closeIfOpen(); }); });
    // MSComm1_OnComm: each character the device sends is shown, parsed and
    // answered with the poll burst (device losses and dropped input are
    // m_resume's).
    connect(&m_comm, &SerialComm::OnComm, this, [this] { receive(); });

    // Rows the grid could not read from the store.
    connect(&m_log.grid(), &FlexGrid::readFailed, this,
            [this](const Error &error) { m_report.report(error); });
}

void Station::bindText(TextValue &value, const QString &control)
{
    auto *edit = designed<QLineEdit>(m_form, control);
    edit->setMaxLength(TextBoxLimit);
    edit->setText(value.text());
    connect(&value, &TextValue::changed, edit, &QLineEdit::setText);
    // What the operator types is the value the handlers read next.
    connect(edit, &QLineEdit::textEdited, &value, &TextValue::setText);
}

void Station::bindCaption(TextValue &value, const QString &control)
{
    auto *label = designed<QLabel>(m_form, control);
    label->setText(value.text());
    connect(&value, &TextValue::changed, label, &QLabel::setText);
}

void Station::bindEnabled(FlagValue &flag, const QString &control)
{
    QWidget *widget = designed<QWidget>(m_form, control);
    widget->setEnabled(flag.isOn());
    connect(&flag, &FlagValue::changed, widget, &QWidget::setEnabled);
}

void Station::bindClick(const QString &control, std::function<void()> handler)
{
    connect(designed<QAbstractButton>(m_form, control), &QAbstractButton::clicked, this,
            [this, handler = std::move(handler)] { run(handler); });
}

void Station::bindLinkButtons(QAbstractButton *start, QAbstractButton *stop)
{
    // The button pressed is disabled before the other is enabled, so the
    // focus would move on to EXIT, which the next Return or Space would press.
    const auto bind = [this](QAbstractButton *pressed, QAbstractButton *next, std::function<void()> handler) {
        connect(pressed, &QAbstractButton::clicked, this,
                [this, pressed, next, handler = std::move(handler)] {
                    const bool focused = pressed->window()->focusWidget() == pressed; // active or not
                    run(handler);
                    if (focused && next->isEnabled())
                        next->setFocus(Qt::TabFocusReason);
                });
    };
    bind(start, stop, [this] { m_link.start(); });
    bind(stop, start, [this] { m_link.stop(); });
}

void Station::bindSelector(QScrollBar *selector)
{
    m_selector = selector;
    connect(selector, &QScrollBar::valueChanged, this,
            [this](int value) { run([&] { m_link.selectPort(value); }); });
}

void Station::setSelector(int value)
{
    m_link.selectPort(value);
    const QSignalBlocker quiet(m_selector);
    m_selector->setValue(m_link.selectedPort());
}

void Station::showDeleting(bool busy)
{
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        return;
    }
    QApplication::restoreOverrideCursor();
    if (!std::exchange(m_receiveHeld, false))
        return;
    // The held receive event, once the delete-all's handler has ended.
    m_comm.raiseWaiting();
}

void Station::receive()
{
    // While a delete-all runs the character stays unread and unanswered:
    // the device waits for its poll burst, and the frame is stored after.
    if (m_log.deleting()) {
        m_receiveHeld = true;
        return;
    }
    run([this] { m_parser.onReceive(); });
}

} // namespace qf
