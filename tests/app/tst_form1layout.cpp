#include "app/classicstyle.h"
#include "app/designlook.h"
#include "app/form1.h"
#include "grid/flexgridview.h"

#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QTest>

using namespace qf;

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

// A control as built: its container, geometry in pixels, tab index,
// caption, font as "face points [bold] [italic]" and colours.
struct Look {
    QString container;
    QRect geometry;
    int tabIndex;
    QString caption;
    QString font;
    QColor fore, back;
};

QString fontText(const QFont &f)
{
    return f.family() + ' ' + QString::number(f.pointSizeF()) + (f.bold() ? " bold" : "") +
           (f.italic() ? " italic" : "");
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
// Standard colours are the kind's own, not the container's; no other role is
// touched.
void checkLook(const QWidget *widget, const Look &want)
{
    QVERIFY(widget);
    QCOMPARE(widget->parentWidget()->objectName(), want.container);
    QCOMPARE(widget->geometry(), want.geometry);
    QCOMPARE(widget->property("tabIndex").toInt(), want.tabIndex);
    QCOMPARE(widget->property(widget->inherits("QGroupBox") ? "title" : "text").toString(), want.caption);
    QCOMPARE(fontText(widget->font()), want.font);
    const auto [foreRole, backRole] = rolesOf(widget);
    const QPalette own = QApplication::palette(widget);
    for (int r = 0; r < QPalette::NColorRoles; ++r) {
        const auto role = QPalette::ColorRole(r);
        const QColor colour = role == foreRole ? want.fore : role == backRole ? want.back : kind;
        if (role != QPalette::NoRole)
            QCOMPARE(widget->palette().color(role), colour.isValid() ? colour : own.color(role));
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
            checkLook(widget, {QString::fromLatin1(design.container),
                               QRect(twipsToPixels(t.left), twipsToPixels(t.top), twipsToPixels(t.width),
                                     twipsToPixels(t.height)),
                               design.tabIndex, QString::fromUtf8(design.caption),
                               fontText(designFont(design.font, window.font)), designColour(design.fore),
                               designColour(design.back)});
            QVERIFY(widget->isEnabled());
            QCOMPARE(QFontInfo(widget->font()).family(), widget->font().family()); // installed, no fallback
            QVERIFY(!widget->inherits("QLabel") || widget->autoFillBackground());
        }
        for (const QWidget *widget : m_form->findChildren<QWidget *>()) {
            if (widget->property("tabIndex").isValid())
                QVERIFY2(checked.contains(widget->objectName()), qPrintable(widget->objectName()));
        }
    }

    // A few controls written out by hand, across the kinds, font substitutes
    // and system colours: they catch a wrong design table, which the other
    // checks take as given.
    void spots_data()
    {
        QTest::addColumn<Look>("look");
        const auto row = [](const char *name, const Look &look) { QTest::newRow(name) << look; };
        row("Command3", {"Frame3", {40, 120, 97, 41}, 31, "OFF", mono, kind, kind});
        row("Label14(1)", {"Frame2(1)", {128, 80, 25, 57}, 12, "°c", sans14b, hiText, winText});
        row("Label2(0)", {"Frame2(0)", {8, 96, 81, 33}, 7, "Temperature:", sans9, black, border});
        row("Frame2(0)", {"Form1", {472, 0, 161, 209}, 5, "Sensor1", mono, titleBar, grey});
        row("Text3", {"Form1", {0, 712, 89, 19}, 0, "Text3", sans8, kind, kind});
        row("fg", {"Form1", {0, 32, 465, 585}, 4, "", "Liberation Sans 9 bold italic", kind, kind});
        row("totalrec", {"Form1", {80, 480, 153, 25}, 3, "", "Liberation Sans 9.75 bold", brown, grey});
        row("Label17", {"Form1", {0, 0, 465, 33}, 2, " DATA RECORD", "DejaVu Sans 20.25 bold", black, cyan});
    }

    void spots()
    {
        QFETCH(Look, look);
        checkLook(m_form->control(QString::fromLatin1(QTest::currentDataTag())), look);
    }

    // A sensor's value shows whole, left of its unit (which overlaps the
    // value label's last pixel): in the designed font where it fits, else in
    // the largest smaller size that does. As painted, its ink spans what the
    // caption drawn alone in that font spans.
    void valuesShowWhole()
    {
        const auto ink = [](const QImage &image) { // first and last column of yellow ink
            std::pair<int, int> columns{image.width(), -1};
            for (int x = 0; x < image.width(); ++x)
                for (int y = 0; y < image.height(); ++y)
                    if (const QRgb p = image.pixel(x, y); qRed(p) > 60 && qBlue(p) < qRed(p) * 3 / 4)
                        columns = {std::min(columns.first, x), x};
            return columns;
        };
        for (int i = 0; i < 5 * 4; ++i) {
            const QString value = QStringList{"1", "25.3", "0.52", "-1e3", "-123456.789012"}.at(i / 4);
            const QString caption = "  " + value;
            const int k = i % 4;
            auto *label = m_form->control<QLabel>(QString("Label1(%1)").arg(k));
            const int room = m_form->control(QString("Label14(%1)").arg(k))->x() - label->x();
            label->setText(caption);
            const QFont used = label->property("textFont").value<QFont>();
            QFont larger = used;
            larger.setPixelSize(QFontInfo(used).pixelSize() + 1);
            const QFontMetrics metrics(larger);
            QCOMPARE(used == label->font(), value == "1");
            QVERIFY(used == label->font() || metrics.horizontalAdvance(caption) > room ||
                    metrics.boundingRect(caption).right() >= room);
            QImage alone(label->size(), QImage::Format_RGB32);
            alone.fill(Qt::black);
            QPainter painter(&alone);
            painter.setFont(used);
            painter.setPen(QColor(255, 255, 128));
            painter.drawText(alone.rect(), Qt::AlignLeft | Qt::AlignTop, caption);
            painter.end();
            const auto shown =
                ink(m_form->grab({label->mapTo(m_form.get(), QPoint()), label->size()}).toImage());
            QVERIFY2(shown == ink(alone) && shown.second < room, qPrintable(label->objectName() + caption));
        }
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
