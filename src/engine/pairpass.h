#pragma once

// One pair of a run, from the walk of its source to the end of its pass: what
// the pass needs of the pair lives here, made for the pair and dropped at its
// end, while the run keeps what goes on across the pairs.

#include "engine/copystage.h"
#include "engine/enginerun.h"
#include "engine/pairindex.h"

#include <unordered_map>

namespace archivon {

class PairPass
{
public:
    /// Pair \a N (1 to 4) of \a run.
    PairPass(EngineRun& run, int N);
    PairPass(const PairPass&) = delete;
    PairPass& operator=(const PairPass&) = delete;

    /// The pair from the walk of its source to the end of its pass. False once
    /// the run has ended.
    bool backUp();

private:
    friend class CopyStage;

    // The pair, step by step.
    /// The walk of the pair's source, each folder it finds also handed to \a
    /// feed; nothing when the run stops meanwhile.
    std::optional<TreeScan> walkSource(FolderFeed* feed = nullptr);
    bool roomFor(qint64 need);
    /// The pass itself, once the room is there; false once the run has ended.
    bool pass(const TreeScan& scan, BackupListing& backup, Changes& changes);

    bool destinationLost() const;
    /// A write that failed: listed, and nothing more; or how the pass ends, when
    /// nothing more can be written: the drive is gone, or full (Finished).
    std::optional<PassEnd> writeFailed(const QString& path, const Status& failure);

    // What earlier runs left, for both passes.
    std::optional<PassEnd> sortOutLeftovers(bool& restored);
    std::optional<PassEnd> putBackSetAside(const BackupListing& backup, bool& restored);
    std::optional<PassEnd> removeTemporaries(const BackupListing& backup);
    bool removeLeftover(const QString& path);

    // Earlier versions: what a run removes or replaces is moved, not deleted.
    /// A free name in this run's versions for \a path, an entry of the pair's
    /// backup (or the whole of it); nothing where this pair's versions cannot
    /// be kept, the failure then said once for the pair.
    std::optional<QString> versionPlace(const QString& path);
    /// Moves \a path (a file of \a size, or a \a folder, whole), which the
    /// backup holds as \a as, into this run's versions; false when it stays
    /// where it is, which is said as \a what ("non aggiornato"...): a failure,
    /// or for an \a extra (kNotRemoved) something left over.
    /// A \a leftover is an entry an earlier run left under a hidden name.
    bool keepVersion(const QString& path, const QString& as, bool folder, qint64 size,
                     const QString& what, bool extra = false, bool leftover = false);
    /// Moves \a path, which the backup holds as \a as, to \a place in this
    /// run's versions; where a folder of them went meanwhile, once more to a
    /// new \a place.
    Status moveIntoVersions(const QString& path, const QString& as, QString& place);
    /// A new place for \a as, where the move of \a path into \a place failed
    /// with \a failure because a folder of this run's versions went meanwhile.
    std::optional<QString> placeAgain(const QString& path, const QString& as, const QString& place,
                                      const Status& failure);
    static inline const QString kNotRemoved = QStringLiteral("non eliminato");
    /// A move into the versions that failed for \a path.
    void keepFailed(const QString& path, const QString& what, const Status& failure, bool extra = false);
    void versionsBroken(const QString& reason);
    void countVersion(versions::Count count);
    /// What was set aside for an entry of another kind, now that the new one
    /// is under \a as: kept among the versions, or removed where none are kept.
    void dropSetAside(const QString& aside, const QString& as, bool folder);

    // The run's list.
    /// Notes the update's \a changes before any of them begins; \a
    /// makesFolder: the pair's folder is made too. The hidden names of what
    /// is set aside are chosen here, so that the list can name them.
    void noteUpdate(const TreeScan& scan, const Changes& changes, bool makesFolder);
    /// Notes where \a from (an entry of the pair's backup) goes into this
    /// run's versions, at \a place, before it moves, where that is not its own
    /// place there.
    void notePlace(const QString& from, const QString& place);
    /// \a path, below the pair's destination, as the list names it.
    versions::RelativePath relativeOf(const QString& path) const;
    /// Sets \a path aside for \a change, under the hidden name noted for it.
    Result<QString> setAsideFor(const Change& change, const QString& path, const QString& as = {});

    // The full rewrite.
    PassEnd fullPass(const TreeScan& scan);
    std::optional<PassEnd> makeFreshFolders(const TreeScan& scan, const Changes& plan, const QString& fresh);
    std::optional<PassEnd> copyIntoFresh(const TreeScan& scan, const Changes& plan, const QString& fresh);
    PassEnd swapIn(const TreeScan& scan, const leftovers::Beside& beside, const QString& fresh);
    /// The new copy goes at once, and the old backup stays.
    PassEnd endFull(const TreeScan& scan, const QString& fresh);

    // The update in place.
    /// Lists the backup under the pair's name and compares it with the walk;
    /// nothing when the run stops meanwhile.
    std::optional<Changes> decideUpdate(const TreeScan& scan, BackupListing& backup);
    /// What the update of the pair starts from: whether a folder is under its
    /// name, and what the backup keeps of times and modes.
    struct UpdateStart
    {
        bool present = false;
        platform::Keeps keeps;
    };
    std::optional<UpdateStart> startUpdate();
    PassEnd updatePass(const TreeScan& scan, BackupListing& backup, Changes& changes);
    PassEnd applyChanges(const TreeScan& scan, const Changes& changes);
    std::optional<PassEnd> applyChange(const TreeScan& scan, const Change& change, CopyStage& copies,
                                       std::vector<bool>& usable);
    std::optional<PassEnd> makeFolderFor(const TreeScan& scan, const Change& change, std::vector<bool>& usable);
    std::optional<PassEnd> copyFor(const TreeScan& scan, const Change& change, CopyStage& copies);
    std::optional<PassEnd> fixCase(const TreeScan& scan, const Change& change);
    std::optional<PassEnd> removeExtra(const Change& change);
    std::optional<PassEnd> copyFailed(const platform::ParallelCopy::Ended& e, const Handed& h);

    EngineRun& m_run;
    const int m_N;
    /// As confirmed, its destination without a final separator.
    const BackupPair& m_pair;
    /// What the pair's destination does with names.
    platform::NameRules m_names;
    /// The pair cannot keep versions (its versions folder is on another
    /// drive, or cannot be made): said once, and nothing of it is removed or
    /// replaced.
    bool m_versionsBroken = false;
    /// A folder of this run's versions went while the pair was backed up: said once.
    bool m_versionsVanished = false;
    /// Files moved into the versions and their bytes.
    qint64 m_versioned = 0;
    qint64 m_versionedBytes = 0;
    PairStats m_stats;
    /// The hidden names chosen for the changes that set an entry aside.
    std::unordered_map<const Change*, QString> m_asides;

    // The index of the pair's backup.
    /// The files its index marks damaged, copied again.
    QSet<QString> m_damaged;
    std::optional<PairIndex> m_index;
    /// Reads the old index beside the walk and what the pass decided.
    void startIndex(const TreeScan& scan, const BackupListing* backup, const Changes* changes);
    /// A copy ended whole: its fingerprint, and where the file it replaced went.
    void copyEnded(const platform::ParallelCopy::Ended& e, const Handed& h);
    /// The list's lines of the fingerprints, then the index written, as the
    /// backup under \a backup's listing now is (a full rewrite: none).
    void noteFingerprints();
    void writeIndex(const BackupListing* backup);
    /// This run's dated folder for the pair's versions, and the pair's folder in it.
    std::pair<QString, QString> datedPlace();
};

} // namespace archivon
