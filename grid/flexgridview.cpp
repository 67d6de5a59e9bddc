#include "grid/flexgridview.h"

#include "common/twips.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>

namespace qf {

// The rows of the grid that the table sees: count rows from view row top on.
class FlexGridWindow : public QAbstractTableModel {
public:
    explicit FlexGridWindow(FlexGrid &grid, QObject *parent) : QAbstractTableModel(parent), m_grid(grid)
    {
        connect(&grid, &QAbstractItemModel::dataChanged, this, &FlexGridWindow::gridDataChanged);
        connect(&grid, &QAbstractItemModel::headerDataChanged, this, &QAbstractItemModel::headerDataChanged);
        // The grid grows only at its end: the rows shown stay as they are.
        connect(&grid, &QAbstractItemModel::rowsInserted, this, &FlexGridWindow::fitRows);
        connect(&grid, &QAbstractItemModel::rowsRemoved, this, &FlexGridWindow::refresh);
        connect(&grid, &QAbstractItemModel::modelReset, this, &FlexGridWindow::refresh);
    }

    int top() const { return m_top; }
    int total() const { return m_grid.rowCount(); }

    // Shows count rows from view row top on; only a move repaints the rows.
    void setShape(int top, int capacity)
    {
        const int before = m_top;
        m_top = std::clamp(top, 0, std::max(0, total() - 1));
        m_capacity = std::max(1, capacity);
        fitRows();
        if (m_top != before)
            notifyAll();
    }

    void setLook(const QFont &font, const QBrush &fixedBack, const QBrush &fixedText)
    {
        m_font = font;
        m_fixedBack = fixedBack;
        m_fixedText = fixedText;
        if (m_count > 0)
            Q_EMIT dataChanged(index(0, 0), index(m_count - 1, columnCount() - 1));
    }

    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : m_count; }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : m_grid.Cols();
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid())
            return {};
        const bool fixed = index.column() < FlexGrid::FixedCols;
        if (role == Qt::BackgroundRole)
            return fixed ? QVariant(m_fixedBack) : QVariant();
        if (role == Qt::ForegroundRole)
            return fixed ? QVariant(m_fixedText) : QVariant();
        const QVariant value = m_grid.data(m_grid.index(m_top + index.row(), index.column()), role);
        if (role == Qt::FontRole && value.isValid())
            return value.value<QFont>().resolve(m_font);
        return value;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        const QVariant value = m_grid.headerData(section, orientation, role);
        if (role == Qt::FontRole && value.isValid())
            return value.value<QFont>().resolve(m_font);
        return value;
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        return index.isValid() ? Qt::ItemIsEnabled : Qt::NoItemFlags;
    }

private:
    void gridDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles)
    {
        const int first = std::max(topLeft.row(), m_top) - m_top;
        const int last = std::min(bottomRight.row(), m_top + m_count - 1) - m_top;
        if (first <= last)
            Q_EMIT dataChanged(index(first, topLeft.column()), index(last, bottomRight.column()), roles);
    }

    // Brings the window's row count in line with the grid and the shape.
    void fitRows()
    {
        m_top = std::clamp(m_top, 0, std::max(0, total() - 1));
        const int count = std::clamp(total() - m_top, 0, m_capacity);
        if (count > m_count) {
            beginInsertRows({}, m_count, count - 1);
            m_count = count;
            endInsertRows();
        } else if (count < m_count) {
            beginRemoveRows({}, count, m_count - 1);
            m_count = count;
            endRemoveRows();
        }
    }

    // After rows went or the grid was reset, every row shown may differ.
    void refresh()
    {
        fitRows();
        notifyAll();
    }

    void notifyAll()
    {
        if (m_count > 0)
            Q_EMIT dataChanged(index(0, 0), index(m_count - 1, columnCount() - 1));
    }

    FlexGrid &m_grid;
    int m_top = 0;
    int m_capacity = 1;
    int m_count = 0;
    QFont m_font;
    QBrush m_fixedBack;
    QBrush m_fixedText;
};

// The grid's vertical scroll bar. Its range grows with every record; it
// repaints only when what it draws changes (the slider's place and size, an
// arrow reaching its end), not when a new row far below moves nothing.
class GridScrollBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

protected:
    void sliderChange(SliderChange change) override
    {
        if (look() == m_drawn)
            return;
        QScrollBar::sliderChange(change);
    }
    void paintEvent(QPaintEvent *event) override
    {
        m_drawn = look();
        QScrollBar::paintEvent(event);
    }

private:
    struct Look {
        QRect slider;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look &) const = default;
    };
    Look look() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
                value() == minimum(), value() == maximum()};
    }

    Look m_drawn;
};

FlexGridView::FlexGridView(FlexGrid &grid, QWidget *parent)
    : QTableView(parent), m_grid(grid), m_window(new FlexGridWindow(grid, this))
{
    setVerticalScrollBar(new GridScrollBar(Qt::Vertical, this));
    setModel(m_window);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    // A cell shows as much of its text as fits and is cut at its border.
    setTextElideMode(Qt::ElideNone);
    horizontalHeader()->setTextElideMode(Qt::ElideNone);
    // Tab and Shift+Tab go on to the window's next control; the arrow keys
    // move through the rows.
    setTabKeyNavigation(false);
    setCornerButtonEnabled(false);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setMinimumSectionSize(0);

    connect(&grid, &FlexGrid::columnFormatChanged, this, [this] { applyColumnWidths(); });
    connect(&grid, &QAbstractItemModel::rowsInserted, this, &FlexGridView::syncScrollBar);
    connect(&grid, &QAbstractItemModel::rowsRemoved, this, &FlexGridView::syncScrollBar);
    connect(&grid, &QAbstractItemModel::modelReset, this, &FlexGridView::syncScrollBar);

    applyFont();
    applyColumnWidths();
}

FlexGridView::~FlexGridView() = default;

int FlexGridView::topRow() const
{
    return m_window->top() + FlexGrid::FixedRows;
}

int FlexGridView::visibleRows() const
{
    return std::max(1, viewport()->height() / m_rowHeight);
}

void FlexGridView::moveTo(int top)
{
    const int capacity = viewport()->height() / m_rowHeight + 2;
    m_window->setShape(std::clamp(top, 0, std::max(0, m_window->total() - visibleRows())), capacity);
}

void FlexGridView::syncScrollBar()
{
    moveTo(m_window->top());
    m_syncing = true;
    QScrollBar *bar = verticalScrollBar();
    bar->setRange(0, std::max(0, m_window->total() - visibleRows()));
    bar->setPageStep(visibleRows());
    bar->setSingleStep(1);
    bar->setValue(m_window->top());
    m_syncing = false;
}

void FlexGridView::updateGeometries()
{
    // The table sizes its scroll bar for the few rows it sees; the grid's
    // range replaces it.
    m_syncing = true;
    QTableView::updateGeometries();
    m_syncing = false;
    syncScrollBar();
}

void FlexGridView::scrollContentsBy(int dx, int dy)
{
    if (dx != 0)
        QTableView::scrollContentsBy(dx, 0);
    if (dy != 0 && !m_syncing)
        moveTo(verticalScrollBar()->value());
}

void FlexGridView::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    Q_UNUSED(hint);
    if (!index.isValid())
        return;
    const int row = index.row(); // a row of the window
    if (row >= visibleRows())
        verticalScrollBar()->setValue(m_window->top() + row - visibleRows() + 1);
}

void FlexGridView::resizeEvent(QResizeEvent *event)
{
    QTableView::resizeEvent(event);
    syncScrollBar();
}

void FlexGridView::keyPressEvent(QKeyEvent *event)
{
    QScrollBar *bar = verticalScrollBar();
    const bool control = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_Up:
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
        break;
    case Qt::Key_Down:
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        break;
    case Qt::Key_PageUp:
        bar->triggerAction(QAbstractSlider::SliderPageStepSub);
        break;
    case Qt::Key_PageDown:
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        break;
    case Qt::Key_Home:
    case Qt::Key_End:
        if (!control)
            return QTableView::keyPressEvent(event);
        bar->triggerAction(event->key() == Qt::Key_Home ? QAbstractSlider::SliderToMinimum
                                                        : QAbstractSlider::SliderToMaximum);
        break;
    default:
        return QTableView::keyPressEvent(event);
    }
    event->accept();
}

void FlexGridView::changeEvent(QEvent *event)
{
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange ||
        event->type() == QEvent::StyleChange)
        applyFont();
}

void FlexGridView::applyFont()
{
    m_rowHeight = std::max(16, fontMetrics().height() + 3);
    verticalHeader()->setMinimumSectionSize(0);
    verticalHeader()->setDefaultSectionSize(m_rowHeight);
    // The style draws a header cell's text inside its header margin on every
    // side; the header grows past one row when the text would not fit.
    QFont bold = font();
    bold.setBold(true);
    const int margin =
        horizontalHeader()->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, horizontalHeader());
    horizontalHeader()->setFixedHeight(std::max(m_rowHeight, QFontMetrics(bold).height() + 2 * margin));
    horizontalHeader()->setFont(font());
    m_window->setLook(font(), palette().button(), palette().buttonText());
    syncScrollBar();
}

void FlexGridView::applyColumnWidths()
{
    for (int c = 0; c < m_grid.Cols(); ++c)
        horizontalHeader()->resizeSection(c, twipsToPixels(m_grid.ColWidth(c)));
}

} // namespace qf
