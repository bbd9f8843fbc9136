#include "platform/removal.h"

#include "platform/drives.h"

#include <QFile>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace archivon::platform {

namespace {

bool isDot(const char* name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// Removes what the open folder holds, entry by entry, relative to its
// descriptor: no path is looked up twice and no link is followed. The worker
// touches nothing but the file system, so it needs no lock.
void emptyFolder(int folder, const std::atomic<bool>& stop)
{
    DIR* dir = ::fdopendir(::dup(folder));
    if (!dir)
        return;
    while (!stop) {
        const struct dirent* e = ::readdir(dir);
        if (!e)
            break;
        if (isDot(e->d_name))
            continue;
        bool isFolder = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st {};
            isFolder = ::fstatat(folder, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                       S_ISDIR(st.st_mode);
        }
        if (!isFolder) {
            (void)::unlinkat(folder, e->d_name, 0);
            continue;
        }
        // Its entries can only go while it is ours to write and walk.
        struct stat st {};
        if (::fstatat(folder, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            (st.st_mode & S_IRWXU) != S_IRWXU)
            (void)::fchmodat(folder, e->d_name, (st.st_mode & 07777) | S_IRWXU, 0);
        const int sub = ::openat(folder, e->d_name,
                                 O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub >= 0) {
            emptyFolder(sub, stop);
            ::close(sub);
        }
        (void)::unlinkat(folder, e->d_name, AT_REMOVEDIR);
    }
    ::closedir(dir);
}

} // namespace

struct BackgroundRemoval::Impl
{
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::thread worker;
};

BackgroundRemoval::BackgroundRemoval(const QString& folder)
    : m_folder(folder), d(std::make_unique<Impl>())
{
    // The path is resolved here, on the caller's thread, once.
    const auto host = toHost(folder);
    if (!host) {
        d->done = true;
        return;
    }
    d->worker = std::thread([impl = d.get(), path = QFile::encodeName(*host)] {
        struct stat st {};
        if (::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
            if ((st.st_mode & S_IRWXU) != S_IRWXU)
                (void)::chmod(path.constData(), (st.st_mode & 07777) | S_IRWXU);
            const int folder = ::open(path.constData(),
                                      O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (folder >= 0) {
                emptyFolder(folder, impl->stop);
                ::close(folder);
            }
            if (!impl->stop)
                (void)::rmdir(path.constData());
        } else if (::lstat(path.constData(), &st) == 0) {
            (void)::unlink(path.constData()); // a link where the folder was
        }
        const std::lock_guard lock(impl->mutex);
        impl->done = true;
        impl->ended.notify_all();
    });
}

BackgroundRemoval::~BackgroundRemoval()
{
    stop();
    if (d->worker.joinable())
        d->worker.join();
}

bool BackgroundRemoval::waitFor(int milliseconds)
{
    std::unique_lock lock(d->mutex);
    return d->ended.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [this] { return d->done; });
}

void BackgroundRemoval::stop()
{
    const std::lock_guard lock(d->mutex);
    if (!d->done)
        d->stop = true;
}

bool BackgroundRemoval::stopped() const { return d->stop; }

} // namespace archivon::platform
