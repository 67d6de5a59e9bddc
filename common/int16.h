#pragma once

#include "common/error.h"

#include <cstdint>
#include <limits>

namespace qf {

// A 16-bit signed counter whose arithmetic is overflow-checked: leaving the
// range raises ErrorCode::Overflow instead of wrapping.
class Int16 {
public:
    constexpr Int16() = default;
    constexpr Int16(int value) : m_value(checked(value)) {} // NOLINT: implicit by design

    constexpr int value() const { return m_value; }
    constexpr operator int() const { return m_value; } // NOLINT

    constexpr Int16 &operator+=(int rhs)
    {
        m_value = checked(int64_t(m_value) + rhs);
        return *this;
    }
    constexpr Int16 &operator-=(int rhs)
    {
        m_value = checked(int64_t(m_value) - rhs);
        return *this;
    }
    friend constexpr Int16 operator+(Int16 a, int b) { return a += b; }
    friend constexpr Int16 operator-(Int16 a, int b) { return a -= b; }

private:
    static constexpr int16_t checked(int64_t v)
    {
        if (v < std::numeric_limits<int16_t>::min() || v > std::numeric_limits<int16_t>::max())
            throw StationError(ErrorCode::Overflow, QStringLiteral("Overflow"));
        return static_cast<int16_t>(v);
    }

    int16_t m_value = 0;
};

} // namespace qf
