#include "restore/backup.h"

#include "platform/drives.h"
#include "platform/filesystem.h"
#include "record/runlog.h"
#include "platform/textfile.h"
#include "versions/versions.h"

#include <algorithm>

namespace archivon::restore {

using namespace platform;

namespace {

const QString kLinkReason = QStringLiteral("collegamento: non seguito e non ripristinato");

bool isFolder(const QString& path)
{
    const auto attrs = linkAttributes(path);
    return attrs && (*attrs & Directory);
}

// One folder of a listing: its entries into the tree, its folders onto the queue.
void listFolder(ListedTree& listed, const QString& folder, int entry, const RelativePath& at,
                std::vector<std::pair<int, RelativePath>>& queue)
{
    DirSearch search(joinPath(folder, QStringLiteral("*.*")), Hidden | System | Directory, true);
    for (QString name = search.next(); !name.isEmpty(); name = search.next()) {
        const unsigned attrs = search.lastAttributes();
        const DirSearch::Details& d = search.lastDetails();
        const RelativePath path = at + RelativePath{name};
        // Hidden entries are the runs' own, never backed up; only what a run
        // set aside tells the moment something.
        if ((attrs & Hidden) && !setAsideFrom(name))
            continue;
        if (d.link) {
            listed.tree.add(entry, name, EntryKind::Link);
        } else if (attrs & Directory) {
            queue.emplace_back(listed.tree.add(entry, name, EntryKind::Folder, 0, d.modifiedNs), path);
        } else if (attrs & System) {
            listed.passed.append({path, joinPath(folder, name), QStringLiteral("né un file né una cartella")});
        } else {
            listed.tree.add(entry, name, EntryKind::File, d.size, d.modifiedNs);
        }
    }
    for (const DirSearch::Uncarried& u : search.uncarried())
        listed.passed.append({at + RelativePath{u.name}, joinPath(folder, u.name), u.reason});
    if (!search.ok())
        listed.passed.append({at, folder, QStringLiteral("cartella non letta fino in fondo: %1").arg(search.error())});
}

// The pairs to give back: those the newest list names, or the plan's.
void findPairs(ComputerBackup& backup, const BackupPlan& fallback)
{
    const auto newest = std::max_element(backup.runs.begin(), backup.runs.end(), [](const auto& a, const auto& b) {
        return a.list.header.start < b.list.header.start;
    });
    if (newest != backup.runs.end()) {
        for (const versions::ListedPair& p : newest->list.header.pairs)
            backup.pairs.push_back({p.number, p.source, p.destination, lastName(p.destination), {}, {}});
    } else {
        for (int n = 1; n <= 4; ++n) {
            const BackupPair& p = fallback.pairs[std::size_t(n - 1)];
            backup.pairs.push_back({n, p.source, p.destination, lastName(p.destination), {}, {}});
        }
    }
}

QDateTime lastEndOf(const ComputerBackup& backup)
{
    QDateTime last;
    for (const ComputerBackup::Run& run : backup.runs) {
        if (run.list.summary && (!last.isValid() || run.list.summary->end > last))
            last = run.list.summary->end;
    }
    // The record on the share names the last run, listed or not.
    if (const auto text = readSmallFile(joinPath(backup.root, RunLog::kCopyName), 64 * 1024 * 1024)) {
        const RunRecord record = parseRunRecord(QString::fromUtf8(*text));
        const QDateTime end = record.ended.isValid() ? record.ended : record.started;
        if (record.parsed && end.isValid() && (!last.isValid() || end > last))
            last = end;
    }
    // A run that began after it and never ended, or left no list that reads,
    // has changed the backup since: no run's end is the present then.
    const auto later = [&](const QDateTime& t) { return last.isValid() && t > last; };
    if (std::any_of(backup.runs.begin(), backup.runs.end(), [&](const auto& r) { return later(r.list.header.start); }) ||
        std::any_of(backup.refused.begin(), backup.refused.end(), [&](const auto& r) { return later(r.stamp); }) ||
        std::any_of(backup.unlisted.begin(), backup.unlisted.end(), later))
        return {};
    return last;
}

} // namespace

std::optional<ListedTree> listTree(const QString& folder)
{
    if (!isFolder(folder))
        return std::nullopt;
    ListedTree listed;
    listed.folder = folder;
    std::vector<std::pair<int, RelativePath>> queue{{-1, {}}};
    for (std::size_t k = 0; k < queue.size(); ++k) {
        // Taken out, so that the queue holds only the folders still to list.
        auto [entry, at] = std::exchange(queue[k], {});
        QString path = folder;
        for (const QString& name : at)
            path = joinPath(path, name);
        listFolder(listed, path, entry, at, queue);
    }
    return listed;
}

Result<ComputerBackup> readBackup(const QString& root, const BackupPlan& fallback)
{
    const auto attrs = linkAttributes(root);
    if (!attrs)
        return Result<ComputerBackup>::failure(
            QStringLiteral("impossibile leggere la cartella del backup %1: %2").arg(root, attrs.error()));
    if (!(*attrs & Directory))
        return Result<ComputerBackup>::failure(QStringLiteral("%1 non è una cartella").arg(root));
    ComputerBackup backup;
    backup.root = root;
    static_cast<versions::BackupRuns&>(backup) = versions::readBackupRuns(root, true);
    findPairs(backup, fallback);
    for (PairBackup& pair : backup.pairs) {
        pair.mirror = listTree(pair.destination);
        const QString versionsRoot = versions::rootFor(pair.destination, root);
        for (const ComputerBackup::Run& run : backup.runs) {
            const versions::ListedPair* listed = run.list.header.pairFor(pair.destination);
            pair.dated.push_back(listed ? listTree(joinPath(joinPath(versionsRoot, lastName(run.folder)), listed->folder))
                                        : std::nullopt);
        }
    }
    backup.lastEnd = lastEndOf(backup);
    return backup;
}

History ComputerBackup::historyOf(const PairBackup& pair, bool present) const
{
    History h;
    h.destination = pair.destination;
    h.mirror = pair.mirror ? &pair.mirror->tree : nullptr;
    if (present)
        return h;
    for (std::size_t k = 0; k < runs.size(); ++k)
        h.runs.push_back({&runs[k].list, pair.dated[k] ? &pair.dated[k]->tree : nullptr});
    h.refused = refused;
    h.unlisted = unlisted;
    return h;
}

} // namespace archivon::restore
