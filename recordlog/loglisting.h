#pragma once

#include "grid/flexgrid.h"
#include "store/logstore.h"

#include <QLocale>

#include <memory>

namespace qf {

// The grid's view of a record set: the records from a starting position on,
// each field in its text form.
class LogListing : public FlexGridSource {
public:
    LogListing(std::shared_ptr<LogRecordset> records, qint64 first);

    qint64 recordCount() const override;
    QList<QStringList> readRows(qint64 first, int count) override;

private:
    std::shared_ptr<LogRecordset> m_records;
    qint64 m_first = 0;
    QLocale m_locale = QLocale::system();
};

} // namespace qf
