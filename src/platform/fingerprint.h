#pragma once

// Fingerprints of file content: XXH3 with 128 bits, taken from the bytes as
// they pass, so that a copy fingerprints what it writes with no second read.
// The text is the one `xxhsum -H2` prints, so that anyone can check a file
// by hand.

#include "platform/result.h"

#include <QString>
#include <QStringView>

#include <array>
#include <functional>
#include <memory>
#include <optional>

namespace archivon::platform {

struct Fingerprint
{
    std::array<unsigned char, 16> bytes{}; // big-endian, as printed

    /// 32 lower-case hexadecimal digits.
    QString hex() const;
    /// The fingerprint \a text names (32 hexadecimal digits, either case);
    /// nothing for anything else.
    static std::optional<Fingerprint> fromHex(QStringView text);

    friend bool operator==(const Fingerprint&, const Fingerprint&) = default;
};

/// A fingerprint taken piece by piece.
class Fingerprinter
{
public:
    Fingerprinter();
    ~Fingerprinter();
    Fingerprinter(const Fingerprinter&) = delete;
    Fingerprinter& operator=(const Fingerprinter&) = delete;

    /// Starts again, as new.
    void reset();
    void add(const void* data, std::size_t size);
    /// The fingerprint of what was added since the start.
    Fingerprint result() const;

private:
    struct State;
    std::unique_ptr<State> d;
};

/// The fingerprint of \a size bytes at \a data.
Fingerprint fingerprintOf(const void* data, std::size_t size);

/// A file's content as one read of it found it.
struct ReadContent
{
    qint64 bytes = 0;
    Fingerprint fingerprint;
};

/// Reads the regular file \a path to its end and fingerprints it. A link is
/// not followed: it is refused, as anything but a regular file is. With \a
/// fromDisk, the file's cached pages are dropped first, so that what is read
/// is what the disk (or the server) holds, not what this machine remembers
/// of it. \a betweenChunks, asked with the bytes read so far after each
/// megabyte, ends the read (Cancelled) when it says no.
Result<ReadContent> fingerprintFile(const QString& path, bool fromDisk = true,
                                    const std::function<bool(qint64)>& betweenChunks = {});

} // namespace archivon::platform
