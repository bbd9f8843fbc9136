#include "decision/comparison.h"

#include <QSet>

#include <algorithm>
#include <iterator>

namespace archivon {

using namespace platform;

namespace {

qint64 cut(qint64 ns, qint64 step)
{
    return ns - ns % step;
}

// Whether the destination's folded name of \a held is that very entry: the
// name rules were asked, not assumed, and the folder holds no other spelling of it.
bool foldsToItself(const BackupListing::Folder& there, const QString& held, const NameRules& names)
{
    const QString key = nameKey(held, names);
    return !names.assumed &&
           std::count_if(there.entries.keyBegin(), there.entries.keyEnd(),
                         [&](const QString& n) { return nameKey(n, names) == key; }) == 1;
}

Change notCarried(qsizetype folder, const QString& path, const QString& reason)
{
    return {.kind = Change::Kind::NotCarried, .folder = folder, .path = path, .reason = reason};
}

std::vector<std::vector<qsizetype>> childrenOf(const TreeScan& scan)
{
    std::vector<std::vector<qsizetype>> children(scan.folders.size());
    for (qsizetype k = 1; k < scan.folders.size(); ++k)
        children[scan.folders.at(k).parent].push_back(k);
    return children;
}

// A name of a source folder: a file, or a folder of the walk.
struct SourceName
{
    QString name;
    QString path;
    qsizetype file = -1;
    qsizetype folder = -1;
};

// Of the names that the destination takes for one, the one carried.
qsizetype keeperOf(const QList<qsizetype>& group, const QList<SourceName>& names,
                   const BackupListing::Folder& there)
{
    for (const qsizetype n : group) {
        if (there.present && there.entries.contains(names.at(n).name))
            return n;
    }
    return *std::min_element(group.begin(), group.end(), [&](qsizetype a, qsizetype b) {
        return names.at(a).name.toUtf8() < names.at(b).name.toUtf8();
    });
}

void checkFolder(const TreeScan& scan, qsizetype j, const std::vector<qsizetype>& children,
                 const BackupListing& backup, const NameRules& rules, NameCheck& out)
{
    const ScannedFolder& folder = scan.folders.at(j);
    QList<SourceName> names;
    for (qsizetype i = 0; i < folder.files.size(); ++i)
        names.append({folder.files.at(i).name,
                      folder.path + QLatin1Char('\\') + folder.files.at(i).name, i, -1});
    for (const qsizetype k : children)
        names.append({lastName(scan.folders.at(k).relative), scan.folders.at(k).path, -1, k});
    const auto refuse = [&](const SourceName& n, const QString& reason) {
        if (n.file >= 0)
            out.files[j][n.file] = false;
        else
            out.folders[n.folder] = false;
        out.notCarried.push_back(notCarried(j, n.path, QStringLiteral("non copiato: ") + reason));
    };
    QHash<QString, QList<qsizetype>> byKey;
    QList<qsizetype> order;
    for (qsizetype n = 0; n < names.size(); ++n) {
        const QString problem =
            rules.windowsNames ? windowsNameProblem(names.at(n).name) : QString();
        if (!problem.isEmpty()) {
            refuse(names.at(n), problem);
            continue;
        }
        auto& group = byKey[nameKey(names.at(n).name, rules)];
        if (group.isEmpty())
            order.append(n);
        group.append(n);
    }
    for (const qsizetype first : std::as_const(order)) {
        const QList<qsizetype>& group = byKey[nameKey(names.at(first).name, rules)];
        if (group.size() < 2)
            continue;
        const qsizetype keeper = keeperOf(group, names, backup.folders[j]);
        out.clashes = true;
        for (const qsizetype n : group) {
            if (n != keeper)
                refuse(names.at(n),
                       QStringLiteral("sulla destinazione ha lo stesso nome di «%1» (maiuscole "
                                      "e minuscole non si distinguono)")
                           .arg(names.at(keeper).name));
        }
    }
}

struct Matching
{
    NameRules names;
    NameCheck check;
    std::vector<std::vector<qsizetype>> children;
    std::vector<QHash<QString, QString>> keyed; // each backup folder's spellings
    const QSet<QString>* damaged = nullptr;     // of the backup's files, by their paths
};

// The folders of the walk that the backup lacks, holds as something else, or
// holds under another case. One whose place cannot be freed, in a backup folder
// not listed to its end, is left out with all that it holds (\a usable).
void compareFolders(const TreeScan& scan, const BackupListing& backup, const Matching& m,
                    std::vector<bool>& usable, Changes& out)
{
    for (qsizetype k = 1; k < scan.folders.size(); ++k) {
        const ScannedFolder& folder = scan.folders.at(k);
        usable[k] = usable[folder.parent] && m.check.folders[k];
        const BackupListing::Folder& parent = backup.folders[folder.parent];
        const QString name = lastName(folder.relative);
        const QString held = heldAs(parent, m.keyed[folder.parent], name, m.names);
        if (!usable[k])
            continue;
        if (held.isEmpty())
            out.list.push_back({.kind = Change::Kind::MakeFolder, .folder = k});
        else if (parent.entries.value(held).isFolder() && held != name && parent.error.isEmpty())
            out.list.push_back({.kind = Change::Kind::FixCase,
                                .folder = k,
                                .path = backup.root + scan.folders.at(folder.parent).relative +
                                        QLatin1Char('\\') + held,
                                .twoSteps = !foldsToItself(parent, held, m.names)});
        else if (parent.entries.value(held).isFolder())
            continue;
        else if (parent.error.isEmpty())
            out.list.push_back({.kind = Change::Kind::SetAside,
                                .folder = k,
                                .size = parent.entries.value(held).size});
        else
            usable[k] = false;
    }
}

void compareFiles(const TreeScan& scan, qsizetype j, const BackupListing& backup, const Matching& m,
                  const Keeps& keeps, Changes& out)
{
    const ScannedFolder& folder = scan.folders.at(j);
    const BackupListing::Folder& there = backup.folders[j];
    for (qsizetype i = 0; i < folder.files.size(); ++i) {
        const ScannedFile& file = folder.files.at(i);
        if (!m.check.files[j][i])
            continue;
        const QString held = heldAs(there, m.keyed[j], file.name, m.names);
        const auto entry = there.entries.constFind(held);
        const bool had = !held.isEmpty();
        Change change{.kind = Change::Kind::Copy, .folder = j, .file = i};
        if (had && held != file.name && !entry->isFolder() && there.error.isEmpty())
            out.list.push_back({.kind = Change::Kind::FixCase,
                                .folder = j,
                                .file = i,
                                .path = backup.root + folder.relative + QLatin1Char('\\') + held,
                                .twoSteps = !foldsToItself(there, held, m.names)});
        // A copy a check found damaged is copied again, whatever its size and time say.
        const bool damaged = had && !m.damaged->isEmpty() &&
                             m.damaged->contains(folder.relative + QLatin1Char('\\') + held);
        if (had && !damaged && unchanged(file, *entry, keeps))
            change.kind = Change::Kind::Keep;
        else if (!there.error.isEmpty())
            continue; // its folder says that it is not updated
        else if (had)
            change.kind = entry->isFolder() ? Change::Kind::SetAside : Change::Kind::Replace;
        if (had)
            change.size = entry->size;
        if (change.kind != Change::Kind::Keep) {
            out.toWrite += file.size;
            ++out.changedFiles;
            out.changedWithCopy += change.kind != Change::Kind::Copy;
        }
        out.list.push_back(change);
    }
}

// What the backup folder holds that the source folder does not: only once the
// source folder has been read to its end, and the backup folder too. An entry
// the destination takes for any source name, carried or not, is no extra.
void compareExtras(const TreeScan& scan, qsizetype j, const BackupListing& backup,
                   const Matching& m, Changes& out)
{
    const ScannedFolder& folder = scan.folders.at(j);
    const BackupListing::Folder& there = backup.folders[j];
    if (!there.present || !folder.listed || !folder.listing.ok() || !there.error.isEmpty())
        return;
    QSet<QString> kept;
    for (const ScannedFile& file : folder.files)
        kept.insert(nameKey(file.name, m.names));
    for (const qsizetype k : m.children[j])
        kept.insert(nameKey(lastName(scan.folders.at(k).relative), m.names));
    QStringList extras;
    for (auto it = there.entries.constBegin(); it != there.entries.constEnd(); ++it) {
        if (!kept.contains(nameKey(it.key(), m.names)))
            extras << it.key();
    }
    extras.sort();
    for (const QString& name : std::as_const(extras))
        out.list.push_back({.kind = Change::Kind::Remove,
                            .folder = j,
                            .path = backup.root + folder.relative + QLatin1Char('\\') + name,
                            .folderThere = there.entries.value(name).isFolder(),
                            .size = there.entries.value(name).size});
}

} // namespace

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


NameCheck checkNames(const TreeScan& scan, const BackupListing& backup, const NameRules& names)
{
    NameCheck out;
    out.folders.assign(scan.folders.size(), true);
    out.files.resize(scan.folders.size());
    const auto children = childrenOf(scan);
    for (qsizetype j = 0; j < scan.folders.size(); ++j) {
        out.files[j].assign(scan.folders.at(j).files.size(), out.folders[j]);
        if (!out.folders[j]) {
            for (const qsizetype k : children[j])
                out.folders[k] = false; // with all that it holds
        } else if (names.foldsCase || names.windowsNames) {
            checkFolder(scan, j, children[j], backup, names, out);
        }
    }
    return out;
}

QHash<QString, QString> spellings(const BackupListing::Folder& there, const NameRules& names)
{
    QHash<QString, QString> keyed;
    if (!names.foldsCase)
        return keyed;
    for (auto it = there.entries.constBegin(); it != there.entries.constEnd(); ++it) {
        QString& spelling = keyed[nameKey(it.key(), names)];
        if (spelling.isEmpty() || it.key().toUtf8() < spelling.toUtf8())
            spelling = it.key();
    }
    return keyed;
}

QString heldAs(const BackupListing::Folder& there, const QHash<QString, QString>& keyed,
               const QString& name, const NameRules& names)
{
    if (!there.present)
        return {};
    if (there.entries.contains(name))
        return name;
    return names.foldsCase ? keyed.value(nameKey(name, names)) : QString();
}

Changes compareWithBackup(const TreeScan& scan, const BackupListing& backup, const Keeps& keeps,
                          const NameRules& names, const QSet<QString>& damaged)
{
    Changes out;
    Matching m{names, checkNames(scan, backup, names), childrenOf(scan), {}, &damaged};
    for (const BackupListing::Folder& there : backup.folders)
        m.keyed.push_back(spellings(there, names));
    std::vector<bool> usable(scan.folders.size(), true);
    compareFolders(scan, backup, m, usable, out);
    // The list holds a change for every file: on a large tree it is the largest
    // thing the run keeps. It is given its longest length at once, so that it
    // never moves while it grows: a move holds it twice. The removals, which
    // come last, are known before the files, and a folder adds at most two notes.
    Changes removals;
    for (qsizetype j = 0; j < scan.folders.size(); ++j) {
        if (usable[j])
            compareExtras(scan, j, backup, m, removals);
    }
    qsizetype files = 0;
    for (const ScannedFolder& folder : scan.folders)
        files += folder.files.size();
    out.list.reserve(out.list.size() + scan.notCarried.size() + m.check.notCarried.size() +
                     2 * scan.folders.size() + files * (names.foldsCase ? 2 : 1) +
                     removals.list.size());
    for (const ScanProblem& p : scan.notCarried)
        out.list.push_back(notCarried(0, p.path, p.reason));
    auto refused = m.check.notCarried.cbegin();
    for (qsizetype j = 0; j < scan.folders.size(); ++j) {
        const ScannedFolder& folder = scan.folders.at(j);
        const BackupListing::Folder& there = backup.folders[j];
        for (; refused != m.check.notCarried.cend() && refused->folder == j; ++refused)
            out.list.push_back(*refused);
        if (!m.check.folders[j])
            continue; // reported once, in its parent
        if (!folder.listed) {
            // A folder it cannot read is not an empty one: what the backup holds of it stays.
            const bool hadCopy =
                j == 0 ? there.present
                       : !heldAs(backup.folders[folder.parent], m.keyed[folder.parent],
                                 lastName(folder.relative), names)
                              .isEmpty();
            out.list.push_back(notCarried(j, folder.path, unreadSource(folder.listing, hadCopy)));
        }
        if (!usable[j])
            continue;
        if (there.present && !there.error.isEmpty())
            out.list.push_back(
                notCarried(j, backup.root + folder.relative, notUpdated(there.error)));
        compareFiles(scan, j, backup, m, keeps, out);
        if (folder.listed && !folder.listing.ok())
            out.list.push_back(notCarried(j, folder.path, unreadSource(folder.listing, true)));
    }
    out.list.insert(out.list.end(), std::make_move_iterator(removals.list.begin()),
                    std::make_move_iterator(removals.list.end()));
    return out;
}

Changes planFullRewrite(const TreeScan& scan, const NameCheck& names)
{
    Changes out;
    for (qsizetype k = 1; k < scan.folders.size(); ++k) {
        if (names.folders[k])
            out.list.push_back({.kind = Change::Kind::MakeFolder, .folder = k});
    }
    for (const ScanProblem& problem : scan.notCarried)
        out.list.push_back(notCarried(0, problem.path, problem.reason));
    out.list.insert(out.list.end(), names.notCarried.begin(), names.notCarried.end());
    for (qsizetype j = 0; j < scan.folders.size(); ++j) {
        const ScannedFolder& folder = scan.folders.at(j);
        for (qsizetype i = 0; i < folder.files.size(); ++i) {
            if (!names.files[j][i])
                continue;
            out.list.push_back({.kind = Change::Kind::Copy, .folder = j, .file = i});
            out.toWrite += folder.files.at(i).size;
            ++out.changedFiles;
        }
        if (!folder.listing.ok() && names.folders[j]) {
            Change takeBack = notCarried(j, folder.path, folder.listing.error());
            takeBack.folderThere = true;
            out.list.push_back(takeBack);
        }
    }
    return out;
}

BackupListing movedTo(BackupListing listing, const QString& from, const QString& to)
{
    const auto rebased = [&](QString& path) {
        if (path.startsWith(from))
            path = to + path.mid(from.size());
    };
    listing.root = to;
    for (QString& left : listing.temporaries)
        rebased(left);
    for (auto& [aside, place] : listing.setAside) {
        rebased(aside);
        rebased(place);
    }
    return listing;
}

std::vector<qsizetype> foldersUnder(const TreeScan& scan, qsizetype k)
{
    std::vector<qsizetype> under{k};
    std::vector<bool> inside(scan.folders.size(), false);
    inside[k] = true;
    for (qsizetype j = k + 1; j < scan.folders.size(); ++j) {
        const int parent = scan.folders.at(j).parent;
        if (parent >= k && inside[parent]) {
            inside[j] = true;
            under.push_back(j);
        }
    }
    return under;
}

void putBackInListing(BackupListing& listing, const TreeScan& scan, const NameRules& names,
                      const QString& place, const BackupListing::Entry& entry,
                      const std::function<BackupListing(qsizetype k)>& below)
{
    const QString folder = place.left(place.lastIndexOf(QLatin1Char('\\')));
    const QString name = lastName(place);
    qsizetype j = 0;
    while (j < scan.folders.size() && listing.root + scan.folders.at(j).relative != folder)
        ++j;
    if (j == scan.folders.size())
        return;
    listing.folders[j].entries.insert(name, entry);
    for (qsizetype k = j + 1; entry.isFolder() && k < scan.folders.size(); ++k) {
        if (scan.folders.at(k).parent != j ||
            nameKey(lastName(scan.folders.at(k).relative), names) != nameKey(name, names))
            continue;
        BackupListing there = below(k);
        const std::vector<qsizetype> under = foldersUnder(scan, k);
        for (std::size_t i = 0; i < under.size() && i < there.folders.size(); ++i)
            listing.folders[under[i]] = std::move(there.folders[i]);
        listing.temporaries += there.temporaries;
    }
}

} // namespace archivon
