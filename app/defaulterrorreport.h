#pragma once

#include "common/errorreport.h"
#include "common/messageboxes.h"

#include <cstdio>
#include <functional>

namespace qf {

// What happens to an error that no handler traps: one line with its number
// and description goes to the error stream (for an operator who started the
// program from a terminal), a critical box titled with the application title
// shows the same, and the program ends with a non-zero status.
class DefaultErrorReport : public ErrorReport {
public:
    static constexpr int ExitStatus = 1;

    // endProcess ends the program with the given status and does not return
    // (tests hand in one that records).
    DefaultErrorReport(MessageBoxes &boxes, std::FILE *stream, std::function<void(int)> endProcess);

    void report(const Error &error) override;

private:
    MessageBoxes &m_boxes;
    std::FILE *m_stream;
    std::function<void(int)> m_endProcess;
    bool m_reporting = false;
};

} // namespace qf
