#pragma once

#include "grid/flexgrid.h"

#include <QTableView>

namespace qf {

class FlexGridWindow;

// The record grid on screen: a QTableView over a window of the grid's rows.
//
// A QTableView keeps per-row state in its vertical header (8 bytes a row,
// 80 MB at ten million rows) and walks all of it on every inserted row. This
// view lets its table see only the rows that fit on screen and keeps the
// position in its own vertical scroll bar instead, so memory and the cost of
// a new row do not depend on how many rows the grid has.
//
// Row 0 is the header and stays in place; column 0 is drawn as a fixed cell.
// Rows have one fixed height; column widths come from ColWidth (15 twips a
// pixel); alignments from ColAlignment.
class FlexGridView : public QTableView {
    Q_OBJECT
public:
    explicit FlexGridView(FlexGrid &grid, QWidget *parent = nullptr);
    ~FlexGridView() override;

    // The grid row shown first below the header (1 = the first record row).
    int topRow() const;
    // Rows that fit wholly below the header.
    int visibleRows() const;

    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;

protected:
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void applyColumnWidths();
    void applyFont();
    void syncScrollBar();
    void moveTo(int top);

    FlexGrid &m_grid;
    FlexGridWindow *m_window = nullptr;
    int m_rowHeight = 16;
    bool m_syncing = false;
};

} // namespace qf
