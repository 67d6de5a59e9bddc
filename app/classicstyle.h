#pragma once

class QStyle;

namespace qf {

// The classic look the window was designed in (frame captions across the
// frame's top line, bevelled buttons and scroll bars). Null when the
// platform has no classic style.
QStyle *createClassicStyle();

} // namespace qf
