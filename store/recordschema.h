#pragma once

// What a record of the station is: the store file, its table and fields, the
// sensors. Every other place derives from these; a fifth sensor is a change
// here (and in the window).

#include <QLatin1String>
#include <QString>
#include <QStringView>

#include <array>

namespace qf::schema {

// The store file in the application's directory.
inline constexpr QLatin1String StoreFileName("velk.mdb");
// The table of records.
inline constexpr QLatin1String LogTable("log");

inline constexpr int SensorCount = 4;

// The fields of a record, in the order they are written, listed and read.
enum class Field { SrNo, TimeAndDate, Temp1, Temp2, Temp3, Temp4 };
inline constexpr int FieldCount = 2 + SensorCount;
inline constexpr int FirstSensorField = int(Field::Temp1);
inline constexpr std::array<QLatin1String, FieldCount> FieldNames{
    QLatin1String("Sr No"), QLatin1String("TimeAndDate"), QLatin1String("Temp1"),
    QLatin1String("Temp2"), QLatin1String("Temp3"),       QLatin1String("Temp4")};

// The field of sensor (0-based).
constexpr int sensorField(int sensor)
{
    return FirstSensorField + sensor;
}
constexpr QLatin1String fieldName(Field field)
{
    return FieldNames[std::size_t(field)];
}

// The statement that makes table log in a new store.
inline constexpr QLatin1String CreateLogTable(
    "CREATE TABLE log (\"Sr No\" TEXT, TimeAndDate TEXT, Temp1 REAL, Temp2 REAL, Temp3 REAL, Temp4 REAL)");

// The file a program beside the station keeps next to the store:
// besideStore("/opt/quillfern/velk.mdb", u"alarms") is
// "/opt/quillfern/velk.mdb.alarms".
inline QString besideStore(const QString &storePath, QStringView name)
{
    QString path = storePath;
    path += QLatin1Char('.');
    path += name; // Qt 6.4 has no QString + QStringView
    return path;
}

} // namespace qf::schema
