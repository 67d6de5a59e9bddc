#pragma once

#include "common/error.h"

#include <QAbstractTableModel>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <vector>

namespace qf {

// Where the grid reads the record rows it lists without holding them.
class FlexGridSource {
public:
    virtual ~FlexGridSource() = default;
    // Records available; grows as records are appended.
    virtual qint64 recordCount() const = 0;
    // The column texts of count records from record first (0-based) on.
    virtual QList<QStringList> readRows(qint64 first, int count) = 0;
};

// The record grid: a grid of text cells with one fixed header row (row 0)
// and one fixed column (column 0), with the operations the record log uses.
//
// Rows listed from a source cost no memory per row: they are read in blocks
// as they are shown, and a few blocks are cached. Cells written through
// TextMatrix are kept in an overlay above them.
//
// As a model, view row v is grid row v + 1; row 0 is the horizontal header,
// so that it stays in place while the rows scroll.
class FlexGrid : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int FixedRows = 1;
    static constexpr int FixedCols = 1;
    // Column alignment codes: left, centre or right, each top, centre or
    // bottom; general puts numbers to the right and text to the left.
    enum class Alignment : int {
        LeftTop,
        LeftCenter,
        LeftBottom,
        CenterTop,
        CenterCenter,
        CenterBottom,
        RightTop,
        RightCenter,
        RightBottom,
        General,
    };

    explicit FlexGrid(int cols = 6, QObject *parent = nullptr);
    ~FlexGrid() override;

    // Cell texts. Rows and columns outside the grid raise GridOutOfRange.
    QString TextMatrix(int row, int col) const;
    void setTextMatrix(int row, int col, const QString &text);

    int Rows() const { return m_rows; }
    void setRows(int rows);
    int Cols() const { return m_cols; }

    int ColWidth(int col) const; // twips
    void setColWidth(int col, int twips);
    Alignment ColAlignment(int col) const;
    void setColAlignment(int col, Alignment code);

    // The current cell and its bold flag.
    int Row() const { return m_row; }
    void setRow(int row);
    int Col() const { return m_col; }
    void setCol(int col);
    void setCellFontBold(bool bold);
    bool isBold(int row, int col) const;

    // Empties the text of every cell, the header's included, and lets go of
    // the listed source. Rows stays.
    void Clear();

    // Shows the records of source in rows 1, 2, ... as far as the grid has
    // rows, without changing Rows; records the source gains later belong to
    // the rows after, as they are committed there.
    void followRecords(std::shared_ptr<FlexGridSource> source);
    // Follows source and lists all its records, with one empty row after
    // them: Rows becomes the record count + 2.
    void listRecords(std::shared_ptr<FlexGridSource> source);

    // Rows whose written texts the grid keeps after their records are in the
    // source; older written rows show the source's text, as after a restart.
    void setOverlayLimit(int rows) { m_overlayLimit = rows; }
    // Record rows with written texts.
    std::size_t overlayRows() const;

    static Qt::Alignment alignment(Alignment code, const QString &text);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

Q_SIGNALS:
    // A column's width or alignment changed.
    void columnFormatChanged(int col);
    // Reading shown rows from the source failed (raised once, queued); the
    // window sends it to its error report.
    void readFailed(const Error &error);

private:
    struct OverlayRow {
        QStringList text;
        quint32 written = 0; // bit c: column c was written
    };
    struct Block {
        qint64 index = 0;
        QList<QStringList> rows;
    };

    void checkCell(int row, int col) const;
    void checkCol(int col) const;
    qint64 sourceRows() const;
    QString cellText(int row, int col) const; // may throw
    const QStringList *sourceRow(int row) const;
    void evictOverlay();
    void notifyCell(int row, int col);

    int m_cols = 6;
    int m_rows = 2;
    int m_row = 0;
    int m_col = 0;
    std::vector<int> m_colWidth;
    std::vector<Alignment> m_colAlignment;
    QSet<qint64> m_bold; // row * cols + col
    std::map<int, OverlayRow> m_overlay;
    int m_overlayLimit = 20000;

    std::shared_ptr<FlexGridSource> m_source;
    int m_sourceLimit = 0;              // rows past this one are never read from the source
    mutable std::vector<Block> m_cache; // most recently used first
    mutable bool m_readFailed = false;
};

} // namespace qf
