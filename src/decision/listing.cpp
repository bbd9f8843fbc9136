// The backup as it stands, listed folder by folder of the walk of its source.

#include "decision/comparison.h"

#include "platform/drives.h"
#include "platform/errors.h"

namespace archivon {

using namespace platform;

namespace {

// One folder of the backup, as its directory search gives it to its end. False
// when \a gate says to end first: it is asked now and then in a large folder,
// which on a slow share can take long.
bool listFolder(const QString& prefix, BackupListing& backup, BackupListing::Folder& there,
                const NameRules& names, const Gate& gate)
{
    DirSearch search(prefix, Hidden | System | Directory, true);
    QStringList asideNames;
    qsizetype seen = 0;
    for (QString name = search.next(); !name.isEmpty(); name = search.next()) {
        if (++seen % 1024 == 0 && gate && !gate())
            return false;
        if (isRunLockName(name)) {
            continue; // a backup folder's own lock, where a pair is backed up into it
        } else if (isCopyTemporary(name, names)) {
            backup.temporaries << prefix + name;
        } else if (setAsideFrom(name, names)) {
            asideNames << name;
        } else {
            const DirSearch::Details& d = search.lastDetails();
            there.entries.insert(name,
                                 {search.lastAttributes(), d.size, d.modifiedNs, d.mode, d.link});
        }
    }
    if (!search.ok())
        there.error = search.error();
    const QHash<QString, QString> keyed = spellings(there, names);
    for (const QString& name : std::as_const(asideNames)) {
        const QString was = *setAsideFrom(name, names);
        if (was.isEmpty() || !heldAs(there, keyed, was, names).isEmpty())
            backup.temporaries << prefix + name;
        else
            backup.setAside.append({prefix + name, prefix + was});
    }
    return true;
}

// Lists the backup folder by folder of the walk, each once its parent has been
// listed: \a folderAt gives folder j, or nothing past the last.
std::optional<BackupListing>
listFolders(const QString& destination, bool present, const NameRules& names, const Gate& gate,
            const std::function<std::optional<FolderFeed::Folder>(qsizetype)>& folderAt,
            const std::function<void(qsizetype, BackupListing::Folder&)>& listed = {})
{
    BackupListing backup{.root = destination};
    std::vector<QHash<QString, QString>> keyed;
    for (qsizetype j = 0;; ++j) {
        const auto folder = folderAt(j);
        if (!folder)
            break;
        BackupListing::Folder& there = backup.folders.emplace_back();
        keyed.emplace_back();
        if (j == 0) {
            there.present = present;
        } else {
            const BackupListing::Folder& parent = backup.folders[folder->parent];
            const QString held =
                heldAs(parent, keyed[folder->parent], lastName(folder->relative), names);
            there.present = !held.isEmpty() && parent.entries.value(held).isFolder();
        }
        if (!there.present)
            continue;
        if (gate && !gate())
            return std::nullopt;
        // Listed under the source's spelling, which the destination takes for its own.
        if (!listFolder(destination + folder->relative + QLatin1Char('\\'), backup, there, names, gate))
            return std::nullopt;
        if (listed)
            listed(j, there);
        keyed[j] = spellings(there, names);
    }
    return backup;
}

} // namespace

std::optional<BackupListing> listBackup(const QString& destination, const TreeScan& scan,
                                       bool present, const NameRules& names, const Gate& gate)
{
    return listFolders(destination, present, names, gate,
                       [&scan](qsizetype j) -> std::optional<FolderFeed::Folder> {
                           if (j >= scan.folders.size())
                               return std::nullopt;
                           return FolderFeed::Folder{scan.folders.at(j).relative,
                                                     scan.folders.at(j).parent};
                       });
}

std::optional<BackupListing> listBackup(const QString& destination, FolderFeed& feed,
                                       bool present, const NameRules& names, const Gate& gate)
{
    return listFolders(
        destination, present, names, gate, [&feed](qsizetype j) { return feed.at(j); },
        [&feed](qsizetype j, BackupListing::Folder& there) { feed.listed(j, there.entries); });
}

void FolderFeed::add(const ScannedFolder& folder)
{
    {
        const std::lock_guard lock(m_mutex);
        m_folders.push_back({folder.relative, folder.parent});
    }
    m_added.notify_one();
}

void FolderFeed::close()
{
    {
        const std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    m_added.notify_all();
}

std::optional<FolderFeed::Folder> FolderFeed::at(qsizetype j)
{
    std::unique_lock lock(m_mutex);
    m_added.wait(lock, [&] { return m_closed || j < qsizetype(m_folders.size()); });
    if (j >= qsizetype(m_folders.size()))
        return std::nullopt;
    return m_folders[j];
}

void FolderFeed::walked(qsizetype j, QList<ScannedFile>& files)
{
    QHash<QString, BackupListing::Entry> there;
    {
        const std::lock_guard lock(m_mutex);
        if (j < qsizetype(m_listed.size()))
            there = std::exchange(m_listed[j], {});
        if (there.isEmpty()) {
            if (j >= qsizetype(m_walked.size()))
                m_walked.resize(j + 1);
            m_walked[j] = files;
            return;
        }
    }
    for (ScannedFile& file : files) {
        if (const auto entry = there.constFind(file.name); entry != there.constEnd())
            file.name = entry.key();
    }
}

void FolderFeed::listed(qsizetype j, QHash<QString, BackupListing::Entry>& entries)
{
    QList<ScannedFile> files;
    {
        const std::lock_guard lock(m_mutex);
        if (j < qsizetype(m_walked.size()))
            files = std::exchange(m_walked[j], {});
        if (files.isEmpty()) {
            if (!m_closed) {
                if (j >= qsizetype(m_listed.size()))
                    m_listed.resize(j + 1);
                m_listed[j] = entries;
            }
            return;
        }
    }
    // A key cannot be given another text in place: the entry goes in again under it.
    for (const ScannedFile& file : std::as_const(files)) {
        const auto entry = entries.constFind(file.name);
        if (entry == entries.constEnd() || entry.key().constData() == file.name.constData())
            continue;
        const BackupListing::Entry e = *entry;
        entries.remove(file.name);
        entries.insert(file.name, e);
    }
}

void FolderFeed::release()
{
    const std::lock_guard lock(m_mutex);
    m_walked = {};
    m_listed = {};
}

namespace {

// Whether a folder of the backup holds a file, at any depth.
bool holdsAnyFile(const QString& folder)
{
    DirSearch search(joinPath(folder, QStringLiteral("*.*")), Hidden | System | Directory, true);
    for (QString name = search.next(); !name.isEmpty(); name = search.next()) {
        if (!(search.lastAttributes() & Directory) || search.lastDetails().link ||
            holdsAnyFile(joinPath(folder, name)))
            return true;
    }
    return false;
}

} // namespace

// A source with no file at all over a backup that holds some is far more
// likely a mistake than a wish: the update leaves the backup as it is.
bool emptiedSource(const TreeScan& scan, const BackupListing& backup)
{
    if (scan.files > 0 || !backup.folders[0].present)
        return false;
    const QString& D = backup.root;
    for (qsizetype j = 0; j < scan.folders.size(); ++j) {
        const auto& entries = backup.folders[j].entries;
        for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
            if (!it->isFolder() ||
                holdsAnyFile(D + scan.folders.at(j).relative + QLatin1Char('\\') + it.key()))
                return true;
        }
    }
    return false;
}

} // namespace archivon
