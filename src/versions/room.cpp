#include "versions/room.h"

#include "versions/retention.h"
#include "lock/runlock.h"
#include "versions/versions.h"
#include "platform/drives.h"
#include "platform/filesystem.h"

#include <algorithm>
#include <optional>

namespace archivon::room {

using namespace platform;

QString Version::path() const
{
    return joinPath(root, name);
}

QList<Version> versionsFor(const QStringList& roots, const QString& destination,
                           const std::function<QString(const QString&)>& current,
                           const QString& ownToken, const QDateTime& now)
{
    QList<Version> oldest;
    const auto drive = resolve(destination);
    if (!drive)
        return oldest;
    for (const QString& root : roots) {
        const auto where = resolve(root);
        if (!where || where->drive != drive->drive || liveLockAbove(root, ownToken))
            continue;
        for (const QString& name : retention::runFolders(retention::listRoot(root).names, current(root), now))
            oldest.append({*versions::startOf(name), root, name, retention::recordedBytes(joinPath(root, name))});
    }
    std::stable_sort(oldest.begin(), oldest.end(),
                     [](const Version& a, const Version& b) { return a.start < b.start; });
    return oldest;
}

Step next(qint64 need, qint64 free, bool removalsPending, bool versionsLeft)
{
    if (free == kFreeSpaceUnknown || free >= need)
        return Step::Enough;
    if (removalsPending)
        return Step::WaitForRemovals;
    return versionsLeft ? Step::RemoveVersion : Step::NoRoom;
}

Foreseen foresee(qint64 need, qint64 measured, Drive& drive,
                 const std::function<QList<Version>()>& versions)
{
    Foreseen f;
    f.free = measured == kFreeSpaceUnknown ? measured
                                           : std::max<qint64>(0, measured - drive.written) + drive.freed;
    std::optional<QList<Version>> left;
    for (;;) {
        if (!left && f.free < need && !drive.pending.any) {
            left = versions();
            left->removeIf([&](const Version& v) { return drive.versionsGone.contains(v.path()); });
        }
        switch (next(need, f.free, drive.pending.any, left && !left->isEmpty())) {
        case Step::WaitForRemovals: {
            f.waits = true;
            f.uncertain = f.uncertain || drive.pending.unknown;
            const qint64 freed = waitFor(drive.pending);
            f.free += freed;
            drive.freed += freed;
            break;
        }
        case Step::RemoveVersion: {
            const Version v = left->takeFirst();
            f.versionsRemoved << v;
            drive.versionsGone << v.path();
            f.uncertain = f.uncertain || v.bytes < 0;
            f.free += std::max<qint64>(v.bytes, 0);
            drive.freed += std::max<qint64>(v.bytes, 0);
            break;
        }
        case Step::NoRoom:
            f.enough = false;
            return f;
        case Step::Enough:
            return f;
        }
    }
}

} // namespace archivon::room
