#include "gateway/registermap.h"

#include "store/storetext.h"

#include <bit>
#include <cmath>
#include <limits>

namespace qf {

namespace {

void putWords(RegisterImage &image, int first, std::uint32_t value)
{
    image.registers[std::size_t(first)] = std::uint16_t(value >> 16);
    image.registers[std::size_t(first) + 1] = std::uint16_t(value & 0xffffU);
}

std::int16_t scaled(std::optional<double> value)
{
    if (!value || !std::isfinite(*value))
        return ScaledNull;
    const double tenfold = std::round(*value * ScaleFactor);
    if (tenfold <= double(ScaledNull) || tenfold > double(std::numeric_limits<std::int16_t>::max()))
        return ScaledNull;
    return std::int16_t(tenfold);
}

} // namespace

RegisterImage registerImage(const PlantState &state)
{
    RegisterImage image;
    for (int sensor = 0; sensor < schema::SensorCount; ++sensor) {
        const std::optional<double> value =
            state.newest ? state.newest->values[std::size_t(sensor)] : std::optional<double>();
        const float reading = value ? float(*value) : std::numeric_limits<float>::quiet_NaN();
        putWords(image, FloatRegisters + 2 * sensor, std::bit_cast<std::uint32_t>(reading));
        image.registers[std::size_t(ScaledRegisters + sensor)] = std::uint16_t(scaled(value));
    }
    if (state.newest) {
        // Both stand in 32 bits: a rowid past 2^32 - 1 shows its low half.
        putWords(image, RowidRegister, std::uint32_t(state.newest->rowid));
        const QDateTime stamp = state.newest->stamp ? parseStoredDateTime(*state.newest->stamp) : QDateTime();
        const qint64 seconds = stamp.isValid() ? stamp.toSecsSinceEpoch() : 0;
        if (seconds > 0 && seconds <= qint64(std::numeric_limits<std::uint32_t>::max()))
            putWords(image, StampRegister, std::uint32_t(seconds));
    }
    image.registers[GenerationRegister] = std::uint16_t(state.generation);
    std::uint16_t status = 0;
    auto set = [&status](bool on, StatusBit bit) { status |= on ? std::uint16_t(bit) : 0; };
    set(state.fresh, StatusBit::ReadingsFresh);
    set(state.storeReadable, StatusBit::StoreReadable);
    set(state.alarms.anyActive, StatusBit::AlarmActive);
    set(state.alarms.anyUnacknowledged, StatusBit::AlarmUnacknowledged);
    image.registers[StatusRegister] = status;
    for (int bit = 0; bit < AlarmBitCount; ++bit)
        image.bits[std::size_t(bit)] = (state.alarms.activeBits >> bit) & 1U;
    return image;
}

} // namespace qf
