#pragma once

#include <QString>

// The seam through which all logic asks for a modal message box. The window
// supplies the real boxes; tests supply a recorder with scripted answers.
// Styles and answers use the classic message-box codes so that handlers read
// like their descriptions.
namespace MsgStyle {
// Buttons
inline constexpr int OkOnly = 0;
inline constexpr int YesNo = 4;
inline constexpr int ButtonsMask = 7;
// Icon
inline constexpr int Critical = 16;
inline constexpr int Question = 32;
inline constexpr int Exclamation = 48;
inline constexpr int Information = 64;
inline constexpr int IconMask = 0x70;
// Default button
inline constexpr int DefaultButton2 = 256;
inline constexpr int DefaultButtonMask = 0x300;
inline constexpr int DefaultButtonShift = 8;

constexpr int buttons(int style)
{
    return style & ButtonsMask;
}
constexpr int icon(int style)
{
    return style & IconMask;
}
// 0-based index of the default button.
constexpr int defaultButton(int style)
{
    return (style & DefaultButtonMask) >> DefaultButtonShift;
}
} // namespace MsgStyle

namespace MsgAnswer {
inline constexpr int Ok = 1;
inline constexpr int Yes = 6;
inline constexpr int No = 7;
} // namespace MsgAnswer

// The application title: what boxes without a title of their own show.
inline QString applicationTitle()
{
    return QStringLiteral("Tarnwick");
}

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Shows a modal box and returns the answer code. An empty title means the
    // application title.
    virtual int msgBox(const QString &prompt, int style, const QString &title = {}) = 0;
    // Shows a box with an OK button that does not wait for the operator and
    // returns its key; the program may close it by that key later (the
    // operator may have closed it first).
    virtual int openNotice(const QString &prompt, int style, const QString &title = {}) = 0;
    virtual void closeNotice(int key) = 0;
};
