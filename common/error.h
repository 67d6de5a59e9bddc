#pragma once

#include <QString>

#include <exception>

namespace qf {

// Error numbers. They are stable: operators and the reference refer to them.
enum class ErrorCode : int {
    // General
    Overflow = 6, // 16-bit counter left its range
    // Serial component
    PortNotFound = 8002,      // no such COM port
    PortInUse = 8005,         // port already opened by another program
    PortAccessDenied = 8006,  // no permission on the device
    PortOpenFailed = 8007,    // any other failure to open
    InvalidSettings = 380,    // Settings text is not "baud,parity,data,stop"
    InvalidPortNumber = 8010, // CommPort outside 1..255 (or similar)
    PortNotOpen = 8012,       // Output/Input on a closed port
    WriteFailed = 8013,       // bytes could not be written
    DeviceLost = 8020,        // device vanished or reads failed for good
    // Log store
    StoreMissing = 3024,     // velk.mdb not found
    StoreNotDatabase = 3343, // file is not a database
    TableMissing = 3078,     // no table "log"
    FieldMissing = 3265,     // a field of "log" is missing
    StoreFailed = 3146,      // any other failure of the store engine
    StoreBusy = 3260,        // locked by another program beyond the busy timeout
    StoreFull = 3026,        // the disk that holds the store is full
    StoreInUse = 3045,       // another station (or the store tool) works on the store
    // Record grid
    GridOutOfRange = 381, // a grid row, column or row count outside the grid
    // Alarm service
    LimitsInvalid = 9101, // quillfern.ini holds a line or value that is not a limit
};

// The one error type of the station: a code and a description. Handlers
// raise it (throw StationError); the window's binding layer catches it and
// hands it to the one place that reports errors.
struct Error {
    ErrorCode code{};
    QString description;

    // The error's number as the operator sees it.
    int number() const { return int(code); }

    bool operator==(const Error &) const = default;
};

// The error as the operator reads it: "Error 8005: " and its description.
inline QString errorText(const Error &error)
{
    return QStringLiteral("Error %1: %2").arg(error.number()).arg(error.description);
}

class StationError : public std::exception {
public:
    explicit StationError(Error error) : m_error(std::move(error)), m_what(m_error.description.toUtf8()) {}
    StationError(ErrorCode code, const QString &description) : StationError(Error{code, description}) {}

    const Error &error() const noexcept { return m_error; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    Error m_error;
    QByteArray m_what;
};

} // namespace qf
