#include "app/qtmessageboxes.h"

#include <QMessageBox>
#include <QPushButton>

#include <vector>

namespace qf {

namespace {

QMessageBox::Icon iconOf(MsgStyles style)
{
    switch (msgIcon(style)) {
    case MsgStyle::Critical:
        return QMessageBox::Critical;
    case MsgStyle::Question:
        return QMessageBox::Question;
    case MsgStyle::Exclamation:
        return QMessageBox::Warning;
    case MsgStyle::Information:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

struct Choice {
    QMessageBox::StandardButton button;
    MsgAnswer answer;
};

// The buttons of the style, in the order they are counted for the default.
std::vector<Choice> choicesOf(MsgStyles style)
{
    if (msgButtons(style) == MsgStyle::YesNo)
        return {{QMessageBox::Yes, MsgAnswer::Yes}, {QMessageBox::No, MsgAnswer::No}};
    return {{QMessageBox::Ok, MsgAnswer::Ok}};
}

} // namespace

MsgAnswer QtMessageBoxes::msgBox(const QString &prompt, MsgStyles style, const QString &title)
{
    QMessageBox box(iconOf(style), title.isEmpty() ? applicationTitle() : title, prompt,
                    QMessageBox::NoButton, m_owner);
    const std::vector<Choice> choices = choicesOf(style);
    for (const Choice &choice : choices)
        box.addButton(choice.button);
    const size_t defaultIndex = std::min<size_t>(msgDefaultButton(style), choices.size() - 1);
    box.setDefaultButton(choices[defaultIndex].button);
    // Escape answers with the last button: No, or OK when it is the only one.
    box.setEscapeButton(choices.back().button);
    // The prompt may hold a file name or a store's text: never markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();

    const auto clicked = box.standardButton(box.clickedButton());
    for (const Choice &choice : choices) {
        if (choice.button == clicked)
            return choice.answer;
    }
    return choices.back().answer;
}

int QtMessageBoxes::openNotice(const QString &prompt, MsgStyles style, const QString &title)
{
    auto *box = new QMessageBox(iconOf(style), title.isEmpty() ? applicationTitle() : title, prompt,
                                QMessageBox::Ok, m_owner);
    box->setTextFormat(Qt::PlainText); // a device path is no markup
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
    std::erase_if(m_notices, [](const auto &entry) { return entry.second.isNull(); });
    m_notices.emplace(++m_lastKey, box);
    return m_lastKey;
}

void QtMessageBoxes::closeNotice(int key)
{
    const auto found = m_notices.find(key);
    if (found == m_notices.end())
        return;
    if (found->second)
        found->second->close();
    m_notices.erase(found);
}

} // namespace qf
