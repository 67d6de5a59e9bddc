#include "grid/flexgrid.h"

#include <QFont>

#include <algorithm>
#include <limits>

namespace qf {

namespace {

constexpr int BlockRows = 128;
constexpr std::size_t CachedBlocks = 32;
constexpr int DefaultColWidth = 960; // twips
constexpr int MaxCols = 32;          // one bit per column in the overlay

[[noreturn]] void outOfRange(const QString &what)
{
    throw StationError(ErrorCode::GridOutOfRange, QStringLiteral("Subscript out of range (%1)").arg(what));
}

bool looksNumeric(const QString &text)
{
    bool ok = false;
    text.trimmed().toDouble(&ok);
    return ok;
}

// The font role of a cell: bold where the cell's flag says so.
QVariant boldFont(bool bold)
{
    if (!bold)
        return {};
    QFont font;
    font.setBold(true);
    return font;
}

} // namespace

FlexGrid::FlexGrid(int cols, QObject *parent)
    : QAbstractTableModel(parent), m_cols(std::clamp(cols, 1, MaxCols)),
      m_colWidth(std::size_t(m_cols), DefaultColWidth),
      m_colAlignment(std::size_t(m_cols), Alignment::General)
{
}

FlexGrid::~FlexGrid() = default;

void FlexGrid::checkCol(int col) const
{
    if (col < 0 || col >= m_cols)
        outOfRange(QStringLiteral("column %1").arg(col));
}

void FlexGrid::checkCell(int row, int col) const
{
    if (row < 0 || row >= m_rows)
        outOfRange(QStringLiteral("row %1").arg(row));
    checkCol(col);
}

// ---------------------------------------------------------------- cells

qint64 FlexGrid::sourceRows() const
{
    if (!m_source)
        return 0;
    return std::min<qint64>({m_source->recordCount(), qint64(m_sourceLimit), qint64(m_rows) - 1});
}

const QStringList *FlexGrid::sourceRow(int row) const
{
    if (row < 1 || row > sourceRows())
        return nullptr;
    const qint64 record = row - 1;
    const qint64 index = record / BlockRows;
    const qsizetype at = record - index * BlockRows;
    auto hit =
        std::find_if(m_cache.begin(), m_cache.end(), [index](const Block &b) { return b.index == index; });
    if (hit != m_cache.end() && at >= hit->rows.size()) {
        m_cache.erase(hit); // read before the source had this record
        hit = m_cache.end();
    }
    if (hit == m_cache.end()) {
        Block block{index, m_source->readRows(index * BlockRows, BlockRows)};
        if (m_cache.size() >= CachedBlocks)
            m_cache.pop_back();
        m_cache.insert(m_cache.begin(), std::move(block));
    } else if (hit != m_cache.begin()) {
        std::rotate(m_cache.begin(), hit, hit + 1);
    }
    const QList<QStringList> &rows = m_cache.front().rows;
    return at < rows.size() ? &rows.at(at) : nullptr;
}

QString FlexGrid::cellText(int row, int col) const
{
    const auto written = m_overlay.find(row);
    if (written != m_overlay.end() && (written->second.written & (1u << col)))
        return written->second.text.at(col);
    const QStringList *stored = sourceRow(row);
    return stored && col < stored->size() ? stored->at(col) : QString();
}

QString FlexGrid::TextMatrix(int row, int col) const
{
    checkCell(row, col);
    return cellText(row, col);
}

void FlexGrid::setTextMatrix(int row, int col, const QString &text)
{
    checkCell(row, col);
    OverlayRow &cells = m_overlay[row];
    if (cells.text.isEmpty())
        cells.text.resize(m_cols);
    cells.text[col] = text;
    cells.written |= 1u << col;
    notifyCell(row, col);
    evictOverlay();
}

void FlexGrid::evictOverlay()
{
    // Only rows the source holds can go: their records show instead.
    const qint64 stored = sourceRows();
    while (overlayRows() > std::size_t(m_overlayLimit)) {
        auto oldest = m_overlay.upper_bound(0);
        if (oldest == m_overlay.end() || oldest->first > stored)
            break;
        const int row = oldest->first;
        m_overlay.erase(oldest);
        Q_EMIT dataChanged(index(row - 1, 0), index(row - 1, m_cols - 1));
    }
}

void FlexGrid::notifyCell(int row, int col)
{
    if (row == 0)
        Q_EMIT headerDataChanged(Qt::Horizontal, col, col);
    else
        Q_EMIT dataChanged(index(row - 1, col), index(row - 1, col));
}

// ---------------------------------------------------------------- rows

void FlexGrid::setRows(int rows)
{
    if (rows < FixedRows)
        outOfRange(QStringLiteral("Rows %1").arg(rows));
    if (rows == m_rows)
        return;
    if (rows > m_rows) {
        beginInsertRows({}, m_rows - 1, rows - 2);
        m_rows = rows;
        endInsertRows();
        return;
    }
    beginRemoveRows({}, rows - 1, m_rows - 2);
    m_rows = rows;
    m_overlay.erase(m_overlay.lower_bound(rows), m_overlay.end());
    for (auto it = m_bold.begin(); it != m_bold.end();)
        it = *it / m_cols >= rows ? m_bold.erase(it) : std::next(it);
    m_sourceLimit = std::min(m_sourceLimit, rows - 1);
    m_row = std::min(m_row, rows - 1);
    endRemoveRows();
}

void FlexGrid::followRecords(std::shared_ptr<FlexGridSource> source)
{
    m_source = std::move(source);
    m_sourceLimit = std::numeric_limits<int>::max();
    m_cache.clear();
    m_readFailed = false;
    if (m_rows > 1)
        Q_EMIT dataChanged(index(0, 0), index(m_rows - 2, m_cols - 1));
}

void FlexGrid::listRecords(std::shared_ptr<FlexGridSource> source)
{
    const qint64 count = source ? source->recordCount() : 0;
    if (count > std::numeric_limits<int>::max() - 2)
        outOfRange(QStringLiteral("%1 records").arg(count));
    beginResetModel();
    m_source = std::move(source);
    m_sourceLimit = std::numeric_limits<int>::max();
    m_cache.clear();
    m_readFailed = false;
    m_overlay.erase(m_overlay.upper_bound(0), m_overlay.end());
    m_rows = int(count) + 2;
    endResetModel();
}

void FlexGrid::Clear()
{
    m_overlay.clear();
    m_source.reset();
    m_sourceLimit = 0;
    m_cache.clear();
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, m_cols - 1);
    if (m_rows > 1)
        Q_EMIT dataChanged(index(0, 0), index(m_rows - 2, m_cols - 1));
}

// ---------------------------------------------------------------- format

int FlexGrid::ColWidth(int col) const
{
    checkCol(col);
    return m_colWidth.at(col);
}

void FlexGrid::setColWidth(int col, int twips)
{
    checkCol(col);
    m_colWidth.at(col) = std::max(0, twips);
    Q_EMIT columnFormatChanged(col);
}

FlexGrid::Alignment FlexGrid::ColAlignment(int col) const
{
    checkCol(col);
    return m_colAlignment.at(col);
}

void FlexGrid::setColAlignment(int col, Alignment code)
{
    checkCol(col);
    if (code < Alignment::LeftTop || code > Alignment::General)
        outOfRange(QStringLiteral("alignment %1").arg(int(code)));
    m_colAlignment.at(col) = code;
    Q_EMIT columnFormatChanged(col);
    Q_EMIT headerDataChanged(Qt::Horizontal, col, col);
    if (m_rows > 1)
        Q_EMIT dataChanged(index(0, col), index(m_rows - 2, col), {Qt::TextAlignmentRole});
}

void FlexGrid::setRow(int row)
{
    if (row < 0 || row >= m_rows)
        outOfRange(QStringLiteral("Row %1").arg(row));
    m_row = row;
}

void FlexGrid::setCol(int col)
{
    checkCol(col);
    m_col = col;
}

std::size_t FlexGrid::overlayRows() const
{
    return m_overlay.size() - m_overlay.count(0);
}

bool FlexGrid::isBold(int row, int col) const
{
    return m_bold.contains(qint64(row) * m_cols + col);
}

void FlexGrid::setCellFontBold(bool bold)
{
    const qint64 key = qint64(m_row) * m_cols + m_col;
    if (bold)
        m_bold.insert(key);
    else
        m_bold.remove(key);
    notifyCell(m_row, m_col);
}

Qt::Alignment FlexGrid::alignment(Alignment code, const QString &text)
{
    static constexpr Qt::Alignment horizontal[] = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight};
    static constexpr Qt::Alignment vertical[] = {Qt::AlignTop, Qt::AlignVCenter, Qt::AlignBottom};
    if (code < Alignment::LeftTop || code >= Alignment::General) // numbers to the right, text to the left
        return (looksNumeric(text) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
    // The codes run left to right in threes, each top to bottom.
    const int index = int(code);
    return horizontal[index / std::size(vertical)] | vertical[index % std::size(vertical)];
}

// ---------------------------------------------------------------- model

int FlexGrid::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows - FixedRows;
}

int FlexGrid::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_cols;
}

QVariant FlexGrid::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows - 1 || index.column() >= m_cols)
        return {};
    const int row = index.row() + FixedRows;
    const int col = index.column();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::TextAlignmentRole:
        try {
            const QString text = cellText(row, col);
            if (role == Qt::DisplayRole)
                return text;
            return int(alignment(m_colAlignment.at(col), text).toInt());
        } catch (const StationError &e) {
            // A view cannot take an exception: show nothing and report once.
            if (!m_readFailed) {
                m_readFailed = true;
                const Error error = e.error();
                auto *self = const_cast<FlexGrid *>(this);
                QMetaObject::invokeMethod(
                    self, [self, error] { Q_EMIT self->readFailed(error); }, Qt::QueuedConnection);
            }
            return {};
        }
    case Qt::FontRole:
        return boldFont(isBold(row, col));
    default:
        return {};
    }
}

QVariant FlexGrid::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_cols)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return cellText(0, section);
    case Qt::TextAlignmentRole:
        return int(alignment(m_colAlignment.at(section), cellText(0, section)).toInt());
    case Qt::FontRole:
        return boldFont(isBold(0, section));
    default:
        return {};
    }
}

} // namespace qf
