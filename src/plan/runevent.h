#pragma once

#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

namespace archivon {

/// How a started backup run ended, for its exit status.
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

/// A run that ends before its last pair (no room, no drive): refused while
/// nothing on the drives has changed, ended early once something has.
inline RunOutcome earlyEnd(bool touched)
{
    return touched ? RunOutcome::EndedEarly : RunOutcome::Refused;
}

/// The exit status of an unattended run, and of its forecast: 0 completed,
/// 1 completed with failures, 2 refused, 3 ended early.
inline int exitStatusFor(RunOutcome outcome, int failures)
{
    switch (outcome) {
    case RunOutcome::Refused:
        return 2;
    case RunOutcome::Completed:
        return failures == 0 ? 0 : 1;
    case RunOutcome::EndedEarly:
        return 3;
    }
    return 3;
}

/// What a folder of earlier versions holds once a run has ended, and what the
/// run removed from it.
struct VersionsKept
{
    QString root;
    /// Run folders kept, and the bytes of those whose bytes are recorded.
    int folders = 0;
    qint64 bytes = 0;
    /// Kept folders with no record of their bytes.
    int unrecorded = 0;
    /// Names of the run folders removed for their age, and for the room a pair needed.
    QStringList removedByAge{};
    QStringList removedForSpace{};
};

/// How far back a restore of the computer's backup can go, as a run found it
/// once its own list was closed.
struct RestoreReach
{
    enum class Kind {
        Unknown,     ///< not worked out: the run did not hold the folder, or an older record
        OnlyPresent, ///< only the backup as it stands
        Since,       ///< from \c since on: the end of a run, or the start of the first the lists know
    };
    Kind kind = Kind::Unknown;
    QDateTime since{};
};

/// What a run ended with.
struct RunEnd
{
    /// Locked: another run of the same computer's backup holds its lock.
    enum class Reason { Completed, Refused, Stopped, NoSpace, DestinationLost, Locked };
    RunOutcome outcome = RunOutcome::Refused;
    Reason reason = Reason::Refused;
    /// The last status line (or the message that refused the run).
    QString status{};
    /// What a box tells the user of this end; empty when nothing is told.
    QString message{};
    int failures = 0;
    int skipped = 0;
    bool stoppedByUser = false;
    bool windowClosed = false;
    bool markerWritten = false;
    /// Why the marker could not be written; empty when it was, or was not due.
    QString markerError{};
    /// Decided when the run completed: the caller asks for it once the record is written.
    bool shutdownRequested = false;
    /// The days earlier versions are kept, and each folder of them the run
    /// could read at its end.
    int versionDays = 0;
    QList<VersionsKept> versions{};
    /// How far back the backup can be given back once the run has ended.
    RestoreReach reach{};
};

inline int exitStatusFor(const RunEnd& end)
{
    return exitStatusFor(end.outcome, end.failures);
}

/// The step a pair is at, as the status line names it.
enum class Phase {
    /// "Analisi in corso...": the source is walked and measured.
    Scanning,
    /// "Pulizia cartella di destinazione in corso...": the run waits on a removal.
    Cleaning,
    /// "Creazione cartella in corso in corso...": the folder the copy goes into is made.
    Creating,
    /// The folders of the source are made under it.
    MakingFolders,
    /// The files are copied.
    Copying,
};

/// What a pair's pass did.
struct PairStats
{
    qint64 copied = 0;
    qint64 replaced = 0; // of those copied, over a previous copy
    qint64 unchanged = 0;
    qint64 removed = 0;
    qint64 folders = 0;
    qint64 bytes = 0; // written
    qint64 versioned = 0;      // files moved into the run's earlier versions
    qint64 versionedBytes = 0; // and their bytes
    qint64 milliseconds = 0;
};

/// One report of a run, delivered in the order things happened. Reports that
/// must not be lost are events; how far the copy has got is sampled instead
/// (RunProgress).
struct RunEvent
{
    enum class Kind {
        RunStarted,  // path: the backup folder, detail: the kind of copy,
                     // folders: the computer and the user
        PairSkipped, // pair, path: its source, detail: why (its old backup stays)
        Phase,       // pair, phase, path: the pair's source
        Scanned,     // pair, folders (the source first), count: files, bytes: their size
        Measured,    // pair, bytes: to be written, count: free space (-1 unknown)
        PairStarted, // pair, path: source, detail: destination
        Failure,     // path, detail: why it was not done
        PassedOver,  // path, detail: why it was left out or left there; not a failure
        PairFinished, // pair, stats
        Notice,      // detail: something the record tells, neither a failure nor a step
        RunEnded,    // end
    };
    Kind kind = Kind::RunStarted;
    int pair = 0;
    Phase phase = Phase::Scanning;
    QString path{};
    QString detail{};
    QStringList folders{};
    qint64 count = 0;
    qint64 bytes = 0;
    PairStats stats{};
    RunEnd end{};
};

/// How far a run has got at one moment; a view samples it as often as it
/// paints.
struct RunProgress
{
    int pair = 0;
    /// The walk: folders known so far, and walked.
    qint64 foldersKnown = 0;
    qint64 foldersVisited = 0;
    /// Folders made under the destination (the source's own first).
    qint64 foldersMade = 0;
    /// Files whose copy has ended, however it ended, or that needed none.
    qint64 filesEnded = 0;
    /// Leading folders of the walk all of whose files have ended.
    qint64 foldersDone = 0;
    /// Unchanged files are being passed over, and nothing is being copied.
    bool passingOver = false;
    struct Copy
    {
        QString source;
        QString destination;
        qint64 size = 0;
        qint64 written = 0;
        quint64 serial = 0;
    };
    /// The copies being written at this moment, oldest first.
    QList<Copy> copying{};
};

} // namespace archivon

Q_DECLARE_METATYPE(archivon::RunEvent)
