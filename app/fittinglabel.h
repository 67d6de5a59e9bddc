#pragma once

#include <QFont>
#include <QLabel>

#include <optional>
#include <utility>

namespace qf {

// A label whose caption the program writes and the operator must read
// whole: one line, in the label's own font when it fits, otherwise in the
// largest smaller size that shows it whole. Place and size stay as they
// are; the room ends where another control that overlaps the label begins
// (a unit beside a value).
class FittingLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QFont textFont READ textFont)
public:
    using QLabel::QLabel;

    // The font the caption is drawn in.
    QFont textFont() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // Pixels from the contents' left edge to the first control that overlaps
    // the label on its right.
    int room() const;

    mutable std::optional<std::pair<QString, QFont>> m_fitted; // a caption and its font
};

} // namespace qf
