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

LogDatabase &RecordLog::logDb()
{
    if (!m_logDb)
        throw StationError(ErrorCode::StoreFailed, QStringLiteral("The log store is not open."));
    return *m_logDb;
}

LogRecordset &RecordLog::logRs()
{
    if (!m_logRs)
        throw StationError(ErrorCode::StoreFailed, QStringLiteral("The log store is not open."));
    return *m_logRs;
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

void RecordLog::setFlex()
{
    if (!m_logDb)
        guardFirstOpen();
    m_logDb = LogDatabase::OpenDatabase(storePath());
    watchStoreFiles();
    m_logRs = m_logDb->OpenRecordset(qf::schema::LogTable, dbOpenDynaset);
    // The grid follows the fresh record set: a record committed through it
    // shows from the store once the grid lets go of the row's written texts.
    m_fg.followRecords(std::make_shared<LogListing>(m_logRs, 0));

    for (int c = 0; c < GridCols; ++c)
        m_fg.setTextMatrix(0, c, headerText(c));
    for (int c = 0; c < GridCols; ++c)
        m_fg.setColWidth(c, colWidth(c));
    for (int c = 0; c < GridCols; ++c) {
        m_fg.setRow(0);
        m_fg.setCol(c);
        m_fg.setCellFontBold(true);
        m_fg.setColAlignment(c, FlexGrid::AlignCenterTop);
    }
}

void RecordLog::fillGrid()
{
    // Every record from where logRs stands to its end, each in its own row
    // with the one empty row after the last. The grid reads the rows from the
    // store as they are shown, so a store of millions lists at once.
    if (logRs().Eof())
        return; // an empty table writes nothing; the total keeps its caption
    m_fg.listRecords(std::make_shared<LogListing>(m_logRs, m_logRs->AbsolutePosition()));
    m_totalrec.setText(totalText(m_fg.Rows() - 2));
    m_logRs->MoveLast();
    m_logRs->MoveNext(); // the listing leaves logRs at its end
}

void RecordLog::Command1_Click()
{
    const int answer = m_boxes.msgBox(
        QStringLiteral("Continuing this will lead to all the data erased. Do you want to continue?"),
        MsgStyle::YesNo + MsgStyle::Critical + MsgStyle::DefaultButton2, QStringLiteral("Confirmation Box"));
    if (answer == MsgAnswer::Yes)
        delRec();
}

void RecordLog::delRec()
{
    logDb(); // the store is open
    // Deleting lasts until the store is reopened: a record stored meanwhile
    // would go through the old record set and stay out of the grid.
    const DeletingScope deleting(*this);
    runOffThread([path = storePath()] { deleteAllRecords(StoreConnection(path)); });
    m_fg.Clear();
    m_fg.setRows(2);
    setFlex();
    m_totalrec.setText(totalText(0));
}

void RecordLog::commit(const std::array<QString, qf::schema::SensorCount> &label1)
{
    LogRecordset &rs = logRs();
    guardStoreFiles(false);
    if (m_fg.Rows() == std::numeric_limits<int>::max())
        throw StationError(ErrorCode::Overflow, QStringLiteral("Overflow"));

    const int r = m_fg.Rows() - 1;
    // One reading of the clock: the grid shows the time that is stored.
    const QDateTime now = m_clock();
    m_fg.setTextMatrix(r, 0, QString::number(r));
    m_fg.setTextMatrix(r, 1, dateTimeText(now));
    for (int k = 0; k < TempCols; ++k)
        m_fg.setTextMatrix(r, FirstTempCol + k, label1.at(k));
    m_totalrec.setText(totalText(r));

    rs.AddNew();
    rs.Fields().Item(qf::schema::fieldName(Field::SrNo)).setValue(QString::number(r));
    rs.Fields().Item(qf::schema::fieldName(Field::TimeAndDate)).setValue(now);
    for (int k = 0; k < TempCols; ++k) {
        // A number too large for a double (line noise) is stored as null,
        // so that the rest of the frame is kept; the grid shows the text.
        const std::optional<double> value = leadingNumber(m_fg.TextMatrix(r, FirstTempCol + k));
        rs.Fields()
            .Item(qf::schema::FieldNames.at(std::size_t(qf::schema::sensorField(k))))
            .setValue(value ? QVariant(*value) : QVariant());
    }
    rs.Update(dbUpdateRegular, false);
    // Each record goes on into the store file at once, so that the
    // write-ahead log holds next to nothing that another program could cut.
    checkpoint(QStringLiteral("PASSIVE"));
    guardStoreFiles(true);

    m_fg.setRows(m_fg.Rows() + 1);
}
