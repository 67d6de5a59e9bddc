#include "app/defaulterrorreport.h"

#include <utility>

namespace qf {

DefaultErrorReport::DefaultErrorReport(MessageBoxes &boxes, std::FILE *stream,
                                       std::function<void(int)> endProcess)
    : m_boxes(boxes), m_stream(stream), m_endProcess(std::move(endProcess))
{
}

void DefaultErrorReport::report(const Error &error)
{
    const QString line = errorText(error);
    std::fprintf(m_stream, "%s: %s\n", qPrintable(applicationTitle()), line.toLocal8Bit().constData());
    std::fflush(m_stream);
    // While the box of the first error is open, events go on being handled;
    // a later error adds its line but no second box: the program is ending.
    if (m_reporting)
        return;
    m_reporting = true;
    m_boxes.msgBox(line, MsgStyle::OkOnly | MsgStyle::Critical, applicationTitle());
    m_endProcess(ExitStatus);
}

} // namespace qf
