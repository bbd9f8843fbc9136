#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A temporary drive folder for tests: drives C: and R: are empty folders
// under a QTemporaryDir, mapped through ARCHIVON_DRIVES for the life of the
// fixture. The program folder and the current folder point into it too, so
// that nothing is written beside the test binaries.
namespace archivon::test {

class TempDrives
{
public:
    TempDrives();
    ~TempDrives();
    TempDrives(const TempDrives&) = delete;
    TempDrives& operator=(const TempDrives&) = delete;

    /// The folder ARCHIVON_DRIVES names.
    QString drivesFolder() const;
    /// Host folder of a drive root (created on demand as a plain folder).
    QString root(QChar letter) const;
    /// Host path of a Windows-form path on one of the drives ("R:\a\b").
    QString host(const QString& windowsPath) const;
    /// Host folder that stands for the program folder.
    QString programFolder() const;
    /// Removes a drive, so it is not ready.
    void unmap(QChar letter) const;
    /// A small tmpfs ("64k") as a drive's folder for the life of the drives,
    /// with room for at most \a inodes files and folders where it is given;
    /// false without the right to mount.
    bool mountTmpfs(QChar letter, const char* size, int inodes = 0);
    /// A 64 MiB exFAT image, through exfat-fuse on a loop device, as a drive's
    /// folder: like a share, it refuses hard links, keeps no modes and keeps
    /// whole seconds. False without the tools or the right to mount.
    bool mountExfat(QChar letter);

    /// Writes a file (parents made), returns its host path.
    QString writeFile(const QString& windowsPath, const QByteArray& content) const;
    QByteArray readFile(const QString& windowsPath) const;
    void makeDir(const QString& windowsPath) const;

private:
    QTemporaryDir m_dir;
    QStringList m_mounts;
    QStringList m_loops;
};

/// Every entry below a host folder, relative, sorted; hidden ones, pipes and sockets too.
QStringList treeOf(const QString& hostFolder);

} // namespace archivon::test
