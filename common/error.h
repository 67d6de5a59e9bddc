#pragma once

#include <QString>

#include <exception>

// The one error type of the station: a number and a description. Handlers
// raise it (throw StationError); the window's binding layer catches it and
// hands it to the one place that reports errors.
struct Error {
    int number = 0;
    QString description;

    bool operator==(const Error &) const = default;
};

// Error numbers. They are stable: operators and README refer to them.
namespace ErrorCode {
// General
inline constexpr int Overflow = 6; // 16-bit counter left its range
// Serial component
inline constexpr int PortNotFound = 8002;      // no such COM port
inline constexpr int PortInUse = 8005;         // port already opened by another program
inline constexpr int PortAccessDenied = 8006;  // no permission on the device
inline constexpr int PortOpenFailed = 8007;    // any other failure to open
inline constexpr int InvalidSettings = 380;    // Settings text is not "baud,parity,data,stop"
inline constexpr int InvalidPortNumber = 8010; // CommPort outside 1..255 (or similar)
inline constexpr int PortNotOpen = 8012;       // Output/Input on a closed port
inline constexpr int WriteFailed = 8013;       // bytes could not be written
inline constexpr int DeviceLost = 8020;        // device vanished or reads failed for good
// Log store
inline constexpr int StoreMissing = 3024;     // velk.mdb not found
inline constexpr int StoreNotDatabase = 3343; // file is not a database
inline constexpr int TableMissing = 3078;     // no table "log"
inline constexpr int FieldMissing = 3265;     // a field of "log" is missing
inline constexpr int StoreFailed = 3146;      // any other failure of the store engine
inline constexpr int StoreBusy = 3260;        // locked by another program beyond the busy timeout
inline constexpr int StoreFull = 3026;        // the disk that holds the store is full
inline constexpr int StoreInUse = 3045;       // another station (or the store tool) works on the store
// Record grid
inline constexpr int GridOutOfRange = 381; // a grid row, column or row count outside the grid
// Alarm service
inline constexpr int LimitsInvalid = 9101; // quillfern.ini holds a line or value that is not a limit
} // namespace ErrorCode

// The error as the operator reads it: "Error 8005: " and its description.
inline QString errorText(const Error &error)
{
    return QStringLiteral("Error %1: %2").arg(error.number).arg(error.description);
}

class StationError : public std::exception {
public:
    explicit StationError(Error error) : m_error(std::move(error)), m_what(m_error.description.toUtf8()) {}
    StationError(int number, const QString &description) : StationError(Error{number, description}) {}

    const Error &error() const noexcept { return m_error; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    Error m_error;
    QByteArray m_what;
};
