#pragma once

#include "fingerprint.h"
#include "names.h"
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

/// Turns the owner's write permission off: the read-only attribute. A symlink
/// is left as it is.
Status setReadOnly(const QString& path);

/// Deletes a file, or a symlink itself. Never removes a directory.
Status deleteFile(const QString& path);

/// Makes one folder; its parent must exist, and the folder must not.
Status makeFolder(const QString& path);

/// Removes an empty folder. A symlink to a folder is not a folder here.
Status removeFolder(const QString& path);

/// Renames a file or folder; fails when \a to exists already, and across
/// filesystems (a mount point). Never copies.
Status moveEntry(const QString& from, const QString& to);

/// Renames an entry to a spelling that differs from its own only in case, on a
/// destination that takes the two for one name: there a rename that refuses to
/// replace fails, since the new name is the entry itself. Only for such names.
Status renameCase(const QString& from, const QString& to);

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

/// Asked before a piece of work begins and between chunks of a copy: it
/// blocks while the run is held, and says false once the run must end.
using Gate = std::function<bool()>;

/// Called between chunks of a copy (at most 1 MiB apart) with the bytes
/// written so far; false abandons the copy.
using ChunkHook = std::function<bool(qint64 written)>;

/// What a copy wrote: its bytes, and their fingerprint, taken as they were
/// written.
struct CopiedContent
{
    qint64 bytes = 0;
    Fingerprint fingerprint{};
};

/// Copies one whole file (content, permission bits, modification time),
/// replacing the destination. The copy is written under a hidden temporary
/// name beside the destination (".~archivon-NAME.XXXXXX") and renamed over it
/// once complete, so a file under its final name is always whole: a copy that
/// fails or is abandoned removes its temporary file, one whose program is
/// killed leaves only that. The content is the source as long as it was when
/// the copy began, however it grows meanwhile. Permission bits or times the
/// destination cannot keep (some network shares) do not fail the copy.
/// \a content, when given, is set to what a copy that succeeds wrote.
Status copyFile(const QString& source, const QString& destination, const ChunkHook& betweenChunks = {},
                CopiedContent* content = nullptr);

/// Copies one whole file as copyFile() does, to a name that must be free: the
/// complete temporary takes it only while nothing else has (Exists otherwise),
/// so nothing is ever replaced. A source that is itself a symlink is refused.
Status copyToNewFile(const QString& source, const QString& destination, const ChunkHook& betweenChunks = {},
                     CopiedContent* content = nullptr);

/// Opens \a source as a copy would and closes it at once: whether a copy
/// could read it now. Reads none of its content, and writes nothing.
Status sourceOpens(const QString& source);

/// True for a name copyFile() gives its temporary files, matched as \a rules
/// say the destination matches names.
bool isCopyTemporary(const QString& name, const NameRules& rules = {});

/// Makes a second name for a file (a hard link). Fails where the destination
/// refuses links (many shares) and across file systems.
Status linkFile(const QString& existing, const QString& newName);

/// What a destination keeps of a file's modification time and permission bits.
struct Keeps
{
    qint64 timeStepNs = 1; // times are kept to this step: 1 ns, 1 s on many shares
    bool modes = true;
};

/// Finds out what the file system of \a folder keeps, by writing a hidden probe
/// file there, setting its time and mode, reading them back and removing it.
/// The probe's name begins with \a prefix, by default that of a copy's
/// temporary file, so that what a kill leaves meanwhile is a name that the
/// next run knows for its own and removes.
Result<Keeps> probeKeeps(const QString& folder, const QString& prefix = {});

/// Renames an entry to a hidden name beside it (".~archivon~XXXXXX~NAME") that
/// nothing holds, and returns that name: an entry set aside while another of
/// the same name takes its place. NAME records \a as, by default the entry's
/// own name, where setAsideRecords() says it fits.
Result<QString> setAside(const QString& path, const QString& as = {});

/// The hidden name setAside() would give \a path, chosen now so that it can
/// be noted before the entry moves there; setAsideTo() then moves it.
QString setAsideName(const QString& path, const QString& as = {});
/// Moves \a path to \a aside, a name from setAsideName(), replacing nothing.
Status setAsideTo(const QString& path, const QString& aside);

/// True when a name set aside as \a name is recorded whole in its hidden name.
bool setAsideRecords(const QString& name);

/// For an entry set aside by setAside(), the name it recorded (empty for a long
/// name, which cannot be told); nothing for any other name. The prefix is
/// matched as \a rules say the destination matches names.
std::optional<QString> setAsideFrom(const QString& name, const NameRules& rules = {});

/// Copies files as copyFile() does, two at a time on threads of its own, while
/// the caller goes on with the next. The source is opened by start(), on the
/// caller's thread, so a copy holds the source as it was then. How each copy
/// ended is collected with takeEnded(), in the caller's thread.
///
/// The gate is asked before each copy begins and between its chunks: while it
/// blocks, nothing new is created and nothing more is written.
class ParallelCopy
{
public:
    struct Ended
    {
        QString source;
        QString shownAs; // the name the copy has once complete, as the caller shows it
        qint64 size = 0; // of the source when its copy began
        Status status;
        bool readFailed = false; // the source could not be read, rather than the copy written
        bool keepFailed = false; // the old file could not be moved to where it was to be kept
        bool kept = false;       // the old file was moved there; not where it had gone already
        qint64 written = 0;      // of a copy that succeeded: the bytes it wrote,
        Fingerprint fingerprint{}; // their fingerprint,
        qint64 modifiedNs = 0;   // and the source's time when it was opened, which the copy took
    };
    /// A copy being written now.
    struct InFlight
    {
        QString source;
        QString shownAs;
        qint64 size = 0;
        qint64 written = 0;
        quint64 serial = 0; // in the order the copies began
    };

    explicit ParallelCopy(Gate gate = {});
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
    /// or a path that leads nowhere fails here, and nothing is started. With
    /// \a keepOldAt (a free name on the same drive), the file the copy replaces
    /// is moved there, never removed, and the copy then takes its name.
    Status start(const QString& source, const QString& destination, const QString& shownAs = {},
                 const QString& keepOldAt = {});
    /// Waits up to \a milliseconds for a copy to end.
    void waitFor(int milliseconds);
    /// The copies that ended since the last call, in the order they ended.
    QList<Ended> takeEnded();
    /// The copies being written at this moment, oldest first.
    QList<InFlight> inFlight() const;
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
    /// With \a details, every entry returned is looked at closely (size, time,
    /// identity), which lastDetails() then gives.
    DirSearch(const QString& pattern, unsigned mask, bool details = false);
    ~DirSearch();
    DirSearch(const DirSearch&) = delete;
    DirSearch& operator=(const DirSearch&) = delete;

    /// False when the search could not start (drive not ready, no such folder,
    /// access denied), or when the folder could not be read to its end.
    bool ok() const;
    /// The reason the search failed.
    QString error() const;
    /// The same failure with its kind, or ok.
    const Status& status() const;
    /// The next matching name, or an empty string when there is none left.
    QString next();
    /// Hidden, system, directory and archive bits of the name next() returned
    /// last, as the search saw them (symlinks seen through); read-only is not
    /// looked at. Spares a walk a second look at every entry.
    unsigned lastAttributes() const;

    /// What a search with details saw of the last entry, symlinks seen through.
    struct Details
    {
        qint64 size = 0;
        qint64 modifiedNs = 0; // nanoseconds since the epoch
        unsigned mode = 0;     // permission bits
        FileId id;
        bool link = false;     // the entry itself is a symlink
    };
    const Details& lastDetails() const;

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
