#pragma once

#include "acquisition/serialcomm.h"
#include "common/int16.h"
#include "common/messageboxes.h"
#include "common/value.h"

// Opens and closes the serial link: the port selector, START, STOP and the
// window's unload.
class LinkControl {
public:
    LinkControl(SerialComm &comm, MessageBoxes &boxes);

    // The selector's range.
    static constexpr int SelectorMin = 1;
    static constexpr int SelectorMax = 12;

    // The selector's value; setting it to a new value runs VScroll3_Change,
    // setting it to the value it has runs nothing.
    int VScroll3() const { return m_vscroll3; }
    void setVScroll3(int value);

    void VScroll3_Change();
    void Start_Click();
    void stopcmd_Click();
    void Form_Unload();

    // Whether START was pressed last (STOP not since): the Started state.
    bool started() const { return !m_start.isOn(); }

    FlagValue &Start() { return m_start; }
    FlagValue &stopcmd() { return m_stopcmd; }
    FlagValue &VScroll3Enabled() { return m_vscroll3Enabled; }
    TextValue &Text4() { return m_text4; }

private:
    SerialComm &m_comm;
    MessageBoxes &m_boxes;

    Int16 m_vscroll3 = 0;
    FlagValue m_start{true};
    FlagValue m_stopcmd{true};
    FlagValue m_vscroll3Enabled{true};
    TextValue m_text4;
};
