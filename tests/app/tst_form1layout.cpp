#include "app/classicstyle.h"
#include "app/form1.h"
#include "recordlog/flexgridview.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>
#include <QTest>

#include <memory>

// The window against its design: every control's container, geometry,
// caption, font, colours and tab index, the window's size, position, title
// and icon, the keyboard order and what hides what.
class TestForm1Layout : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // The look the station runs with.
        if (QStyle *classic = createClassicStyle())
            QApplication::setStyle(classic);
        m_form =
            std::make_unique<Form1>([this](QWidget *parent) { return new FlexGridView(m_grid, parent); });
    }
    void cleanupTestCase() { m_form.reset(); }
    void controls_data();
    void controls();
    void everyControlIsChecked();
    void window();
    void keyboardOrderAndFocus();
    void gridHidesTotalAndWorkingTextsLieBelow();

private:
    Form1 &theForm() { return *m_form; }

    FlexGrid m_grid;
    std::unique_ptr<Form1> m_form;
    QStringList m_checked;
};

namespace {

// Design values in twips; fonts as "face points [bold] [italic]", faces as
// installed here.
const char *const windowLook = "Liberation Mono 11.25 bold";
const char *const arial8 = "Liberation Sans 8.25";
const char *const arial9 = "Liberation Sans 9.75";
const char *const arial14b = "Liberation Sans 14.25 bold";

// The classic scheme: 2 active title bar, 8 window text, 10 active border,
// 14 highlighted text. An invalid colour stands for the kind's standard one.
const QColor titleBar(0, 0, 128);
const QColor windowText(0, 0, 0);
const QColor activeBorder(192, 192, 192);
const QColor highlightText(255, 255, 255);
const QColor standard;
const QColor grey(206, 207, 197);
const QColor yellow(255, 255, 128);
const QColor black(0, 0, 0);
const QColor white(255, 255, 255);

// One control as designed.
struct Design {
    const char *container;
    QRect twips;
    int tabIndex;
    QString caption;
    const char *font;
    QColor fore;
    QColor back;
};

QString fontText(const QFont &font)
{
    return QStringLiteral("%1 %2%3%4")
        .arg(font.family())
        .arg(font.pointSizeF())
        .arg(font.bold() ? " bold" : "", font.italic() ? " italic" : "");
}

// The colour roles text and background use on a control of this kind.
std::pair<QPalette::ColorRole, QPalette::ColorRole> rolesOf(const QWidget *widget)
{
    if (qobject_cast<const QLineEdit *>(widget) || qobject_cast<const QTableView *>(widget))
        return {QPalette::Text, QPalette::Base};
    if (qobject_cast<const QAbstractButton *>(widget) || qobject_cast<const QScrollBar *>(widget))
        return {QPalette::ButtonText, QPalette::Button};
    return {QPalette::WindowText, QPalette::Window};
}

} // namespace

void TestForm1Layout::controls_data()
{
    QTest::addColumn<Design>("design");
    const auto row = [](const char *name, const char *in, QRect twips, int tab, const QString &caption,
                        const char *font, const QColor &fore, const QColor &back) {
        QTest::newRow(name) << Design{in, twips, tab, caption, font, fore, back};
    };
    const QString degrees = QStringLiteral("°c");
    row("Frame3", "Form1", {7080, 6480, 2535, 3135}, 29, "Relay Controller", windowLook, standard,
        activeBorder);
    row("Command3", "Frame3", {600, 1800, 1455, 615}, 31, "OFF", windowLook, standard, standard);
    row("Command2", "Frame3", {600, 960, 1455, 615}, 30, "ON", windowLook, standard, standard);
    row("Frame2(2)", "Form1", {7080, 3240, 2415, 3135}, 24, "Sensor3", windowLook, titleBar, grey);
    row("Label1(2)", "Frame2(2)", {1320, 1080, 495, 855}, 28, "", arial14b, yellow, black);
    row("Label2(2)", "Frame2(2)", {120, 1440, 1215, 375}, 27, "Temperature:", arial9, black, activeBorder);
    row("Label14(2)", "Frame2(2)", {1800, 1080, 375, 855}, 25, degrees, "Liberation Sans 18 bold", white,
        black);
    row("Frame1", "Form1", {9600, 6480, 2415, 3135}, 16, "Communication ", windowLook, QColor(255, 0, 0),
        grey);
    row("Command1", "Frame1", {480, 2640, 1455, 375}, 23, "Delete all Records", arial8, standard, standard);
    row("exit", "Frame1", {480, 2040, 1455, 375}, 22, "EXIT", arial8, standard, standard);
    row("stopcmd", "Frame1", {480, 1560, 1455, 375}, 21, "STOP", arial8, standard, standard);
    row("Start", "Frame1", {480, 960, 1455, 375}, 20, "START", arial8, standard, standard);
    row("Text4", "Frame1", {1200, 360, 495, 375}, 18, "", windowLook, standard, standard);
    row("VScroll3", "Frame1", {1680, 360, 255, 375}, 17, "", windowLook, standard, standard);
    row("Label55", "Frame1", {480, 360, 615, 375}, 19, "COM:", "Liberation Mono 14.25 bold", black, grey);
    row("Frame2(3)", "Form1", {9600, 3240, 2415, 3135}, 13, "Sensor4", windowLook, titleBar, grey);
    row("Label14(3)", "Frame2(3)", {1920, 1080, 375, 855}, 26, degrees, arial14b, white, black);
    row("Label2(3)", "Frame2(3)", {120, 1440, 1215, 375}, 15, "Vibration:", arial9, black, activeBorder);
    row("Label1(3)", "Frame2(3)", {1440, 1080, 495, 855}, 14, "", arial14b, yellow, black);
    row("Frame2(1)", "Form1", {9600, 0, 2415, 3135}, 9, "Sensor2", windowLook, titleBar, grey);
    row("Label14(1)", "Frame2(1)", {1920, 1200, 375, 855}, 12, degrees, arial14b, highlightText, windowText);
    row("Label2(1)", "Frame2(1)", {120, 1440, 1215, 375}, 11, "Temperature:", arial9, black, activeBorder);
    row("Label1(1)", "Frame2(1)", {1440, 1200, 495, 855}, 10, "", arial14b, yellow, black);
    row("Frame2(0)", "Form1", {7080, 0, 2415, 3135}, 5, "Sensor1", windowLook, titleBar, grey);
    row("Label1(0)", "Frame2(0)", {1320, 1200, 495, 855}, 8, "", arial14b, yellow, black);
    row("Label2(0)", "Frame2(0)", {120, 1440, 1215, 495}, 7, "Temperature:", arial9, black, activeBorder);
    row("Label14(0)", "Frame2(0)", {1800, 1200, 375, 855}, 6, degrees, arial14b, white, black);
    row("Text2", "Form1", {1440, 10560, 3480, 480}, 1, "", arial8, standard, standard);
    row("Text3", "Form1", {0, 10680, 1335, 285}, 0, "Text3", arial8, standard, standard);
    row("fg", "Form1", {0, 480, 6975, 8775}, 4, "", "Liberation Sans 9 bold italic", standard, standard);
    row("totalrec", "Form1", {1200, 7200, 2295, 375}, 3, "", "Liberation Sans 9.75 bold",
        QColor(191, 123, 40), grey);
    row("Label17", "Form1", {0, 0, 6975, 495}, 2, " DATA RECORD", "DejaVu Sans 20.25 bold", black,
        QColor(192, 255, 255));
}

void TestForm1Layout::controls()
{
    QFETCH(Design, design);
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    QWidget *widget = theForm().control(name);
    QVERIFY2(widget, qPrintable(name));
    m_checked << name;

    const QRect &twips = design.twips;
    QCOMPARE(widget->parentWidget()->objectName(), QString::fromLatin1(design.container));
    QCOMPARE(widget->geometry(),
             QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
    QCOMPARE(widget->property("tabIndex").toInt(), design.tabIndex);
    // Labels, buttons and texts show their "text", frames their "title".
    QCOMPARE(widget->property(qobject_cast<QGroupBox *>(widget) ? "title" : "text").toString(),
             design.caption);
    QVERIFY(widget->isEnabled());

    QCOMPARE(fontText(widget->font()), QString::fromLatin1(design.font));
    QCOMPARE(QFontInfo(widget->font()).family(), widget->font().family()); // installed, not a fallback

    // Standard colours are the kind's own, not the container's.
    const auto [foreRole, backRole] = rolesOf(widget);
    const QPalette kind = QApplication::palette(widget);
    QCOMPARE(widget->palette().color(foreRole), design.fore.isValid() ? design.fore : kind.color(foreRole));
    QCOMPARE(widget->palette().color(backRole), design.back.isValid() ? design.back : kind.color(backRole));
    for (int role = 0; role < QPalette::NColorRoles; ++role) {
        const auto r = QPalette::ColorRole(role);
        if (r != foreRole && r != backRole && r != QPalette::NoRole)
            QCOMPARE(widget->palette().color(r), kind.color(r));
    }
    if (qobject_cast<QLabel *>(widget))
        QVERIFY(widget->autoFillBackground()); // labels paint their background
}

void TestForm1Layout::everyControlIsChecked()
{
    for (const QWidget *widget : theForm().findChildren<QWidget *>()) {
        if (widget->property("tabIndex").isValid())
            QVERIFY2(m_checked.contains(widget->objectName()), qPrintable(widget->objectName()));
    }
    QCOMPARE(m_checked.size(), 32);
}

void TestForm1Layout::window()
{
    Form1 &form = theForm();
    QCOMPARE(form.windowTitle(), QStringLiteral("Quillfern"));
    QCOMPARE(form.geometry(), QRect(3480 / 15, 540 / 15, 807, 645));
    QCOMPARE(form.minimumSize(), QSize(807, 645));
    QCOMPARE(form.maximumSize(), QSize(807, 645));
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(form.palette().color(QPalette::Window), grey);
    QCOMPARE(fontText(form.font()), QString::fromLatin1(windowLook));
    // The port selector: ports 1 to 12, an arrow and a click in the track
    // both move by one port.
    auto *bar = form.control<QScrollBar>("VScroll3");
    QCOMPARE(
        (QList<int>{bar->orientation(), bar->minimum(), bar->maximum(), bar->singleStep(), bar->pageStep()}),
        (QList<int>{Qt::Vertical, 1, 12, 1, 1}));

    const QIcon icon = form.windowIcon();
    QVERIFY(!icon.isNull());
    const QImage image = icon.pixmap(32, 32).toImage();
    QCOMPARE(image.size(), QSize(32, 32));
    QCOMPARE(QColor(image.pixel(0, 0)), QColor(Qt::black));
    const QColor board(image.pixel(4, 20));
    QVERIFY2(board.green() > 2 * board.red() && board.green() > 2 * board.blue(), "the board is green");
    const QColor contact(image.pixel(6, 27));
    QVERIFY2(contact.red() > 200 && contact.green() > 150 && contact.blue() < 100, "the contacts are gold");

    // Shown, the client area keeps its size and cannot be resized.
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.resize(1000, 800);
    QCOMPARE(form.size(), QSize(807, 645));
    QCOMPARE(form.windowTitle(), QStringLiteral("Quillfern"));
}

void TestForm1Layout::keyboardOrderAndFocus()
{
    Form1 &form = theForm();
    QWidget *first = form.control("Text3");
    QCOMPARE(form.focusWidget(), first);

    QStringList order;
    QWidget *widget = first;
    do {
        if ((widget->focusPolicy() & Qt::TabFocus) && widget->property("tabIndex").isValid())
            order << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != first && order.size() < 40);
    QCOMPARE(order, (QStringList{"Text3", "Text2", "fg", "VScroll3", "Text4", "Start", "stopcmd", "exit",
                                 "Command1", "Command2", "Command3"}));
}

void TestForm1Layout::gridHidesTotalAndWorkingTextsLieBelow()
{
    Form1 &form = theForm();
    QWidget *grid = form.control("fg");
    const auto gridShowsAt = [&](QPoint point) {
        QWidget *seen = form.childAt(point);
        return seen == grid || grid->isAncestorOf(seen);
    };
    QVERIFY(grid->geometry().contains(form.control("totalrec")->geometry()));
    QVERIFY(gridShowsAt(form.control("totalrec")->geometry().center()));
    QVERIFY(gridShowsAt(QPoint(100, 32))); // the title label's lowest line
    for (const char *name : {"Text2", "Text3"}) {
        QVERIFY(form.control(name)->isVisibleTo(&form));
        QVERIFY2(!form.rect().intersects(form.control(name)->geometry()), name);
    }
}

QTEST_MAIN(TestForm1Layout)
#include "tst_form1layout.moc"
