#include "platform/removal.h"

#include "platform/drives.h"

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

// An open folder of the tree. It is removed, through its parent's descriptor,
// by whichever thread ends the last piece of work in it: its own listing, one
// of its files or one of its subfolders.
struct Folder
{
    Folder(int descriptor, std::shared_ptr<Folder> up, std::string entry, std::atomic<int>& count)
        : fd(descriptor), parent(std::move(up)), name(std::move(entry)), open(count)
    {
        ++open;
    }
    ~Folder()
    {
        ::close(fd);
        --open;
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    const int fd;
    const std::shared_ptr<Folder> parent; // none for the tree's own folder
    const std::string name;
    std::atomic<int>& open;
    std::atomic<int> pending{1}; // its listing, until that ends
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

    void run();
    void walk(const std::shared_ptr<Folder>& folder);
    void submit(const std::shared_ptr<Folder>& folder, const char* name);
    void waitUntilIdle();
    void unlinker();
    void finished(std::shared_ptr<Folder> folder);
};

// Counts one piece of work in a folder as done; the folder goes once nothing
// is left in it, and so on up the tree. After a stop nothing more goes.
void BackgroundRemoval::Impl::finished(std::shared_ptr<Folder> folder)
{
    while (folder && folder->pending.fetch_sub(1) == 1 && !stop) {
        if (folder->parent)
            (void)::unlinkat(folder->parent->fd, folder->name.c_str(), AT_REMOVEDIR);
        else
            (void)::rmdir(root.constData());
        folder = folder->parent;
    }
}

void BackgroundRemoval::Impl::submit(const std::shared_ptr<Folder>& folder, const char* name)
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
            if (!stop)
                (void)::unlinkat(entry.folder->fd, entry.name.c_str(), 0);
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

// Lists a folder, hands its files to the unlinkers and walks its subfolders,
// relative to descriptors: no path is looked up twice and no link is followed.
void BackgroundRemoval::Impl::walk(const std::shared_ptr<Folder>& folder)
{
    DIR* dir = ::fdopendir(::dup(folder->fd));
    if (!dir) {
        finished(folder);
        return;
    }
    while (!stop) {
        const struct dirent* e = ::readdir(dir);
        if (!e)
            break;
        if (isDot(e->d_name))
            continue;
        bool isFolder = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st {};
            isFolder = ::fstatat(folder->fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                       S_ISDIR(st.st_mode);
        }
        if (!isFolder) {
            submit(folder, e->d_name);
            continue;
        }
        // Its entries can only go while it is ours to write and walk.
        struct stat st {};
        if (::fstatat(folder->fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            (st.st_mode & S_IRWXU) != S_IRWXU)
            (void)::fchmodat(folder->fd, e->d_name, (st.st_mode & 07777) | S_IRWXU, 0);
        if (openFolders >= kMaxOpenFolders)
            waitUntilIdle(); // the folders done with close meanwhile
        const int sub =
            ::openat(folder->fd, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0) {
            (void)::unlinkat(folder->fd, e->d_name, AT_REMOVEDIR); // goes only if empty
            continue;
        }
        ++folder->pending;
        walk(std::make_shared<Folder>(sub, folder, e->d_name, openFolders));
    }
    ::closedir(dir);
    finished(folder);
}

void BackgroundRemoval::Impl::run()
{
    struct stat st {};
    if (::lstat(root.constData(), &st) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        (void)::unlink(root.constData()); // a link where the folder was
        return;
    }
    if ((st.st_mode & S_IRWXU) != S_IRWXU)
        (void)::chmod(root.constData(), (st.st_mode & 07777) | S_IRWXU);
    const int fd = ::open(root.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
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
}

BackgroundRemoval::BackgroundRemoval(const QString& folder)
    : m_folder(folder), d(std::make_unique<Impl>())
{
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

} // namespace archivon::platform
