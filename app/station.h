#pragma once

#include "acquisition/frameparser.h"
#include "acquisition/linkcontrol.h"
#include "acquisition/linkresume.h"
#include "acquisition/serialcomm.h"
#include "app/form1.h"
#include "common/errorreport.h"
#include "common/messageboxes.h"
#include "recordlog/recordlog.h"
#include "recordlog/storeretry.h"
#include "relay/relayswitch.h"

#include <QObject>

class QAbstractButton;
class QScrollBar;

#include <functional>

namespace qf {

// The station: the window Form1 with everything it owns, that is the
// handlers of the serial link, the parser, the record log and the relay,
// bound to the window's controls and to the serial component's events.
// Every handler runs guarded, so that an error it raises reaches the error
// report.
class Station : public QObject {
    Q_OBJECT
public:
    // endProcess ends the program at once with the given status.
    Station(SerialComm &comm, const QString &appDir, MessageBoxes &boxes, ErrorReport &report,
            std::function<void(int)> endProcess);

    // Start-up, before the window is first shown: the store opened, every
    // record listed, STOP disabled, COM port 1 selected. False when a step
    // failed (the error report has it).
    bool startUp();
    // EXIT: ends the program at once; closing the window's link does not run.
    void exitAtOnce();

    Form1 &form() { return m_form; }
    RecordLog &log() { return m_log; }

private:
    template <typename Handler> bool run(Handler &&handler)
    {
        return guarded(m_report, std::forward<Handler>(handler));
    }

    void bindControls();
    void bindText(TextValue &value, const QString &control);
    void bindCaption(TextValue &value, const QString &control);
    void bindEnabled(FlagValue &flag, const QString &control);
    void bindClick(const QString &control, std::function<void()> handler);
    // START and STOP, which hand the keyboard focus to each other.
    void bindLinkButtons(QAbstractButton *start, QAbstractButton *stop);
    void bindSelector(QScrollBar *selector);
    void bindStore();
    // A receive event of the serial component: parsed, or held while a
    // delete-all runs.
    void receive();
    // Commits the completed frame; false while the store holds it. A fault
    // that does not pass closes the port first, so that nothing more is
    // acknowledged while its report is shown.
    bool commitFrame();
    void closePort();
    // A delete-all starts (busy) or has ended.
    void showDeleting(bool busy);
    // The program moves the port selector (runs its change handler when the
    // value changes).
    void setSelector(int value);

    SerialComm &m_comm;
    ErrorReport &m_report;
    QScrollBar *m_selector = nullptr; // the port selector's scroll bar
    std::function<void(int)> m_endProcess;

    LinkControl m_link;
    FrameParser m_parser;
    LinkResume m_resume; // device losses and dropped input
    RecordLog m_log;
    StoreRetry m_storeRetry;
    RelaySwitch m_relay;
    Form1 m_form;               // shows the grid of m_log: goes first
    bool m_receiveHeld = false; // a receive event came during a delete-all
};

} // namespace qf
