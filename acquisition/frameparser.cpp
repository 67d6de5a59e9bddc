#include "acquisition/frameparser.h"

namespace qf {

FrameParser::FrameParser(SerialComm &comm) : m_comm(comm)
{
}

void FrameParser::setCommit(std::function<void()> commit)
{
    m_commit = [commit = std::move(commit)] {
        commit();
        return true;
    };
}

void FrameParser::setHoldingCommit(std::function<bool()> commit)
{
    m_commit = std::move(commit);
}

std::array<QString, 4> FrameParser::sensorValues() const
{
    return {sensorValue(0).text(), sensorValue(1).text(), sensorValue(2).text(), sensorValue(3).text()};
}

void FrameParser::onReceive()
{
    if (m_comm.CommEvent() != SerialComm::EventCode::Receive)
        return;
    if (m_holding)
        return; // the characters wait in the component until the frame is stored

    m_lastCharacter.setText(m_comm.Input());

    if (m_frameStarted == 1) {
        if (m_lastCharacter.text() == u",") {
            sensorValue(m_fieldIndex).setText(QStringLiteral("  ") + m_fieldText.text());
            m_fieldIndex += 1;
            m_fieldText.setText(QString());
        } else {
            appendToField(m_lastCharacter.text());
        }
    }

    if (m_fieldIndex == 4) {
        m_fieldIndex = 0;
        m_frameStarted = 0;
        m_fieldText.setText(QString());
        m_lastCharacter.setText(QString());
        if (m_commit && !m_commit()) {
            m_holding = true;
            return;
        }
    }

    pollBurst();

    // Tested after the field step, so the "N" that starts a frame is never
    // field text, and after the reset, so the comma that ends a frame never
    // starts the next one.
    if (m_lastCharacter.text() == u"N")
        m_frameStarted = 1;
}

void FrameParser::appendToField(const QString &text)
{
    // Past the limit a character costs a length test, whatever the field's
    // length; below it the copy is bounded by the limit.
    const qsizetype room = FieldLimit - m_fieldText.text().size();
    if (room > 0)
        m_fieldText.setText(m_fieldText.text() + text.left(room));
}

void FrameParser::restartFrame()
{
    m_frameStarted = 0;
    m_fieldIndex = 0;
    m_fieldText.setText(QString());
}

int FrameParser::dropInput(const QString &text)
{
    const int cut = m_frameStarted == 1 ? 1 : 0;
    restartFrame();
    return cut + int(text.count(u'N'));
}

void FrameParser::pollBurst()
{
    // One write per channel letter "b", "c", "d", "e".
    m_pollChannel = 0;
    for (m_pollIndex = 0; m_pollIndex <= 3; m_pollIndex += 1) {
        m_pollChannel = m_pollIndex + 1;
        m_comm.Output(channelLetter(m_pollChannel));
    }
}

void FrameParser::releaseFrame()
{
    if (!m_holding)
        return;
    m_holding = false;
    if (m_comm.PortOpen())
        pollBurst();
}

} // namespace qf
