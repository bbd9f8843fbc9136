#include "support/drives.h"

#include "platform/drives.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cstdlib>

#include <sys/mount.h>

namespace archivon::test {

TempDrives::TempDrives()
{
    for (const char* folder : {"drives/c", "drives/r", "program"})
        QDir(m_dir.path()).mkpath(QString::fromLatin1(folder));
    qputenv("ARCHIVON_DRIVES", drivesFolder().toLocal8Bit());
    platform::setProgramFolderForTesting(programFolder());
    platform::setCurrentFolder(platform::programFolder());
}

TempDrives::~TempDrives()
{
    for (const QString& point : std::as_const(m_mounts))
        ::umount(QFile::encodeName(point).constData());
    for (const QString& loop : std::as_const(m_loops))
        QProcess::execute(QStringLiteral("losetup"), {QStringLiteral("-d"), loop});
    qunsetenv("ARCHIVON_DRIVES");
    platform::setProgramFolderForTesting(QString());
    platform::setCurrentFolder(platform::programFolder());
    // Read-only folders left by a test would stop QTemporaryDir's cleanup.
    [[maybe_unused]] int rc =
        std::system(("chmod -R u+rwX '" + m_dir.path().toLocal8Bit() + "' 2>/dev/null").constData());
}

QString TempDrives::drivesFolder() const { return m_dir.path() + QStringLiteral("/drives"); }

QString TempDrives::root(QChar letter) const
{
    const QString path = drivesFolder() + QLatin1Char('/') + letter.toLower();
    if (!QFileInfo::exists(path))
        QDir().mkpath(path);
    return path;
}

QString TempDrives::host(const QString& windowsPath) const
{
    const auto h = platform::toHost(windowsPath);
    return h ? *h : QString();
}

QString TempDrives::programFolder() const { return m_dir.path() + QStringLiteral("/program"); }

void TempDrives::unmap(QChar letter) const
{
    const QString path = drivesFolder() + QLatin1Char('/') + letter.toLower();
    QFileInfo info(path);
    if (info.isSymLink())
        QFile::remove(path);
    else
        QDir(path).removeRecursively();
}

QString TempDrives::writeFile(const QString& windowsPath, const QByteArray& content) const
{
    const QString h = host(windowsPath);
    QDir().mkpath(QFileInfo(h).absolutePath());
    QFile f(h);
    if (f.open(QIODevice::WriteOnly))
        f.write(content);
    return h;
}

QByteArray TempDrives::readFile(const QString& windowsPath) const
{
    QFile f(host(windowsPath));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool TempDrives::mountTmpfs(QChar letter, const char* size, int inodes)
{
    const QString point = root(letter);
    QByteArray options = QByteArray("size=") + size;
    if (inodes > 0)
        options += ",nr_inodes=" + QByteArray::number(inodes);
    if (::mount("tmpfs", QFile::encodeName(point).constData(), "tmpfs", 0, options.constData()))
        return false;
    m_mounts << point;
    return true;
}

bool TempDrives::mountExfat(QChar letter)
{
    const QString image = m_dir.path() + QStringLiteral("/exfat-") + letter + QStringLiteral(".img");
    const QString point = root(letter);
    QProcess sh; // the loop device is printed before the mount, to be released with the drives
    sh.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral(
        "truncate -s 64M \"$1\" && mkfs.exfat \"$1\" > /dev/null && loop=$(losetup -f --show \"$1\") && "
        "echo \"$loop\" && mount.exfat-fuse \"$loop\" \"$2\" > /dev/null 2>&1"), QStringLiteral("sh"), image, point});
    sh.waitForFinished();
    if (const QString loop = QString::fromLocal8Bit(sh.readAllStandardOutput()).trimmed(); !loop.isEmpty())
        m_loops << loop;
    if (sh.exitStatus() != QProcess::NormalExit || sh.exitCode() != 0)
        return false;
    m_mounts << point;
    return true;
}

QStringList treeOf(const QString& hostFolder)
{
    QStringList entries;
    QDirIterator it(hostFolder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(hostFolder).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

void TempDrives::makeDir(const QString& windowsPath) const { QDir().mkpath(host(windowsPath)); }

} // namespace archivon::test
