#include "acquisition/linkcontrol.h"

#include "acquisition/linesettings.h"

#include <algorithm>

namespace qf {

LinkControl::LinkControl(SerialComm &comm, MessageBoxes &boxes) : m_comm(comm), m_boxes(boxes)
{
}

void LinkControl::selectPort(int value)
{
    // Like the scroll bar it stands for, the selector keeps to its range.
    const int clamped = std::clamp(value, SelectorMin, SelectorMax);
    if (clamped == m_selectedPort)
        return;
    m_selectedPort = clamped;
    showSelectedPort();
}

void LinkControl::showSelectedPort()
{
    m_portText.setText(QString::number(m_selectedPort));
}

void LinkControl::start()
{
    m_comm.setCommPort(m_selectedPort);
    m_comm.setSettings(defaultLineSettings);
    m_comm.setInputLen(1);
    try {
        m_comm.setPortOpen(true);
    } catch (const StationError &e) {
        // A port that cannot be opened is no reason to end the program: the
        // operator is told why, with the error's number as the error report
        // would, and may pick another port.
        m_boxes.msgBox(errorText(e.error()), MsgStyle::OkOnly | MsgStyle::Exclamation);
        m_startEnabled.set(true);
        m_stopEnabled.set(false);
        m_selectorEnabled.set(true);
        return;
    }
    m_startEnabled.set(false);
    m_stopEnabled.set(true);
    m_selectorEnabled.set(false);
}

void LinkControl::stop()
{
    m_selectorEnabled.set(true);
    m_stopEnabled.set(false);
    m_startEnabled.set(true);
    m_comm.setPortOpen(false);
}

void LinkControl::closeIfOpen()
{
    if (m_comm.PortOpen())
        m_comm.setPortOpen(false);
}

} // namespace qf
