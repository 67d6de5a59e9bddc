#pragma once

#include <QString>

// The seam through which all logic asks for a modal message box. The window
// supplies the real boxes; tests supply a recorder with scripted answers.
// Styles and answers use the classic message-box codes so that handlers read
// like their descriptions.
namespace MsgStyle {
inline constexpr int OkOnly = 0;
inline constexpr int YesNo = 4;
inline constexpr int Critical = 16;
inline constexpr int Exclamation = 48;
inline constexpr int DefaultButton2 = 256;
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
    // Shows a box that waits for nobody: it returns at once with the box's
    // handle, the operator may close the box with OK, and closeNotice takes
    // it away when what it tells is over (nothing when it is already closed).
    virtual int showNotice(const QString &prompt, int style, const QString &title = {}) = 0;
    virtual void closeNotice(int notice) = 0;
};
