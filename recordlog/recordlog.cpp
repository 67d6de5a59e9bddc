#include "recordlog/recordlog.h"

#include "recordlog/loglisting.h"
#include "recordlog/offthread.h"
#include "store/leadingnumber.h"
#include "store/logcount.h"
#include "store/storeconnection.h"
#include "store/storemaintenance.h"
#include "store/storetext.h"

#include <QDir>

#include <limits>

namespace qf {

namespace {

using qf::schema::Field;

// The grid has a column per field of a record, in the fields' order.
constexpr int GridCols = qf::schema::FieldCount;
constexpr int TempCols = qf::schema::SensorCount;
constexpr int FirstTempCol = qf::schema::FirstSensorField;
// Column widths in twips.
constexpr int SrNoColWidth = 700;
constexpr int TimeAndDateColWidth = 2000;
constexpr int TempColWidth = 900;

// A column's caption: its field's name, the time stamp's spelled out.
QString headerText(int col)
{
    if (col == int(Field::TimeAndDate))
        return QStringLiteral("Time And Date");
    return qf::schema::FieldNames.at(std::size_t(col));
}

int colWidth(int col)
{
    if (col == int(Field::SrNo))
        return SrNoColWidth;
    return col == int(Field::TimeAndDate) ? TimeAndDateColWidth : TempColWidth;
}

QString totalText(qint64 count)
{
    return QStringLiteral("Total Records: ") + QString::number(count);
}

} // namespace

RecordLog::RecordLog(QString appDir, MessageBoxes &boxes) : m_appDir(std::move(appDir)), m_boxes(boxes)
{
}

QString RecordLog::storePath() const
{
    return storeFilePath(m_appDir);
}

LogDatabase &RecordLog::database()
{
    if (!m_database)
        throw StationError(ErrorCode::StoreFailed, QStringLiteral("The log store is not open."));
    return *m_database;
}

LogRecordset &RecordLog::recordset()
{
    if (!m_recordset)
        throw StationError(ErrorCode::StoreFailed, QStringLiteral("The log store is not open."));
    return *m_recordset;
}

RecordLog::DeletingScope::DeletingScope(RecordLog &log) : m_log(log)
{
    m_log.m_deleting = true;
    if (m_log.m_busyIndicator)
        m_log.m_busyIndicator(true);
}

RecordLog::DeletingScope::~DeletingScope()
{
    m_log.m_deleting = false;
    if (m_log.m_busyIndicator)
        m_log.m_busyIndicator(false);
}

void RecordLog::openStore()
{
    if (!m_database)
        guardFirstOpen();
    m_database = LogDatabase::OpenDatabase(storePath());
    watchStoreFiles();
    m_recordset = m_database->OpenRecordset();
    // The grid follows the fresh record set: a record committed through it
    // shows from the store once the grid lets go of the row's written texts.
    m_grid.followRecords(std::make_shared<LogListing>(m_recordset, 0));
    layOutGrid();
}

void RecordLog::layOutGrid()
{
    for (int c = 0; c < GridCols; ++c)
        m_grid.setTextMatrix(0, c, headerText(c));
    for (int c = 0; c < GridCols; ++c)
        m_grid.setColWidth(c, colWidth(c));
    for (int c = 0; c < GridCols; ++c) {
        m_grid.setRow(0);
        m_grid.setCol(c);
        m_grid.setCellFontBold(true);
        m_grid.setColAlignment(c, FlexGrid::Alignment::CenterTop);
    }
}

void RecordLog::listAllRecords()
{
    // Every record from where the record set stands to its end, each in its own row
    // with the one empty row after the last. The grid reads the rows from the
    // store as they are shown, so a store of millions lists at once.
    if (recordset().Eof())
        return; // an empty table writes nothing; the total keeps its caption
    m_grid.listRecords(std::make_shared<LogListing>(m_recordset, m_recordset->AbsolutePosition()));
    m_total.setText(totalText(m_grid.Rows() - 2));
    m_recordset->MoveLast();
    m_recordset->MoveNext(); // the listing leaves the record set at its end
}

void RecordLog::confirmDeleteAll()
{
    const MsgAnswer answer = m_boxes.msgBox(
        QStringLiteral("Continuing this will lead to all the data erased. Do you want to continue?"),
        MsgStyle::YesNo | MsgStyle::Critical | MsgStyle::DefaultButton2, QStringLiteral("Confirmation Box"));
    if (answer == MsgAnswer::Yes)
        deleteAllRecords();
}

void RecordLog::deleteAllRecords()
{
    database(); // the store is open
    // Deleting lasts until the store is reopened: a record stored meanwhile
    // would go through the old record set and stay out of the grid.
    const DeletingScope deleting(*this);
    runOffThread([path = storePath()] { qf::deleteAllRecords(StoreConnection(path)); });
    m_grid.Clear();
    m_grid.setRows(2);
    openStore();
    m_total.setText(totalText(0));
}

void RecordLog::commit(const std::array<QString, qf::schema::SensorCount> &sensorValues)
{
    LogRecordset &rs = recordset();
    guardStoreFiles(false);
    if (m_grid.Rows() == std::numeric_limits<int>::max())
        throw StationError(ErrorCode::Overflow, QStringLiteral("Overflow"));

    const int r = m_grid.Rows() - 1;
    // One reading of the clock: the grid shows the time that is stored.
    const QDateTime now = m_clock();
    m_grid.setTextMatrix(r, 0, QString::number(r));
    m_grid.setTextMatrix(r, 1, dateTimeText(now));
    for (int k = 0; k < TempCols; ++k)
        m_grid.setTextMatrix(r, FirstTempCol + k, sensorValues.at(k));
    m_total.setText(totalText(r));

    rs.AddNew();
    rs.Fields().Item(qf::schema::fieldName(Field::SrNo)).setValue(QString::number(r));
    rs.Fields().Item(qf::schema::fieldName(Field::TimeAndDate)).setValue(now);
    for (int k = 0; k < TempCols; ++k) {
        // A number too large for a double (line noise) is stored as null,
        // so that the rest of the frame is kept; the grid shows the text.
        const std::optional<double> value = leadingNumber(m_grid.TextMatrix(r, FirstTempCol + k));
        rs.Fields()
            .Item(qf::schema::FieldNames.at(std::size_t(qf::schema::sensorField(k))))
            .setValue(value ? QVariant(*value) : QVariant());
    }
    rs.Update();
    // Each record goes on into the store file at once, so that the
    // write-ahead log holds next to nothing that another program could cut.
    checkpoint(QStringLiteral("PASSIVE"));
    guardStoreFiles(true);

    m_grid.setRows(m_grid.Rows() + 1);
}

} // namespace qf
