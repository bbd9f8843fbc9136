#include "platform/fingerprint.h"

#include "platform/filesystem_p.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <xxhash.h>

namespace archivon::platform {

using namespace fs;

QString Fingerprint::hex() const
{
    static constexpr char kDigits[] = "0123456789abcdef";
    QString text(32, Qt::Uninitialized);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        text[qsizetype(2 * i)] = QLatin1Char(kDigits[bytes[i] >> 4]);
        text[qsizetype(2 * i + 1)] = QLatin1Char(kDigits[bytes[i] & 15]);
    }
    return text;
}

std::optional<Fingerprint> Fingerprint::fromHex(QStringView text)
{
    if (text.size() != 32)
        return std::nullopt;
    Fingerprint f;
    for (std::size_t i = 0; i < f.bytes.size(); ++i) {
        int value = 0;
        for (int half = 0; half < 2; ++half) {
            const char16_t c = text[qsizetype(2 * i + half)].unicode();
            int digit = -1;
            if (c >= u'0' && c <= u'9')
                digit = c - u'0';
            else if (c >= u'a' && c <= u'f')
                digit = c - u'a' + 10;
            else if (c >= u'A' && c <= u'F')
                digit = c - u'A' + 10;
            if (digit < 0)
                return std::nullopt;
            value = value * 16 + digit;
        }
        f.bytes[i] = static_cast<unsigned char>(value);
    }
    return f;
}

namespace {
Fingerprint fromHash(XXH128_hash_t hash)
{
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, hash);
    Fingerprint f;
    static_assert(sizeof(canonical.digest) == sizeof(f.bytes));
    std::copy(std::begin(canonical.digest), std::end(canonical.digest), f.bytes.begin());
    return f;
}
} // namespace

struct Fingerprinter::State
{
    XXH3_state_t* xxh = XXH3_createState();
    ~State() { XXH3_freeState(xxh); }
};

Fingerprinter::Fingerprinter() : d(std::make_unique<State>()) { reset(); }
Fingerprinter::~Fingerprinter() = default;

void Fingerprinter::reset() { (void)XXH3_128bits_reset(d->xxh); }

void Fingerprinter::add(const void* data, std::size_t size)
{
    (void)XXH3_128bits_update(d->xxh, data, size);
}

Fingerprint Fingerprinter::result() const { return fromHash(XXH3_128bits_digest(d->xxh)); }

Fingerprint fingerprintOf(const void* data, std::size_t size)
{
    return fromHash(XXH3_128bits(data, size));
}

Result<ReadContent> fingerprintFile(const QString& path, bool fromDisk,
                                    const std::function<bool(qint64)>& betweenChunks)
{
    const auto host = hostBytes(path);
    if (!host)
        return Result<ReadContent>::failure(driveNotReady());
    const Fd file(::open(host->constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (file.get() < 0)
        return Result<ReadContent>::fromErrno(errno == ELOOP ? EINVAL : errno);
    struct stat st {};
    if (::fstat(file.get(), &st) != 0)
        return Result<ReadContent>::fromErrno(errno);
    if (!S_ISREG(st.st_mode))
        return Result<ReadContent>::fromErrno(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    if (fromDisk)
        (void)::posix_fadvise(file.get(), 0, 0, POSIX_FADV_DONTNEED);
    (void)::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    thread_local std::unique_ptr<char[]> buffer;
    if (!buffer)
        buffer.reset(new char[kBufferSize]);
    Fingerprinter print;
    ReadContent content;
    qint64 nextChunk = kCopyChunk;
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer.get(), kBufferSize);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return Result<ReadContent>::fromErrno(errno);
        }
        if (got == 0)
            break;
        print.add(buffer.get(), std::size_t(got));
        content.bytes += got;
        if (content.bytes >= nextChunk) {
            nextChunk += kCopyChunk;
            if (betweenChunks && !betweenChunks(content.bytes))
                return Result<ReadContent>::failure(
                    Status::failure(ErrorKind::Cancelled, QStringLiteral("interrotto")));
        }
    }
    // What was read need not stay in memory: a check reads far more than
    // anyone will open again soon.
    if (fromDisk)
        (void)::posix_fadvise(file.get(), 0, 0, POSIX_FADV_DONTNEED);
    content.fingerprint = print.result();
    return content;
}

} // namespace archivon::platform
