#include "app/qtmessageboxes.h"

#include <QMessageBox>
#include <QPushButton>

#include <vector>

namespace {

QMessageBox::Icon iconOf(int style)
{
    switch (style & 0x70) {
    case MsgStyle::Critical:
        return QMessageBox::Critical;
    case 32:
        return QMessageBox::Question;
    case MsgStyle::Exclamation:
        return QMessageBox::Warning;
    case 64:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

struct Choice {
    QMessageBox::StandardButton button;
    int answer;
};

// The buttons of the style, in the order they are counted for the default.
std::vector<Choice> choicesOf(int style)
{
    if ((style & 7) == MsgStyle::YesNo)
        return {{QMessageBox::Yes, MsgAnswer::Yes}, {QMessageBox::No, MsgAnswer::No}};
    return {{QMessageBox::Ok, MsgAnswer::Ok}};
}

} // namespace

void QtMessageBoxes::dress(QMessageBox &box, const QString &prompt, int style, const QString &title)
{
    box.setIcon(iconOf(style));
    box.setWindowTitle(title.isEmpty() ? applicationTitle() : title);
    box.setText(prompt);
    const std::vector<Choice> choices = choicesOf(style);
    for (const Choice &choice : choices)
        box.addButton(choice.button);
    const size_t defaultIndex = std::min<size_t>((style & 0x300) >> 8, choices.size() - 1);
    box.setDefaultButton(choices[defaultIndex].button);
    // Escape answers with the last button: No, or OK when it is the only one.
    box.setEscapeButton(choices.back().button);
}

int QtMessageBoxes::showNotice(const QString &prompt, int style, const QString &title)
{
    auto *box = new QMessageBox(m_owner);
    dress(*box, prompt, style, title);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
    m_notices.emplace(++m_lastNotice, box);
    return m_lastNotice;
}

void QtMessageBoxes::closeNotice(int notice)
{
    const auto found = m_notices.find(notice);
    if (found == m_notices.end())
        return;
    if (found->second)
        found->second->close();
    m_notices.erase(found);
}

int QtMessageBoxes::msgBox(const QString &prompt, int style, const QString &title)
{
    QMessageBox box(m_owner);
    dress(box, prompt, style, title);
    const std::vector<Choice> choices = choicesOf(style);
    box.exec();

    const auto clicked = box.standardButton(box.clickedButton());
    for (const Choice &choice : choices) {
        if (choice.button == clicked)
            return choice.answer;
    }
    return choices.back().answer;
}
