#include "acquisition/linkcontrol.h"

#include "acquisition/linesettings.h"

#include <algorithm>

LinkControl::LinkControl(SerialComm &comm, MessageBoxes &boxes) : m_comm(comm), m_boxes(boxes)
{
}

void LinkControl::setVScroll3(int value)
{
    // Like the scroll bar it stands for, the selector keeps to its range.
    const int clamped = std::clamp(value, SelectorMin, SelectorMax);
    if (clamped == m_vscroll3)
        return;
    m_vscroll3 = clamped;
    VScroll3_Change();
}

void LinkControl::VScroll3_Change()
{
    m_text4.setText(QString::number(m_vscroll3));
}

void LinkControl::Start_Click()
{
    m_comm.setCommPort(m_vscroll3);
    m_comm.setSettings(defaultLineSettings);
    m_comm.setInputLen(1);
    try {
        m_comm.setPortOpen(true);
    } catch (const StationError &e) {
        // A port that cannot be opened is no reason to end the program: the
        // operator is told why, with the error's number as the error report
        // would, and may pick another port.
        m_boxes.msgBox(errorText(e.error()), MsgStyle::OkOnly + MsgStyle::Exclamation);
        m_start.set(true);
        m_stopcmd.set(false);
        m_vscroll3Enabled.set(true);
        return;
    }
    m_start.set(false);
    m_stopcmd.set(true);
    m_vscroll3Enabled.set(false);
}

void LinkControl::stopcmd_Click()
{
    m_vscroll3Enabled.set(true);
    m_stopcmd.set(false);
    m_start.set(true);
    m_comm.setPortOpen(false);
}

void LinkControl::Form_Unload()
{
    if (m_comm.PortOpen())
        m_comm.setPortOpen(false);
}
