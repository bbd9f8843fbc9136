#pragma once

#include "plan/layout.h"
#include "platform/result.h"

#include <QDateTime>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace archivon {

/// What the run holding a computer's backup folder does.
enum class LockKind { Backup, Restore, Check };

/// Who holds a computer's backup folder, as its lock records it.
struct LockOwner
{
    /// A lock written before the kind was recorded is a backup's.
    LockKind kind = LockKind::Backup;
    QString computer;
    QString user;
    QString host;
    QString bootId;
    qint64 pid = 0;
    quint64 processStart = 0; // with the id, names one process of that boot
    QDateTime started;        // the start of the run that holds it
    QString token;            // the run's own
    /// The holder's last sign of life, in the share's own time (ns since the
    /// epoch): the time of its heartbeat, or of the lock itself before the first.
    qint64 heartbeatNs = 0;
    /// The lock folder is there but says nothing yet (it is being made, or
    /// its maker was killed before it could write).
    bool unnamed = false;
};

/// A lock as another run, or the overview, finds it.
enum class LockState { Live, Stale };

/// The lock of one run on a computer's backup folder, "R:\BKPQORL\<computer>_<user>":
/// a hidden folder made with mkdir, which excludes even across two mounts of one
/// share (an exclusive create of a file does not). Inside it the holder writes
/// who it is and, every minute while the run lasts, a heartbeat.
///
/// A lock of this machine is stale when it was made in another boot, its
/// process is gone, or it is this process's and none of its runs holds it; any
/// lock, once its heartbeat is older than kStaleAfterSeconds by the share's
/// clock. A stale lock is taken over without a race: renamed aside (only one
/// run can), its token checked, then made anew. A lock that its run could not
/// remove at the end (R: gone) is tried again every minute while the process lives.
class RunLock
{
public:
    static inline const QString& kName = kRunLockName;
    static constexpr int kHeartbeatSeconds = 60;
    static constexpr int kStaleAfterSeconds = 10 * 60;

    enum class Result { Taken, Held, Failed };
    struct Outcome
    {
        Result result = Result::Failed;
        /// Held: who holds it. Taken: the stale holder taken over, if any.
        std::optional<LockOwner> other;
        QString error; // Failed: why
    };

    RunLock() = default;
    /// Lets the lock go if it is still held.
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    /// Takes the lock of \a backupRoot for a run of \a computer and \a user that
    /// started at \a started; while taken, a heartbeat keeps it fresh.
    Outcome acquire(const QString& backupRoot, const QString& computer, const QString& user,
                    const QDateTime& started, LockKind kind = LockKind::Backup);
    /// A backup's acquire(): a check that holds the folder is asked to give
    /// way (askToGiveWay()), and the lock is tried again until it is let go,
    /// for up to kGiveWaySeconds and while \a keepWaiting says yes. Any other
    /// holder refuses at once, as acquire() does.
    Outcome acquireForBackup(const QString& backupRoot, const QString& computer, const QString& user,
                             const QDateTime& started, const std::function<bool()>& keepWaiting = {});
    static constexpr int kGiveWaySeconds = 60;

    /// For a check that holds the lock: whether a backup has asked for the folder.
    bool askedToGiveWay() const;
    /// Removes the lock, if it is still this run's.
    void release();

    bool held() const { return !m_token.isEmpty(); }
    QString token() const { return m_token; }
    /// Rewrites the heartbeat now (the thread does it every kHeartbeatSeconds).
    void beat();
    /// Ends the retries of locks that ended runs could not let go of; called
    /// as the program ends, while everything they use is still there.
    static void stopRetrying();

private:
    void beatUntilReleased();

    QString m_root;
    QString m_token;
    std::thread m_beats;
    std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_releasing = false;
    quint64 m_beatCount = 0;
};

/// The path of the lock of a computer's backup folder.
QString runLockPath(const QString& backupRoot);

/// Asks the check that holds the lock of \a backupRoot to let the folder go:
/// a file "cedere" in its lock folder, which the check looks for as it reads
/// and which goes with the lock. Nothing is asked of a lock that is not a check's.
Status askToGiveWay(const QString& backupRoot);

/// Reads the lock of \a backupRoot without writing anything; nothing when there is none.
std::optional<LockOwner> readRunLock(const QString& backupRoot);

/// Whether a lock is still held, judged on this machine (its boot and its
/// processes) and, for another machine's lock, by its heartbeat against \a nowNs
/// (the share's time where it can be had).
LockState judgeRunLock(const LockOwner& owner, qint64 nowNs);

/// Another run's live lock on \a destination or a folder above it, judged by
/// this machine's clock; \a ownToken is the caller's own lock, which is never
/// another's (empty: the caller holds none). Reads only.
std::optional<LockOwner> liveLockAbove(const QString& destination, const QString& ownToken);

/// The message that refuses a run of kind \a refused while another holds the lock.
QString lockedMessage(const LockOwner& owner, LockKind refused = LockKind::Backup);

/// "backup", "ripristino", "verifica": the holder's kind, as the lock and the texts name it.
QString lockKindName(LockKind kind);

} // namespace archivon
