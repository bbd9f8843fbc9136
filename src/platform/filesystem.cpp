#include "platform/filesystem.h"

#include "platform/drives.h"
#include "platform/errors.h"

#include <QFile>
#include <QRegularExpression>
#include <QStorageInfo>

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace archivon::platform {

namespace {

// Chunks of a large copy: small enough that the window can be given a turn
// between them, large enough that the kernel does the work in few calls.
constexpr qint64 kCopyChunk = 8 * 1024 * 1024;
constexpr size_t kBufferSize = 1024 * 1024;

QByteArray encoded(const QString& host) { return QFile::encodeName(host); }

std::optional<QByteArray> hostBytes(const QString& path)
{
    const auto host = toHost(path);
    if (!host)
        return std::nullopt;
    return encoded(*host);
}

QString lastComponent(const QByteArray& host)
{
    const int slash = host.lastIndexOf('/');
    return QFile::decodeName(slash < 0 ? host : host.mid(slash + 1));
}

unsigned attributesFromStat(const struct stat& st, const QString& name)
{
    unsigned attrs = 0;
    if (!(st.st_mode & S_IWUSR))
        attrs |= ReadOnly;
    if (name.startsWith(QLatin1Char('.')))
        attrs |= Hidden;
    if (S_ISDIR(st.st_mode))
        attrs |= Directory;
    else if (S_ISREG(st.st_mode))
        attrs |= Archive;
    else
        attrs |= System;
    return attrs;
}

template <typename T>
Result<T> notReady()
{
    return Result<T>::failure(driveNotReadyReason());
}

Status errnoStatus(int error) { return Status::failure(reasonFor(error)); }

bool hasWildcard(const QString& s)
{
    return s.contains(QLatin1Char('*')) || s.contains(QLatin1Char('?'));
}

bool isSeparator(QChar c) { return c == QLatin1Char('\\') || c == QLatin1Char('/'); }

} // namespace

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
    return Result<unsigned>::failure(reasonFor(error));
}

Result<unsigned> linkAttributes(const QString& path)
{
    const auto host = hostBytes(path);
    if (!host)
        return notReady<unsigned>();
    struct stat st {};
    if (::lstat(host->constData(), &st) != 0)
        return Result<unsigned>::failure(reasonFor(errno));
    return attributesFromStat(st, lastComponent(*host));
}

Result<FileId> fileId(const QString& path)
{
    const auto host = hostBytes(path);
    if (!host)
        return notReady<FileId>();
    struct stat st {};
    if (::stat(host->constData(), &st) != 0)
        return Result<FileId>::failure(reasonFor(errno));
    return FileId{quint64(st.st_dev), quint64(st.st_ino)};
}

Status setAttributesNormal(const QString& path)
{
    const auto host = hostBytes(path);
    if (!host)
        return Status::failure(driveNotReadyReason());
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

Status deleteFile(const QString& path)
{
    const auto host = hostBytes(path);
    if (!host)
        return Status::failure(driveNotReadyReason());
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
        return Status::failure(driveNotReadyReason());
    if (::mkdir(host->constData(), 0777) != 0)
        return errnoStatus(errno);
    return {};
}

Status removeFolder(const QString& path)
{
    const auto host = hostBytes(path);
    if (!host)
        return Status::failure(driveNotReadyReason());
    if (::rmdir(host->constData()) != 0)
        return errnoStatus(errno);
    return {};
}

Status moveEntry(const QString& from, const QString& to)
{
    const auto src = hostBytes(from);
    const auto dst = hostBytes(to);
    if (!src || !dst)
        return Status::failure(driveNotReadyReason());
    if (::renameat2(AT_FDCWD, src->constData(), AT_FDCWD, dst->constData(), RENAME_NOREPLACE) == 0)
        return {};
    if (errno != EINVAL && errno != ENOSYS)
        return errnoStatus(errno);
    // A filesystem that cannot promise not to replace (some network shares):
    // look first, as closely as it allows.
    struct stat st {};
    if (::lstat(dst->constData(), &st) == 0)
        return errnoStatus(EEXIST);
    if (::rename(src->constData(), dst->constData()) != 0)
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
        return Result<qint64>::failure(reasonFor(errno));
    if (S_ISDIR(st.st_mode))
        return Result<qint64>::failure(reasonFor(EISDIR));
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

namespace {

// Copies the open source into the open destination; false with errno set on failure.
bool copyContent(int in, int out, qint64 size, const ChunkHook& hook)
{
    bool kernelCopy = true;
    std::unique_ptr<char[]> buffer;
    qint64 done = 0;
    while (done < size) {
        const qint64 chunkEnd = std::min(size, done + kCopyChunk);
        while (done < chunkEnd) {
            if (kernelCopy) {
                const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr,
                                                    size_t(chunkEnd - done), 0);
                if (n > 0) {
                    done += n;
                    continue;
                }
                if (n < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS &&
                    errno != EOPNOTSUPP && errno != EPERM)
                    return false;
                // Refused, or the file shrank under us: go on by hand from here.
                kernelCopy = false;
                if (::lseek(in, done, SEEK_SET) < 0 || ::lseek(out, done, SEEK_SET) < 0)
                    return false;
            }
            if (!buffer)
                buffer.reset(new char[kBufferSize]);
            const ssize_t got = ::read(in, buffer.get(), size_t(std::min<qint64>(kBufferSize, chunkEnd - done)));
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            if (got == 0) { // the source got shorter while we copied
                size = done;
                break;
            }
            for (ssize_t written = 0; written < got;) {
                const ssize_t w = ::write(out, buffer.get() + written, size_t(got - written));
                if (w < 0) {
                    if (errno == EINTR)
                        continue;
                    return false;
                }
                written += w;
            }
            done += got;
        }
        if (done < size && hook && !hook()) {
            errno = ECANCELED;
            return false;
        }
    }
    return true;
}

class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd& operator=(Fd&& other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

} // namespace

void forgetCachedContent(const QString& path)
{
    const auto host = hostBytes(path);
    if (!host)
        return;
    const Fd file(::open(host->constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (file.get() >= 0)
        (void)::posix_fadvise(file.get(), 0, 0, POSIX_FADV_DONTNEED);
}

Status copyFile(const QString& source, const QString& destination, const ChunkHook& betweenChunks)
{
    const auto src = hostBytes(source);
    const auto dst = hostBytes(destination);
    if (!src || !dst)
        return Status::failure(driveNotReadyReason());

    Fd in(::open(src->constData(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        return errnoStatus(errno);
    struct stat st {};
    if (::fstat(in.get(), &st) != 0)
        return errnoStatus(errno);
    if (!S_ISREG(st.st_mode))
        return errnoStatus(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);

    // A new destination is written in place and removed again if the copy
    // fails. One that exists already is written under a hidden name beside it
    // and renamed over it at the end, so that a failed copy keeps the old file.
    // Either way a failed copy never leaves a partial file behind.
    QByteArray written = *dst;
    Fd out(::open(dst->constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    const bool inPlace = out.get() >= 0;
    if (!inPlace) {
        if (errno != EEXIST)
            return errnoStatus(errno);
        const int slash = dst->lastIndexOf('/');
        written = dst->left(slash + 1) + ".~archivon-" + dst->mid(slash + 1).left(64) + ".XXXXXX";
        out = Fd(::mkostemp(written.data(), O_CLOEXEC));
        if (out.get() < 0)
            return errnoStatus(errno);
    }

    auto fail = [&](int error) {
        if (out.get() >= 0)
            ::close(out.release());
        ::unlink(written.constData());
        return errnoStatus(error);
    };

    if (!copyContent(in.get(), out.get(), qint64(st.st_size), betweenChunks))
        return fail(errno);
    // The content is what counts: a share that keeps no permission bits or
    // times refuses these, and the file is still a good copy.
    (void)::fchmod(out.get(), st.st_mode & 07777);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    (void)::futimens(out.get(), times);
    if (::close(out.release()) != 0)
        return fail(errno);
    if (!inPlace && ::rename(written.constData(), dst->constData()) != 0)
        return fail(errno);
    return {};
}

struct DirSearch::Impl
{
    DIR* dir = nullptr;
    QByteArray folder; // host, ending in '/'
    QString error;
    unsigned mask = 0;
    bool matchAll = true;
    QRegularExpression pattern;
    QList<DirSearch::Uncarried> uncarried;
    QString single; // an exact name, answered once
    bool singleDone = true;
    unsigned singleAttributes = 0;
    unsigned last = 0;

    bool accepts(unsigned attrs) const
    {
        return (attrs & (Hidden | System | Directory) & ~mask) == 0;
    }
};

DirSearch::DirSearch(const QString& pattern, unsigned mask) : d(std::make_unique<Impl>())
{
    d->mask = mask;
    QString folderPart;
    QString namePart;
    const bool trailing = !pattern.isEmpty() && isSeparator(pattern.back());
    const bool driveOnly = pattern.size() == 2 && pattern.at(1) == QLatin1Char(':');
    if (trailing || driveOnly) {
        folderPart = driveOnly ? pattern + QLatin1Char('\\') : pattern;
    } else {
        int cut = -1;
        for (int i = pattern.size() - 1; i >= 0; --i) {
            if (isSeparator(pattern.at(i)) || (i == 1 && pattern.at(1) == QLatin1Char(':'))) {
                cut = i;
                break;
            }
        }
        folderPart = cut < 0 ? QString() : pattern.left(cut + 1);
        namePart = pattern.mid(cut + 1);
    }

    if (!namePart.isEmpty() && !hasWildcard(namePart)) {
        // A plain path: the search answers with that one entry, if it qualifies.
        const auto attrs = attributes(pattern);
        if (!attrs) {
            d->error = attrs.error();
            return;
        }
        const auto resolved = resolve(pattern);
        if (d->accepts(*attrs) && resolved && !resolved->components.isEmpty()) {
            d->single = resolved->components.last();
            d->singleAttributes = *attrs;
            d->singleDone = false;
        }
        return;
    }

    const auto host = toHost(folderPart.isEmpty() ? QStringLiteral(".") : folderPart);
    if (!host) {
        d->error = driveNotReadyReason();
        return;
    }
    d->folder = encoded(*host);
    if (!d->folder.endsWith('/'))
        d->folder += '/';
    d->dir = ::opendir(d->folder.constData());
    if (!d->dir) {
        d->error = reasonFor(errno);
        return;
    }
    d->matchAll = namePart.isEmpty() || namePart == QLatin1String("*") ||
                  namePart == QLatin1String("*.*");
    if (!d->matchAll) {
        const QString wild = namePart;
        d->pattern = QRegularExpression(
            QRegularExpression::wildcardToRegularExpression(wild),
            QRegularExpression::CaseInsensitiveOption);
    }
}

DirSearch::~DirSearch()
{
    if (d->dir)
        ::closedir(d->dir);
}

bool DirSearch::ok() const { return d->error.isEmpty(); }

QString DirSearch::error() const { return d->error; }

QString DirSearch::next()
{
    if (!d->singleDone) {
        d->singleDone = true;
        d->last = d->singleAttributes;
        return d->single;
    }
    if (!d->dir)
        return {};
    for (;;) {
        errno = 0;
        struct dirent* e = ::readdir(d->dir);
        if (!e) {
            // The end of the folder, or a folder that could not be read to its end.
            if (errno != 0)
                d->error = reasonFor(errno);
            break;
        }
        const char* raw = e->d_name;
        if (raw[0] == '.' && (raw[1] == 0 || (raw[1] == '.' && raw[2] == 0)))
            continue;
        const bool hidden = raw[0] == '.';
        if (hidden && !(d->mask & Hidden))
            continue;
        const QString name = QFile::decodeName(raw);
        if (!d->matchAll && !d->pattern.match(name).hasMatch())
            continue;
        unsigned attrs = 0;
        if (e->d_type == DT_REG) {
            attrs = Archive | (hidden ? unsigned(Hidden) : 0u);
        } else if (e->d_type == DT_DIR) {
            attrs = Directory | (hidden ? unsigned(Hidden) : 0u);
        } else {
            // Symlinks and unknown types: look at what the entry leads to.
            struct stat st {};
            const QByteArray full = d->folder + raw;
            if (::stat(full.constData(), &st) == 0)
                attrs = attributesFromStat(st, name);
            else
                attrs = System | (hidden ? unsigned(Hidden) : 0u);
        }
        if (!d->accepts(attrs))
            continue;
        if (name.contains(QLatin1Char('\\'))) {
            d->uncarried.append({name, attrs, QStringLiteral("il nome contiene \"\\\", che un "
                                                              "percorso di Windows non può contenere")});
            continue;
        }
        if (QFile::encodeName(name) != QByteArrayView(raw)) {
            d->uncarried.append({name, attrs, QStringLiteral("il nome contiene caratteri non validi "
                                                              "nella codifica del sistema")});
            continue;
        }
        d->last = attrs;
        return name;
    }
    ::closedir(d->dir);
    d->dir = nullptr;
    return {};
}

unsigned DirSearch::lastAttributes() const { return d->last; }

const QList<DirSearch::Uncarried>& DirSearch::uncarried() const { return d->uncarried; }

bool anyMatch(const QString& pattern, unsigned mask)
{
    DirSearch search(pattern, mask);
    return search.ok() && !search.next().isEmpty();
}

} // namespace archivon::platform
