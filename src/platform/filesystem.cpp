#include "platform/filesystem.h"

#include "platform/drives.h"
#include "platform/errors.h"

#include <QFile>
#include <QRegularExpression>
#include <QStorageInfo>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace archivon::platform {

namespace {

// Chunks of a large copy: a held run writes at most one more of them, and the
// kernel still does the work in few calls.
constexpr qint64 kCopyChunk = 1024 * 1024;
// The buffer of a copy the kernel will not make by itself: small enough to stay
// in the processor's cache between the read and the write, which a 1 MiB buffer
// does not, and kept by each thread from one file to the next.
constexpr size_t kBufferSize = 128 * 1024;

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

DirSearch::Details detailsOf(const struct stat& st)
{
    DirSearch::Details details;
    details.size = qint64(st.st_size);
    details.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    details.mode = unsigned(st.st_mode & 07777);
    details.id = {quint64(st.st_dev), quint64(st.st_ino)};
    return details;
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

// True for an errno that says the kernel will not copy between these two files
// this way, rather than that the copy failed.
bool refused(int error)
{
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
           error == EPERM;
}

// How a copy of content ended: 0, or the errno and the side that failed.
struct CopyError
{
    int error = 0;
    bool reading = false;
};

CopyError readFailure(int error) { return {error, true}; }
CopyError writeFailure(int error) { return {error, false}; }

// Copies the open source into the open destination.
CopyError copyContent(int in, int out, qint64 size, const ChunkHook& hook)
{
    // Within one file system the kernel copies by itself, and may share the
    // blocks; between two (the local disk and a share) it still moves the
    // pages straight from one file to the other; a buffer is the last resort.
    enum class Way { WithinFileSystem, Kernel, Buffer };
    Way way = Way::WithinFileSystem;
    thread_local std::unique_ptr<char[]> buffer;
    qint64 done = 0;
    while (done < size) {
        const qint64 chunkEnd = std::min(size, done + kCopyChunk);
        while (done < chunkEnd) {
            if (way != Way::Buffer) {
                const auto want = size_t(chunkEnd - done);
                const ssize_t n = way == Way::WithinFileSystem
                                      ? ::copy_file_range(in, nullptr, out, nullptr, want, 0)
                                      : ::sendfile(out, in, nullptr, want);
                if (n > 0) {
                    done += n;
                    continue;
                }
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0 && !refused(errno)) {
                    // The kernel does not say which side failed: a byte read
                    // by hand does.
                    const int error = errno;
                    char probe;
                    if (::pread(in, &probe, 1, done) < 0)
                        return readFailure(errno);
                    return writeFailure(error);
                }
                // Refused: the next way on from here. The file shrank under us
                // (nothing more to read): by hand, which finds where it ends.
                way = (n < 0 && way == Way::WithinFileSystem) ? Way::Kernel : Way::Buffer;
                if (::lseek(in, done, SEEK_SET) < 0)
                    return readFailure(errno);
                if (::lseek(out, done, SEEK_SET) < 0)
                    return writeFailure(errno);
                continue;
            }
            if (!buffer)
                buffer.reset(new char[kBufferSize]);
            const ssize_t got =
                ::read(in, buffer.get(), size_t(std::min<qint64>(kBufferSize, chunkEnd - done)));
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return readFailure(errno);
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
                    return writeFailure(errno);
                }
                written += w;
            }
            done += got;
        }
        if (done < size && hook && !hook(done))
            return writeFailure(ECANCELED);
    }
    return {};
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
    Fd(Fd&& other) noexcept : m_fd(other.release()) {}
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

const QByteArray kTemporaryPrefix = QByteArrayLiteral(".~archivon-");
const QString kSetAsidePrefix = QStringLiteral(".~archivon~");

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

bool isCopyTemporary(const QString& name) { return name.startsWith(QLatin1String(kTemporaryPrefix)); }

bool isVanishedReason(const QString& reason) { return reason == reasonFor(ENOENT); }

Status linkFile(const QString& existing, const QString& newName)
{
    const auto from = hostBytes(existing);
    const auto to = hostBytes(newName);
    if (!from || !to)
        return Status::failure(driveNotReadyReason());
    if (::linkat(AT_FDCWD, from->constData(), AT_FDCWD, to->constData(), 0) != 0)
        return errnoStatus(errno);
    return {};
}

Result<Keeps> probeKeeps(const QString& folder)
{
    const auto host = hostBytes(folder);
    if (!host)
        return Result<Keeps>::failure(driveNotReadyReason());
    QByteArray probe = *host + "/" + kTemporaryPrefix + "sonda.XXXXXX";
    // An odd second and every digit of the nanoseconds, so that each step tells.
    constexpr qint64 kSeconds = 1600000001;
    constexpr qint64 kNanoseconds = 123456789;
    {
        const Fd file(::mkostemp(probe.data(), O_CLOEXEC));
        if (file.get() < 0)
            return Result<Keeps>::failure(reasonFor(errno));
        const struct timespec times[2] = {{kSeconds, kNanoseconds}, {kSeconds, kNanoseconds}};
        (void)::futimens(file.get(), times);
        (void)::fchmod(file.get(), 0604);
    }
    // Read back by name, once closed: what the file system stored, not what a
    // client may still hold for the open file.
    struct stat st {};
    const int statted = ::stat(probe.constData(), &st);
    const int error = errno;
    ::unlink(probe.constData());
    if (statted != 0)
        return Result<Keeps>::failure(reasonFor(error));
    Keeps keeps;
    keeps.modes = (st.st_mode & 07777) == 0604;
    const qint64 set = kSeconds * 1000000000 + kNanoseconds;
    const qint64 kept = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    keeps.timeStepNs = 2000000000; // the loosest a comparison may be
    for (const qint64 step : {1LL, 1000LL, 1000000LL, 10000000LL, 100000000LL, 1000000000LL}) {
        if (set - set % step == kept) {
            keeps.timeStepNs = step;
            break;
        }
    }
    return keeps;
}

Result<QString> setAside(const QString& path)
{
    auto where = resolve(path);
    if (!where || where->components.isEmpty())
        return Result<QString>::failure(driveNotReadyReason());
    const QString name = where->components.takeLast();
    // The whole name is kept where it fits, so that a run killed meanwhile can
    // be undone by the next.
    const QString kept = QFile::encodeName(name).size() <= 200 ? name : QString();
    for (quint64 attempt = 0;; ++attempt) {
        const quint64 unique = quint64(QDateTime::currentMSecsSinceEpoch()) * 1000 + quint64(::getpid()) + attempt;
        const QString aside = joinPath(where->toString(), kSetAsidePrefix + QString::number(unique, 36) +
                                                              QLatin1Char('~') + kept);
        const Status moved = moveEntry(path, aside);
        if (moved)
            return aside;
        if (moved.error() != reasonFor(EEXIST) || attempt > 100)
            return Result<QString>::failure(moved.error());
    }
}

std::optional<QString> setAsideFrom(const QString& name)
{
    if (!name.startsWith(kSetAsidePrefix))
        return std::nullopt;
    const qsizetype tilde = name.indexOf(QLatin1Char('~'), kSetAsidePrefix.size());
    return tilde < 0 ? QString() : name.mid(tilde + 1);
}

namespace {

// A source opened for a copy, as it was when it was opened.
struct OpenSource
{
    Fd fd;
    struct stat st {};
};

// Opens a regular file to copy; 0, or the errno that says why not.
int openSource(const QByteArray& path, OpenSource& source)
{
    source.fd = Fd(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    if (source.fd.get() < 0)
        return errno;
    if (::fstat(source.fd.get(), &source.st) != 0)
        return errno;
    if (!S_ISREG(source.st.st_mode))
        return S_ISDIR(source.st.st_mode) ? EISDIR : EINVAL;
    return 0;
}

// Writes the open source to the destination through a temporary file beside
// it, renamed over it at the end: a failed copy keeps the old file, if any,
// and leaves nothing behind. Touches nothing but the two files and the
// temporary one, so that it can run on any thread.
CopyError copyOpenSource(const OpenSource& source, const QByteArray& destination,
                         const ChunkHook& betweenChunks)
{
    const int slash = destination.lastIndexOf('/');
    QByteArray written = destination.left(slash + 1) + kTemporaryPrefix +
                         destination.mid(slash + 1).left(64) + ".XXXXXX";
    Fd out(::mkostemp(written.data(), O_CLOEXEC));
    if (out.get() < 0)
        return writeFailure(errno);

    auto fail = [&](CopyError error) {
        if (out.get() >= 0)
            ::close(out.release());
        ::unlink(written.constData());
        return error;
    };

    const struct stat& st = source.st;
    if (const CopyError error = copyContent(source.fd.get(), out.get(), qint64(st.st_size), betweenChunks);
        error.error != 0)
        return fail(error);
    // The content is what counts: a share that keeps no permission bits or
    // times refuses these, and the file is still a good copy.
    (void)::fchmod(out.get(), st.st_mode & 07777);
    if (::close(out.release()) != 0)
        return fail(writeFailure(errno));
    if (::rename(written.constData(), destination.constData()) != 0)
        return fail(writeFailure(errno));
    // The times go on under the final name: a Samba share stamps a file
    // renamed right after it was written with the time of the rename.
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    (void)::utimensat(AT_FDCWD, destination.constData(), times, AT_SYMLINK_NOFOLLOW);
    return {};
}

} // namespace

Status copyFile(const QString& source, const QString& destination, const ChunkHook& betweenChunks)
{
    const auto src = hostBytes(source);
    const auto dst = hostBytes(destination);
    if (!src || !dst)
        return Status::failure(driveNotReadyReason());
    OpenSource in;
    if (const int error = openSource(*src, in); error != 0)
        return errnoStatus(error);
    const CopyError copied = copyOpenSource(in, *dst, betweenChunks);
    return copied.error == 0 ? Status() : errnoStatus(copied.error);
}

// Two copies at a time keep both of a small machine's cores busy creating and
// writing files. Small files queue up behind them, a few milliseconds of work
// at most, so that the caller and the copiers seldom have to wake each other;
// a large one waits alone, so the file the caller shows is at most a couple
// ahead of the ones being written.
namespace {
constexpr int kCopiers = 2;
constexpr std::size_t kMostWaiting = 32;
constexpr qint64 kMostWaitingBytes = 2 * 1024 * 1024;

struct CopyJob
{
    OpenSource source;
    QByteArray destination;
    QString name;
    QString shownAs;
};

struct CopyEnd
{
    QString name;
    QString shownAs;
    qint64 size;
    CopyError error;
};

// A copy being written, as inFlight() shows it.
struct Flight
{
    QString name;
    QString shownAs;
    qint64 size = 0;
    std::atomic<qint64> written{0};
    quint64 serial = 0;
};
} // namespace

struct ParallelCopy::Impl
{
    Gate gate;
    mutable std::mutex mutex;
    std::condition_variable hasWork;
    std::condition_variable ended;
    std::deque<CopyJob> waiting;
    qint64 waitingBytes = 0;
    QList<CopyEnd> done;
    std::vector<std::shared_ptr<Flight>> flying;
    quint64 serials = 0;
    int running = 0;
    bool quit = false;
    std::atomic<bool> abandoned{false};
    std::vector<std::thread> copiers;

    bool goOn() const { return !abandoned && (!gate || gate()); }

    void copier()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            hasWork.wait(lock, [this] { return !waiting.empty() || quit; });
            if (waiting.empty())
                return;
            // Nothing new begins while the run is held.
            lock.unlock();
            const bool go = goOn();
            lock.lock();
            if (waiting.empty())
                continue; // abandoned meanwhile
            CopyJob job = std::move(waiting.front());
            waiting.pop_front();
            waitingBytes -= qint64(job.source.st.st_size);
            ++running;
            const qint64 size = qint64(job.source.st.st_size);
            CopyError error{ECANCELED, false};
            if (go && !abandoned) {
                auto flight = std::make_shared<Flight>();
                flight->name = job.name;
                flight->shownAs = job.shownAs;
                flight->size = size;
                flight->serial = ++serials;
                flying.push_back(flight);
                lock.unlock();
                error = copyOpenSource(job.source, job.destination, [this, &flight](qint64 written) {
                    flight->written = written;
                    return goOn();
                });
                job.source.fd = Fd();
                lock.lock();
                std::erase(flying, flight);
            }
            --running;
            if (!abandoned)
                done.append({std::move(job.name), std::move(job.shownAs), size, error});
            ended.notify_all();
        }
    }
};

ParallelCopy::ParallelCopy(Gate gate) : d(std::make_unique<Impl>())
{
    d->gate = std::move(gate);
    for (int i = 0; i < kCopiers; ++i)
        d->copiers.emplace_back([impl = d.get()] { impl->copier(); });
}

ParallelCopy::~ParallelCopy()
{
    abandon();
    {
        const std::lock_guard lock(d->mutex);
        d->quit = true;
    }
    d->hasWork.notify_all();
    for (std::thread& t : d->copiers)
        t.join();
}

bool ParallelCopy::hasRoom() const
{
    const std::lock_guard lock(d->mutex);
    return d->waiting.size() < kMostWaiting && d->waitingBytes < kMostWaitingBytes;
}

bool ParallelCopy::busy() const
{
    const std::lock_guard lock(d->mutex);
    return d->running > 0 || !d->waiting.empty();
}

Status ParallelCopy::start(const QString& source, const QString& destination, const QString& shownAs)
{
    const auto src = hostBytes(source);
    const auto dst = hostBytes(destination);
    if (!src || !dst)
        return Status::failure(driveNotReadyReason());
    CopyJob job;
    job.destination = *dst;
    job.name = source;
    job.shownAs = shownAs.isEmpty() ? destination : shownAs;
    if (const int error = openSource(*src, job.source); error != 0)
        return errnoStatus(error);
    {
        const std::lock_guard lock(d->mutex);
        d->waitingBytes += qint64(job.source.st.st_size);
        d->waiting.push_back(std::move(job));
    }
    d->hasWork.notify_one();
    return {};
}

void ParallelCopy::waitFor(int milliseconds)
{
    std::unique_lock lock(d->mutex);
    d->ended.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] {
        return !d->done.isEmpty() || (d->running == 0 && d->waiting.empty());
    });
}

QList<ParallelCopy::Ended> ParallelCopy::takeEnded()
{
    QList<CopyEnd> taken;
    {
        const std::lock_guard lock(d->mutex);
        taken.swap(d->done);
    }
    QList<Ended> ends;
    ends.reserve(taken.size());
    for (CopyEnd& e : taken) {
        ends.append({std::move(e.name), std::move(e.shownAs), e.size,
                     e.error.error == 0 ? Status() : errnoStatus(e.error.error), e.error.reading});
    }
    return ends;
}

QList<ParallelCopy::InFlight> ParallelCopy::inFlight() const
{
    QList<InFlight> flights;
    const std::lock_guard lock(d->mutex);
    for (const auto& f : d->flying)
        flights.append({f->name, f->shownAs, f->size, f->written.load(), f->serial});
    return flights;
}

void ParallelCopy::abandon()
{
    std::unique_lock lock(d->mutex);
    d->abandoned = true;
    d->waiting.clear();
    d->waitingBytes = 0;
    d->ended.wait(lock, [this] { return d->running == 0; });
    d->done.clear();
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
    bool wantDetails = false;
    DirSearch::Details details;

    bool accepts(unsigned attrs) const
    {
        return (attrs & (Hidden | System | Directory) & ~mask) == 0;
    }
};

DirSearch::DirSearch(const QString& pattern, unsigned mask, bool details)
    : d(std::make_unique<Impl>())
{
    d->mask = mask;
    d->wantDetails = details;
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
            if (details) {
                const auto host = hostBytes(pattern);
                struct stat st {};
                if (host && ::stat(host->constData(), &st) == 0)
                    d->details = detailsOf(st);
                d->details.link = host && ::lstat(host->constData(), &st) == 0 && S_ISLNK(st.st_mode);
            }
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
        if (d->wantDetails) {
            // A close look at every entry, through symlinks, relative to the open folder.
            struct stat st {};
            d->details = {};
            if (::fstatat(::dirfd(d->dir), raw, &st, 0) == 0) {
                attrs = attributesFromStat(st, name) & ~unsigned(ReadOnly);
                d->details = detailsOf(st);
            } else {
                attrs = System | (hidden ? unsigned(Hidden) : 0u);
            }
            d->details.link = e->d_type == DT_LNK ||
                              (e->d_type == DT_UNKNOWN &&
                               ::fstatat(::dirfd(d->dir), raw, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                               S_ISLNK(st.st_mode));
        } else if (e->d_type == DT_REG) {
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

const DirSearch::Details& DirSearch::lastDetails() const { return d->details; }

const QList<DirSearch::Uncarried>& DirSearch::uncarried() const { return d->uncarried; }

bool anyMatch(const QString& pattern, unsigned mask)
{
    DirSearch search(pattern, mask);
    return search.ok() && !search.next().isEmpty();
}

} // namespace archivon::platform
