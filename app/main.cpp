// The operator station: one window over the serial link and the log store.

#include "acquisition/qtserialcomm.h"
#include "app/classicstyle.h"
#include "app/defaulterrorreport.h"
#include "app/qtmessageboxes.h"
#include "app/station.h"

#include <QApplication>
#include <QStyle>

#include <cstdio>
#include <cstdlib>

using namespace qf;

namespace {
// Ends the program at once: no handler and no destructor runs. Every record
// is already durable, and the system releases the port.
[[noreturn]] void endProcess(int status)
{
    std::fflush(nullptr);
    std::_Exit(status);
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The application's name only; a display name would be appended to the
    // title of every window.
    QApplication::setApplicationName(applicationTitle());
    if (QStyle *classic = createClassicStyle())
        QApplication::setStyle(classic);
    const QString appDir = QCoreApplication::applicationDirPath();

    QtMessageBoxes boxes;
    DefaultErrorReport report(boxes, stderr, endProcess);
    QtSerialComm comm(appDir);
    Station station(comm, appDir, boxes, report, endProcess);
    boxes.setOwner(&station.form());

    station.startUp();
    station.form().show();
    return QApplication::exec();
}
