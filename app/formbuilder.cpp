#include "app/formbuilder.h"

#include "app/designlook.h"
#include "app/fittinglabel.h"

#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>

#include <algorithm>
#include <map>
#include <stdexcept>

namespace qf {

namespace {

// Return and Enter press the focused button, as Space does: a classic button
// that has the keyboard focus takes both.
class ButtonKeys : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter)
            return false;
        static_cast<QPushButton *>(watched)->click();
        return true;
    }
};

// A palette that holds every colour of `base` as the widget's own, so that
// nothing a container sets flows on into the control.
QPalette ownPalette(const QPalette &base)
{
    QPalette own;
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            const auto r = QPalette::ColorRole(role);
            if (r != QPalette::NoRole)
                own.setBrush(group, r, base.brush(group, r));
        }
    }
    return own;
}

void setRole(QPalette &palette, QPalette::ColorRole role, const QColor &colour)
{
    if (colour.isValid())
        palette.setColor(role, colour);
}

// The kind's standard colours with the designed ones in their roles.
void applyColours(QWidget &widget, const ControlDesign &design)
{
    QPalette palette = ownPalette(QApplication::palette(&widget));
    const QColor fore = designColour(design.fore);
    const QColor back = designColour(design.back);
    switch (design.kind) {
    case ControlKind::Frame:
    case ControlKind::Label:
        setRole(palette, QPalette::WindowText, fore);
        setRole(palette, QPalette::Window, back);
        widget.setAutoFillBackground(back.isValid());
        break;
    case ControlKind::TextBox:
    case ControlKind::Grid:
        setRole(palette, QPalette::Text, fore);
        setRole(palette, QPalette::Base, back);
        break;
    case ControlKind::CommandButton:
    case ControlKind::VScrollBar:
        setRole(palette, QPalette::ButtonText, fore);
        setRole(palette, QPalette::Button, back);
        break;
    }
    widget.setPalette(palette);
}

QWidget *makeControl(const ControlDesign &design, QWidget *container, const GridFactory &makeGrid)
{
    const QString caption = QString::fromUtf8(design.caption);
    switch (design.kind) {
    case ControlKind::Frame:
        return new QGroupBox(caption, container);
    case ControlKind::Label: {
        const bool fitted = design.style == LabelStyle::Fitted;
        QLabel *label = fitted ? new qf::FittingLabel(caption, container) : new QLabel(caption, container);
        // Captions carry device and store text: shown as received, never as markup.
        label->setTextFormat(Qt::PlainText);
        // A classic label wraps its caption at word breaks within its box.
        label->setWordWrap(!fitted);
        // The caption starts at the box's edge; a leading blank is the only indent.
        label->setIndent(0);
        label->setAlignment(design.style == LabelStyle::Centred ? Qt::AlignHCenter | Qt::AlignTop
                                                                : Qt::AlignLeft | Qt::AlignTop);
        if (design.style == LabelStyle::Bordered) {
            label->setFrameStyle(QFrame::Box | QFrame::Plain);
            label->setLineWidth(1);
        }
        return label;
    }
    case ControlKind::TextBox:
        return new QLineEdit(caption, container);
    case ControlKind::CommandButton: {
        auto *button = new QPushButton(caption, container);
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::StrongFocus);
        button->installEventFilter(new ButtonKeys(button));
        return button;
    }
    case ControlKind::VScrollBar: {
        auto *bar = new QScrollBar(Qt::Vertical, container);
        bar->setRange(design.minimum, design.maximum);
        bar->setValue(design.minimum);
        bar->setSingleStep(1);
        bar->setPageStep(1);
        bar->setFocusPolicy(Qt::StrongFocus);
        return bar;
    }
    case ControlKind::Grid:
        return makeGrid ? makeGrid(container) : new QTableView(container);
    }
    throw std::logic_error("unknown control kind");
}

} // namespace

void styleWindow(QWidget &form, const WindowDesign &window)
{
    form.setObjectName(QString::fromLatin1(window.name));
    form.setWindowTitle(QString::fromUtf8(window.caption));
    // Fixed single border: the client area has one size, and the title bar
    // offers no maximise button.
    form.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                        Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                        Qt::MSWindowsFixedSizeDialogHint);
    form.setGeometry(twipsToPixels(window.client.left), twipsToPixels(window.client.top),
                     twipsToPixels(window.client.width), twipsToPixels(window.client.height));
    form.setFixedSize(twipsToPixels(window.client.width), twipsToPixels(window.client.height));
    QPalette palette = form.palette();
    palette.setColor(QPalette::Window, designColour(window.back));
    form.setPalette(palette);
    form.setAutoFillBackground(true);
    form.setFont(designFont(window.font, window.font));
}

QHash<QString, QWidget *> buildControls(QWidget &form, const WindowDesign &window,
                                        std::span<const ControlDesign> controls, const GridFactory &makeGrid)
{
    QHash<QString, QWidget *> built;
    std::map<int, QWidget *> byTabIndex;
    const QString formName = QString::fromLatin1(window.name);
    for (const ControlDesign &design : controls) {
        const QString container = QString::fromLatin1(design.container);
        QWidget *parent = container == formName ? &form : built.value(container);
        if (!parent)
            throw std::logic_error("a control's container must be designed before it");

        QWidget *widget = makeControl(design, parent, makeGrid);
        const QString name = QString::fromLatin1(design.name);
        widget->setObjectName(name);
        widget->setProperty("tabIndex", design.tabIndex);
        widget->setGeometry(twipsToPixels(design.rect.left), twipsToPixels(design.rect.top),
                            twipsToPixels(design.rect.width), twipsToPixels(design.rect.height));
        widget->setFont(designFont(design.font, window.font));
        applyColours(*widget, design);
        if (design.kind == ControlKind::Label)
            widget->lower();
        built.insert(name, widget);
        byTabIndex.emplace(design.tabIndex, widget);
    }

    // The keyboard walks the controls that take the focus in tab index order.
    QWidget *previous = nullptr;
    for (const auto &[tabIndex, widget] : byTabIndex) {
        if (!(widget->focusPolicy() & Qt::TabFocus))
            continue;
        if (previous)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
    return built;
}

} // namespace qf
