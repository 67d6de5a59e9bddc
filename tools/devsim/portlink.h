#pragma once

#include <QString>

namespace qf {

// Publishes a device as COMn in a directory (a symbolic link) for as long as
// the object lives.
class PortLink {
public:
    PortLink(const QString &dir, int port, const QString &target);
    ~PortLink();
    PortLink(const PortLink &) = delete;
    PortLink &operator=(const PortLink &) = delete;

    bool isValid() const { return m_made; }
    QString errorString() const { return m_error; }
    QString path() const { return m_path; }

    // Removes the link now, if it still points at the target.
    void remove();

private:
    QString m_path;
    QString m_target;
    QString m_error;
    bool m_made = false;
};

} // namespace qf
