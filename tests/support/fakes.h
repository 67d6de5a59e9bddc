#pragma once

#include "common/errorreport.h"
#include "common/messageboxes.h"

#include <QList>
#include <QString>

// Records every message box asked for and answers from a script (default:
// the first answer the box's buttons allow, OK or No).
class FakeMessageBoxes : public MessageBoxes {
public:
    struct Box {
        QString prompt;
        int style = 0;
        QString title;
        bool operator==(const Box &) const = default;
        friend char *toString(const Box &box) // what a failing QCOMPARE prints
        {
            return qstrdup(
                qPrintable(QStringLiteral("%1 [%2] %3").arg(box.title).arg(box.style).arg(box.prompt)));
        }
    };

    int msgBox(const QString &prompt, int style, const QString &title = {}) override
    {
        m_shown.append({prompt, style, title});
        if (!m_answers.isEmpty())
            return m_answers.takeFirst();
        return (style & 7) == MsgStyle::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
    }

    // A notice is recorded like a box; it stays open until closed.
    int showNotice(const QString &prompt, int style, const QString &title = {}) override
    {
        m_shown.append({prompt, style, title});
        m_openNotices.append(int(m_shown.size()));
        return m_openNotices.back();
    }
    void closeNotice(int notice) override { m_openNotices.removeAll(notice); }

    void answerNext(int answer) { m_answers.append(answer); }
    const QList<Box> &shown() const { return m_shown; }
    // Notices shown and not closed yet.
    qsizetype openNotices() const { return m_openNotices.size(); }

private:
    QList<Box> m_shown;
    QList<int> m_answers;
    QList<int> m_openNotices;
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
