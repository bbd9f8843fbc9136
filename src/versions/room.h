#pragma once

// The room a pair needs on its destination's drive, and where more comes from
// when it is short: the removals of old copies still going, then the oldest
// earlier versions. The run and its forecast take these steps the same way; the
// run measures the drive after each, the forecast adds what each should free.

#include <QStringList>

#include <QDateTime>
#include <QList>
#include <QString>

#include <algorithm>
#include <functional>
#include <utility>

namespace archivon::room {

/// A run folder of earlier versions that may go to make room.
struct Version
{
    QDateTime start;
    QString root; // its versions folder
    QString name;
    qint64 bytes = -1; // as recorded when its run ended; -1: no record
    QString path() const;
};

/// The run folders of the versions folders \a roots that lie on the drive of
/// \a destination, oldest first: never the folder \a current gives for its
/// root (the run's own), nor one in a folder another live run holds (\a
/// ownToken: the caller's lock, empty for none). Reads only.
QList<Version> versionsFor(const QStringList& roots, const QString& destination,
                           const std::function<QString(const QString& root)>& current,
                           const QString& ownToken, const QDateTime& now);

/// The removals going on beside the next pairs on one drive, as the forecast
/// counts them: what they free is the bytes recorded for a versions folder,
/// the size of an old copy; nothing records what one an earlier run began frees.
struct Pending
{
    qint64 bytes = 0;
    bool any = false;
    bool unknown = false; // one of them frees what nothing records

    /// One more removal, freeing \a freed bytes; -1 where they are not recorded.
    void add(qint64 freed)
    {
        bytes += std::max<qint64>(freed, 0);
        any = true;
        unknown = unknown || freed < 0;
    }
};

/// What waiting for \a pending gives back; none are pending after it.
inline qint64 waitFor(Pending& pending)
{
    return std::exchange(pending, {}).bytes;
}

enum class Step {
    Enough,          // the pair goes ahead
    WaitForRemovals, // old copies are still being removed: their room comes back first
    RemoveVersion,   // the oldest earlier version left goes
    NoRoom,          // the run ends here
};

/// One drive as a forecast follows it through a run: what the pairs before
/// wrote, the removals they left going, what was freed, the versions removed.
struct Drive
{
    qint64 written = 0;
    qint64 freed = 0;
    Pending pending;
    QStringList versionsGone;
};

/// The room of one pair, as the forecast expects the run to find it.
struct Foreseen
{
    qint64 free = 0;
    bool waits = false;              // for the removals still going
    QList<Version> versionsRemoved{}; // oldest first
    bool uncertain = false;          // one of them frees what nothing records
    bool enough = true;
};

/// Takes the steps of next() for a pair that needs \a need bytes, with
/// \a measured bytes free now (kFreeSpaceUnknown), on a \a drive the earlier
/// pairs left: what they wrote is gone; removals they left going give their
/// room back once waited for; then the oldest earlier versions, listed by
/// \a versions once needed, go, each freeing what its record says.
Foreseen foresee(qint64 need, qint64 measured, Drive& drive,
                 const std::function<QList<Version>()>& versions);

/// What a pair that needs \a need bytes does next, with \a free bytes free
/// (kFreeSpaceUnknown never counts as short), removals still going or not,
/// and earlier versions left to remove or not.
Step next(qint64 need, qint64 free, bool removalsPending, bool versionsLeft);

} // namespace archivon::room
