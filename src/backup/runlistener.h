#pragma once

#include <QString>

namespace archivon {

/// How a started backup run ended.
enum class RunOutcome {
    /// Refused before anything on the drives changed: a pair that fails the
    /// checks, a drive not ready, No to the question, no room for the first pair.
    Refused,
    /// Every pair was walked; failures may still have been recorded.
    Completed,
    /// Ended after something had changed: a stop, the window closed, no room
    /// or no drive at a later pair.
    EndedEarly,
};

/// What a run ended with, for whoever keeps its record.
struct RunEnd
{
    RunOutcome outcome = RunOutcome::Refused;
    /// The last status line (or the message that refused the run).
    QString status;
    int failures = 0;
    int skipped = 0;
    bool stoppedByUser = false;
    bool windowClosed = false;
    bool markerWritten = false;
    /// Why the marker could not be written; empty when it was, or was not due.
    QString markerError;
    bool shutdownRequested = false;
};

/// Follows a backup run step by step: the run log listens, and so can tests.
/// Every call has an empty default.
class RunListener
{
public:
    virtual ~RunListener() = default;
    /// A confirmed run starts; \a backupRoot is "R:\BKPQORL\<computer>_<user>".
    virtual void runStarted([[maybe_unused]] const QString& backupRoot) {}
    virtual void pairStarted([[maybe_unused]] int N, [[maybe_unused]] const QString& source,
                             [[maybe_unused]] const QString& destination)
    {
    }
    /// A pair's pass ran to its end: what it copied and how long it took.
    virtual void pairFinished([[maybe_unused]] int N, [[maybe_unused]] qint64 files,
                              [[maybe_unused]] qint64 folders, [[maybe_unused]] qint64 bytes,
                              [[maybe_unused]] qint64 milliseconds)
    {
    }
    /// A pair left alone, its old backup kept (its source is missing).
    virtual void pairSkipped([[maybe_unused]] int N, [[maybe_unused]] const QString& source,
                             [[maybe_unused]] const QString& reason)
    {
    }
    /// Something not copied, not made, not removed, or not readable.
    virtual void failure([[maybe_unused]] const QString& path,
                         [[maybe_unused]] const QString& reason)
    {
    }
    /// The run is over, however it ended. Also called for a start refused by
    /// the checks, with no runStarted before it.
    virtual void runEnded([[maybe_unused]] const RunEnd& end) {}
};

} // namespace archivon
