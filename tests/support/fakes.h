#pragma once

#include "common/errorreport.h"
#include "common/messageboxes.h"

#include <QList>
#include <QString>

namespace qf {

// Records every message box asked for and answers from a script (default:
// the first answer the box's buttons allow, OK or No).
class FakeMessageBoxes : public MessageBoxes {
public:
    struct Box {
        QString prompt;
        MsgStyles style;
        QString title;
        bool operator==(const Box &) const = default;
        friend char *toString(const Box &box) // what a failing QCOMPARE prints
        {
            return qstrdup(qPrintable(
                QStringLiteral("%1 [%2] %3").arg(box.title).arg(box.style.toInt()).arg(box.prompt)));
        }
    };

    MsgAnswer msgBox(const QString &prompt, MsgStyles style, const QString &title = {}) override
    {
        m_shown.append({prompt, style, title});
        if (!m_answers.isEmpty())
            return m_answers.takeFirst();
        return msgButtons(style) == MsgStyle::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
    }

    int openNotice(const QString &prompt, MsgStyles style, const QString &title = {}) override
    {
        m_shown.append({prompt, style, title});
        m_openNotices.append(int(m_shown.size()));
        return m_openNotices.last();
    }
    void closeNotice(int key) override { m_openNotices.removeAll(key); }

    void answerNext(MsgAnswer answer) { m_answers.append(answer); }
    // Every box asked for, notices included.
    const QList<Box> &shown() const { return m_shown; }
    // Notices the program has not closed.
    qsizetype openNotices() const { return m_openNotices.size(); }

private:
    QList<Box> m_shown;
    QList<int> m_openNotices;
    QList<MsgAnswer> m_answers;
};

using Boxes = QList<FakeMessageBoxes::Box>;

// Records errors instead of ending the program.
class FakeErrorReport : public ErrorReport {
public:
    void report(const Error &error) override { m_errors.append(error); }
    const QList<Error> &errors() const { return m_errors; }

private:
    QList<Error> m_errors;
};

} // namespace qf
