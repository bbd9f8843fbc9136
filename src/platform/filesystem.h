#pragma once

#include "result.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <limits>
#include <memory>

// File operations on Windows-form paths, with the attribute model of the
// classic Windows API (see the README for how the bits map to POSIX).
namespace archivon::platform {

enum Attribute : unsigned {
    ReadOnly = 1,  // the owner's write permission is off
    Hidden = 2,    // the name begins with "."
    System = 4,    // neither a regular file nor a directory
    Directory = 16,
    Archive = 32,  // a regular file
};

/// Attributes of an entry; symlinks are seen through (a dangling one is System).
Result<unsigned> attributes(const QString& path);

/// Attributes of the entry itself, never following a symlink: a symlink is
/// System and never Directory. Tree removal uses it.
Result<unsigned> linkAttributes(const QString& path);

/// Identity of the file or folder a path leads to (symlinks seen through),
/// so that a walk can tell a folder it has met before.
struct FileId
{
    quint64 device = 0;
    quint64 inode = 0;
    friend bool operator==(const FileId&, const FileId&) = default;
    friend auto operator<=>(const FileId&, const FileId&) = default;
};
Result<FileId> fileId(const QString& path);

/// Turns the owner's write permission on.
Status setAttributesNormal(const QString& path);

/// Deletes a file, or a symlink itself. Never removes a directory.
Status deleteFile(const QString& path);

/// Makes one folder; its parent must exist, and the folder must not.
Status makeFolder(const QString& path);

/// Removes an empty folder. A symlink to a folder is not a folder here.
Status removeFolder(const QString& path);

/// Renames a file or folder; fails when \a to exists already, and across
/// filesystems (a mount point). Never copies.
Status moveEntry(const QString& from, const QString& to);

/// Lets the system drop what it holds in memory of a file that will not be
/// read again (an old backup about to be replaced), so that the memory serves
/// the copy being written. Changes nothing on disk; a failure is of no account.
void forgetCachedContent(const QString& path);

/// Length of a file in bytes.
Result<qint64> fileLength(const QString& path);

/// Free space that cannot be known (a filesystem that reports a total size of
/// 0, as some network filesystems do): larger than anything, so that no space
/// test takes it for too little.
inline constexpr qint64 kFreeSpaceUnknown = std::numeric_limits<qint64>::max();

/// Bytes available to the current user on the filesystem of a drive root, or
/// kFreeSpaceUnknown.
Result<qint64> freeSpace(QChar drive);

/// Called between chunks of a copy; return false to abandon the copy.
using ChunkHook = std::function<bool()>;

/// Copies one whole file (content, permission bits, modification time),
/// replacing the destination. A copy that fails or is abandoned leaves no
/// partial file behind and the old destination, if any, untouched. The content
/// is the source as long as it was when the copy began, however it grows
/// meanwhile. Permission bits or times the destination cannot keep (some
/// network shares) do not fail the copy.
Status copyFile(const QString& source, const QString& destination,
                const ChunkHook& betweenChunks = {});

/// Copies files as copyFile() does, two at a time on threads of its own, while
/// the caller goes on with the next. The source is opened by start(), on the
/// caller's thread, so a copy holds the source as it was then. How each copy
/// ended is collected with takeEnded(), in the caller's thread.
class ParallelCopy
{
public:
    struct Ended
    {
        QString source;
        qint64 size = 0; // of the source when its copy began
        Status status;
    };

    ParallelCopy();
    /// Abandons what is left, as abandon() does.
    ~ParallelCopy();
    ParallelCopy(const ParallelCopy&) = delete;
    ParallelCopy& operator=(const ParallelCopy&) = delete;

    /// True while a copy can be handed over without a long wait behind others.
    bool hasRoom() const;
    /// True while a copy handed over has not ended yet. Once it is false,
    /// takeEnded() gives the end of every copy.
    bool busy() const;
    /// Opens the source and hands the copy over. A source that cannot be opened
    /// or a path that leads nowhere fails here, and nothing is started.
    Status start(const QString& source, const QString& destination);
    /// Waits up to \a milliseconds for a copy to end.
    void waitFor(int milliseconds);
    /// The copies that ended since the last call, in the order they ended.
    QList<Ended> takeEnded();
    /// Held copies stop between chunks and go on when released; a pause is
    /// for a question to the user, never for long.
    void setPaused(bool paused);
    /// Copies in progress end at their next chunk and remove what they wrote;
    /// those not begun are dropped. Returns once nothing is being written.
    void abandon();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

/// A directory search with an attribute mask, taken one name at a time.
///
/// The pattern is a path whose last component may hold wildcards ("*", "?",
/// "*.*" = every name), matched case-insensitively; a trailing separator lists
/// the whole folder. An entry is returned when all of its hidden, system and
/// directory bits are in the mask. "." and ".." are never returned.
class DirSearch
{
public:
    DirSearch(const QString& pattern, unsigned mask);
    ~DirSearch();
    DirSearch(const DirSearch&) = delete;
    DirSearch& operator=(const DirSearch&) = delete;

    /// False when the search could not start (drive not ready, no such folder,
    /// access denied), or when the folder could not be read to its end.
    bool ok() const;
    /// The reason the search failed.
    QString error() const;
    /// The next matching name, or an empty string when there is none left.
    QString next();
    /// Hidden, system, directory and archive bits of the name next() returned
    /// last, as the search saw them (symlinks seen through); read-only is not
    /// looked at. Spares a walk a second look at every entry.
    unsigned lastAttributes() const;

    /// An entry the mask accepts whose name a Windows-form path cannot carry:
    /// one holding "\", or bytes not valid in the locale's encoding. next()
    /// passes over it; it is kept here, its name shown as well as it can be.
    struct Uncarried
    {
        QString name;
        unsigned attributes = 0;
        QString reason;
    };
    /// Such entries met so far, in order.
    const QList<Uncarried>& uncarried() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

/// First-match convenience: true when the search yields at least one name.
bool anyMatch(const QString& pattern, unsigned mask);

} // namespace archivon::platform
