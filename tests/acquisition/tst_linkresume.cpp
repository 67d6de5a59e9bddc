// The link through device losses: the real serial component on a
// pseudo-terminal that vanishes (hang-up, COM1 removed) and returns as a new
// pseudo-terminal under the same name, and input that comes too fast. (A
// field longer than the parser keeps is seen in tst_station.)

#include "acquisition/frameparser.h"
#include "acquisition/linkcontrol.h"
#include "acquisition/linkresume.h"
#include "acquisition/qtserialcomm.h"
#include "portlink.h"
#include "pseudoterminal.h"
#include "support/fakes.h"

#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <unistd.h>

namespace {
constexpr int ResumeMs = 2500; // a retry a second, and slack for a busy machine

struct Station {
    QTemporaryDir dir;
    std::optional<PseudoTerminal> pty;
    std::optional<PortLink> name;
    QtSerialComm comm{dir.path()};
    FakeMessageBoxes boxes;
    LinkControl link{comm, boxes};
    FrameParser parser{comm};
    QStringList journal;
    LinkResume resume{comm, parser, link, boxes, [this](const QString &line) { journal << line; }};
    QStringList commits;

    Station()
    {
        publish();
        QObject::connect(&comm, &SerialComm::OnComm, &comm, [this] { parser.MSComm1_OnComm(); });
        parser.setCommit([this] { commits << parser.label1Captions()[0] + parser.label1Captions()[3]; });
        link.setVScroll3(1);
        link.Start_Click();
    }
    // A new device, named COM1.
    void publish() { name.emplace(dir.path(), 1, pty.emplace().slavePath()); }
    void vanish()
    {
        pty.reset();
        name.reset();
    }
    bool send(const QByteArray &b) { return ::write(pty->masterFd(), b.constData(), b.size()) == b.size(); }
};
} // namespace

class TestLinkResume : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // STOP and START in mid-frame leave the frame to be continued. A loss
    // drops the frame it cut, the port opens again by itself once COM1 is
    // back, and the next frame is logged whole. STOP during a loss ends the
    // tries.
    void resumesWhenTheDeviceReturns()
    {
        Station s;
        QVERIFY(s.send("N1,2"));
        QTRY_COMPARE_WITH_TIMEOUT(s.parser.Text2().text(), "2", 2000);
        s.link.stopcmd_Click();
        s.link.Start_Click();
        QVERIFY(s.send(",3,4,N5,6"));
        QTRY_COMPARE_WITH_TIMEOUT(s.parser.Text2().text(), "6", 2000);
        s.vanish();
        QTRY_COMPARE_WITH_TIMEOUT(s.journal.size(), 1, 2000);
        QVERIFY2(s.journal[0].startsWith("COM1 lost: "), qPrintable(s.journal[0]));
        QCOMPARE(s.boxes.openNotices(), 1);
        const QString notice = s.boxes.shown().last().prompt;
        QVERIFY2(notice.startsWith("COM1: device lost") && notice.contains("keeps trying"),
                 qPrintable(notice));
        QCOMPARE(s.parser.frameStarted(), 0);
        QCOMPARE(s.parser.Label1(0).text(), "  5"); // the captions stay
        // The rest of a poll burst goes nowhere quietly.
        QVERIFY_THROWS_NO_EXCEPTION(s.comm.Output("c"));

        QTest::qWait(ResumeMs); // away: tries that fail say nothing
        QCOMPARE(s.journal.size(), 1);
        QVERIFY(s.resume.retrying());
        s.publish();
        QTRY_VERIFY_WITH_TIMEOUT(s.comm.PortOpen(), ResumeMs);
        QCOMPARE(s.journal.size(), 2);
        QVERIFY2(s.journal[1].startsWith("COM1 back after "), qPrintable(s.journal[1]));
        QCOMPARE(s.boxes.openNotices(), 0);
        QVERIFY(s.link.started());

        QVERIFY(s.send(",7,8,N9,10,11,12,"));
        QTRY_COMPARE_WITH_TIMEOUT(s.commits.size(), 2, 2000);
        QCOMPARE(s.commits, QStringList({"  1  4", "  9  12"}));

        s.vanish();
        QTRY_VERIFY_WITH_TIMEOUT(s.resume.retrying(), 2000);
        s.link.stopcmd_Click();
        s.publish();
        QTRY_VERIFY_WITH_TIMEOUT(!s.resume.retrying(), ResumeMs);
        QVERIFY(!s.comm.PortOpen());
        QCOMPARE(s.boxes.openNotices(), 0);
    }

    // Far more than the component holds, at once: whole frames are dropped
    // and counted, and no record mixes two frames.
    void floodDropsWholeFrames()
    {
        Station s;
        s.comm.setInputLen(1);
        QByteArray flood;
        int frames = 0;
        for (; flood.size() < 4 * QtSerialComm::ReadBufferLimit; ++frames)
            flood += QStringLiteral("N%1,2,3,%1,").arg(frames).toLatin1();
        for (qsizetype sent = 0; sent < flood.size();) {
            const ssize_t n =
                ::write(s.pty->masterFd(), flood.constData() + sent, size_t(flood.size() - sent));
            sent += n > 0 ? n : 0;
            if (n <= 0)
                QTest::qWait(1);
        }
        QTRY_COMPARE_WITH_TIMEOUT(s.commits.size() + s.resume.framesDropped(), frames, 10000);
        QVERIFY(s.resume.framesDropped() > 0);
        QCOMPARE(s.journal.size(), 1); // told once
        for (const QString &record : s.commits) {
            const QStringList values = record.split("  ", Qt::SkipEmptyParts);
            QCOMPARE(values[0], values[1]);
        }
    }
};

QTEST_GUILESS_MAIN(TestLinkResume)
#include "tst_linkresume.moc"
