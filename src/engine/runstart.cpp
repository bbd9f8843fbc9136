// What a run settles before it writes: the lock of the computer's backup
// folder, and which pairs it leaves out.

#include "engine/enginerun.h"
#include "plan/checks.h"

#include "fileservices/queries.h"

namespace archivon {

using namespace platform;

// One run of a computer's backup at a time: the evening timer and someone at
// the computer may start one together.
bool EngineRun::takeLock()
{
    const QString root = m_plan.backupRoot();
    // The window and the unattended run make the backup folder first; a plan
    // of other folders may not have it yet.
    if (!exists(root)) {
        if (!exists(kSiteFolder))
            (void)makeFolder(kSiteFolder);
        (void)makeFolder(root);
    }
    // A check reading the backup gives way to it: it is asked to, and waited for.
    const RunLock::Outcome taken = m_lock.acquireForBackup(root, m_plan.computer, m_plan.user,
                                                           QDateTime::currentDateTime(),
                                                           [this] { return !state.stopRequested(); });
    if (taken.result == RunLock::Result::Taken) {
        m_tookOver = taken.other;
        return true;
    }
    RunEnd end;
    end.outcome = RunOutcome::Refused;
    if (taken.result == RunLock::Result::Held) {
        end.reason = RunEnd::Reason::Locked;
        end.message = lockedMessage(taken.other.value_or(LockOwner{}));
    } else {
        end.reason = RunEnd::Reason::Refused;
        end.message = QStringLiteral("Impossibile riservare la cartella %1 per il backup (%2): "
                                     "backup non avviato.")
                          .arg(root, taken.error);
    }
    end.status = end.message;
    finish(end);
    return false;
}

// A pair whose source is not there or cannot be read, or whose destination
// another run is writing into, is left out, and its old backup stays.
bool EngineRun::leftOut(int N)
{
    const BackupPair& pair = m_plan.pairs[N - 1];
    const auto holder = liveLockAbove(pair.destination, m_lock.token());
    const auto out = whyLeftOut(pair, holder ? std::optional(holder->host) : std::nullopt);
    if (!out)
        return false;
    if (!out->driveMissing.isNull())
        m_sourceDriveMissing = out->driveMissing;
    if (out->failure)
        fail(out->path, out->reason);
    else
        skip(N, out->path, out->reason);
    return true;
}

} // namespace archivon
