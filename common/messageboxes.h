#pragma once

#include <QFlags>
#include <QString>

namespace qf {

// The seam through which all logic asks for a modal message box. The window
// supplies the real boxes; tests supply a recorder with scripted answers.
// Styles and answers keep the classic message-box codes, typed, so that
// handlers read like their descriptions.

// One part of a box's style: its buttons, its icon or its default button. A
// style is one of each, combined with | (a part left out is the first).
enum class MsgStyle : int {
    // Buttons
    OkOnly = 0,
    YesNo = 4,
    // Icon
    Critical = 16,
    Question = 32,
    Exclamation = 48,
    Information = 64,
    // Default button
    DefaultButton2 = 256,
};
Q_DECLARE_FLAGS(MsgStyles, MsgStyle)
Q_DECLARE_OPERATORS_FOR_FLAGS(MsgStyles)

// The style's buttons: OkOnly or YesNo.
constexpr MsgStyle msgButtons(MsgStyles style)
{
    constexpr int buttonsMask = 0x7;
    return MsgStyle(style.toInt() & buttonsMask);
}
// The style's icon: Critical, Question, Exclamation, Information, or OkOnly
// (0) for none.
constexpr MsgStyle msgIcon(MsgStyles style)
{
    constexpr int iconMask = 0x70;
    return MsgStyle(style.toInt() & iconMask);
}
// 0-based index of the default button.
constexpr int msgDefaultButton(MsgStyles style)
{
    constexpr int defaultButtonMask = 0x300;
    constexpr int defaultButtonShift = 8;
    return (style.toInt() & defaultButtonMask) >> defaultButtonShift;
}

// The button that closed a box.
enum class MsgAnswer : int {
    Ok = 1,
    Yes = 6,
    No = 7,
};

// The application title: what boxes without a title of their own show.
inline QString applicationTitle()
{
    return QStringLiteral("Tarnwick");
}

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Shows a modal box and returns the operator's answer. An empty title
    // means the application title.
    virtual MsgAnswer msgBox(const QString &prompt, MsgStyles style, const QString &title = {}) = 0;
    // Shows a box with an OK button that does not wait for the operator and
    // returns its key; the program may close it by that key later (the
    // operator may have closed it first).
    virtual int openNotice(const QString &prompt, MsgStyles style, const QString &title = {}) = 0;
    virtual void closeNotice(int key) = 0;
};

} // namespace qf
