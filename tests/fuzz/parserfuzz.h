#pragma once

#include "acquisition/frameparser.h"
#include "support/fakeserialcomm.h"

#include <QByteArrayList>
#include <QByteArrayView>

namespace qf {

// Plays a script of arrivals and events through the receive handler, run
// directly for each event over the in-memory component (no event loop runs,
// so the component's own events never come), and checks its invariants
// after every event: an event other than receive changes nothing, a receive
// event reads once and sends one poll burst "bcde", the poll counters stand
// at 4 after a burst, and a commit comes after the parser's reset.
//
// Script: the first byte picks the read length (0..3). Then every byte is a
// character arriving from the device, except two control bytes:
//   0xFD          the component raises receive events, one after another,
//                 until nothing waits (each read takes up to the read length);
//   0xFE x        an event with code x % 8 (2 is a receive event even when
//                 nothing waits); 0xFE 0xFD and 0xFE 0xFE stand for the
//                 characters 0xFD and 0xFE.
// Whatever still waits at the end is delivered as by 0xFD.
class ParserRun {
public:
    explicit ParserRun(QByteArrayView script);

    // The first invariant broken, or an empty text when all held.
    const QString &error() const { return m_error; }
    // The four labels, "|" between them.
    QByteArray labels() const;
    // Each commit as the labels, "@" and the number of poll bursts sent before it.
    const QByteArrayList &commits() const { return m_commits; }
    // The field text, the last character, frameStarted and fieldIndex, "|" between them.
    QString state();

private:
    void deliverAll();
    void event(SerialComm::EventCode code);
    void check(bool held, const char *what);

    FakeSerialComm m_comm;
    FrameParser m_parser{m_comm};
    QByteArrayList m_commits;
    int m_bursts = 0;
    QString m_error;
};

} // namespace qf
