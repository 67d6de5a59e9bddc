#pragma once

#include "app/formdesign.h"

#include <QHash>
#include <QString>

#include <functional>
#include <span>

class QWidget;

namespace qf {

// Makes the widget that shows the record grid, as a child of parent.
using GridFactory = std::function<QWidget *(QWidget *parent)>;

// Builds the designed controls on `form` (already styled as the window's
// design says) and returns them by their design names. Every control gets
// its container, geometry, caption, font, colours and place in the tab
// order from the table alone; labels lie beneath the other controls of
// their container, as graphical controls do.
QHash<QString, QWidget *> buildControls(QWidget &form, const WindowDesign &window,
                                        std::span<const ControlDesign> controls, const GridFactory &makeGrid);

// Styles the window itself: caption, fixed client size and position,
// background colour and font.
void styleWindow(QWidget &form, const WindowDesign &window);

} // namespace qf
