#include "app/fittinglabel.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

#include <algorithm>

namespace qf {

namespace {

bool fits(const QFont &font, const QString &text, int room, int height)
{
    const QFontMetrics metrics(font);
    return metrics.horizontalAdvance(text) <= room && metrics.boundingRect(text).right() < room &&
           metrics.height() <= height;
}

} // namespace

int FittingLabel::room() const
{
    const QRect contents = contentsRect();
    int right = contents.right() + 1;
    for (const QObject *child : parentWidget()->children()) {
        const auto *sibling = qobject_cast<const QWidget *>(child);
        if (sibling && !sibling->isHidden() && sibling->x() > x() &&
            sibling->geometry().intersects(geometry()))
            right = std::min(right, sibling->x() - x());
    }
    return right - contents.left();
}

QFont FittingLabel::textFont() const
{
    const QString caption = text();
    if (m_fitted && m_fitted->first == caption)
        return m_fitted->second;
    QFont font = this->font();
    const int width = room();
    const int height = contentsRect().height();
    // Whole pixel sizes down from the designed one; the smallest when none
    // shows the caption whole.
    for (int pixels = QFontInfo(font).pixelSize(); pixels > 1 && !fits(font, caption, width, height);)
        font.setPixelSize(--pixels);
    m_fitted.emplace(caption, font);
    return font;
}

void FittingLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    drawFrame(&painter);
    painter.setFont(textFont());
    style()->drawItemText(&painter, contentsRect(), int(alignment()) | Qt::TextSingleLine, palette(),
                          isEnabled(), text(), foregroundRole());
}

} // namespace qf
