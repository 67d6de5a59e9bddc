#pragma once

// The Modbus register map of the gateway: what a PLC polls.
//
//   0-7    Temp1..Temp4 of the newest record, IEEE-754 float32, high word
//          first; NaN for a null
//   8-11   Temp1..Temp4 x 10 rounded, signed 16-bit; -32768 for a null or a
//          value out of range
//   12-13  rowid of the newest record, unsigned 32-bit, high word first
//   14     its generation
//   15-16  its stamp, seconds since 1970 UTC, unsigned 32-bit, high word first
//   17     status bits (StatusBit)
//   18     heartbeat: counts up once a second, wrapping
//
// Bits 0-15: the alarms, four per sensor in the order HH, H, L, LL (bit
// alarmIndex of the alarm); a bit is set while its alarm is active.

#include "gateway/alarmjournal.h"
#include "store/storefollower.h"

#include <QDateTime>

#include <array>
#include <cstdint>
#include <optional>

namespace qf {

inline constexpr int FloatRegisters = 0;
inline constexpr int ScaledRegisters = 8;
inline constexpr int RowidRegister = 12;
inline constexpr int GenerationRegister = 14;
inline constexpr int StampRegister = 15;
inline constexpr int StatusRegister = 17;
inline constexpr int HeartbeatRegister = 18;
inline constexpr int RegisterCount = 19;
inline constexpr int AlarmBitCount = 16;

// A null, or a value that does not fit, in registers 8-11.
inline constexpr std::int16_t ScaledNull = -32768;
inline constexpr double ScaleFactor = 10.0;

enum class StatusBit : std::uint16_t {
    ReadingsFresh = 1U << 0,
    StoreReadable = 1U << 1,
    AlarmActive = 1U << 2,
    AlarmUnacknowledged = 1U << 3,
};

// What the registers show.
struct PlantState {
    std::optional<StoredRecord> newest;
    int generation = 1;
    bool fresh = false;
    bool storeReadable = false;
    AlarmSummary alarms;
    bool operator==(const PlantState &) const = default;
};

struct RegisterImage {
    std::array<std::uint16_t, RegisterCount> registers{};
    std::array<std::uint8_t, AlarmBitCount> bits{}; // 0 or 1
};

// The registers of state, the heartbeat left 0.
RegisterImage registerImage(const PlantState &state);

} // namespace qf
