#include "app/appicon.h"

#include <QPainter>

namespace qf {

namespace {
const QColor boardGreen(0, 128, 0);
const QColor traceGreen(96, 208, 96);
const QColor contactGold(255, 200, 40);
const QColor chipBlack(16, 16, 16);
} // namespace

QImage drawAppIcon()
{
    QImage icon(32, 32, QImage::Format_ARGB32);
    icon.fill(Qt::black);
    QPainter painter(&icon);

    // The board, with a chip and the traces that lead from it to the contacts.
    painter.fillRect(2, 3, 28, 21, boardGreen);
    painter.fillRect(10, 7, 12, 8, chipBlack);
    painter.setPen(traceGreen);
    for (int x = 6; x <= 26; x += 4) {
        painter.drawLine(x, 15, x, 23);
        painter.drawPoint(x, 15);
    }
    for (int x = 11; x <= 21; x += 2) {
        painter.drawPoint(x, 6);
        painter.drawPoint(x, 15);
    }
    painter.drawLine(4, 5, 8, 5);
    painter.drawLine(24, 5, 28, 5);

    // The row of gold contacts along the board's lower edge.
    for (int x = 5; x <= 25; x += 4)
        painter.fillRect(x, 24, 3, 6, contactGold);
    return icon;
}

} // namespace qf
