#pragma once

#include "common/twips.h"

#include <span>

namespace qf {

// The operator window as designed: every control with its container,
// position and size, caption, font, colours and tab index. Positions and
// sizes are in twips (15 twips are one pixel at 96 dpi), measured from the
// top-left corner of the container (the client area, or a frame's outer
// corner). The table is read by one builder (formbuilder.h); nothing else
// places or styles a control.

enum class ControlKind { Frame, Label, TextBox, CommandButton, VScrollBar, Grid };

// A colour as designed: the control kind's standard colour, an RGB triple,
// or a classic system colour by index (designlook.h maps those).
struct DesignColour {
    enum class Source { Standard, Rgb, System };
    Source source = Source::Standard;
    int value = 0; // 0xRRGGBB, or the system colour's index

    bool operator==(const DesignColour &) const = default;
};

constexpr DesignColour standardColour()
{
    return {};
}
constexpr DesignColour rgb(int r, int g, int b)
{
    return {DesignColour::Source::Rgb, (r << 16) | (g << 8) | b};
}
constexpr DesignColour systemColour(int index)
{
    return {DesignColour::Source::System, index};
}

// A font as designed; a null face means the window's font.
struct DesignFont {
    const char *face = nullptr;
    double points = 0;
    bool bold = false;
    bool italic = false;
};

inline constexpr DesignFont windowFont{};

struct Twips {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// Fitted: a label whose caption the program writes (a sensor's value), drawn
// on one line and whole: smaller than designed where it would not fit.
enum class LabelStyle { Plain, Centred, Bordered, Fitted };

struct ControlDesign {
    const char *name; // element k of a control array is "Name(k)"
    ControlKind kind;
    const char *container; // "Form1" or the name of a frame designed before
    Twips rect;
    int tabIndex;
    const char *caption; // caption or initial text, UTF-8
    DesignFont font;
    DesignColour fore;
    DesignColour back;
    LabelStyle style = LabelStyle::Plain;
    int minimum = 0; // scroll bars: the range; the value starts at minimum
    int maximum = 0;
};

struct WindowDesign {
    const char *name;
    const char *caption;
    Twips client; // left and top: the client area's corner on the screen
    DesignColour back;
    DesignFont font;
};

const WindowDesign &form1Design();
// In the order of creation; containers come before what they hold.
std::span<const ControlDesign> form1Controls();

} // namespace qf
