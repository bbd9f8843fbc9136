#include "versions/room.h"

#include "versions/retention.h"
#include "lock/runlock.h"
#include "versions/versions.h"
#include "platform/drives.h"
#include "platform/filesystem.h"

#include <algorithm>

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

} // namespace archivon::room
