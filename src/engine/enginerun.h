#pragma once

// The inside of a backup run: what goes on across its pairs. Each pair's pass
// is a PairPass of its own (pairpass.h).

#include "decision/comparison.h"
#include "engine/engine.h"
#include "decision/leftovers.h"
#include "decision/versioned.h"
#include "lock/runlock.h"
#include "engine/progressboard.h"
#include "engine/removals.h"
#include "engine/runstate.h"
#include "versions/runlist.h"
#include "versions/versions.h"
#include "fileservices/queries.h"
#include "fileservices/treescan.h"
#include "platform/filesystem.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <QHash>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace archivon {

namespace room {
struct Version;
}

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

    RunProgress progress() const { return m_progress.sample(); }

private:
    friend class PairPass;
    friend class CopyStage;

    // Reports.
    void report(RunEvent event);
    void reportStart();
    void phase(int N, Phase phase);
    /// A failure, counting as \a count of them (the files a full disk left out).
    void fail(const QString& path, const QString& reason, qint64 count = 1);
    void passOver(const QString& path, const QString& reason);
    void skip(int N, const QString& source, const QString& reason);
    void notice(const QString& text);

    // Before anything is written.
    /// Takes the lock of the computer's backup folder; false when the run ends there.
    bool takeLock();
    /// True for a pair left out, its old backup kept.
    bool leftOut(int N);

    // The ends of a run.
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

    // Earlier versions.
    bool keepsVersions() const { return m_options.versionDays > 0; }
    /// This run's folder in \a root, by its name; empty while it has none.
    QString currentVersions(const QString& root);
    /// The versions folders of the pairs, each once, their names matched as
    /// their file systems match them.
    QStringList versionRoots();
    /// The folders older than the days set go beside the next pairs.
    void startRetention();
    /// A version folder under its hidden name for removal; nothing, and a failure, when it stays.
    std::optional<QString> hideForRemoval(const QString& folder);
    /// Removes a run folder of the versions to make room for pair N. False
    /// when stopped meanwhile.
    bool removeVersionForRoom(int N, const room::Version& version);
    /// Records the bytes of this run's folders, and tells what the versions hold.
    void closeVersions(RunEnd& end);

    // The run's list, for a restore.
    /// Writes \a block before the changes it names begin, and the list's
    /// header before the first of them. Where nothing is kept to go back to,
    /// the header alone, which no restore goes past. A list that cannot be
    /// written goes, and the run goes on without one.
    void note(const versions::RunBlock& block);
    bool startList();
    void dropList(const QString& reason);
    void endList(const RunEnd& end);

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
    /// The destinations and the folders that hold them, as host folders.
    std::array<QString, 4> m_destinations;
    RunLock m_lock;
    std::optional<LockOwner> m_tookOver; // a stale lock this run took over

    // What the end tells.
    /// Pairs whose pass ran to its end.
    int m_pairsDone = 0;
    int m_failures = 0;
    int m_skipped = 0;
    /// A source drive found not ready, or a null letter.
    QChar m_sourceDriveMissing;
    /// Something on the drives was changed by this run.
    bool m_touched = false;

    /// When the run began; its versions are named by it.
    const QDateTime m_start = QDateTime::currentDateTime();
    versions::RunVersions m_versions{m_start};
    /// The run folders this run removed, by versions root.
    QHash<QString, VersionsKept> m_versionsGone;

    /// The newest list on the share when the run began, for the chain of lists.
    QString m_previousList;
    std::optional<versions::RunListWriter> m_list;
    bool m_listDropped = false;
    /// What the list's summary counts: files added and replaced, entries removed.
    qint64 m_added = 0;
    qint64 m_replaced = 0;
    qint64 m_removed = 0;

    /// Removals of replaced copies, going on beside the next pairs.
    Removals m_removals{gate(), [this](const QString& path, const QString& reason) { fail(path, reason); }};
    ProgressBoard m_progress;
};

} // namespace archivon
