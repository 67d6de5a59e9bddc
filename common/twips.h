#pragma once

namespace qf {

// Twips per pixel at 96 dots per inch: the unit of the window's design and of
// the grid's column widths.
inline constexpr int twipsPerPixel = 15;

constexpr int twipsToPixels(int twips)
{
    return twips / twipsPerPixel;
}

} // namespace qf
