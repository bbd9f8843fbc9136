#include "platform/filesystem.h"

#include "platform/filesystem_p.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

// Copies of whole files, one at a time or two beside the caller.
namespace archivon::platform {

using namespace fs;

namespace {

// How a copy of content ended: 0, or the errno and the side that failed.
struct CopyError
{
    int error = 0;
    bool reading = false;
    bool keeping = false; // the old file could not be moved to where it is kept
    bool kept = false;    // the old file was moved there
};

CopyError readFailure(int error) { return {error, true}; }
CopyError writeFailure(int error) { return {error, false}; }

// Copies the open source into the open destination, through this thread's
// buffer, fingerprinting each piece as it is written: what the copy holds is
// known with no second read. Stops at \a size, the source's length when it
// was opened, or where it ends first; \a written says what was written.
CopyError copyContent(int in, int out, qint64 size, const ChunkHook& hook, CopiedContent& written)
{
    thread_local std::unique_ptr<char[]> buffer;
    thread_local Fingerprinter fingerprinter;
    if (!buffer)
        buffer.reset(new char[kBufferSize]);
    fingerprinter.reset();
    qint64 done = 0;
    while (done < size) {
        const qint64 chunkEnd = std::min(size, done + kCopyChunk);
        while (done < chunkEnd) {
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
            for (ssize_t put = 0; put < got;) {
                const ssize_t w = ::write(out, buffer.get() + put, size_t(got - put));
                if (w < 0) {
                    if (errno == EINTR)
                        continue;
                    return writeFailure(errno);
                }
                put += w;
            }
            fingerprinter.add(buffer.get(), size_t(got));
            done += got;
        }
        if (done < size && hook && !hook(done))
            return writeFailure(ECANCELED);
    }
    written.bytes = done;
    written.fingerprint = fingerprinter.result();
    return {};
}
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

bool isCopyTemporary(const QString& name, const NameRules& rules)
{
    return startsAs(name, QString::fromLatin1(kTemporaryPrefix), rules);
}

namespace {

// A source opened for a copy, as it was when it was opened.
struct OpenSource
{
    Fd fd;
    struct stat st {};
};

// Opens a regular file to copy; 0, or the errno that says why not.
int openSource(const QByteArray& path, OpenSource& source, bool followLink = true)
{
    source.fd = Fd(::open(path.constData(), O_RDONLY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW)));
    if (source.fd.get() < 0)
        return errno;
    if (::fstat(source.fd.get(), &source.st) != 0)
        return errno;
    if (!S_ISREG(source.st.st_mode))
        return S_ISDIR(source.st.st_mode) ? EISDIR : EINVAL;
    return 0;
}

// The complete temporary takes the destination's name. With \a keepOldAt, the
// old file moves there first, and the temporary then takes the free name: no
// name is ever renamed over, so no reader finds it missing on a share, where
// that is an unlink and a rename. Once the old file has moved, the new one
// follows at once, and if it cannot, the old one goes back.
CopyError putInPlace(const QByteArray& written, const QByteArray& destination,
                     const QByteArray& keepOldAt, bool replace)
{
    if (!replace) {
        const int error = moveNoReplace(written, destination);
        return error == 0 ? CopyError{} : writeFailure(error);
    }
    if (keepOldAt.isEmpty())
        return ::rename(written.constData(), destination.constData()) == 0 ? CopyError{}
                                                                           : writeFailure(errno);
    bool kept = true;
    if (const int error = moveNoReplace(destination, keepOldAt); error != 0) {
        // Nothing there is either the old file gone, with nothing to keep, or
        // the folder it was to go into gone, with the old file still in place.
        struct stat st {};
        if (error != ENOENT || ::lstat(destination.constData(), &st) == 0 || errno != ENOENT)
            return {error, false, true};
        kept = false;
    }
    if (const int error = moveNoReplace(written, destination); error != 0) {
        if (kept)
            (void)moveNoReplace(keepOldAt, destination);
        return writeFailure(error);
    }
    return {.kept = kept};
}

} // namespace

Status sourceOpens(const QString& source)
{
    const auto src = hostBytes(source);
    if (!src)
        return driveNotReady();
    OpenSource in;
    if (const int error = openSource(*src, in); error != 0)
        return errnoStatus(error);
    return {};
}

namespace {

// Writes the open source to the destination through a temporary file beside
// it, put in its place at the end: a failed copy keeps the old file, if any,
// and leaves nothing behind. Touches nothing but the files named and the
// temporary one, so that it can run on any thread.
CopyError copyOpenSource(const OpenSource& source, const QByteArray& destination,
                         const ChunkHook& betweenChunks, CopiedContent& content,
                         const QByteArray& keepOldAt = {}, bool replace = true)
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
    if (const CopyError error = copyContent(source.fd.get(), out.get(), qint64(st.st_size), betweenChunks, content);
        error.error != 0)
        return fail(error);
    // The content is what counts: a share that keeps no permission bits or
    // times refuses these, and the file is still a good copy.
    (void)::fchmod(out.get(), st.st_mode & 07777);
    if (::close(out.release()) != 0)
        return fail(writeFailure(errno));
    const CopyError placed = putInPlace(written, destination, keepOldAt, replace);
    if (placed.error != 0)
        return fail(placed);
    // The times go on under the final name: a Samba share stamps a file
    // renamed right after it was written with the time of the rename.
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    (void)::utimensat(AT_FDCWD, destination.constData(), times, AT_SYMLINK_NOFOLLOW);
    return placed;
}

} // namespace

namespace {

// \a replace: the copy may take the place of a file under \a destination, and
// the source may be a link to a file; otherwise neither.
Status copyOne(const QString& source, const QString& destination, const ChunkHook& betweenChunks,
               bool replace, CopiedContent* content)
{
    const auto src = hostBytes(source);
    const auto dst = hostBytes(destination);
    if (!src || !dst)
        return driveNotReady();
    OpenSource in;
    if (const int error = openSource(*src, in, replace); error != 0)
        return errnoStatus(error);
    CopiedContent written;
    const CopyError copied = copyOpenSource(in, *dst, betweenChunks, written, {}, replace);
    if (copied.error != 0)
        return errnoStatus(copied.error);
    if (content)
        *content = written;
    return {};
}

} // namespace

Status copyFile(const QString& source, const QString& destination, const ChunkHook& betweenChunks,
                CopiedContent* content)
{
    return copyOne(source, destination, betweenChunks, true, content);
}

Status copyToNewFile(const QString& source, const QString& destination, const ChunkHook& betweenChunks,
                     CopiedContent* content)
{
    return copyOne(source, destination, betweenChunks, false, content);
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
    QByteArray keepOldAt;
    QString name;
    QString shownAs;
};

struct CopyEnd
{
    QString name;
    QString shownAs;
    qint64 size;
    CopyError error;
    CopiedContent content;
    qint64 modifiedNs;
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
            CopiedContent content;
            if (go && !abandoned) {
                auto flight = std::make_shared<Flight>();
                flight->name = job.name;
                flight->shownAs = job.shownAs;
                flight->size = size;
                flight->serial = ++serials;
                flying.push_back(flight);
                lock.unlock();
                error = copyOpenSource(
                    job.source, job.destination,
                    [this, &flight](qint64 written) {
                        flight->written = written;
                        return goOn();
                    },
                    content, job.keepOldAt);
                job.source.fd = Fd();
                lock.lock();
                std::erase(flying, flight);
            }
            --running;
            if (!abandoned)
                done.append({std::move(job.name), std::move(job.shownAs), size, error, content,
                             qint64(job.source.st.st_mtim.tv_sec) * 1000000000 + job.source.st.st_mtim.tv_nsec});
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

Status ParallelCopy::start(const QString& source, const QString& destination, const QString& shownAs,
                           const QString& keepOldAt)
{
    const auto src = hostBytes(source);
    const auto dst = hostBytes(destination);
    const auto keep = keepOldAt.isEmpty() ? std::optional<QByteArray>(QByteArray())
                                          : hostBytes(keepOldAt);
    if (!src || !dst || !keep)
        return driveNotReady();
    CopyJob job;
    job.destination = *dst;
    job.keepOldAt = *keep;
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
                     e.error.error == 0 ? Status() : errnoStatus(e.error.error), e.error.reading,
                     e.error.keeping, e.error.kept, e.content.bytes, e.content.fingerprint, e.modifiedNs});
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
} // namespace archivon::platform
