#include "app/recent_file_list.h"

#include <QSettings>

namespace {
constexpr const char* kGroup = "Recent File List";
QString EntryKey(int nIndex) { return QStringLiteral("File%1").arg(nIndex + 1); }
}  // namespace

CRecentFileList::CRecentFileList(int nSize) : m_nSize(nSize) {
    QSettings settings;
    settings.beginGroup(kGroup);
    for (int i = 0; i < m_nSize; ++i) {
        const QString path = settings.value(EntryKey(i)).toString();
        if (!path.isEmpty() && !m_files.contains(path)) m_files.append(path);
    }
}

void CRecentFileList::Add(const QString& path) {
    if (m_nSize <= 0 || path.isEmpty()) return;
    m_files.removeAll(path);
    m_files.prepend(path);
    while (m_files.size() > m_nSize) m_files.removeLast();
    Write();
}

void CRecentFileList::Write() const {
    QSettings settings;
    settings.beginGroup(kGroup);
    for (int i = 0; i < m_nSize; ++i) {
        if (i < m_files.size())
            settings.setValue(EntryKey(i), m_files[i]);
        else
            settings.remove(EntryKey(i));
    }
}
