#include "app/designlook.h"

#include <array>
#include <utility>

namespace qf {

namespace {

struct Substitute {
    const char *designed;
    const char *installed;
};

// Fonts the design names that this platform does not have, and the nearest
// ones it does (the first two are metric-compatible).
// clang-format off
constexpr std::array substitutes{
    Substitute{"Arial",         "Liberation Sans"},
    Substitute{"Courier New",   "Liberation Mono"},
    Substitute{"MS Sans Serif", "Liberation Sans"},
    Substitute{"Segoe UI",      "Liberation Sans"},
    Substitute{"Bauhaus 93",    "DejaVu Sans"}, // a heavy display face: bold wherever the design uses it
};
// clang-format on

} // namespace

QColor classicSystemColour(int index)
{
    switch (index) {
    case 2: // active title bar
        return QColor(0, 0, 128);
    case 8: // window text
        return QColor(0, 0, 0);
    case 10: // active border
        return QColor(192, 192, 192);
    case 14: // highlighted text
        return QColor(255, 255, 255);
    default:
        return {};
    }
}

QColor designColour(const DesignColour &colour)
{
    switch (colour.source) {
    case DesignColour::Source::Rgb:
        return QColor::fromRgb(QRgb(colour.value));
    case DesignColour::Source::System:
        return classicSystemColour(colour.value);
    case DesignColour::Source::Standard:
        break;
    }
    return {};
}

QString installedFace(const QString &designedFace)
{
    for (const auto &substitute : substitutes) {
        if (designedFace == QLatin1String(substitute.designed))
            return QString::fromLatin1(substitute.installed);
    }
    return designedFace;
}

QFont designFont(const DesignFont &font, const DesignFont &windowFont)
{
    const DesignFont &designed = font.face ? font : windowFont;
    QFont result(installedFace(QString::fromLatin1(designed.face)));
    result.setPointSizeF(designed.points);
    result.setBold(designed.bold);
    result.setItalic(designed.italic);
    return result;
}

} // namespace qf
