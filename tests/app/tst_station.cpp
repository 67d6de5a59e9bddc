#include "acquisition/qtserialcomm.h"
#include "app/station.h"
#include "grid/flexgridview.h"
#include "support/fakeserialcomm.h"
#include "support/ptydevice.h"
#include "support/storefixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QScrollBar>

#include <functional>
#include <optional>

using namespace qf;

// The window with its station over the in-memory serial component: the
// states after start-up, what each control reaches, where errors go, and
// that a frame is acknowledged (the poll burst after its last comma) only
// once its record is stored; then the window as the operator meets it:
// keyboard, device text, cells, paints, a read-only store; last, the whole
// station over a real serial line. What the handlers do is tested with each
// handler; how the grid lists records, a restart and a delete-all are
// tst_recordlog's.
namespace {

constexpr qsizetype burstSize = 4; // "bcde", one letter per channel

// The station over the in-memory serial component and a store of `records`
// records, which `prepare` may change first, and a commit waits 10 ms for;
// its window loaded, shown and active. The component's log starts after the
// load.
struct Rig {
    explicit Rig(qint64 records = 0, const std::function<void(const StoreFixture &)> &prepare = {})
    {
        store.create(records);
        if (prepare)
            prepare(store);
        loaded = station.startUp();
        form.show();
        comm.clearLog();
        station.log().setStoreWait(std::chrono::milliseconds(10));
        form.activateWindow();
        active = QTest::qWaitForWindowActive(&form);
    }
    QString text(const QString &control) const { return form.control(control)->property("text").toString(); }
    void click(const char *name) { QTest::mouseClick(form.control<QAbstractButton>(name), Qt::LeftButton); }
    qsizetype bursts() const { return comm.sent().size() / burstSize; }
    // Which of START, STOP and the port selector are enabled.
    QString enabled() const
    {
        QStringList names{"Start", "stopcmd", "VScroll3"};
        names.removeIf([this](const QString &name) { return !form.control(name)->isEnabled(); });
        return names.join(u' ');
    }
    QString focused() const { return QApplication::focusWidget()->objectName(); }
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    }
    FlexGridView *view() const { return form.control<FlexGridView>("fg"); }

    StoreFixture store;
    FakeSerialComm comm;
    FakeMessageBoxes boxes;
    FakeErrorReport report;
    std::optional<int> endedWith;
    Station station{comm, store.dir(), boxes, report, [this](int status) { endedWith = status; }};
    Form1 &form = station.form();
    bool loaded = false;
    bool active = false;
};

// Counts the paint events of the widgets it filters.
struct PaintCounter : QObject {
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::Paint;
        return false;
    }
    int count = 0;
};

} // namespace

class TestStation : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Each button, and closing the window (its unload), reaches its handler,
    // seen by what the handler asks of the component, whether the program
    // ends, and which of START, STOP and the selector are enabled; none shows
    // a box.
    void clicks_data()
    {
        QTest::addColumn<bool>("startFirst");
        QTest::addColumn<QString>("seen");
        QTest::newRow("Start") << false
                               << "CommPort=1 Settings=9600,N,8,1 InputLen=1 PortOpen=True | runs | stopcmd";
        // STOP closes without asking whether the port is open.
        QTest::newRow("stopcmd") << true << "PortOpen=False | runs | Start VScroll3";
        QTest::newRow("Command2") << false << "PortOpen? PortOpen=True Output=a | runs | Start VScroll3";
        QTest::newRow("Command3") << true << "PortOpen? PortOpen=False Output=a | runs | stopcmd";
        // EXIT ends at once: the unload, which would ask PortOpen, does not run.
        QTest::newRow("exit") << true << " | ends 0 | stopcmd";
        QTest::newRow("close, started") << true << "PortOpen? PortOpen=False | runs | stopcmd";
    }

    void clicks()
    {
        QFETCH(bool, startFirst);
        Rig rig;
        if (startFirst) {
            rig.click("Start");
            rig.comm.clearLog();
        }
        if (QByteArray(QTest::currentDataTag()).startsWith("close"))
            rig.form.close();
        else
            rig.click(QTest::currentDataTag());
        const QString ends = rig.endedWith ? QStringLiteral("ends %1").arg(*rig.endedWith) : "runs";
        QTEST(QStringList({rig.comm.log().join(u' '), ends, rig.enabled()}).join(" | "), "seen");
        QVERIFY(rig.loaded && rig.boxes.shown().isEmpty() && rig.report.errors().isEmpty());
    }

    // A port that cannot be opened shows in an untitled warning with its
    // number, as the error report would, and leaves the link stopped, the
    // operator may try again. A device loss shows once
    // as a warning that says the station keeps trying, and the program runs
    // on. (An error a handler raises goes to the error report:
    // writeProtectedStoreLists.)
    void errorsAfterStart()
    {
        Rig rig;
        const Error missing{ErrorCode::PortNotFound, "COM1: no such port (/dev/ttyS0)"};
        rig.comm.failNextOpen(missing);
        rig.click("Start");
        QCOMPARE(
            rig.boxes.shown(),
            (Boxes{{"Error 8002: " + missing.description, MsgStyle::OkOnly | MsgStyle::Exclamation, {}}}));
        QCOMPARE(rig.enabled(), "Start VScroll3");
        rig.click("Start");
        const Error loss{ErrorCode::DeviceLost, "COM1: the device is gone"};
        rig.comm.loseDevice(loss);
        QTRY_COMPARE(rig.boxes.shown().size(), 2);
        QVERIFY(rig.boxes.shown()[1].prompt.startsWith(loss.description + "\n\nThe station keeps trying"));
        QCOMPARE(rig.boxes.shown()[1].style, MsgStyle::Exclamation);
        QVERIFY(rig.report.errors().isEmpty() && !rig.endedWith);
    }
    // A frame is acknowledged only once its record is stored: while another
    // program holds the store's lock, the device's repeated last comma is
    // not read or polled. Lock-step through a delete-all: a frame waiting
    // when it starts is not read or answered until it is done, and is then
    // stored as record 1.
    void acknowledgementWaitsForTheStore()
    {
        Rig rig;
        rig.click("Start");
        QSqlDatabase other = rig.store.connect("other");
        QVERIFY(QSqlQuery(other).exec("BEGIN IMMEDIATE"));
        rig.comm.receive("N1,2,3,4,");
        QTRY_COMPARE(rig.comm.waiting(), 0);
        QCOMPARE(rig.bursts(), 8); // every character but the last comma
        QCOMPARE(rig.boxes.openNotices(), 1);
        rig.comm.receive(",");           // the device sends its last character again
        QTest::qWait(1200);              // a try fails meanwhile
        QCOMPARE(rig.comm.waiting(), 1); // not read, not polled
        QCOMPARE(rig.bursts(), 8);
        QVERIFY(QSqlQuery(other).exec("COMMIT"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.bursts(), 9, 3000);
        QCOMPARE(rig.boxes.openNotices(), 0);
        QCOMPARE(rig.store.column("SELECT \"Sr No\" FROM log"), QStringList{"1"});
        other = {};
        QSqlDatabase::removeDatabase("other");

        rig.comm.clearLog();
        const QByteArray frame = "N5,6,7,8,";
        rig.comm.receive(frame);
        rig.boxes.answerNext(MsgAnswer::Yes);
        rig.click("Command1");
        QCOMPARE(rig.comm.waiting(), 1 + frame.size()); // the repeated comma still waits too
        QVERIFY(rig.comm.sent().isEmpty());
        QTRY_COMPARE(rig.text("totalrec"), "Total Records: 1");
        QCOMPARE(rig.station.log().grid().TextMatrix(1, 5), "  8");
        QVERIFY(rig.report.errors().isEmpty());
    }

    // A held frame whose store then fails for good (its write-ahead log
    // removed): the port closes before the error is reported, unanswered.
    void heldFrameMeetsALastingFault()
    {
        Rig rig;
        rig.click("Start");
        QSqlDatabase other = rig.store.connect("other");
        QVERIFY(QSqlQuery(other).exec("BEGIN IMMEDIATE"));
        rig.comm.receive("N1,2,3,4,");
        QTRY_COMPARE(rig.boxes.openNotices(), 1);
        QVERIFY(QFile::remove(rig.store.path() + "-wal"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.report.errors().size(), 1, 3000);
        QCOMPARE(rig.report.errors().front().code, ErrorCode::StoreFailed);
        QVERIFY(!rig.comm.PortOpen());
        QCOMPARE(rig.bursts(), 8);
        other = {};
        QSqlDatabase::removeDatabase("other");
    }

    // Tab from the first control walks every enabled control that takes the
    // focus and round again; Shift+Tab walks back.
    void tabWalksTheWindow_data()
    {
        QTest::addColumn<QString>("order");
        QTest::newRow("stopped") << "Text2 fg VScroll3 Text4 Start exit Command1 Command2 Command3 Text3";
        QTest::newRow("started") << "Text2 fg Text4 stopcmd exit Command1 Command2 Command3 Text3";
    }
    void tabWalksTheWindow()
    {
        QFETCH(QString, order);
        Rig rig;
        if (QTest::currentDataTag() == QByteArray("started"))
            rig.form.control<QAbstractButton>("Start")->click(); // the focus stays
        QVERIFY(rig.active);
        QCOMPARE(rig.focused(), "Text3");
        const auto walk = [&](Qt::KeyboardModifiers modifiers) {
            QStringList seen;
            for (qsizetype i = 0; i <= order.count(u' '); ++i) {
                rig.press(Qt::Key_Tab, modifiers);
                modifiers ? seen.prepend(rig.focused()) : seen.append(rig.focused());
            }
            return seen.join(u' ');
        };
        QCOMPARE(walk(Qt::NoModifier), order);
        QCOMPARE(walk(Qt::ShiftModifier), "Text3 " + order.left(order.lastIndexOf(u' ')));
    }

    // START and STOP pressed from the keyboard hand the focus to each other:
    // it never moves on to EXIT, which the next Return would press.
    void focusFollowsTheLink()
    {
        Rig rig;
        for (int tabs = 0; tabs < 12 && rig.focused() != "Start"; ++tabs)
            rig.press(Qt::Key_Tab);
        rig.press(Qt::Key_Space);
        QCOMPARE(rig.focused(), "stopcmd");
        rig.press(Qt::Key_Return);
        QCOMPARE(rig.focused(), "Start");
        // Clicked in a window that is not the active one (no window manager).
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        rig.click("Start");
        QCOMPARE(rig.form.focusWidget()->objectName(), "stopcmd");
        QCOMPARE(rig.enabled(), "stopcmd");
        QVERIFY(!rig.endedWith);
    }

    // A key on a focused control does what a click would; the selector keeps
    // to ports 1 to 12 even where its bar would go on.
    void keysOnControls()
    {
        Rig rig;
        rig.form.control<QScrollBar>("VScroll3")->setMaximum(40);
        for (const auto &[control, key] :
             {std::pair{"VScroll3", Qt::Key_End}, std::pair{"Command1", Qt::Key_Return}}) {
            for (int tabs = 0; tabs < 12 && rig.focused() != control; ++tabs)
                rig.press(Qt::Key_Tab);
            rig.press(key);
        }
        QCOMPARE(rig.text("Text4"), "12");
        QCOMPARE(rig.boxes.shown().value(0).title, "Confirmation Box");
    }

    // A text wider than its cell is cut at the cell's border: the part that
    // fits is painted as the text alone would be, with no ellipsis.
    void cellsClip()
    {
        Rig rig;
        FlexGridView *view = rig.view();
        const QFontMetrics metrics = view->fontMetrics();
        constexpr int col = 3;
        rig.station.log().grid().setColAlignment(col, FlexGrid::Alignment::LeftTop);
        const QRect cell = view->visualRect(view->model()->index(0, col));
        // The longest start of the text that fits within margins and grid line.
        const int margin = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
        const QString text(80, u'i');
        QString fits = text;
        while (2 * margin + metrics.horizontalAdvance(fits) + 2 > cell.width())
            fits.chop(1);
        const QRect compared(cell.topLeft(),
                             QSize(margin + metrics.horizontalAdvance(fits) - 2, cell.height()));
        const auto painted = [&](const QString &cellText) {
            rig.station.log().grid().setTextMatrix(1, col, cellText);
            return view->viewport()->grab(compared).toImage();
        };
        QCOMPARE(painted(text), painted(fits));
    }

    // A frame as the operator meets it: the hidden working box holds only
    // the start of a field of many thousand characters, the value its first
    // 4,096, shown and listed as the very characters that came, two leading
    // blanks included, and painted as plain text even where it looks like
    // markup. The record repaints the grid only where it shows: a new row
    // far below the rows shown leaves them and the scroll bar's slider as
    // they are.
    void frameAsShown_data()
    {
        QTest::addColumn<qint64>("records");
        QTest::addColumn<bool>("repainted");
        QTest::newRow("new row shown") << qint64(0) << true;
        QTest::newRow("new row far below") << qint64(1000) << false;
    }
    void frameAsShown()
    {
        QFETCH(qint64, records);
        Rig rig(records);
        rig.click("Start");
        QApplication::processEvents();
        PaintCounter painted;
        rig.view()->viewport()->installEventFilter(&painted);
        rig.view()->verticalScrollBar()->installEventFilter(&painted);
        const QByteArray field = "<b>&amp;</b>" + QByteArray(20000, '7'); // rich text, an entity
        rig.comm.receive("N" + field);
        QTRY_COMPARE(rig.comm.waiting(), 0);
        QCOMPARE(rig.text("Text2").size(), 1024);
        rig.comm.receive(",2,3,4,");
        QTRY_COMPARE(rig.station.log().grid().Rows(), int(records) + 3);
        QApplication::processEvents();
        QTEST(painted.count > 0, "repainted");
        const QString raw = "  " + QString::fromLatin1(field.left(4096));
        auto *value = rig.form.control<QLabel>("Label1(0)");
        QCOMPARE(value->text(), raw);
        QCOMPARE(rig.station.log().grid().TextMatrix(int(records) + 1, 2), raw);
        const QImage shown = value->grab().toImage();
        value->setTextFormat(Qt::PlainText);
        QCOMPARE(shown, value->grab().toImage());
    }

    // A store that cannot be written lists as it is; the first record closes
    // the port unanswered and ends the program with an error that names the
    // file.
    void writeProtectedStoreLists()
    {
        Rig rig(3, [](const StoreFixture &store) {
            store.sql({"PRAGMA journal_mode=DELETE"});
            QFile::setPermissions(store.path(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        });
        QVERIFY(rig.loaded && rig.report.errors().isEmpty());
        QCOMPARE(rig.text("totalrec"), "Total Records: 3");
        rig.click("Start");
        rig.comm.receive("N1,2,3,4,");
        QTRY_COMPARE(rig.report.errors().size(), 1);
        const Error error = rig.report.errors().front();
        QCOMPARE(error.code, ErrorCode::StoreFailed);
        QVERIFY2(error.description.contains(rig.store.path()) && error.description.contains("read-only"),
                 qPrintable(error.description));
        QVERIFY(!rig.comm.PortOpen());
        QCOMPARE(rig.bursts(), 8);
    }

    // The window with the QSerialPort component on a pseudo-terminal
    // published as COM1 in the application's directory, and a fresh store
    // beside it.
    void framesOverARealLine()
    {
        constexpr int realLineMs = 15000;
        PtyDevice device;
        QVERIFY2(device.link.isValid(), qPrintable(device.pty.errorString() + device.link.errorString()));
        const QString appDir = device.dir.path();
        createStore(storeFilePath(appDir));
        FakeMessageBoxes boxes;
        FakeErrorReport report;
        QtSerialComm comm(appDir);
        Station station(comm, appDir, boxes, report, [](int) { QFAIL("the program ended"); });
        QVERIFY(station.startUp());
        station.form().show();
        QTest::mouseClick(station.form().control<QAbstractButton>("Start"), Qt::LeftButton);
        const QByteArray frames("N25.3,26.1,24.8,0.52,N1,2,3,4,N7.5,8,9,10,");
        QVERIFY(device.send(frames));
        QTRY_COMPARE_WITH_TIMEOUT(station.log().total().text(), "Total Records: 3", realLineMs);
        QCOMPARE(station.form().control<QLabel>("Label1(0)")->text(), "  7.5");
        // Every character was answered by its own poll burst.
        QTRY_COMPARE_WITH_TIMEOUT(device.received(), QByteArray("bcde").repeated(frames.size()), realLineMs);
        QVERIFY(report.errors().isEmpty());
    }
};

QTEST_MAIN(TestStation)
#include "tst_station.moc"
