#include "platform/filesystem.h"

#include "platform/filesystem_p.h"

#include <QDateTime>
#include <QStorageInfo>

#include <atomic>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Attributes, moves and links of entries, one at a time.
namespace archivon::platform {

using namespace fs;

Result<unsigned> attributes(const QString& path)
{
    const auto host = hostBytes(path);
    if (!host)
        return notReady<unsigned>();
    struct stat st {};
    const QString name = lastComponent(*host);
    if (::stat(host->constData(), &st) == 0)
        return attributesFromStat(st, name);
    const int error = errno;
    if (::lstat(host->constData(), &st) == 0) // a dangling symlink
        return unsigned(System) | (name.startsWith(QLatin1Char('.')) ? unsigned(Hidden) : 0u);
    return Result<unsigned>::fromErrno(error);
}

Result<unsigned> linkAttributes(const QString& path)
{
    const auto host = hostBytes(path);
    if (!host)
        return notReady<unsigned>();
    struct stat st {};
    if (::lstat(host->constData(), &st) != 0)
        return Result<unsigned>::fromErrno(errno);
    return attributesFromStat(st, lastComponent(*host));
}

Result<FileId> fileId(const QString& path)
{
    const auto host = hostBytes(path);
    if (!host)
        return notReady<FileId>();
    struct stat st {};
    if (::stat(host->constData(), &st) != 0)
        return Result<FileId>::fromErrno(errno);
    return FileId{quint64(st.st_dev), quint64(st.st_ino)};
}

Status setAttributesNormal(const QString& path)
{
    const auto host = hostBytes(path);
    if (!host)
        return driveNotReady();
    struct stat st {};
    if (::lstat(host->constData(), &st) != 0)
        return errnoStatus(errno);
    // A symlink has no attributes of its own, and its target is not ours to change.
    if (S_ISLNK(st.st_mode) || (st.st_mode & S_IWUSR))
        return {};
    if (::chmod(host->constData(), (st.st_mode & 07777) | S_IWUSR) != 0)
        return errnoStatus(errno);
    return {};
}

Status setReadOnly(const QString& path)
{
    const auto host = hostBytes(path);
    if (!host)
        return Status::failure(driveNotReadyReason());
    struct stat st {};
    if (::lstat(host->constData(), &st) != 0)
        return errnoStatus(errno);
    if (S_ISLNK(st.st_mode) || !(st.st_mode & S_IWUSR))
        return {};
    if (::chmod(host->constData(), (st.st_mode & 07777) & ~S_IWUSR) != 0)
        return errnoStatus(errno);
    return {};
}

Status deleteFile(const QString& path)
{
    const auto host = hostBytes(path);
    if (!host)
        return driveNotReady();
    struct stat st {};
    if (::lstat(host->constData(), &st) != 0)
        return errnoStatus(errno);
    if (S_ISDIR(st.st_mode))
        return errnoStatus(EISDIR);
    if (::unlink(host->constData()) != 0)
        return errnoStatus(errno);
    return {};
}

Status makeFolder(const QString& path)
{
    const auto host = hostBytes(path);
    if (!host)
        return driveNotReady();
    if (::mkdir(host->constData(), 0777) != 0)
        return errnoStatus(errno);
    return {};
}

Status removeFolder(const QString& path)
{
    const auto host = hostBytes(path);
    if (!host)
        return driveNotReady();
    if (::rmdir(host->constData()) != 0)
        return errnoStatus(errno);
    return {};
}

int fs::moveNoReplace(const QByteArray& from, const QByteArray& to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A filesystem that cannot promise not to replace (some network shares):
    // look first, as closely as it allows.
    struct stat st {};
    if (::lstat(to.constData(), &st) == 0)
        return EEXIST;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

Status moveEntry(const QString& from, const QString& to)
{
    const auto src = hostBytes(from);
    const auto dst = hostBytes(to);
    if (!src || !dst)
        return driveNotReady();
    if (const int error = moveNoReplace(*src, *dst); error != 0)
        return errnoStatus(error);
    return {};
}

Status renameCase(const QString& from, const QString& to)
{
    const auto src = hostBytes(from);
    const auto dst = hostBytes(to);
    if (!src || !dst)
        return driveNotReady();
    if (::renameat(AT_FDCWD, src->constData(), AT_FDCWD, dst->constData()) != 0)
        return errnoStatus(errno);
    return {};
}

Result<qint64> fileLength(const QString& path)
{
    const auto host = hostBytes(path);
    if (!host)
        return notReady<qint64>();
    struct stat st {};
    if (::stat(host->constData(), &st) != 0)
        return Result<qint64>::fromErrno(errno);
    if (S_ISDIR(st.st_mode))
        return Result<qint64>::fromErrno(EISDIR);
    return qint64(st.st_size);
}

Result<qint64> freeSpace(QChar drive)
{
    const auto root = driveRoot(drive);
    if (!root)
        return notReady<qint64>();
    const QStorageInfo storage(*root);
    if (!storage.isValid() || !storage.isReady())
        return notReady<qint64>();
    if (storage.bytesTotal() <= 0)
        return kFreeSpaceUnknown;
    return storage.bytesAvailable();
}

Status linkFile(const QString& existing, const QString& newName)
{
    const auto from = hostBytes(existing);
    const auto to = hostBytes(newName);
    if (!from || !to)
        return driveNotReady();
    if (::linkat(AT_FDCWD, from->constData(), AT_FDCWD, to->constData(), 0) != 0)
        return errnoStatus(errno);
    return {};
}

bool setAsideRecords(const QString& name)
{
    return QFile::encodeName(name).size() <= 200;
}

namespace {

// The hidden name for \a path set aside as \a as, made unique by \a unique.
QString asideName(const QString& path, const QString& as, quint64 unique)
{
    const qsizetype cut = path.lastIndexOf(QLatin1Char('\\'));
    const QString recorded = as.isEmpty() ? path.mid(cut + 1) : as;
    // The whole name is kept where it fits, so that a run killed meanwhile can
    // be undone by the next.
    const QString kept = setAsideRecords(recorded) ? recorded : QString();
    return path.left(cut + 1) + kSetAsidePrefix + QString::number(unique, 36) + QLatin1Char('~') + kept;
}

quint64 uniqueNow(quint64 attempt)
{
    static std::atomic<quint64> taken{0};
    return quint64(QDateTime::currentMSecsSinceEpoch()) * 1000 + quint64(::getpid()) + attempt + taken++;
}

} // namespace

Result<QString> setAside(const QString& path, const QString& as)
{
    if (const auto where = resolve(path); !where || where->components.isEmpty())
        return Result<QString>::failure(driveNotReady());
    for (quint64 attempt = 0;; ++attempt) {
        const QString aside = asideName(path, as, uniqueNow(attempt));
        const Status moved = moveEntry(path, aside);
        if (moved)
            return aside;
        if (moved.kind() != ErrorKind::Exists || attempt > 100)
            return Result<QString>::failure(moved);
    }
}

QString setAsideName(const QString& path, const QString& as)
{
    return asideName(path, as, uniqueNow(0));
}

Status setAsideTo(const QString& path, const QString& aside)
{
    return moveEntry(path, aside);
}

std::optional<QString> setAsideFrom(const QString& name, const NameRules& rules)
{
    if (!startsAs(name, kSetAsidePrefix, rules))
        return std::nullopt;
    const qsizetype tilde = name.indexOf(QLatin1Char('~'), kSetAsidePrefix.size());
    return tilde < 0 ? QString() : name.mid(tilde + 1);
}
} // namespace archivon::platform
