#pragma once

#include "common/messageboxes.h"

#include <QPointer>

#include <map>

class QMessageBox;
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
    int showNotice(const QString &prompt, int style, const QString &title = {}) override;
    void closeNotice(int notice) override;

private:
    static void dress(QMessageBox &box, const QString &prompt, int style, const QString &title);

    QWidget *m_owner = nullptr;
    std::map<int, QPointer<QMessageBox>> m_notices; // a box the operator closed reads as null
    int m_lastNotice = 0;
};
