#pragma once

#include <QString>

namespace qf {

// Where COM port n lives. On Windows it is "COMn". Elsewhere it is the entry
// named COMn in the application's directory when there is one (usually a
// symbolic link to /dev/ttyUSB0 or to a pseudo-terminal), otherwise
// /dev/ttyS{n-1}.
QString commPortPath(const QString &appDir, int port);

} // namespace qf
