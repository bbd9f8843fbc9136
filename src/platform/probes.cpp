#include "platform/filesystem.h"

#include "platform/filesystem_p.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// What a destination's file system keeps, asked of the file system itself.
namespace archivon::platform {

using namespace fs;

Result<Keeps> probeKeeps(const QString& folder, const QString& prefix)
{
    const auto host = hostBytes(folder);
    if (!host)
        return Result<Keeps>::failure(driveNotReady());
    QByteArray probe =
        *host + "/" + (prefix.isEmpty() ? kTemporaryPrefix + "sonda." : encoded(prefix)) + "XXXXXX";
    // An odd second and every digit of the nanoseconds, so that each step tells.
    constexpr qint64 kSeconds = 1600000001;
    constexpr qint64 kNanoseconds = 123456789;
    {
        const Fd file(::mkostemp(probe.data(), O_CLOEXEC));
        if (file.get() < 0)
            return Result<Keeps>::fromErrno(errno);
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
        return Result<Keeps>::fromErrno(error);
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
} // namespace archivon::platform
