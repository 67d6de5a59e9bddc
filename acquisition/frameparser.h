#pragma once

#include "acquisition/serialcomm.h"
#include "common/int16.h"
#include "common/value.h"

#include <array>
#include <functional>

namespace qf {

// The receive side of the link: assembles the device's characters into
// frames of four sensor values, shows each finished value in its label,
// hands every complete frame to the record commit and answers every
// received character with the poll burst "b", "c", "d", "e".
// The letter of channel n (1 to 4: "b" to "e") that a poll burst sends; the
// relay sends the letter of the channel last polled (0: "a").
inline QString channelLetter(int channel)
{
    constexpr char16_t letterBeforeChannel1 = u'a';
    return QString(QChar(letterBeforeChannel1 + channel));
}

class FrameParser {
public:
    explicit FrameParser(SerialComm &comm);

    // The record commit, run once per completed frame (after the parser has
    // reset itself and before that event's poll burst).
    void setCommit(std::function<void()> commit);
    // A commit that returns false when it holds the frame because the store
    // cannot take it yet: the event then ends without its poll burst, so
    // that the device is not told the frame arrived, and the parser reads
    // nothing more until releaseFrame().
    void setHoldingCommit(std::function<bool()> commit);

    // A receive event of the serial component: reads the waiting character,
    // parses it and answers with the poll burst.
    void onReceive();

    // Most characters a field keeps: a longer one is line noise, and its
    // first FieldLimit characters stand for it in the label, the grid and
    // the store.
    static constexpr int FieldLimit = 4096;

    // The link was cut (device lost, input dropped): the frame in progress
    // is given up and the parser waits for the next "N". The captions stay.
    void restartFrame();
    // The component threw text away unread: the frames it touched are lost
    // whole. Returns how many frames that was.
    int dropInput(const QString &text);
    // The held frame is stored: its poll burst goes out (when the port is
    // still open) and receive events are handled again.
    void releaseFrame();

    int frameStarted() const { return m_frameStarted; }
    int fieldIndex() const { return m_fieldIndex; }
    int pollIndex() const { return m_pollIndex; }
    int pollChannel() const { return m_pollChannel; }

    // The text of the field being received.
    TextValue &fieldText() { return m_fieldText; }
    // The character the last receive event read.
    TextValue &lastCharacter() { return m_lastCharacter; }
    // The finished value of sensor k (0 to 3): two spaces and the field text.
    TextValue &sensorValue(int k) { return m_sensorValues.at(k); }
    const TextValue &sensorValue(int k) const { return m_sensorValues.at(k); }
    // The four sensor values as they stand now.
    std::array<QString, 4> sensorValues() const;

private:
    void appendToField(const QString &text);
    void pollBurst();

    SerialComm &m_comm;
    std::function<bool()> m_commit;
    bool m_holding = false;

    Int16 m_frameStarted = 0;
    Int16 m_fieldIndex = 0;
    Int16 m_pollIndex = 0;
    Int16 m_pollChannel = 0;

    TextValue m_fieldText;
    TextValue m_lastCharacter{QStringLiteral("Text3")}; // its box's text as designed
    std::array<TextValue, 4> m_sensorValues;
};

} // namespace qf
