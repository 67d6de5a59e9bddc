#include "acquisition/portpath.h"

#include <QDir>
#include <QFileInfo>

namespace qf {

QString commPortPath(const QString &appDir, int port)
{
    const QString name = QStringLiteral("COM%1").arg(port);
#ifdef Q_OS_WIN
    Q_UNUSED(appDir);
    return name;
#else
    const QFileInfo entry(QDir(appDir).filePath(name));
    // A dangling link still names the port the operator meant: opening it
    // then reports that port as missing instead of silently using ttyS.
    if (entry.exists() || entry.isSymLink())
        return entry.filePath();
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

} // namespace qf
