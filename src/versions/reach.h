#pragma once

// How far back a computer's backup can be given back, from what its dated
// folders say of the runs alone: the lists they hold, the lists that do not
// read, and the folders without one. No tree is read: the reach is the same
// for every pair of the computer.

#include "plan/runevent.h"
#include "versions/runlist.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace archivon::versions {

/// A dated folder whose list is there but does not parse.
struct RefusedList
{
    QDateTime stamp; // from the folder's name (startOf)
    QString folder;
    QString why;
};

/// The runs of a backup as its dated folders tell them.
struct RunHistory
{
    std::vector<const RunList*> lists; ///< in any order
    std::vector<RefusedList> refused;
    /// Starts (from their names) of dated folders without a list: runs of an
    /// older version.
    std::vector<QDateTime> unlisted;
};

/// How far back the lists reach, and why not further.
struct Reach
{
    enum class Limit { None, MissingList, RefusedList, OlderRuns, NoVersions, NoLists };
    /// The oldest moment: the end of the oldest run whose state can be made
    /// again, or the start of the first run the lists know, when the state
    /// just before it can; invalid when even the newest cannot, and only the
    /// backup as it stands can be given.
    QDateTime oldest;
    Limit limit = Limit::None;
    QString why; ///< for the user, naming the run or the list

    /// As a run's end records it.
    RestoreReach reachable() const;
};

/// Why the runs from a point on cannot be undone.
struct Barrier
{
    Reach::Limit limit;
    QString why;
};

/// The runs in the order they ran, as indices in \a lists. Each list names the
/// one before it, whatever the clocks said; where that chain is broken, the
/// pieces go by the starts their lists record.
std::vector<int> runOrder(const std::vector<const RunList*>& lists);

/// Why the runs from \a first on (in \a order, from runOrder()) cannot be
/// undone back to the state the run before them left; nothing when they can.
/// \a first past the last run is the end of the last listed run, which a run
/// after it without a list of its own puts out of reach too.
std::optional<Barrier> barrierFor(const RunHistory& history, const std::vector<int>& order, std::size_t first);

/// The oldest moment the lists reach.
Reach reachOf(const RunHistory& history);

/// The dated folders of a computer's backup folder, with their lists.
struct BackupRuns
{
    struct Run
    {
        RunList list;
        QString folder; ///< its dated folder
    };
    std::vector<Run> runs;
    std::vector<RefusedList> refused;
    std::vector<QDateTime> unlisted;

    /// Points into these runs.
    RunHistory history() const;
};

/// Reads the dated folders under "Versioni precedenti" of \a backupRoot and
/// their lists: whole, or, with \a whole false, at their ends only
/// (readRunListEnds()), which is all a reach needs. Nothing when the folder
/// is missing or cannot be read.
BackupRuns readBackupRuns(const QString& backupRoot, bool whole);

/// How far back the backup in \a backupRoot reaches, as a restore, which
/// reads the lists whole, finds it; only the ends of each list are read.
Reach reachOfBackup(const QString& backupRoot);

/// A moment as the restore's messages show it, in local time: "07/12/2026 19:30:05".
QString shownMoment(const QDateTime& when);

} // namespace archivon::versions
