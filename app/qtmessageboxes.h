#pragma once

#include "common/messageboxes.h"

#include <QMessageBox>
#include <QPointer>

#include <map>

class QWidget;

namespace qf {

// Modal message boxes of the classic styles: the buttons (OK only, or Yes
// and No), the icon (critical stop, question, exclamation, information) and
// the default button (the first, or the second). A box without a title of
// its own shows the application title.
class QtMessageBoxes : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget *owner = nullptr) : m_owner(owner) {}

    void setOwner(QWidget *owner) { m_owner = owner; }
    MsgAnswer msgBox(const QString &prompt, MsgStyles style, const QString &title = {}) override;
    int openNotice(const QString &prompt, MsgStyles style, const QString &title = {}) override;
    void closeNotice(int key) override;

private:
    QWidget *m_owner = nullptr;
    int m_lastKey = 0;
    std::map<int, QPointer<QMessageBox>> m_notices; // gone when the operator closed them
};

} // namespace qf
