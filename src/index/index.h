#pragma once

// The index of a pair's backup: one file per pair in the computer's backup
// folder, ".archivon-indice\<key>", that says what each file of the backup
// holds (its size, time and fingerprint), when a check last read it, and
// whether a check found it damaged. The runs write it as they copy; the check
// reads the backup against it. A section of it covers the files of the dated
// folders, filled from the run lists, for the checks that read those too.
// The format is told in docs/index.md.

#include "platform/fingerprint.h"
#include "platform/result.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace archivon::index {

/// The folder of the indexes, in the computer's backup folder.
inline const QString kFolderName = QStringLiteral(".archivon-indice");
/// The format this version writes; it reads every one up to it.
constexpr int kFormat = 1;

/// The index folder of the computer's backup folder \a backupRoot.
QString folderOf(const QString& backupRoot);
/// The index of the pair whose destination is \a destination: named after
/// the destination's path below \a backupRoot, or after the whole path for a
/// destination elsewhere.
QString fileFor(const QString& backupRoot, const QString& destination);

/// An index's time of a file against the time a listing finds: the same
/// within the coarsest step a share keeps times to, two seconds, whichever
/// way it rounds. A finer match would lose every fingerprint of a backup on
/// such a share at its next run.
inline bool sameTime(qint64 indexed, qint64 listed)
{
    constexpr qint64 kStepNs = 2'000'000'000;
    return indexed - listed < kStepNs && listed - indexed < kStepNs;
}

/// Where a fingerprint comes from.
enum class Origin : quint8 {
    Copy,   ///< taken from the bytes as a run wrote them: what the source held
    Backup, ///< taken by a check from the backup as it found it, with no copy to go by
};

/// What a check last found of a file.
enum class Mark : quint8 {
    None,
    Damaged, ///< its content differs from its fingerprint while its size and time do not
};

/// One file of a pair's backup.
struct Entry
{
    QString path;  // below the pair's folder, as versions::pathField() writes it: "\a\b.txt"
    qint64 size = 0;
    qint64 modifiedNs = 0; // as the run set it: the source's
    std::optional<platform::Fingerprint> fingerprint; // none for a file copied before they were taken
    Origin origin = Origin::Copy;
    qint64 checkedAt = 0; // when a check last read it, seconds since the epoch (UTC); 0: never
    Mark mark = Mark::None;
};

/// One file of the dated folders, as a run list named it.
struct VersionEntry
{
    QString stamp; // the dated folder's name
    QString path;  // below the pair's folder in it, as pathField() writes it
    qint64 size = 0;
    std::optional<platform::Fingerprint> fingerprint;
    qint64 checkedAt = 0;
    Mark mark = Mark::None; // Damaged: moved there as damaged, or found so by a check
};

/// Reads the index of a pair, entry by entry, in the order written (files
/// sorted by path, then the versions). What was handed over counts only when
/// the reading ends well: an index cut short, edited, or of a newer format is
/// refused, and the caller drops what it was given. Where a kill left the
/// index between its old and new file, the whole one the last write meant is
/// read (see IndexWriter). \a destination, when given, is checked against the
/// pair the index is of.
struct Reader
{
    std::function<void(Entry&&)> file;
    std::function<void(VersionEntry&&)> version;
    /// Only the entries marked damaged are handed over; the rest is still
    /// read through, so that an index that does not read gives nothing.
    bool onlyMarked = false;
};
/// Nothing when there is no index at all; otherwise the destination it
/// names, or why it cannot be read.
std::optional<Result<QString>> readIndex(const QString& indexFile, const Reader& reader);

/// A pair's index read whole.
struct PairIndex
{
    QString destination;
    std::vector<Entry> files;
    std::vector<VersionEntry> versions;
};
/// Nothing when there is no index; otherwise the index or why it cannot be read.
std::optional<Result<PairIndex>> readWholeIndex(const QString& indexFile);

/// Writes a pair's index anew: entries go to "<index>.nuovo" a piece at a time,
/// then commit() puts it in place in steps of which none renames over a name
/// (on a share through smbnetfs that would be an unlink and a rename):
///   1. "<index>.nuovo" whole, with its end line;
///   2. the old index moved to "<index>.vecchio";
///   3. "<index>.nuovo" moved to "<index>";
///   4. "<index>.vecchio" removed.
/// A reader takes a whole ".nuovo" first, then the index, then ".vecchio":
/// a kill at any step leaves one that reads, the newest that was whole.
class IndexWriter
{
public:
    IndexWriter(QString indexFile, QString destination);
    ~IndexWriter(); // a writer dropped before commit() leaves the old index as it was
    IndexWriter(const IndexWriter&) = delete;
    IndexWriter& operator=(const IndexWriter&) = delete;

    /// Files in the order of their paths as the caller sorts them, then versions.
    Status add(const Entry& entry);
    Status add(const VersionEntry& entry);
    Status commit();

private:
    Status flush();
    QString m_file;
    QByteArray m_pending;
    qint64 m_written = 0;
    qint64 m_entries = 0;
    bool m_started = false;
    bool m_failed = false;
    struct Digest;
    std::unique_ptr<Digest> m_digest;
};

/// The index file's lines, for the tests and the tools: the text of one entry.
QByteArray entryText(const Entry& entry);
QByteArray entryText(const VersionEntry& entry);

} // namespace archivon::index
