#pragma once

#include "app/formdesign.h"

#include <QColor>
#include <QFont>
#include <QString>

namespace qf {

// How the design's fonts and colours look on this platform: the faces that
// stand in for the designed ones, and the fixed values of the four classic
// system colours the window uses.

// The classic desktop scheme's value of system colour `index` (2 active
// title bar, 8 window text, 10 active border, 14 highlighted text); an
// invalid colour for any other index.
QColor classicSystemColour(int index);

// The designed colour, or an invalid colour for the kind's standard colour.
QColor designColour(const DesignColour &colour);

// The installed face that stands in for a designed one.
QString installedFace(const QString &designedFace);

// The designed font; a font without a face of its own is `windowFont`.
QFont designFont(const DesignFont &font, const DesignFont &windowFont);

} // namespace qf
