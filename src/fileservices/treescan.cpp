#include "fileservices/treescan.h"

#include "platform/filesystem.h"
#include "platform/yield.h"

#include <set>
#include <utility>

namespace archivon {

namespace {

using platform::FileId;

bool isDotName(const QString& name)
{
    return name == QLatin1String(".") || name == QLatin1String("..");
}

// Appends the subfolders of one folder (given with its trailing backslash) in
// the order the file system lists them.
void appendSubfolders(const QString& Percorso, QStringList& cartelle, qint64& n,
                      std::set<FileId>& seen, ScanObserver& show)
{
    platform::DirSearch search(Percorso, platform::Directory);
    for (QString name = search.next(); !name.isEmpty(); name = search.next()) {
        if (isDotName(name))
            continue;
        if (!(search.lastAttributes() & platform::Directory))
            continue;
        QString folder = Percorso + name;
        if (const auto id = platform::fileId(folder); id && !seen.insert(*id).second)
            continue;
        folder.replace(QLatin1String("\\\\"), QLatin1String("\\"));
        cartelle.append(folder);
        ++n;
        show.folderFound(n);
    }
    for (const auto& lost : search.uncarried()) {
        if (lost.attributes & platform::Directory)
            show.notListed(Percorso + lost.name, lost.reason);
    }
}

} // namespace

qint64 Sottocartelle(QStringList& cartelle, QString& Percorso, ScanObserver* observer)
{
    ScanObserver silent;
    ScanObserver& show = observer ? *observer : silent;

    qint64 n = cartelle.size();
    show.started();
    qint64 k = 0;

    // The list alone would follow a symlink cycle for ever, so folders are
    // also remembered by identity: each one is listed once, under the first
    // path that reached it. A folder whose identity cannot be read is listed
    // anyway; walking it then finds nothing.
    std::set<FileId> seen;
    for (const QString& entry : std::as_const(cartelle)) {
        if (const auto id = platform::fileId(entry))
            seen.insert(*id);
    }

    while (k != n) {
        Percorso = cartelle.at(k);
        if (!Percorso.endsWith(QLatin1Char('\\')))
            Percorso += QLatin1Char('\\');
        // An empty entry names no folder: as a path it would be the current one.
        if (!cartelle.at(k).isEmpty())
            appendSubfolders(Percorso, cartelle, n, seen, show);
        ++k;
        show.folderVisited(k);
        platform::yield();
        if (show.stopRequested()) {
            show.finished();
            return 0;
        }
    }

    // Counted in a pass of its own, so that two searches are never open at once.
    qint64 NumeroFile = 0;
    for (const QString& entry : std::as_const(cartelle)) {
        if (entry.isEmpty())
            continue;
        platform::DirSearch files(entry + QLatin1String("\\*.*"), 0);
        while (!files.next().isEmpty())
            ++NumeroFile;
    }
    show.finished();
    return NumeroFile;
}

qint64 Sottocartelle(QStringList& cartelle, ScanObserver* observer)
{
    QString Percorso;
    return Sottocartelle(cartelle, Percorso, observer);
}

} // namespace archivon
