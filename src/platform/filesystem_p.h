#pragma once

// What the file services of this folder share, and nothing else sees.

#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/filesystem.h"

#include <QFile>

#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace archivon::platform::fs {

// Chunks of a large copy: a held run writes at most one more of them, and the
// kernel still does the work in few calls.
inline constexpr qint64 kCopyChunk = 1024 * 1024;
// The buffer of a copy the kernel will not make by itself: small enough to stay
// in the processor's cache between the read and the write, which a 1 MiB buffer
// does not, and kept by each thread from one file to the next.
inline constexpr size_t kBufferSize = 128 * 1024;

inline QByteArray encoded(const QString& host) { return QFile::encodeName(host); }

inline std::optional<QByteArray> hostBytes(const QString& path)
{
    const auto host = toHost(path);
    if (!host)
        return std::nullopt;
    return encoded(*host);
}

inline QString lastComponent(const QByteArray& host)
{
    const int slash = host.lastIndexOf('/');
    return QFile::decodeName(slash < 0 ? host : host.mid(slash + 1));
}

inline unsigned attributesFromStat(const struct stat& st, const QString& name)
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

inline DirSearch::Details detailsOf(const struct stat& st)
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
    return Result<T>::failure(driveNotReady());
}

inline Status errnoStatus(int error) { return Status::fromErrno(error); }

/// Renames without ever replacing what \a to names; 0, or the errno that says why not.
int moveNoReplace(const QByteArray& from, const QByteArray& to);

inline bool hasWildcard(const QString& s)
{
    return s.contains(QLatin1Char('*')) || s.contains(QLatin1Char('?'));
}

inline bool isSeparator(QChar c) { return c == QLatin1Char('\\') || c == QLatin1Char('/'); }

// A file descriptor, closed when it goes.
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

// The hidden names of a copy being written, and of an entry set aside.
inline const QByteArray kTemporaryPrefix = QByteArrayLiteral(".~archivon-");
inline const QString kSetAsidePrefix = QStringLiteral(".~archivon~");

} // namespace archivon::platform::fs
