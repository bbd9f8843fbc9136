#pragma once

// The inside of a backup run, shared by the engine and its passes.

#include "backup/engine.h"
#include "backup/runstate.h"
#include "fileservices/treescan.h"
#include "platform/filesystem.h"
#include "platform/removal.h"

#include <QElapsedTimer>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace archivon {

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
    void fail(const QString& path, const QString& reason);
    void passOver(const QString& path, const QString& reason);
    void skip(int N, const QString& source, const QString& reason);

    // The ends of a run.
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
    PassEnd fullPass(int N, const TreeScan& scan, PairStats& stats);

    platform::Gate gate()
    {
        return [this] { return state.proceed(); };
    }

    BackupEngine& m_owner;
    const BackupPlan m_plan;
    const BackupEngine::Options m_options;
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
