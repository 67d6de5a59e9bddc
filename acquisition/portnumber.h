#pragma once

#include "common/error.h"

namespace qf {

// COM port numbers the serial component accepts.
inline constexpr int MinCommPort = 1;
inline constexpr int MaxCommPort = 255;

// Throws ErrorCode::InvalidPortNumber for a number outside MinCommPort..MaxCommPort.
inline void checkCommPort(int port)
{
    if (port < MinCommPort || port > MaxCommPort)
        throw StationError(ErrorCode::InvalidPortNumber,
                           QStringLiteral("Invalid port number %1 (allowed: %2 to %3)")
                               .arg(port)
                               .arg(MinCommPort)
                               .arg(MaxCommPort));
}

} // namespace qf
