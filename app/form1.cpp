#include "app/form1.h"

#include "app/appicon.h"

#include <QCloseEvent>
#include <QIcon>
#include <QPixmap>

namespace qf {

Form1::Form1(const GridFactory &makeGrid, QWidget *parent) : QWidget(parent)
{
    styleWindow(*this, form1Design());
    setWindowIcon(QIcon(QPixmap::fromImage(drawAppIcon())));
    m_controls = buildControls(*this, form1Design(), form1Controls(), makeGrid);
    // The control with tab index 0 has the focus at first display, although
    // it lies below the visible area.
    for (const ControlDesign &design : form1Controls()) {
        if (design.tabIndex == 0)
            control(QString::fromUtf8(design.name))->setFocus();
    }
}

void Form1::closeEvent(QCloseEvent *event)
{
    Q_EMIT unloading();
    event->accept();
}

} // namespace qf
