#pragma once

// A computer's backup as the share holds it, read once for a restore: each
// pair's mirror and its folder in every dated folder, listed without following
// a link and without reading any content, and the lists the runs left.

#include "plan/plan.h"
#include "restore/moment.h"
#include "versions/reach.h"
#include "versions/runlist.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

namespace archivon::restore {

/// An entry of the share that is not given back, and why.
struct PassedOver
{
    RelativePath path; ///< below the pair's folder, in the tree it was met in
    QString shown;     ///< the whole path on the share, for the user
    QString reason;
};

/// A tree as listed, with what its listing passed over.
struct ListedTree
{
    Tree tree;
    QString folder; ///< the pair's folder it is the listing of, on the share
    QList<PassedOver> passed;
};

/// One pair of the backup.
struct PairBackup
{
    int number = 0;
    QString source;      ///< where it goes back in place
    QString destination; ///< its mirror on the share
    QString name;        ///< the mirror's own name, as --percorso gives it ("Documenti")
    std::optional<ListedTree> mirror;
    std::vector<std::optional<ListedTree>> dated; ///< by run, as ComputerBackup::runs
};

/// The computer's backup folder as read: its runs with their lists read whole
/// (history() is what the reach is worked out from, the same for every pair),
/// and its pairs.
struct ComputerBackup : versions::BackupRuns
{
    QString root;
    std::vector<PairBackup> pairs;
    /// The moment the backup as it stands holds: the end of the last run the
    /// share knows of (its lists, or the record a run leaves); invalid when
    /// none is known, or when a run began after it that never ended or left
    /// no list that reads.
    QDateTime lastEnd;

    /// What the moment of \a pair is worked out from; \a present: the mirror
    /// alone, no run undone. Points into this backup.
    History historyOf(const PairBackup& pair, bool present) const;
};

/// Lists a folder tree without following links: a link is an entry of its
/// own (EntryKind::Link), hidden entries are left out but for what a run set
/// aside, and a name no Windows path can carry is passed over. Nothing when
/// \a folder is not a folder (missing, or a link).
std::optional<ListedTree> listTree(const QString& folder);

/// Reads the backup in \a root. The pairs are the newest list's, or, where
/// there is none, those of \a fallback. Fails when \a root cannot be read.
Result<ComputerBackup> readBackup(const QString& root, const BackupPlan& fallback);

} // namespace archivon::restore
