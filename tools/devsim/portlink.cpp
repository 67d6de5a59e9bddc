#include "portlink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace qf {

PortLink::PortLink(const QString &dir, int port, const QString &target)
    : m_path(QDir(dir).absoluteFilePath(QStringLiteral("COM%1").arg(port))), m_target(target)
{
    const QFileInfo existing(m_path);
    if (existing.isSymLink() && existing.symLinkTarget().startsWith(QLatin1String("/dev/pts/"))) {
        // A pseudo-terminal left behind by a simulator that was killed, or
        // owned by another one still running: the newest takes the name over.
        QFile::remove(m_path);
    } else if (existing.exists() || existing.isSymLink()) {
        // An operator's mapping of a real device stays as it is.
        m_error = QStringLiteral("%1 exists and is not a simulator's link; not replacing it").arg(m_path);
        return;
    }
    if (!QFile::link(m_target, m_path)) {
        m_error = QStringLiteral("cannot create the link %1").arg(m_path);
        return;
    }
    m_made = true;
}

PortLink::~PortLink()
{
    remove();
}

void PortLink::remove()
{
    if (!m_made)
        return;
    m_made = false;
    if (QFileInfo(m_path).symLinkTarget() == QFileInfo(m_target).absoluteFilePath())
        QFile::remove(m_path);
}

} // namespace qf
