#include "platform/removal.h"

#include "platform/drives.h"
#include "platform/errors.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace archivon::platform {

namespace {

// Removing a file mostly waits for the disk: a share, or a disk that is told
// about every freed block, answers each unlink in its own time. Threads that
// wait side by side get through a big tree about twice as fast as one; many
// more than eight only queue up in front of the disk.
constexpr int kUnlinkers = 8;
constexpr std::size_t kMostTaken = 32;   // files an unlinker takes at a time
constexpr std::size_t kMaxQueued = 2048; // files waiting; the walk waits beyond that
constexpr int kMaxOpenFolders = 128;     // a few removals at once stay well under
                                         // the descriptor limit

bool isDot(const char* name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// Changes the mode of what an O_PATH descriptor holds: the very entry that was
// opened, never whatever a name leads to by now.
bool chmodOpened(int pathFd, mode_t mode)
{
    const std::string proc = "/proc/self/fd/" + std::to_string(pathFd);
    return ::chmod(proc.c_str(), mode) == 0;
}

// An open folder of the tree. It is closed and then removed, through its
// parent's descriptor, by whichever thread ends the last piece of work in it:
// its own walk, one of its files or one of its subfolders.
struct Folder
{
    Folder(int descriptor, std::shared_ptr<Folder> up, std::string entry, std::atomic<int>& count)
        : fd(descriptor), parent(std::move(up)), name(std::move(entry)), open(count)
    {
        ++open;
    }
    ~Folder() { close(); }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    void close()
    {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
            --open;
        }
    }
    // Below the tree's own folder, "/" separated.
    std::string path() const
    {
        if (!parent)
            return {};
        const std::string up = parent->path();
        return up.empty() ? name : up + '/' + name;
    }

    int fd;
    const std::shared_ptr<Folder> parent; // none for the tree's own folder
    const std::string name;
    std::atomic<int>& open;
    std::atomic<int> pending{1}; // its walk, until that ends
};

// A file to unlink, in its open folder.
struct Entry
{
    std::shared_ptr<Folder> folder;
    std::string name;
};

} // namespace

struct BackgroundRemoval::Impl
{
    Options options;
    QString shown; // the folder, in Windows form
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::thread walker;

    // Shared by the walk and the unlinkers, under `work`.
    std::mutex work;
    std::condition_variable hasWork;  // the unlinkers wait on it
    std::condition_variable progress; // the walk waits on it
    std::deque<Entry> queue;
    int busy = 0;
    bool quit = false;
    QByteArray root;
    std::atomic<int> openFolders{0};
    std::atomic<qint64> removed{0};

    std::mutex leftMutex;
    QList<Left> left;

    bool goOn()
    {
        if (stop)
            return false;
        if (options.gate && !options.gate())
            stop = true;
        return !stop;
    }
    void leave(const std::string& below, int error);
    void run();
    void walk(const std::shared_ptr<Folder>& folder);
    void submit(const std::shared_ptr<Folder>& folder, const std::string& name);
    void waitUntilIdle();
    void unlinker();
    void unlinkFile(Entry& entry);
    void finished(std::shared_ptr<Folder> folder);
};

void BackgroundRemoval::Impl::leave(const std::string& below, int error)
{
    QString path = shown;
    if (!below.empty())
        path = joinPath(path, QFile::decodeName(QByteArray::fromStdString(below))
                                  .replace(QLatin1Char('/'), QLatin1Char('\\')));
    const std::lock_guard lock(leftMutex);
    left.append({path, Status::fromErrno(error)});
}

// Counts one piece of work in a folder as done; the folder goes once nothing
// is left in it, and so on up the tree. After a stop nothing more goes.
void BackgroundRemoval::Impl::finished(std::shared_ptr<Folder> folder)
{
    while (folder && folder->pending.fetch_sub(1) == 1) {
        folder->close();
        if (!goOn())
            return;
        const bool isRoot = !folder->parent;
        if (!isRoot || !options.keepFolder) {
            const int rc = isRoot ? ::rmdir(root.constData())
                                  : ::unlinkat(folder->parent->fd, folder->name.c_str(), AT_REMOVEDIR);
            // A folder that is not empty holds something already reported.
            if (rc != 0 && errno != ENOTEMPTY && errno != ENOENT)
                leave(folder->path(), errno);
        }
        folder = folder->parent;
    }
}

void BackgroundRemoval::Impl::submit(const std::shared_ptr<Folder>& folder, const std::string& name)
{
    ++folder->pending;
    std::unique_lock lock(work);
    progress.wait(lock, [this] { return queue.size() < kMaxQueued || stop; });
    queue.push_back({folder, name});
    hasWork.notify_one();
}

void BackgroundRemoval::Impl::waitUntilIdle()
{
    std::unique_lock lock(work);
    progress.wait(lock, [this] { return (queue.empty() && busy == 0) || stop; });
}

void BackgroundRemoval::Impl::unlinkFile(Entry& entry)
{
    const int fd = entry.folder->fd;
    const char* name = entry.name.c_str();
    if (::unlinkat(fd, name, 0) == 0 || errno == ENOENT) {
        ++removed;
        return;
    }
    int error = errno;
    // A share may refuse to delete a read-only file. Its mode is changed only
    // when this is its one name: another name elsewhere keeps its own.
    struct stat st {};
    if ((error == EACCES || error == EPERM) && ::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(st.st_mode) && st.st_nlink == 1 && !(st.st_mode & S_IWUSR)) {
        const int opened = ::openat(fd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (opened >= 0) {
            const bool changed = chmodOpened(opened, (st.st_mode & 07777) | S_IWUSR);
            ::close(opened);
            if (changed && ::unlinkat(fd, name, 0) == 0) {
                ++removed;
                return;
            }
            error = errno;
        }
    }
    const std::string up = entry.folder->path();
    leave(up.empty() ? entry.name : up + '/' + entry.name, error);
}

// Takes its share of the files waiting, a few big ones or a run of small
// ones, so that every unlinker has something to wait for.
void BackgroundRemoval::Impl::unlinker()
{
    std::vector<Entry> taken;
    for (;;) {
        {
            std::unique_lock lock(work);
            hasWork.wait(lock, [this] { return !queue.empty() || quit; });
            if (queue.empty())
                return;
            const std::size_t share =
                std::clamp<std::size_t>(queue.size() / kUnlinkers, 1, kMostTaken);
            for (std::size_t i = 0; i < share; ++i) {
                taken.push_back(std::move(queue.front()));
                queue.pop_front();
            }
            ++busy;
        }
        progress.notify_one();
        for (Entry& entry : taken) {
            if (goOn())
                unlinkFile(entry);
            finished(std::move(entry.folder));
        }
        taken.clear();
        {
            const std::lock_guard lock(work);
            --busy;
        }
        progress.notify_one();
    }
}

// Reads a folder to its end, then hands its files to the unlinkers and walks
// its subfolders, relative to descriptors: no path is looked up twice and no
// link is followed.
void BackgroundRemoval::Impl::walk(const std::shared_ptr<Folder>& folder)
{
    struct Name
    {
        std::string name;
        unsigned char type;
    };
    std::vector<Name> names;
    if (DIR* dir = ::fdopendir(::dup(folder->fd))) {
        for (;;) {
            errno = 0;
            const struct dirent* e = ::readdir(dir);
            if (!e) {
                if (errno != 0)
                    leave(folder->path(), errno);
                break;
            }
            if (!isDot(e->d_name))
                names.push_back({e->d_name, e->d_type});
        }
        ::closedir(dir);
    } else {
        leave(folder->path(), errno);
    }

    for (const Name& entry : names) {
        if (!goOn())
            break;
        const char* name = entry.name.c_str();
        if (entry.type != DT_DIR && entry.type != DT_UNKNOWN) {
            submit(folder, entry.name);
            continue;
        }
        const int held = ::openat(folder->fd, name, O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC);
        if (held < 0) {
            if (errno == ENOTDIR || errno == ELOOP)
                submit(folder, entry.name); // not a folder (any more): it goes as a file
            else if (errno != ENOENT)
                leave(folder->path().empty() ? entry.name : folder->path() + '/' + entry.name, errno);
            continue;
        }
        // Its entries can only go while it is ours to write and walk.
        struct stat st {};
        if (::fstat(held, &st) == 0 && (st.st_mode & S_IRWXU) != S_IRWXU)
            (void)chmodOpened(held, (st.st_mode & 07777) | S_IRWXU);
        if (openFolders >= kMaxOpenFolders)
            waitUntilIdle(); // the folders done with close meanwhile
        const int sub = ::openat(held, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int error = errno;
        ::close(held);
        const std::string below = folder->path().empty() ? entry.name : folder->path() + '/' + entry.name;
        if (sub < 0) {
            // It cannot be listed; if it is empty, it still goes.
            if (::unlinkat(folder->fd, name, AT_REMOVEDIR) != 0)
                leave(below, error);
            continue;
        }
        ++folder->pending;
        walk(std::make_shared<Folder>(sub, folder, entry.name, openFolders));
    }
    finished(folder);
}

void BackgroundRemoval::Impl::run()
{
    struct stat st {};
    if (::lstat(root.constData(), &st) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        // A link where the folder was goes as a link; a file is no folder to remove.
        if (S_ISLNK(st.st_mode) && !options.keepFolder && goOn() && ::unlink(root.constData()) != 0)
            leave({}, errno);
        return;
    }
    const int held = ::open(root.constData(), O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC);
    if (held < 0) {
        leave({}, errno);
        return;
    }
    if (::fstat(held, &st) == 0 && (st.st_mode & S_IRWXU) != S_IRWXU)
        (void)chmodOpened(held, (st.st_mode & 07777) | S_IRWXU);
    const int fd = ::openat(held, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int error = errno;
    ::close(held);
    if (fd < 0) {
        leave({}, error);
        return;
    }
    std::vector<std::thread> unlinkers;
    for (int i = 0; i < kUnlinkers; ++i)
        unlinkers.emplace_back([this] { unlinker(); });
    walk(std::make_shared<Folder>(fd, nullptr, std::string(), openFolders));
    {
        const std::lock_guard lock(work);
        quit = true;
        hasWork.notify_all();
    }
    for (std::thread& t : unlinkers)
        t.join();
    // Whatever stays must be named, even when nothing failed that was seen:
    // something may have been written into it meanwhile.
    if (!stop && !options.keepFolder && ::lstat(root.constData(), &st) == 0) {
        const std::lock_guard lock(leftMutex);
        if (left.isEmpty())
            left.append({shown, Status::fromErrno(ENOTEMPTY)});
    }
}

BackgroundRemoval::BackgroundRemoval(const QString& folder, Options options)
    : m_folder(folder), d(std::make_unique<Impl>())
{
    d->options = std::move(options);
    d->shown = folder;
    // The path is resolved here, on the caller's thread, once.
    const auto host = toHost(folder);
    if (!host) {
        d->done = true;
        return;
    }
    d->root = QFile::encodeName(*host);
    d->walker = std::thread([impl = d.get()] {
        impl->run();
        const std::lock_guard lock(impl->mutex);
        impl->done = true;
        impl->ended.notify_all();
    });
}

BackgroundRemoval::BackgroundRemoval(const QString& folder) : BackgroundRemoval(folder, Options())
{
}

BackgroundRemoval::~BackgroundRemoval()
{
    stop();
    if (d->walker.joinable())
        d->walker.join();
}

bool BackgroundRemoval::waitFor(int milliseconds)
{
    std::unique_lock lock(d->mutex);
    return d->ended.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [this] { return d->done; });
}

void BackgroundRemoval::wait()
{
    std::unique_lock lock(d->mutex);
    d->ended.wait(lock, [this] { return d->done; });
}

void BackgroundRemoval::stop()
{
    {
        const std::lock_guard lock(d->mutex);
        if (d->done)
            return;
        d->stop = true;
    }
    const std::lock_guard lock(d->work);
    d->progress.notify_all();
}

bool BackgroundRemoval::stopped() const
{
    return d->stop;
}

QList<BackgroundRemoval::Left> BackgroundRemoval::left() const
{
    const std::lock_guard lock(d->leftMutex);
    return d->left;
}

qint64 BackgroundRemoval::removedFiles() const
{
    return d->removed;
}

} // namespace archivon::platform
