#include "platform/textfile.h"

#include "platform/drives.h"
#include "platform/errors.h"

#include <QFile>
#include <QSaveFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace archivon::platform {

// Not QStringEncoder("windows-1252"): Debian's Qt 6.4 encodes through ICU,
// which writes 0x1A for a character the code page lacks, where the marker
// must carry "?".
QByteArray toWindows1252(const QString& text)
{
    // The code points Windows-1252 puts in 0x80..0x9F; 0 marks an unused byte.
    static const char16_t high[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
        0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    QByteArray out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            out += char(u);
            continue;
        }
        char byte = '?';
        for (int i = 0; i < 32; ++i) {
            if (high[i] != 0 && high[i] == u) {
                byte = char(0x80 + i);
                break;
            }
        }
        out += byte;
    }
    return out;
}

Status writeTextFile(const QString& path, const QStringList& lines)
{
    const auto host = toHost(path);
    if (!host)
        return driveNotReady();
    QSaveFile file(*host);
    if (!file.open(QIODevice::WriteOnly))
        return Status::failure(file.errorString());
    for (const QString& line : lines) {
        file.write(toWindows1252(line));
        file.write("\r\n", 2);
    }
    if (!file.commit())
        return Status::failure(file.errorString());
    return {};
}

Result<QByteArray> readSmallFile(const QString& path, qint64 limit)
{
    const auto host = toHost(path);
    if (!host)
        return Result<QByteArray>::failure(driveNotReady());
    QFile file(*host);
    if (!file.open(QIODevice::ReadOnly))
        return Result<QByteArray>::failure(file.errorString());
    QByteArray content = file.read(limit + 1);
    if (content.size() > limit)
        return Result<QByteArray>::failure(QStringLiteral("file troppo grande"));
    return content;
}

namespace {

// Writes \a content at \a offset of an open file (-1: where the file stands),
// then closes it, whose failure a share reports for a write it could not make.
Status writeAndClose(int fd, const QByteArray& content, qint64 offset)
{
    qsizetype done = 0;
    while (done < content.size()) {
        const char* from = content.constData() + done;
        const size_t left = size_t(content.size() - done);
        const ssize_t n = offset < 0 ? ::write(fd, from, left) : ::pwrite(fd, from, left, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n == 0 ? EIO : errno;
            ::close(fd);
            return Status::fromErrno(error);
        }
        done += n;
    }
    if (::close(fd) != 0)
        return Status::fromErrno(errno);
    return {};
}

Result<int> openForWriting(const QString& path, int flags)
{
    const auto host = toHost(path);
    if (!host)
        return Result<int>::failure(driveNotReady());
    const QByteArray name = QFile::encodeName(*host);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0644);
    if (fd < 0)
        return Result<int>::fromErrno(errno);
    return fd;
}

} // namespace

Status writeInPlace(const QString& path, const QByteArray& content)
{
    const auto fd = openForWriting(path, O_TRUNC);
    if (!fd)
        return fd.status();
    return writeAndClose(*fd, content, -1);
}

Status appendToFile(const QString& path, const QByteArray& content)
{
    const auto fd = openForWriting(path, 0);
    if (!fd)
        return fd.status();
    struct stat st {};
    if (::fstat(*fd, &st) != 0) {
        const int error = errno;
        ::close(*fd);
        return Status::fromErrno(error);
    }
    return writeAndClose(*fd, content, qint64(st.st_size));
}

Result<qint64> modifiedNs(const QString& path)
{
    const auto host = toHost(path);
    if (!host)
        return Result<qint64>::failure(driveNotReady());
    struct stat st {};
    if (::stat(QFile::encodeName(*host).constData(), &st) != 0)
        return Result<qint64>::fromErrno(errno);
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

} // namespace archivon::platform
