#pragma once

#include "common/error.h"

namespace qf {

// The one place errors that no handler traps go to (the default error
// report). The window's implementation shows the error and ends the program;
// tests record instead.
class ErrorReport {
public:
    virtual ~ErrorReport() = default;
    virtual void report(const Error &error) = 0;
};

// Runs a handler and sends a StationError it raises to the report.
// Returns false when the handler failed.
template <typename Handler> bool guarded(ErrorReport &report, Handler &&handler)
{
    try {
        handler();
        return true;
    } catch (const StationError &e) {
        report.report(e.error());
        return false;
    }
}

} // namespace qf
