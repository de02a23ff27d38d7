// app: CRecentFileList, the program's list of recently used files, kept in
// the settings store (QSettings under the application's registry key, group
// "Recent File List", keys File1..FileN, most recent first).
//
// Threads: GUI thread only.
// May include: Qt Core.
#pragma once

#include <QString>
#include <QStringList>

class CRecentFileList {
public:
    // Reads up to nSize entries from the settings store.
    explicit CRecentFileList(int nSize);

    // Puts path first (moving it if it is already listed), drops entries past
    // the list's size, and writes the list back.
    void Add(const QString& path);

    int Size() const { return m_nSize; }
    const QStringList& Files() const { return m_files; }

private:
    void Write() const;

    int m_nSize;
    QStringList m_files;  // most recent first, at most m_nSize
};
