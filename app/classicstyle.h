#pragma once

class QStyle;

// The classic look the window was designed in (frame captions across the
// frame's top line, bevelled buttons and scroll bars), with header cells
// that keep their text within the grid's one-line rows. Null when the
// platform has no classic style.
QStyle *createClassicStyle();
