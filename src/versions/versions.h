#pragma once

// Earlier versions: what a run removes or replaces in a pair's backup is moved,
// not deleted, into a folder of that run under "Versioni precedenti", where it
// stays for the days set.

#include "decision/comparison.h"
#include "plan/plan.h"
#include "platform/names.h"
#include "platform/result.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>
#include <utility>

namespace archivon::versions {

/// The name of a run's folder: its start in local time, to the second, in a
/// form that sorts by date and that a Windows share takes ("2026-12-07 19.30.05").
QString stampOf(const QDateTime& start);

/// The start a run's folder name gives, " (2)" and the like allowed after it;
/// nothing for a name that is not one.
std::optional<QDateTime> startOf(const QString& folderName);

/// The folder that pair \a N of \a plan has in a run's folder: its destination's
/// last name ("Documenti"), or, where another pair of the plan keeps its
/// versions in the same root under a name that root's \a rules take for the
/// same, that name with the pair's number ("Documenti (coppia 2)").
QString pairFolder(const BackupPlan& plan, int N, const platform::NameRules& rules);

/// What a run moves into its versions: files, and their bytes.
struct Count
{
    qint64 files = 0;
    qint64 bytes = 0;

    Count& operator+=(const Count& other)
    {
        files += other.files;
        bytes += other.bytes;
        return *this;
    }
    bool operator==(const Count&) const = default;
};

/// The files a folder holds at any depth, and their bytes, read where it is.
using FolderCount = std::function<Count(const QString& folder)>;

/// What one entry adds to the versions: a file is one, of its \a size; a
/// folder, every file it holds, as \a under counts them at \a path.
Count countOf(const QString& path, bool folder, qint64 size, const FolderCount& under);

/// An entry moved into the versions whole: a file of \a size, or a \a folder.
struct Entry
{
    QString path;
    bool folder = true;
    qint64 size = 0;
};

/// An entry as it is now on the disk, to go into the versions whole.
Entry entryAt(const QString& path);
/// Counts a folder's files on the disk: the FolderCount of a run.
Count filesIn(const QString& folder);

/// What a pass over the pair at \a destination moves into the versions, as
/// the run counts it: of \a changes (of the walk \a scan), each file it
/// replaces, each entry it removes, each entry it sets aside for one of
/// another kind; and each entry earlier runs left that goes there whole
/// (\a whole: complete old backups, entries set aside whose place is taken,
/// the old copy a full rewrite replaces).
Count versionedBy(const Changes& changes, const TreeScan& scan, const QString& destination,
                  const QList<Entry>& whole, const FolderCount& under);

/// Where one run puts what it removes or replaces: under each versions root
/// it meets, a folder of its own, named by its start (with " (2)" where that
/// name is taken), made when the first entry goes there.
class RunVersions
{
public:
    explicit RunVersions(QDateTime start) : m_stamp(stampOf(start)) {}

    /// What the file system of \a root does with names, asked once.
    const platform::NameRules& rulesFor(const QString& root);

    /// A free name for the entry \a relative ("\Lettere\a.txt") of the pair
    /// folder \a pair (see pairFolder()), in this run's folder of \a root, the
    /// folders above it made. Nothing is written under that name. A folder this
    /// run had made there that is gone is made again.
    Result<QString> placeFor(const QString& root, const QString& pair, const QString& relative);
    /// After a move into \a place that failed as if a folder above it were
    /// missing: forgets the folders this run had made there that are gone, so
    /// that the next place makes them again. False when none is.
    bool forgetGone(const QString& root, const QString& place);
    /// The highest folder found gone since the last call, once; empty when none.
    QString takeVanished() { return std::exchange(m_vanished, {}); }

    /// This run's folder in \a root, once something went there.
    QString runFolder(const QString& root);
    /// Bytes moved into this run's folder of \a root.
    void count(const QString& root, qint64 bytes);
    struct RunFolder
    {
        QString root;
        QString path;
        qint64 bytes = 0; // moved there, as far as this run knows
    };
    /// Every run folder this run made, with its bytes.
    QList<RunFolder> runFolders() const { return m_runFolders.values(); }

private:
    Result<QString> tryPlace(const QString& root, const QString& pair, const QString& relative);
    Status makeFolders(const QString& root, const QString& path);
    /// The key this run knows a path below \a root by: folded only where that
    /// root's file system folds case.
    QString keyOf(const QString& root, const QString& path) { return platform::nameKey(path, rulesFor(root)); }

    QString m_stamp;
    QHash<QString, platform::NameRules> m_rules; // by versions root
    QHash<QString, RunFolder> m_runFolders; // by the key of the versions root
    // What this run made or handed out in its own folders, where no other run
    // writes, by key.
    QSet<QString> m_made;
    QSet<QString> m_given;
    QString m_vanished;
};

} // namespace archivon::versions
