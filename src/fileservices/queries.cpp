#include "fileservices/queries.h"

#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/filesystem.h"

#include <cerrno>
#include <set>

namespace archivon {

using namespace platform;

bool FileEsistente(const QString& nomefile)
{
    return !nomefile.isEmpty() && anyMatch(nomefile, ReadOnly | Hidden | System);
}

bool CartellaEsistente(const QString& NomeDir)
{
    return !NomeDir.isEmpty() && anyMatch(NomeDir, ReadOnly | Hidden | System | Directory);
}

Result<qint64> Dimensionefile(const QString& nomefile) { return fileLength(nomefile); }

Result<qint64> ShowFreeSpace(const QString& drvPath)
{
    if (drvPath.size() < 2 || drvPath.at(1) != QLatin1Char(':') || !drvPath.at(0).isLetter())
        return Result<qint64>::failure(driveNotReady());
    return freeSpace(drvPath.at(0));
}

Result<qint64> ShowFolderInfo(const QString& NomeDir)
{
    const auto rootAttrs = attributes(NomeDir);
    if (!rootAttrs)
        return Result<qint64>::failure(rootAttrs.status());
    if (!(*rootAttrs & Directory))
        return Result<qint64>::fromErrno(ENOTDIR);

    // What cannot be read inside the folder adds nothing: the size is that of
    // what a backup of it can copy. Only the folder itself must be readable.
    std::set<FileId> seen;
    QStringList pending{NomeDir};
    qint64 total = 0;
    for (bool top = true; !pending.isEmpty(); top = false) {
        const QString folder = pending.takeLast();
        const auto id = fileId(folder);
        if (id && !seen.insert(*id).second)
            continue; // met before, through a symlink
        DirSearch search(joinPath(folder, QStringLiteral("*.*")),
                         ReadOnly | Hidden | System | Directory | Archive);
        if (top && !search.ok())
            return Result<qint64>::failure(search.status());
        for (QString name = search.next(); !name.isEmpty(); name = search.next()) {
            const QString path = joinPath(folder, name);
            const unsigned attrs = search.lastAttributes();
            if (attrs & Directory)
                pending << path;
            else if (attrs & Archive)
                total += fileLength(path).valueOr(0);
        }
    }
    return total;
}

std::pair<qint64, qint64> filesUnder(const QString& folder)
{
    std::pair<qint64, qint64> count;
    DirSearch search(joinPath(folder, QStringLiteral("*.*")), Hidden | System | Directory, true);
    for (QString name = search.next(); !name.isEmpty(); name = search.next()) {
        if (search.lastAttributes() & Directory && !search.lastDetails().link) {
            const auto [files, bytes] = filesUnder(joinPath(folder, name));
            count.first += files;
            count.second += bytes;
        } else {
            ++count.first;
            count.second += search.lastDetails().size;
        }
    }
    return count;
}

} // namespace archivon
