#pragma once

// The inside of a backup run, shared by the engine and its passes.

#include "backup/engine.h"
#include "backup/runlock.h"
#include "backup/runstate.h"
#include "fileservices/treescan.h"
#include "platform/filesystem.h"
#include "platform/removal.h"

#include <QElapsedTimer>

#include <QHash>

#include <atomic>
#include <optional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace archivon {

/// Anything under that name, a link included, whether or not it leads anywhere.
inline bool exists(const QString& path)
{
    return platform::linkAttributes(path).ok();
}

/// Why a source that could not be read keeps its previous copy.
inline QString notUpdated(const QString& reason)
{
    return QStringLiteral("impossibile leggere (%1): non aggiornato, resta la copia precedente").arg(reason);
}

/// What the backup under a pair's name holds, folder by folder of the walk of
/// its source, and what of the source it lacks.
struct BackupSide
{
    struct Entry
    {
        unsigned attributes = 0;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        unsigned mode = 0;
        bool link = false;

        bool isFolder() const { return (attributes & platform::Directory) && !link; }
    };
    struct Folder
    {
        bool present = false; // a folder under that name
        QHash<QString, Entry> entries;
        std::vector<bool> changed; // for each file of the walk: to be copied
    };
    std::vector<Folder> folders;
    /// What a killed run left: its temporary files and the entries it had set
    /// aside whose place is taken, to be removed...
    QStringList temporaries;
    /// ...and entries it had set aside whose place is free, to go back there.
    QList<QPair<QString, QString>> setAside; // (where it is, where it goes)
    qint64 toWrite = 0;
    /// Files to be copied, and those of them that have a copy in the backup.
    qint64 changedFiles = 0;
    qint64 changedWithCopy = 0;
    platform::Keeps keeps;
};

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
    EngineRun(BackupEngine& owner, const BackupPlan& plan, const BackupEngine::Options& options);

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
    friend class PairPass;

    enum class PassEnd { Finished, Stopped, DestinationLost };

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
    /// Another run's live lock on a folder that holds \a destination, if any.
    std::optional<LockOwner> lockedByAnother(const QString& destination) const;
    void endStopped();
    void endNoSpace();
    void endDestinationLost(int N);
    void complete();
    void finish(RunEnd end);

    // Removals of replaced copies, going on beside the next pairs.
    void removeInBackground(const QString& folder);
    bool removalsPending();
    /// Waits for them with "Pulizia..." shown; false when the run stops meanwhile.
    bool waitForRemovals(int N);
    /// Removes a folder and waits, with "Pulizia..." shown. False when stopped.
    bool removeNow(int N, const QString& folder, bool leftIsFailure);
    void stopRemovals();
    void settleRemovals();

    bool destinationLost(int N) const;
    QString leadsIntoBackup(const QString& link) const;
    std::optional<PassEnd> sortOutLeftovers(int N, bool& restored);
    PassEnd fullPass(int N, const TreeScan& scan, PairStats& stats);
    /// A file's copy ended, however it ended: one more file, and maybe more folders, done.
    void fileEnded(FoldersDone& done, qsizetype folder);
    /// Settles the copies that end, with \a settle, until there is room for one more
    /// (with \a all: until every one has ended). A stop abandons them.
    std::optional<PassEnd> waitForCopies(platform::ParallelCopy& copies, bool all,
                                         const std::function<std::optional<PassEnd>()>& settle);
    PassEnd updatePass(int N, const TreeScan& scan, BackupSide& side, PairStats& stats);
    BackupSide compareWithBackup(int N, const TreeScan& scan);

    platform::Gate gate()
    {
        return [this] { return state.proceed(); };
    }

    BackupEngine& m_owner;
    /// The pairs as confirmed, each destination without a final separator.
    BackupPlan m_plan;
    /// The first pair as typed, for the marker.
    const BackupPair m_typedFirstPair;
    const BackupEngine::Options m_options;
    RunLock m_lock;
    std::optional<LockOwner> m_tookOver; // a stale lock this run took over
    /// Pairs whose pass ran to its end.
    int m_pairsDone = 0;
    /// A source drive found not ready, or a null letter.
    QChar m_sourceDriveMissing;
    /// Something on the drives was changed by this run.
    bool m_touched = false;
    int m_failures = 0;
    int m_skipped = 0;
    /// The destinations and the folders that hold them, as host folders.
    std::array<QString, 4> m_destinations;

    struct Removal
    {
        std::unique_ptr<platform::BackgroundRemoval> removal;
    };
    std::vector<Removal> m_removals;

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
