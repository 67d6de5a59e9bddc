#pragma once

#include <QImage>

namespace qf {

// The window's icon, 32 x 32 pixels: a green circuit board with a row of
// gold contacts, on black.
QImage drawAppIcon();

} // namespace qf
