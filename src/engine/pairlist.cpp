// What a pair's pass notes in the run's list before it changes the backup:
// what it adds, renames in case and sets aside, what it puts back, and where
// something goes into the versions under another name than its own.

#include "engine/pairpass.h"

#include "platform/filesystem.h"

namespace archivon {

using namespace platform;
using Listed = versions::ListedChange;

versions::RelativePath PairPass::relativeOf(const QString& path) const
{
    return path.mid(m_pair.destination.size()).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
}

void PairPass::noteUpdate(const TreeScan& scan, const Changes& changes, bool makesFolder)
{
    const QString& D = m_pair.destination;
    versions::RunBlock block{m_N, {}};
    if (makesFolder)
        block.changes.push_back({.kind = Listed::Kind::Added, .entry = versions::EntryKind::Folder});
    // The folders this pass makes: what they will hold is added with them.
    std::vector<bool> made(std::size_t(scan.folders.size()), false);
    made[0] = makesFolder;
    // \a path set aside (recording \a as), which the list names as \a listed.
    const auto setAsideAt = [&](const Change& c, const QString& path, const QString& as, const QString& listed) {
        const QString aside = setAsideName(path, as);
        m_asides[&c] = aside;
        block.changes.push_back(
            {.kind = Listed::Kind::SetAside, .path = relativeOf(listed), .other = relativeOf(aside)});
    };
    // A file of the walk, copied where the backup had nothing or something else.
    const auto addedFile = [&](const ScannedFolder& folder, const ScannedFile& file) {
        const QString path = D + folder.relative + QLatin1Char('\\') + file.name;
        block.changes.push_back(
            {.kind = Listed::Kind::Added, .path = relativeOf(path), .size = file.size, .modifiedNs = file.modifiedNs});
        return path;
    };
    m_asides.clear();
    for (const Change& c : changes.list) {
        const ScannedFolder& folder = scan.folders.at(c.folder);
        switch (c.kind) {
        case Change::Kind::MakeFolder:
        case Change::Kind::SetAside:
            if (c.file >= 0) {
                const QString path = addedFile(folder, folder.files.at(c.file));
                setAsideAt(c, path, {}, path);
                break;
            }
            made[std::size_t(c.folder)] = true;
            if (c.kind == Change::Kind::SetAside)
                setAsideAt(c, D + folder.relative, {}, D + folder.relative);
            if (!made[std::size_t(folder.parent)])
                block.changes.push_back({.kind = Listed::Kind::Added,
                                         .path = relativeOf(D + folder.relative),
                                         .entry = versions::EntryKind::Folder});
            break;
        case Change::Kind::Copy:
            if (!made[std::size_t(c.folder)])
                addedFile(folder, folder.files.at(c.file));
            break;
        case Change::Kind::FixCase: {
            const QString name = c.file >= 0 ? folder.files.at(c.file).name : lastName(folder.relative);
            const QString to = D + folder.relative + (c.file >= 0 ? QLatin1Char('\\') + name : QString());
            block.changes.push_back(
                {.kind = Listed::Kind::CaseFixed, .path = relativeOf(c.path), .other = relativeOf(to)});
            // In two steps, through a hidden name that a kill may leave it under.
            if (c.twoSteps && setAsideRecords(name))
                setAsideAt(c, c.path, name, to);
            break;
        }
        default: // what it replaces or removes goes to its own place in the versions
            break;
        }
    }
    // A pass that changes nothing starts no list: a run that changes nothing
    // leaves none. What goes into the versions starts it by itself.
    const bool changing = std::any_of(changes.list.begin(), changes.list.end(), [](const Change& c) {
        return c.kind != Change::Kind::Keep && c.kind != Change::Kind::NotCarried;
    });
    if (!block.changes.empty() || changing)
        m_run.note(block);
}

void PairPass::notePlace(const QString& from, const QString& place)
{
    const QString& D = m_pair.destination;
    if (from != D && !from.startsWith(D + QLatin1Char('\\')))
        return; // not of the pair's backup: nothing a restore reads
    const QString root = versions::rootFor(D, m_run.m_plan.backupRoot());
    const QString base = joinPath(m_run.m_versions.runFolder(root),
                                  versions::pairFolder(m_run.m_plan, m_N, m_run.m_versions.rulesFor(root)));
    if (!place.startsWith(base) || place.mid(base.size()) == from.mid(D.size()))
        return;
    m_run.note({m_N,
                {{.kind = Listed::Kind::MovedIn,
                  .path = relativeOf(from),
                  .other = place.mid(base.size()).split(QLatin1Char('\\'), Qt::SkipEmptyParts)}}});
}

Result<QString> PairPass::setAsideFor(const Change& change, const QString& path, const QString& as)
{
    if (const auto it = m_asides.find(&change); it != m_asides.end()) {
        if (const Status moved = setAsideTo(path, it->second); !moved)
            return Result<QString>::failure(moved);
        return it->second;
    }
    return setAside(path, as);
}

} // namespace archivon
