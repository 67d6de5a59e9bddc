#include "acquisition/frameparser.h"

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

std::array<QString, 4> FrameParser::label1Captions() const
{
    return {Label1(0).text(), Label1(1).text(), Label1(2).text(), Label1(3).text()};
}

void FrameParser::MSComm1_OnComm()
{
    if (m_comm.CommEvent() != SerialComm::ComEvReceive)
        return;
    if (m_holding)
        return; // the characters wait in the component until the frame is stored

    m_text3.setText(m_comm.Input());

    if (m_frameStarted == 1) {
        if (m_text3.text() == u",") {
            Label1(m_fieldIndex).setText(QStringLiteral("  ") + m_text2.text());
            m_fieldIndex += 1;
            m_text2.setText(QString());
        } else {
            appendToField(m_text3.text());
        }
    }

    if (m_fieldIndex == 4) {
        m_fieldIndex = 0;
        m_frameStarted = 0;
        m_text2.setText(QString());
        m_text3.setText(QString());
        if (m_commit && !m_commit()) {
            m_holding = true;
            return;
        }
    }

    pollBurst();

    // Tested after the field step, so the "N" that starts a frame is never
    // field text, and after the reset, so the comma that ends a frame never
    // starts the next one.
    if (m_text3.text() == u"N")
        m_frameStarted = 1;
}

void FrameParser::appendToField(const QString &text)
{
    // Past the limit a character costs a length test, whatever the field's
    // length; below it the copy is bounded by the limit.
    const qsizetype room = FieldLimit - m_text2.text().size();
    if (room > 0)
        m_text2.setText(m_text2.text() + text.left(room));
}

void FrameParser::restartFrame()
{
    m_frameStarted = 0;
    m_fieldIndex = 0;
    m_text2.setText(QString());
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
