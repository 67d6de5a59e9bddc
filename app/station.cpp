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
      m_form([this](QWidget *parent) { return new FlexGridView(m_log.fg(), parent); })
{
    // A completed frame becomes a record of the grid and the store.
    m_parser.setHoldingCommit([this] { return commitFrame(); });
    m_log.setBusyIndicator([this](bool busy) { showDeleting(busy); });
    bindControls();
    bindSerial();
    bindStore();
}

bool Station::commitFrame()
{
    try {
        return m_storeRetry.commit(m_parser.label1Captions());
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

bool Station::Form_Load()
{
    return run([this] {
        m_log.setFlex();
        m_log.fillGrid();
        m_link.stopcmd().set(false);
        setSelector(1);
        m_link.Text4().setText(QStringLiteral("1"));
    });
}

void Station::exit_Click()
{
    m_endProcess(0);
}

void Station::bindControls()
{
    bindText(m_parser.Text2(), QStringLiteral("Text2"));
    bindText(m_parser.Text3(), QStringLiteral("Text3"));
    bindText(m_link.Text4(), QStringLiteral("Text4"));
    for (int k = 0; k < 4; ++k)
        bindCaption(m_parser.Label1(k), QStringLiteral("Label1(%1)").arg(k));
    bindCaption(m_log.totalrec(), QStringLiteral("totalrec"));
    bindEnabled(m_link.Start(), QStringLiteral("Start"));
    bindEnabled(m_link.stopcmd(), QStringLiteral("stopcmd"));
    bindEnabled(m_link.VScroll3Enabled(), QStringLiteral("VScroll3"));

    bindLinkButtons();
    bindClick(QStringLiteral("exit"), [this] { exit_Click(); });
    bindClick(QStringLiteral("Command1"), [this] { m_log.Command1_Click(); });
    bindClick(QStringLiteral("Command2"), [this] { m_relay.Command2_Click(); });
    bindClick(QStringLiteral("Command3"), [this] { m_relay.Command3_Click(); });
    bindSelector();

    // Rows the grid could not read from the store.
    connect(&m_log.fg(), &FlexGrid::readFailed, this, [this](const Error &error) { m_report.report(error); });
    connect(&m_form, &Form1::unloading, this, [this] { run([this] { m_link.Form_Unload(); }); });
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

void Station::bindLinkButtons()
{
    // START and STOP hand the focus to each other: the one pressed is
    // disabled before the other is enabled, so the focus would move on to
    // EXIT, which the next Return or Space would press.
    auto *start = designed<QAbstractButton>(m_form, QStringLiteral("Start"));
    auto *stop = designed<QAbstractButton>(m_form, QStringLiteral("stopcmd"));
    const auto bind = [this](QAbstractButton *pressed, QAbstractButton *next, std::function<void()> handler) {
        connect(pressed, &QAbstractButton::clicked, this,
                [this, pressed, next, handler = std::move(handler)] {
                    const bool focused = pressed->window()->focusWidget() == pressed; // active or not
                    run(handler);
                    if (focused && next->isEnabled())
                        next->setFocus(Qt::TabFocusReason);
                });
    };
    bind(start, stop, [this] { m_link.Start_Click(); });
    bind(stop, start, [this] { m_link.stopcmd_Click(); });
}

void Station::bindSelector()
{
    auto *bar = designed<QScrollBar>(m_form, QStringLiteral("VScroll3"));
    connect(bar, &QScrollBar::valueChanged, this,
            [this](int value) { run([&] { m_link.setVScroll3(value); }); });
}

void Station::setSelector(int value)
{
    m_link.setVScroll3(value);
    auto *bar = designed<QScrollBar>(m_form, QStringLiteral("VScroll3"));
    const QSignalBlocker quiet(bar);
    bar->setValue(m_link.VScroll3());
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

void Station::bindSerial()
{
    // Device losses and dropped input are m_resume's.
    connect(&m_comm, &SerialComm::OnComm, this, [this] {
        // While a delete-all runs the character stays unread and unanswered:
        // the device waits for its poll burst, and the frame is stored after.
        if (m_log.deleting()) {
            m_receiveHeld = true;
            return;
        }
        run([this] { m_parser.MSComm1_OnComm(); });
    });
}
