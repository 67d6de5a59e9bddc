#pragma once

#include "common/messageboxes.h"

#include <QMessageBox>
#include <QPointer>

#include <map>

class QWidget;

// Modal message boxes with the classic style codes: the buttons (0 OK only,
// 4 Yes and No), the icon (16 critical stop, 32 question, 48 exclamation,
// 64 information) and the default button (256: the second one). A box
// without a title of its own shows the application title.
class QtMessageBoxes : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget *owner = nullptr) : m_owner(owner) {}

    void setOwner(QWidget *owner) { m_owner = owner; }
    int msgBox(const QString &prompt, int style, const QString &title = {}) override;
    int openNotice(const QString &prompt, int style, const QString &title = {}) override;
    void closeNotice(int key) override;

private:
    QWidget *m_owner = nullptr;
    int m_lastKey = 0;
    std::map<int, QPointer<QMessageBox>> m_notices; // gone when the operator closed them
};
