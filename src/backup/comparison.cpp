#include "backup/comparison.h"

#include <QSet>

#include <algorithm>

namespace archivon {

using namespace platform;

namespace {

qint64 cut(qint64 ns, qint64 step)
{
    return ns - ns % step;
}

// The same file on both sides: a regular file of the same size and time, and
// the same permission bits where the backup keeps them. The time is compared
// to the step the backup keeps, and never more loosely than two seconds.
bool unchanged(const ScannedFile& file, const BackupListing::Entry& entry, const Keeps& keeps)
{
    if (!(entry.attributes & Archive) || entry.link || entry.size != file.size)
        return false;
    const qint64 step = std::min<qint64>(keeps.timeStepNs, 2000000000);
    if (cut(file.modifiedNs, step) != cut(entry.modifiedNs, step))
        return false;
    return !keeps.modes || entry.mode == file.mode;
}

QString lastName(const QString& relative)
{
    return relative.mid(relative.lastIndexOf(QLatin1Char('\\')) + 1);
}

Change notCarried(qsizetype folder, const QString& path, const QString& reason)
{
    return {.kind = Change::Kind::NotCarried, .folder = folder, .path = path, .reason = reason};
}

// The folders of the walk that the backup lacks, or holds as something else.
// One whose place cannot be freed, in a backup folder not listed to its end,
// is left out with all that it holds (\a usable).
void compareFolders(const TreeScan& scan, const BackupListing& backup, std::vector<bool>& usable,
                    Changes& out)
{
    for (qsizetype k = 1; k < scan.folders.size(); ++k) {
        const ScannedFolder& folder = scan.folders.at(k);
        usable[k] = usable[folder.parent];
        const BackupListing::Folder& parent = backup.folders[folder.parent];
        const auto entry = parent.entries.constFind(lastName(folder.relative));
        if (!usable[k] || (entry != parent.entries.constEnd() && entry->isFolder()))
            continue;
        if (entry == parent.entries.constEnd())
            out.list.push_back({.kind = Change::Kind::MakeFolder, .folder = k});
        else if (parent.error.isEmpty())
            out.list.push_back({.kind = Change::Kind::SetAside, .folder = k});
        else
            usable[k] = false;
    }
}

void compareFiles(const ScannedFolder& folder, qsizetype j, const BackupListing::Folder& there,
                  const Keeps& keeps, Changes& out)
{
    for (qsizetype i = 0; i < folder.files.size(); ++i) {
        const ScannedFile& file = folder.files.at(i);
        const auto entry = there.entries.constFind(file.name);
        Change change{.kind = Change::Kind::Copy, .folder = j, .file = i};
        if (entry != there.entries.constEnd() && unchanged(file, *entry, keeps))
            change.kind = Change::Kind::Keep;
        else if (!there.error.isEmpty())
            continue; // its folder says that it is not updated
        else if (entry != there.entries.constEnd())
            change.kind = entry->isFolder() ? Change::Kind::SetAside : Change::Kind::Replace;
        if (change.kind != Change::Kind::Keep) {
            out.toWrite += file.size;
            ++out.changedFiles;
            out.changedWithCopy += change.kind != Change::Kind::Copy;
        }
        out.list.push_back(change);
    }
}

// What the backup folder holds that the source folder does not: only once the
// source folder has been read to its end, and the backup folder too.
void compareExtras(const TreeScan& scan, qsizetype j, const BackupListing& backup, Changes& out)
{
    const ScannedFolder& folder = scan.folders.at(j);
    const BackupListing::Folder& there = backup.folders[j];
    if (!there.present || !folder.listed || !folder.error.isEmpty() || !there.error.isEmpty())
        return;
    QSet<QString> kept;
    for (const ScannedFile& file : folder.files)
        kept.insert(file.name);
    for (qsizetype k = j + 1; k < scan.folders.size(); ++k) {
        if (scan.folders.at(k).parent == j)
            kept.insert(lastName(scan.folders.at(k).relative));
    }
    QStringList extras;
    for (auto it = there.entries.constBegin(); it != there.entries.constEnd(); ++it) {
        if (!kept.contains(it.key()))
            extras << it.key();
    }
    extras.sort();
    for (const QString& name : std::as_const(extras))
        out.list.push_back({.kind = Change::Kind::Remove,
                            .folder = j,
                            .path = backup.root + folder.relative + QLatin1Char('\\') + name,
                            .folderThere = there.entries.value(name).isFolder()});
}

} // namespace

Changes compareWithBackup(const TreeScan& scan, const BackupListing& backup, const Keeps& keeps,
                          const platform::NameRules&)
{
    Changes out;
    std::vector<bool> usable(scan.folders.size(), true);
    compareFolders(scan, backup, usable, out);
    for (const ScanProblem& p : scan.notCarried)
        out.list.push_back(notCarried(0, p.path, p.reason));
    for (qsizetype j = 0; j < scan.folders.size(); ++j) {
        const ScannedFolder& folder = scan.folders.at(j);
        const BackupListing::Folder& there = backup.folders[j];
        if (!folder.listed) {
            // A folder it cannot read is not an empty one: what the backup holds of it stays.
            const BackupListing::Folder& parent = backup.folders[std::max(folder.parent, 0)];
            const bool hadCopy =
                j == 0 ? there.present
                       : parent.present && parent.entries.contains(lastName(folder.relative));
            out.list.push_back(notCarried(j, folder.path,
                                          hadCopy && !isVanishedReason(folder.error)
                                              ? notUpdated(folder.error)
                                              : folder.error));
        }
        if (!usable[j])
            continue;
        if (there.present && !there.error.isEmpty())
            out.list.push_back(
                notCarried(j, backup.root + folder.relative, notUpdated(there.error)));
        compareFiles(folder, j, there, keeps, out);
        if (folder.listed && !folder.error.isEmpty())
            out.list.push_back(notCarried(
                j, folder.path,
                isVanishedReason(folder.error) ? folder.error : notUpdated(folder.error)));
    }
    for (qsizetype j = 0; j < scan.folders.size(); ++j) {
        if (usable[j])
            compareExtras(scan, j, backup, out);
    }
    return out;
}

} // namespace archivon
