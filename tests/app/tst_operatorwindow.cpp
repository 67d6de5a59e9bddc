#include "grid/flexgridview.h"
#include "support/stationrig.h"

#include <QApplication>
#include <QLabel>
#include <QScrollBar>
#include <QTest>

// The window as the operator meets it: keyboard, device text, cells, paints, read-only store.
namespace {

constexpr int timeoutMs = 5000;

// A loaded, shown and active window over a store of `records` records.
struct Rig : StationRig {
    explicit Rig(qint64 records = 0, const std::function<void(const StoreFixture &)> &prepare = {})
        : StationRig(records, prepare)
    {
        form.activateWindow();
        active = QTest::qWaitForWindowActive(&form);
    }
    QString focused() const { return QApplication::focusWidget()->objectName(); }
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);
    }
    void start() { form.control<QAbstractButton>("Start")->click(); } // the focus stays
    FlexGridView *view() const { return form.control<FlexGridView>("fg"); }

    bool active = false;
};

// The store file's bytes.
QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

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

class TestOperatorWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
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
            rig.start();
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

    // A key on a focused control does what a click would.
    void keysOnControls_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("seen");
        QTest::newRow("Return on Command1") << "Command1" << int(Qt::Key_Return) << "Confirmation Box 1";
        QTest::newRow("Down on VScroll3") << "VScroll3" << int(Qt::Key_Down) << " 2";
    }
    void keysOnControls()
    {
        QFETCH(QString, control);
        QFETCH(int, key);
        Rig rig;
        for (int tabs = 0; tabs < 12 && rig.focused() != control; ++tabs)
            rig.press(Qt::Key_Tab);
        QCOMPARE(rig.focused(), control);
        rig.press(key);
        const QString title = rig.boxes.shown().isEmpty() ? QString() : rig.boxes.shown().front().title;
        QTEST(title + u' ' + rig.text("Text4"), "seen");
    }

    // A field that looks like markup is shown and committed as the very
    // characters that came, two leading blanks included.
    void deviceTextIsPlain_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::newRow("bold") << QByteArray("<b>x</b>");
        QTest::newRow("entity") << QByteArray("&amp;");
    }
    void deviceTextIsPlain()
    {
        QFETCH(QByteArray, field);
        const QString raw = QStringLiteral("  ") + QString::fromLatin1(field);
        Rig rig;
        rig.start();
        rig.comm.receive("N" + field + ",1,2,3,");
        QTRY_COMPARE_WITH_TIMEOUT(rig.text("totalrec"), "Total Records: 1", timeoutMs);
        QLabel *value = rig.form.control<QLabel>("Label1(0)");
        QCOMPARE(value->text(), raw);
        QCOMPARE(rig.station.log().fg().TextMatrix(1, 2), raw);
        // What is painted is the text drawn as plain text.
        const QImage shown = value->grab().toImage();
        value->setTextFormat(Qt::PlainText);
        QCOMPARE(shown, value->grab().toImage());
    }

    // A text wider than its cell is cut at the cell's border: the part that
    // fits is painted as the text alone would be, with no ellipsis.
    void cellsClip()
    {
        Rig rig;
        FlexGridView *view = rig.view();
        const QFontMetrics metrics = view->fontMetrics();
        constexpr int col = 3;
        rig.station.log().fg().setColAlignment(col, FlexGrid::AlignLeftTop);
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
            rig.station.log().fg().setTextMatrix(1, col, cellText);
            return view->viewport()->grab(compared).toImage();
        };
        QCOMPARE(painted(text), painted(fits));
    }

    // A record repaints the grid only where it shows: a new row far below
    // the rows shown leaves them and the scroll bar's slider as they are.
    void commitRepaintsWhatChanged_data()
    {
        QTest::addColumn<qint64>("records");
        QTest::addColumn<bool>("repainted");
        QTest::newRow("new row shown") << qint64(0) << true;
        QTest::newRow("new row far below") << qint64(1000) << false;
    }
    void commitRepaintsWhatChanged()
    {
        QFETCH(qint64, records);
        QFETCH(bool, repainted);
        Rig rig(records);
        rig.start();
        QApplication::processEvents();
        PaintCounter painted;
        rig.view()->viewport()->installEventFilter(&painted);
        rig.view()->verticalScrollBar()->installEventFilter(&painted);
        rig.comm.receive("N1,2,3,4,");
        QTRY_COMPARE_WITH_TIMEOUT(rig.station.log().fg().Rows(), int(records) + 3, timeoutMs);
        QApplication::processEvents();
        QCOMPARE(painted.count > 0, repainted);
    }

    // A store that cannot be written lists as it is; the first record ends
    // the program with an error that names the file, which stays unchanged.
    void writeProtectedStoreLists()
    {
        QByteArray before;
        Rig rig(3, [&](const StoreFixture &store) {
            store.sql({"PRAGMA journal_mode=DELETE"});
            QFile::setPermissions(store.path(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
            before = fileBytes(store.path());
        });
        QVERIFY(rig.loaded && rig.report.errors().isEmpty());
        QCOMPARE(rig.text("totalrec"), "Total Records: 3");
        rig.start();
        rig.comm.receive("N1,2,3,4,");
        QTRY_COMPARE_WITH_TIMEOUT(rig.report.errors().size(), 1, timeoutMs);
        const Error error = rig.report.errors().front();
        QCOMPARE(error.number, ErrorCode::StoreFailed);
        QVERIFY2(error.description.contains(rig.store.path()) && error.description.contains("read-only"),
                 qPrintable(error.description));
        QCOMPARE(fileBytes(rig.store.path()), before);
    }
};

QTEST_MAIN(TestOperatorWindow)
#include "tst_operatorwindow.moc"
