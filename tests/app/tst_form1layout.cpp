#include "app/classicstyle.h"
#include "app/designlook.h"
#include "app/form1.h"
#include "grid/flexgridview.h"

#include <QApplication>
#include <QFontInfo>
#include <QScrollBar>
#include <QTest>

// The window against its design: every control's container, geometry,
// caption, font, colours and tab index, the window's size, position, title
// and icon, and what lies above what (the keyboard order is walked in
// tst_station).
namespace {

// Fonts as "face points [bold] [italic]", faces as installed here.
const char *const mono = "Liberation Mono 11.25 bold"; // the window's own
const char *const sans8 = "Liberation Sans 8.25", *const sans9 = "Liberation Sans 9.75";
const char *const sans14b = "Liberation Sans 14.25 bold";
// The classic scheme's active title bar (2), window text (8), active border
// (10) and highlighted text (14); `kind` (invalid) is the kind's own colour.
const QColor titleBar(0, 0, 128), winText(Qt::black), border(192, 192, 192), hiText(Qt::white);
const QColor kind, grey(206, 207, 197), black(Qt::black), brown(0xBF7B28), cyan(0xC0FFFF);

// A few controls written out by hand, across the kinds, font substitutes
// and system colours: they catch a wrong design table, which the other
// checks take as given.
struct Spot {
    const char *container;
    QRect twips;
    int tabIndex;
    QString caption;
    const char *font;
    QColor fore, back;
};

QString fontText(const QFont &f)
{
    const QString style = QString(f.bold() ? " bold" : "") + (f.italic() ? " italic" : "");
    return f.family() + ' ' + QString::number(f.pointSizeF()) + style;
}

// The colour roles text and background use on a control of this kind.
std::pair<QPalette::ColorRole, QPalette::ColorRole> rolesOf(const QWidget *w)
{
    if (w->inherits("QLineEdit") || w->inherits("QTableView"))
        return {QPalette::Text, QPalette::Base};
    if (w->inherits("QAbstractButton") || w->inherits("QScrollBar"))
        return {QPalette::ButtonText, QPalette::Button};
    return {QPalette::WindowText, QPalette::Window};
}

// Labels, buttons and texts show their "text", frames their "title".
QString caption(const QWidget *widget)
{
    return widget->property(widget->inherits("QGroupBox") ? "title" : "text").toString();
}

// Standard colours are the kind's own, not the container's; no other role is
// touched.
void checkColours(QWidget *widget, const QColor &fore, const QColor &back)
{
    const auto [foreRole, backRole] = rolesOf(widget);
    const QPalette own = QApplication::palette(widget);
    for (int r = 0; r < QPalette::NColorRoles; ++r) {
        const auto role = QPalette::ColorRole(r);
        const QColor want = role == foreRole ? fore : role == backRole ? back : kind;
        if (role != QPalette::NoRole)
            QCOMPARE(widget->palette().color(role), want.isValid() ? want : own.color(role));
    }
}

} // namespace

class TestForm1Layout : public QObject {
    Q_OBJECT
    FlexGrid m_grid;
    std::unique_ptr<Form1> m_form;

private Q_SLOTS:
    void initTestCase()
    {
        if (QStyle *classic = createClassicStyle()) // the look the station runs with
            QApplication::setStyle(classic);
        m_form =
            std::make_unique<Form1>([this](QWidget *parent) { return new FlexGridView(m_grid, parent); });
    }

    // Every control as built against its row of the design table, and no
    // control the table lacks.
    void controls()
    {
        const WindowDesign &window = form1Design();
        QStringList checked;
        for (const ControlDesign &design : form1Controls()) {
            const QString name = QString::fromLatin1(design.name);
            QWidget *widget = m_form->control(name);
            QVERIFY2(widget, qPrintable(name));
            checked << name;
            const Twips &t = design.rect;
            QCOMPARE(widget->parentWidget()->objectName(), QString::fromLatin1(design.container));
            QCOMPARE(widget->geometry(), QRect(twipsToPixels(t.left), twipsToPixels(t.top),
                                               twipsToPixels(t.width), twipsToPixels(t.height)));
            QCOMPARE(widget->property("tabIndex").toInt(), design.tabIndex);
            QCOMPARE(caption(widget), QString::fromUtf8(design.caption));
            QVERIFY(widget->isEnabled());
            QCOMPARE(fontText(widget->font()), fontText(designFont(design.font, window.font)));
            QCOMPARE(QFontInfo(widget->font()).family(), widget->font().family()); // installed, no fallback
            checkColours(widget, designColour(design.fore), designColour(design.back));
            QVERIFY(!widget->inherits("QLabel") || widget->autoFillBackground());
        }
        for (const QWidget *widget : m_form->findChildren<QWidget *>()) {
            if (widget->property("tabIndex").isValid())
                QVERIFY2(checked.contains(widget->objectName()), qPrintable(widget->objectName()));
        }
    }

    void spots_data()
    {
        QTest::addColumn<Spot>("spot");
        const auto row = [](const char *name, const char *in, QRect twips, int tab, const QString &caption,
                            const char *font, QColor fore, QColor back) {
            QTest::newRow(name) << Spot{in, twips, tab, caption, font, fore, back};
        };
        row("Command3", "Frame3", {600, 1800, 1455, 615}, 31, "OFF", mono, kind, kind);
        row("Label14(1)", "Frame2(1)", {1920, 1200, 375, 855}, 12, "°c", sans14b, hiText, winText);
        row("Label2(0)", "Frame2(0)", {120, 1440, 1215, 495}, 7, "Temperature:", sans9, black, border);
        row("Frame2(0)", "Form1", {7080, 0, 2415, 3135}, 5, "Sensor1", mono, titleBar, grey);
        row("Text3", "Form1", {0, 10680, 1335, 285}, 0, "Text3", sans8, kind, kind);
        row("fg", "Form1", {0, 480, 6975, 8775}, 4, "", "Liberation Sans 9 bold italic", kind, kind);
        row("totalrec", "Form1", {1200, 7200, 2295, 375}, 3, "", "Liberation Sans 9.75 bold", brown, grey);
        row("Label17", "Form1", {0, 0, 6975, 495}, 2, " DATA RECORD", "DejaVu Sans 20.25 bold", black, cyan);
    }

    void spots()
    {
        QFETCH(Spot, spot);
        QWidget *widget = m_form->control(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(widget);
        const QRect &t = spot.twips;
        QCOMPARE(widget->parentWidget()->objectName(), QString::fromLatin1(spot.container));
        QCOMPARE(widget->geometry(), QRect(t.x() / 15, t.y() / 15, t.width() / 15, t.height() / 15));
        QCOMPARE(widget->property("tabIndex").toInt(), spot.tabIndex);
        QCOMPARE(caption(widget), spot.caption);
        QCOMPARE(fontText(widget->font()), QString::fromLatin1(spot.font));
        checkColours(widget, spot.fore, spot.back);
    }

    void window()
    {
        Form1 &form = *m_form;
        QCOMPARE(form.windowTitle(), "Quillfern");
        QCOMPARE(form.geometry(), QRect(3480 / 15, 540 / 15, 807, 645));
        QCOMPARE(form.minimumSize(), form.maximumSize()); // a fixed size: it cannot be resized
        QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(form.palette().color(QPalette::Window), grey);
        QCOMPARE(fontText(form.font()), QString::fromLatin1(mono));
        // The port selector: ports 1 to 12 (its steps are seen in tst_station).
        auto *bar = form.control<QScrollBar>("VScroll3");
        QCOMPARE((QList<int>{bar->orientation(), bar->minimum(), bar->maximum()}),
                 (QList<int>{Qt::Vertical, 1, 12}));
        // The icon: a green board with gold contacts on black.
        const QImage icon = form.windowIcon().pixmap(32, 32).toImage();
        QCOMPARE(icon.size(), QSize(32, 32));
        QCOMPARE(QColor(icon.pixel(0, 0)), QColor(Qt::black));
        const QColor board(icon.pixel(4, 20)), contact(icon.pixel(6, 27));
        QVERIFY2(board.green() > 2 * board.red() && board.green() > 2 * board.blue(), "the board is green");
        QVERIFY2(contact.red() > 200 && contact.green() > 150 && contact.blue() < 100,
                 "the contacts are gold");
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        // The grid lies above the total and the title's lowest line; the
        // working texts lie below the client area (their geometry is in the
        // table).
        QWidget *grid = form.control("fg");
        for (const QPoint point : {form.control("totalrec")->geometry().center(), QPoint(100, 32)})
            QVERIFY(grid->isAncestorOf(form.childAt(point)));
        QVERIFY(form.control("Text2")->isVisibleTo(&form) && form.control("Text3")->isVisibleTo(&form));
    }
};

QTEST_MAIN(TestForm1Layout)
#include "tst_form1layout.moc"
