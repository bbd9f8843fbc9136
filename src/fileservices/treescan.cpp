#include "fileservices/treescan.h"

#include <utility>

namespace archivon {

namespace {

using platform::DirSearch;

QString withSeparator(const QString& path)
{
    return path.endsWith(QLatin1Char('\\')) ? path : path + QLatin1Char('\\');
}

// True when the folder \a id is \a index or one of its ancestors.
bool isAncestor(const QList<ScannedFolder>& folders, int index, const platform::FileId& id)
{
    for (int k = index; k >= 0; k = folders.at(k).parent) {
        if (folders.at(k).id == id)
            return true;
    }
    return false;
}

} // namespace

TreeScan scanTree(const QStringList& roots, ScanObserver* observer,
                  const std::function<QString(const QString&)>& leftOut)
{
    ScanObserver silent;
    ScanObserver& show = observer ? *observer : silent;
    TreeScan scan;
    for (const QString& root : roots) {
        ScannedFolder folder;
        folder.path = root;
        if (const auto id = platform::fileId(root))
            folder.id = *id;
        scan.folders.append(folder);
        show.folderAdded(scan.folders.back());
    }
    show.started();

    for (qsizetype k = 0; k < scan.folders.size(); ++k) {
        const QString base = withSeparator(scan.folders.at(k).path);
        // An empty entry names no folder: as a path it would be the current one.
        if (!scan.folders.at(k).path.isEmpty()) {
            DirSearch search(base, platform::Directory, true);
            const bool opened = search.ok();
            QList<ScannedFile> files;
            for (QString name = search.next(); !name.isEmpty(); name = search.next()) {
                const DirSearch::Details& details = search.lastDetails();
                if (search.lastAttributes() & platform::Archive) {
                    files.append({name, details.size, details.modifiedNs, details.mode});
                    scan.bytes += details.size;
                    continue;
                }
                if (!(search.lastAttributes() & platform::Directory))
                    continue;
                QString path = base + name;
                path.replace(QLatin1String("\\\\"), QLatin1String("\\"));
                if (isAncestor(scan.folders, int(k), details.id)) {
                    scan.passedOver.append(
                        {path, QStringLiteral("collegamento a una cartella che lo contiene: "
                                              "non copiato")});
                    continue;
                }
                if (details.link && leftOut) {
                    if (const QString reason = leftOut(path); !reason.isEmpty()) {
                        scan.passedOver.append({path, reason});
                        continue;
                    }
                }
                ScannedFolder sub;
                sub.path = path;
                sub.relative = scan.folders.at(k).relative + QLatin1Char('\\') + name;
                sub.parent = int(k);
                sub.id = details.id;
                scan.folders.append(sub);
                show.folderAdded(scan.folders.back());
                show.folderFound(scan.folders.size());
            }
            ScannedFolder& folder = scan.folders[k];
            folder.files = std::move(files);
            folder.files.squeeze(); // kept to the end of the run: not the room it grew into
            show.filesFound(k, folder.files);
            scan.files += folder.files.size();
            if (!search.ok()) {
                folder.listed = opened;
                folder.listing = search.status();
            }
            for (const auto& lost : search.uncarried()) {
                scan.notCarried.append({base + lost.name, lost.reason});
                if (lost.attributes & platform::Directory)
                    show.notListed(base + lost.name, lost.reason);
            }
        }
        scan.visited = k + 1;
        show.folderVisited(k + 1);
        if (show.stopRequested()) {
            scan.stopped = true;
            break;
        }
    }
    show.finished();
    return scan;
}

qint64 Sottocartelle(QStringList& cartelle, QString& Percorso, ScanObserver* observer)
{
    const TreeScan scan = scanTree(cartelle, observer);
    for (qsizetype i = cartelle.size(); i < scan.folders.size(); ++i)
        cartelle.append(scan.folders.at(i).path);
    if (scan.visited > 0)
        Percorso = withSeparator(scan.folders.at(scan.visited - 1).path);
    return scan.stopped ? 0 : scan.files;
}

qint64 Sottocartelle(QStringList& cartelle, ScanObserver* observer)
{
    QString Percorso;
    return Sottocartelle(cartelle, Percorso, observer);
}

} // namespace archivon
