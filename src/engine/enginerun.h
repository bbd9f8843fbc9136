#pragma once

// The inside of a backup run, shared by the engine and its passes.

#include "decision/comparison.h"
#include "engine/engine.h"
#include "decision/leftovers.h"
#include "decision/versioned.h"
#include "lock/runlock.h"
#include "engine/removals.h"
#include "engine/runstate.h"
#include "versions/versions.h"
#include "fileservices/queries.h"
#include "fileservices/treescan.h"
#include "platform/filesystem.h"
#include "platform/removal.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <QHash>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <mutex>
#include <thread>
#include <vector>

namespace archivon {

namespace room {
struct Version;
}

/// The leading folders of the walk whose files have all been handed over and
/// whose copies have all ended: how far "% cartelle" and the list go.
class FoldersDone
{
public:
    explicit FoldersDone(qsizetype folders) : m_pending(folders, 0), m_listed(folders, false) {}
    void handed(qsizetype folder) { ++m_pending[folder]; }
    /// A copy of a file of \a folder ended; returns the leading folders done.
    qsizetype ended(qsizetype folder)
    {
        --m_pending[folder];
        return advance();
    }
    /// Every file of \a folder has been handed over; returns the leading folders done.
    qsizetype listed(qsizetype folder)
    {
        m_listed[folder] = true;
        return advance();
    }

private:
    qsizetype advance()
    {
        while (m_leading < qsizetype(m_listed.size()) && m_listed[m_leading] && m_pending[m_leading] == 0)
            ++m_leading;
        return m_leading;
    }
    std::vector<qint64> m_pending;
    std::vector<bool> m_listed;
    qsizetype m_leading = 0;
};

class EngineRun
{
public:
    EngineRun(BackupEngine& owner, const BackupPlan& plan, const RunOptions& options);

    void run();

    RunState state;
    std::atomic<bool> shutdownAtEnd{false};
    std::atomic<bool> windowClosed{false};
    std::thread thread;
    std::mutex endedMutex;
    std::condition_variable endedChanged;
    bool ended = false;

    RunProgress progress() const;

private:
    enum class PassEnd { Finished, Stopped, DestinationLost };

    /// A copy handed over, until it ends.
    struct Handed
    {
        qsizetype folder = 0;
        QString destination{};
        QString aside{}; // a folder in the file's place, until the file is there
        bool hadCopy = false;
        QString keptAt{}; // where the file it replaces is kept, once the copy is whole
        qint64 keptBytes = 0;
        bool again = false; // copied once more, where its versions folder had gone
    };
    /// How a pass takes a copy that failed, short of a stop: its source could
    /// not be read, or its destination written. Says how the pass ends, when
    /// that ends it.
    using CopyFailed = std::function<std::optional<PassEnd>(const platform::ParallelCopy::Ended&, const Handed&)>;
    /// The copies of a pass, two at a time beside the loop that hands them over,
    /// folder by folder of the walk; a folder is done once every copy of its
    /// files has ended. Both passes copy through it.
    class CopyStage
    {
    public:
        CopyStage(EngineRun& run, int N, qsizetype folders, PairStats& stats, CopyFailed failed);
        /// Abandons the copies still going; an entry set aside goes back unless
        /// its new one is there.
        ~CopyStage();
        CopyStage(const CopyStage&) = delete;
        CopyStage& operator=(const CopyStage&) = delete;
        /// Waits until one more copy can be handed over, while the run goes on.
        std::optional<PassEnd> room();
        std::optional<PassEnd> start(const QString& source, const QString& destination,
                                     const QString& shownAs, const Handed& handed);
        /// Every file of the folders before \a folder has been handed over.
        void handedUpTo(qsizetype folder);
        /// Waits for every copy to end.
        std::optional<PassEnd> finish();
        /// Nothing more can be written: waits for the copies handed over to end by
        /// themselves, each counted, a failure among them no failure of its own.
        /// Stopped when the run stops meanwhile.
        std::optional<PassEnd> drain();
        /// Copies that ended whole over a previous copy.
        qint64 replaced() const { return m_replaced; }

    private:
        std::optional<PassEnd> wait(bool all);
        std::optional<PassEnd> settle();
        bool again(const platform::ParallelCopy::Ended& e, const Handed& h);
        void ended(qsizetype folder);

        EngineRun& m_run;
        const int m_N;
        PairStats& m_stats;
        const CopyFailed m_failed;
        platform::ParallelCopy m_copies;
        QHash<QString, Handed> m_handed; // by source
        FoldersDone m_done;
        const qsizetype m_folders;
        qsizetype m_handedUpTo = 0;
        qint64 m_replaced = 0;
        bool m_draining = false;
        bool m_startedAgain = false; // by the last settle()
    };

    // Reports.
    void report(RunEvent event);
    void phase(int N, Phase phase);
    /// A failure, counting as \a count of them (the files a full disk left out).
    void fail(const QString& path, const QString& reason, qint64 count = 1);
    void passOver(const QString& path, const QString& reason);
    void skip(int N, const QString& source, const QString& reason);
    void notice(const QString& text);

    // The ends of a run.
    /// Takes the lock of the computer's backup folder; false when the run ends there.
    bool takeLock();
    void endStopped();
    void endNoSpace();
    void endDestinationLost(int N);
    void complete();
    void finish(RunEnd end);

    // Removals beside the next pairs.
    /// Waits for them with "Pulizia..." shown; false when the run stops meanwhile.
    bool waitForRemovals(int N);
    /// Removes a folder and waits, with "Pulizia..." shown. False when stopped.
    bool removeNow(int N, const QString& folder, bool leftIsFailure);

    // A pair, step by step.
    void reportStart();
    /// True for a pair left out, its old backup kept.
    bool leftOut(int N);
    /// The walk of pair N's source, each folder it finds also handed to \a
    /// feed; nothing when the run stops meanwhile.
    std::optional<TreeScan> walkSource(int N, FolderFeed* feed = nullptr);
    bool roomFor(int N, qint64 need);
    /// Removes a run folder of the versions to make room for pair N. False
    /// when stopped meanwhile.
    bool removeVersionForRoom(int N, const room::Version& version);
    bool backUpPair(int N);

    bool destinationLost(int N) const;
    /// A write that failed: listed, and nothing more; or how the pass ends, when
    /// nothing more can be written: the drive is gone, or full (Finished).
    std::optional<PassEnd> writeFailed(int N, const QString& path, const Status& failure);

    // Earlier versions.
    /// This run's folder in \a root, by its name; empty while it has none.
    QString currentVersions(const QString& root);
    /// The versions folders of the pairs, each once, their names matched as
    /// their file systems match them.
    QStringList versionRoots();
    /// The folders older than the days set go beside the next pairs.
    void startRetention();
    /// A version folder under its hidden name for removal; nothing, and a failure, when it stays.
    std::optional<QString> hideForRemoval(const QString& folder);
    /// Records the bytes of this run's folders, and tells what the versions hold.
    void closeVersions(RunEnd& end);

    // What earlier runs left, for both passes.
    std::optional<PassEnd> sortOutLeftovers(int N, bool& restored);
    std::optional<PassEnd> putBackSetAside(const BackupListing& backup, bool& restored);
    std::optional<PassEnd> removeTemporaries(int N, const BackupListing& backup);
    bool removeLeftover(int N, const QString& path);

    // Earlier versions: what a run removes or replaces is moved, not deleted.
    bool keepsVersions() const { return m_options.versionDays > 0; }
    /// A free name in this run's versions for \a path, an entry of pair N's
    /// backup (or the whole of it); nothing where this pair's versions cannot
    /// be kept, the failure then said once for the pair.
    std::optional<QString> versionPlace(int N, const QString& path);
    /// Moves \a path (a file of \a size, or a \a folder, whole), which the
    /// backup holds as \a as, into this run's versions; false when it stays
    /// where it is, which is said as \a what ("non aggiornato"...): a failure,
    /// or for an \a extra (kNotRemoved) something left over.
    bool keepVersion(int N, const QString& path, const QString& as, bool folder, qint64 size,
                     const QString& what, bool extra = false);
    /// Moves \a path, which the backup holds as \a as, to \a place in this
    /// run's versions; where a folder of them went meanwhile, once more to a
    /// new \a place.
    Status moveIntoVersions(int N, const QString& path, const QString& as, QString& place);
    /// A new place for \a as, where the move of \a path into \a place failed
    /// with \a failure because a folder of this run's versions went meanwhile.
    std::optional<QString> placeAgain(int N, const QString& path, const QString& as,
                                      const QString& place, const Status& failure);
    static inline const QString kNotRemoved = QStringLiteral("non eliminato");
    /// A move into the versions that failed for \a path.
    void keepFailed(int N, const QString& path, const QString& what, const Status& failure,
                    bool extra = false);
    void versionsBroken(int N, const QString& reason);
    void countVersion(int N, versions::Count count);
    /// What was set aside for an entry of another kind, now that the new one
    /// is under \a as: kept among the versions, or removed where none are kept.
    void dropSetAside(int N, const QString& aside, const QString& as, bool folder);

    // The full rewrite.
    PassEnd fullPass(int N, const TreeScan& scan, PairStats& stats);
    std::optional<PassEnd> makeFreshFolders(int N, const TreeScan& scan, const Changes& plan,
                                            const QString& fresh);
    std::optional<PassEnd> copyIntoFresh(int N, const TreeScan& scan, const Changes& plan,
                                         const QString& fresh, PairStats& stats);
    PassEnd swapIn(int N, const TreeScan& scan, const leftovers::Beside& beside, const QString& fresh);
    /// The new copy goes at once, and the old backup stays.
    PassEnd endFull(int N, const TreeScan& scan, const QString& fresh);

    // The update in place.
    /// Lists the backup under pair N's name and compares it with the walk;
    /// nothing when the run stops meanwhile.
    std::optional<Changes> decideUpdate(int N, const TreeScan& scan, BackupListing& backup);
    /// What the update of pair N starts from: whether a folder is under its
    /// name, and what the backup keeps of times and modes.
    struct UpdateStart
    {
        bool present = false;
        platform::Keeps keeps;
    };
    std::optional<UpdateStart> startUpdate(int N);
    PassEnd updatePass(int N, const TreeScan& scan, BackupListing& backup, Changes& changes, PairStats& stats);
    PassEnd applyChanges(int N, const TreeScan& scan, const Changes& changes, PairStats& stats);
    std::optional<PassEnd> makeFolderFor(int N, const TreeScan& scan, const Change& change,
                                         std::vector<bool>& usable);
    std::optional<PassEnd> copyFor(int N, const TreeScan& scan, const Change& change, CopyStage& copies);
    std::optional<PassEnd> fixCase(int N, const TreeScan& scan, const Change& change);
    std::optional<PassEnd> removeExtra(int N, const Change& change, PairStats& stats);
    std::optional<PassEnd> copyFailed(int N, const platform::ParallelCopy::Ended& e, const Handed& h);

    platform::Gate gate()
    {
        return [this] { return state.proceed(); };
    }

    BackupEngine& m_owner;
    /// The pairs as confirmed, each destination without a final separator.
    BackupPlan m_plan;
    /// The first pair as typed, for the marker.
    const BackupPair m_typedFirstPair;
    const RunOptions m_options;
    RunLock m_lock;
    std::optional<LockOwner> m_tookOver; // a stale lock this run took over
    /// Pairs whose pass ran to its end.
    int m_pairsDone = 0;
    /// A source drive found not ready, or a null letter.
    QChar m_sourceDriveMissing;
    /// Something on the drives was changed by this run.
    bool m_touched = false;
    /// When the run began; its versions are named by it.
    const QDateTime m_start = QDateTime::currentDateTime();
    versions::RunVersions m_versions{m_start};
    /// The pair being backed up cannot keep versions (its versions folder is
    /// on another drive, or cannot be made): said once, and nothing of it is
    /// removed or replaced.
    bool m_versionsBroken = false;
    /// A folder of this run's versions went while the pair was backed up: said once.
    bool m_versionsVanished = false;
    /// Of the pair being backed up, files moved into the versions and their bytes.
    qint64 m_versioned = 0;
    qint64 m_versionedBytes = 0;
    /// What the destination of the pair being backed up does with names.
    platform::NameRules m_names;
    int m_failures = 0;
    int m_skipped = 0;
    /// The destinations and the folders that hold them, as host folders.
    std::array<QString, 4> m_destinations;

    /// Removals of replaced copies, going on beside the next pairs.
    Removals m_removals{gate(), [this](const QString& path, const QString& reason) { fail(path, reason); }};

    /// The run folders this run removed, by versions root.
    QHash<QString, VersionsKept> m_versionsGone;

    mutable std::mutex m_progressMutex;
    RunProgress m_progress;
    const platform::ParallelCopy* m_copies = nullptr; // under m_progressMutex

    void updateProgress(const std::function<void(RunProgress&)>& change)
    {
        const std::lock_guard lock(m_progressMutex);
        change(m_progress);
    }
    void showCopies(const platform::ParallelCopy* copies)
    {
        const std::lock_guard lock(m_progressMutex);
        m_copies = copies;
    }
};

} // namespace archivon
