#pragma once

#include "app/forms.h"
#include "platform/prompter.h"
#include "platform/session.h"
#include "support/drives.h"

#include <QDirIterator>
#include <QFile>

#include <optional>
#include <utility>

#include <sys/mount.h>

// What every window test stands on: empty drives, boxes answered from a script and a
// session control that only records, so no test meets a real box or a real shutdown.
// Derive from it after QObject; call setUp() in init() and tearDown() in cleanup(). It is
// also set up from construction on, for windows a test builds as members.
namespace archivon::test {

class WindowFixture
{
protected:
    WindowFixture() { setUp(); }
    ~WindowFixture() { tearDown(); }

    void setUp()
    {
        m_drives.emplace();
        m_boxes = platform::ScriptedPrompter();
        m_session = platform::RecordingSessionControl();
        platform::setPrompter(&m_boxes);
        platform::setSession(&m_session);
    }
    // The windows go first: one that closes may still ask, or write on the drives; then the
    // mounts, so that the drive folder can go.
    void tearDown()
    {
        Forms::unloadAll();
        for (const QString& point : std::exchange(m_mounts, {}))
            ::umount(QFile::encodeName(point).constData());
        platform::setPrompter(nullptr);
        platform::setSession(nullptr);
        m_drives.reset();
    }
    /// A small tmpfs ("64k") as a drive's folder until tearDown(); false without the right.
    bool mountTmpfs(QChar drive, const char* size)
    {
        const QString point = m_drives->root(drive);
        const QByteArray options = QByteArray("size=") + size;
        if (::mount("tmpfs", QFile::encodeName(point).constData(), "tmpfs", 0, options.constData()))
            return false;
        m_mounts << point;
        return true;
    }

    std::optional<TempDrives> m_drives;
    platform::ScriptedPrompter m_boxes;
    platform::RecordingSessionControl m_session;
    QStringList m_mounts;
};

/// Every entry below a host folder, relative, sorted; pipes and sockets too.
inline QStringList treeOf(const QString& hostFolder)
{
    QStringList entries;
    QDirIterator it(hostFolder,
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(hostFolder).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

} // namespace archivon::test
