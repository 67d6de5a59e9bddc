#pragma once

#include "app/formbuilder.h"

#include <QHash>
#include <QWidget>

namespace qf {

// The station's one window as designed, with every control; it holds no
// logic. The station binds its handlers to the controls (station.h).
class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(const GridFactory &makeGrid = {}, QWidget *parent = nullptr);

    // The control of that design name ("Start", "Label1(2)"); null if none.
    QWidget *control(const QString &name) const { return m_controls.value(name); }
    template <typename Widget> Widget *control(const QString &name) const
    {
        return qobject_cast<Widget *>(control(name));
    }

Q_SIGNALS:
    // The window is being closed through its frame; the close goes ahead.
    void unloading();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QHash<QString, QWidget *> m_controls;
};

} // namespace qf
