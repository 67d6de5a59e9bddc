#include "alarms/journalreader.h"

namespace qf {

AlarmJournalReader::AlarmJournalReader(const QString &path) : m_file(path, SqliteFile::Access::ReadOnly)
{
}

} // namespace qf
