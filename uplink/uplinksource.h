#pragma once

#include "uplink/centraldatabase.h"

#include <QByteArray>
#include <QLatin1String>
#include <QString>

#include <vector>

namespace qf {

// Something beside the station whose rows the uplink forwards to a table of
// its own in the central database: the store's records, an alarm journal.
// It reads rows after its position in batches; the forwarder commits them
// with the position after them, and the position kept in the central
// database is where the source resumes after a restart or a reconnect.
class UplinkSource {
public:
    virtual ~UplinkSource() = default;

    // Its name in the position table.
    virtual QLatin1String name() const = 0;
    // The prepared statement that inserts its rows.
    virtual const char *statement() const = 0;
    // After every connect: checks (or makes) its central table, prepares its
    // statement and stands at the position kept for the station. Returns
    // the line that says where it goes on. Throws a Refused CentralError for
    // a table that cannot hold its rows as sent.
    virtual QString resume(CentralDatabase &central) = 0;

    // Reads up to limit rows after where it stands (a batch, replacing the
    // one before); returns how many.
    virtual qsizetype read(qsizetype limit) = 0;
    // The position after the rows committed last, and after row i of the
    // batch.
    virtual const SourcePosition &committed() const = 0;
    virtual SourcePosition after(qsizetype i) const = 0;
    // The parameters that insert rows [from, to) of the batch.
    virtual std::vector<QByteArray> rows(qsizetype from, qsizetype to) const = 0;
    // Row i of the batch as the operator finds it again.
    virtual QString describe(qsizetype i) const = 0;
    // Rows [0, to) of the batch are in the central table (some perhaps left
    // out): the position moves after row to - 1.
    virtual void committedThrough(qsizetype to) = 0;
    // The line that says it has sent all there is.
    virtual QString caughtUp() const = 0;
};

} // namespace qf
