#pragma once

#include <QString>

#include <stdexcept>

namespace qf {

// What retrying cannot mend and the operator must: an address in use or not
// allowed, a broker that refuses the credentials or the client. The store's
// faults travel as StationError with the station's numbers.
class GatewayRefused : public std::runtime_error {
public:
    explicit GatewayRefused(const QString &message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

} // namespace qf
