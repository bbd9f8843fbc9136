#include "plan/layout.h"

#include "platform/drives.h"
#include "platform/filesystem.h"

namespace archivon {

using namespace platform;

bool isRunLockName(const QString& name)
{
    return name.startsWith(kRunLockName) || name.startsWith(kLockClockPrefix);
}

QString versions::computerRoot(const QString& backupRoot)
{
    const auto home = resolve(backupRoot);
    return home ? joinPath(home->toString(), kFolderName) : QString();
}

QString versions::rootFor(const QString& destination, const QString& backupRoot)
{
    const auto where = resolve(destination);
    const auto home = resolve(backupRoot);
    if (!where || where->components.isEmpty())
        return {};
    if (home && !home->components.isEmpty() && where->drive == home->drive &&
        where->components.size() > home->components.size()) {
        bool inside = true;
        for (qsizetype i = 0; i < home->components.size() && inside; ++i)
            inside = where->components.at(i).compare(home->components.at(i), Qt::CaseInsensitive) == 0;
        if (inside)
            return computerRoot(backupRoot);
    }
    DrivePath parent = *where;
    parent.components.removeLast();
    return joinPath(parent.toString(), kFolderName);
}

} // namespace archivon
