// The full rewrite of a pair: the new copy is built beside the old backup,
// under a hidden name, recorded as complete, and only then swapped in.

#include "engine/pairpass.h"

#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/textfile.h"

#include <optional>

namespace archivon {

using namespace platform;
using namespace leftovers;

namespace {

// For a small file, opening the old copy costs more than it saves.
constexpr qint64 kForgetCachedFrom = 1024 * 1024;

// Puts the previous backup's copy of a file into the new copy: a second name
// where the destination allows it, otherwise a copy. Never a move, so the old
// backup stays whole until the swap.
Status carryFile(const QString& old, const QString& fresh)
{
    if (linkFile(old, fresh))
        return {};
    return copyFile(old, fresh);
}

// The entries of a folder of the previous backup that the new copy lacks.
Status carryFolder(const QString& old, const QString& fresh, const Gate& gate)
{
    Status result;
    DirSearch search(joinPath(old, QStringLiteral("*.*")), Directory);
    if (!search.ok())
        return search.status();
    QList<std::pair<QString, bool>> entries;
    for (QString name = search.next(); !name.isEmpty(); name = search.next())
        entries.append({name, bool(search.lastAttributes() & Directory)});
    for (const auto& [name, isFolder] : entries) {
        if (!gate())
            return Status::fromErrno(ECANCELED);
        const QString to = joinPath(fresh, name);
        if (exists(to))
            continue;
        Status carried;
        if (isFolder) {
            carried = makeFolder(to);
            if (carried)
                carried = carryFolder(joinPath(old, name), to, gate);
        } else {
            carried = carryFile(joinPath(old, name), to);
        }
        if (!carried && result)
            result = carried;
    }
    return result;
}

} // namespace

PassEnd PairPass::fullPass(const TreeScan& scan)
{
    const QString D = m_pair.destination;
    const auto beside = besideOf(D);
    if (!beside) {
        m_run.fail(D, driveNotReadyReason());
        return PassEnd::Finished;
    }

    m_run.phase(m_N, Phase::Cleaning);
    bool restored = false;
    if (const auto end = sortOutLeftovers(restored))
        return *end;

    // Only names the destination keeps, one of each set it takes for one: the
    // spelling the old backup holds, as the update would keep it.
    BackupListing old;
    old.folders.resize(scan.folders.size());
    NameCheck names = checkNames(scan, old, m_names);
    if (names.clashes) {
        const auto root = attributes(D);
        auto listed = listBackup(D, scan, root && (*root & Directory), m_names, m_run.gate());
        if (!listed)
            return PassEnd::Stopped;
        old = std::move(*listed);
        names = checkNames(scan, old, m_names);
    }
    m_run.phase(m_N, Phase::Creating);
    if (!m_run.state.proceed())
        return PassEnd::Stopped;
    // The new mirror is built here; the old backup keeps D's name until the
    // new one is complete.
    const QString fresh = beside->freeName(kFresh);
    m_run.m_touched = true;
    if (const Status made = makeFolder(fresh); !made) {
        if (destinationLost())
            return PassEnd::DestinationLost;
        m_run.fail(D, made.error()); // nowhere to build: the old backup stays
        return PassEnd::Finished;
    }
    m_run.m_progress.update([](RunProgress& p) { p.foldersMade = 1; });

    // A full destination (Finished, from these two) ends the new copy.
    const Changes plan = planFullRewrite(scan, names);
    startIndex(scan, nullptr, nullptr);
    auto end = makeFreshFolders(scan, plan, fresh);
    if (!end)
        end = copyIntoFresh(scan, plan, fresh);
    if (end)
        return *end == PassEnd::Finished ? endFull(scan, fresh) : *end;
    m_stats.folders = scan.folders.size();
    return swapIn(scan, *beside, fresh);
}

PassEnd PairPass::endFull(const TreeScan& scan, const QString& fresh)
{
    const QString D = m_pair.destination;
    QString text = scan.files > 0
                       ? QStringLiteral("spazio su disco esaurito: nessuno dei %1 file "
                                        "della coppia è stato copiato")
                             .arg(scan.files)
                       : QStringLiteral("spazio su disco esaurito: copia non completata");
    // An empty folder under the pair's name is no previous backup.
    if (!DirSearch(joinPath(D, QStringLiteral("*.*")), Hidden | System | Directory)
             .next()
             .isEmpty())
        text += QStringLiteral(", resta il backup precedente");
    m_run.fail(D, text, scan.files);
    (void)deleteFile(fresh + kCompleteMark);
    return m_run.removeNow(m_N, fresh, true) ? PassEnd::Finished : PassEnd::Stopped;
}

// The folders, parents first since the walk is breadth-first.
std::optional<PassEnd> PairPass::makeFreshFolders(const TreeScan& scan, const Changes& plan,
                                                  const QString& fresh)
{
    const QString D = m_pair.destination;
    m_run.phase(m_N, Phase::MakingFolders);
    for (const Change& c : plan.list) {
        if (c.kind != Change::Kind::MakeFolder)
            continue;
        if (!m_run.state.proceed())
            return PassEnd::Stopped;
        const QString& relative = scan.folders.at(c.folder).relative;
        if (const Status made = makeFolder(fresh + relative); !made) {
            if (const auto end = writeFailed(D + relative, made))
                return end;
        }
        m_run.m_progress.update([k = c.folder](RunProgress& p) { p.foldersMade = k + 1; });
    }
    return std::nullopt;
}

// The files, copied two at a time beside this loop. A source that could not
// be read keeps its previous copy; one that vanished is not brought back.
std::optional<PassEnd> PairPass::copyIntoFresh(const TreeScan& scan, const Changes& plan,
                                               const QString& fresh)
{
    const QString D = m_pair.destination;
    m_run.phase(m_N, Phase::Copying);
    for (const Change& c : plan.list) {
        if (c.kind == Change::Kind::NotCarried && !c.folderThere)
            m_run.fail(c.path, c.reason);
    }

    struct Carry
    {
        QString source;
        QString old;
        QString fresh;
        Status failure;
        bool folder;
    };
    QList<Carry> carries;
    {
        CopyStage copies(
            *this, scan.folders.size(),
            [&](const ParallelCopy::Ended& e, const Handed& h) -> std::optional<PassEnd> {
                if (!e.readFailed)
                    return writeFailed(e.source, e.status);
                if (e.status.kind() == ErrorKind::NotFound)
                    m_run.fail(e.source, e.status.error());
                else
                    carries.append({e.source, e.shownAs, h.destination, e.status, false});
                return std::nullopt;
            });
        for (const Change& c : plan.list) {
            const ScannedFolder& folder = scan.folders.at(c.folder);
            if (c.kind == Change::Kind::NotCarried && c.folderThere) {
                carries.append({folder.path, D + folder.relative, fresh + folder.relative,
                                folder.listing, true});
            } else if (c.kind == Change::Kind::Copy) {
                copies.handedUpTo(c.folder);
                const ScannedFile& file = folder.files.at(c.file);
                if (const auto end = copies.room())
                    return end;
                const QString source = joinPath(folder.path, file.name);
                const QString shown = joinPath(D + folder.relative, file.name);
                const QString to = joinPath(fresh + folder.relative, file.name);
                // The old backup's copy of a large file is about to go: the memory
                // it holds serves the new one, which is far quicker than fresh memory.
                if (file.size >= kForgetCachedFrom)
                    forgetCachedContent(shown);
                if (const auto end =
                        copies.start(source, to, shown, {.folder = c.folder, .file = c.file, .destination = to}))
                    return end;
            }
        }
        if (const auto end = copies.finish())
            return end;
    }

    for (const Carry& c : carries) {
        if (!m_run.state.proceed())
            return PassEnd::Stopped;
        if (!exists(c.old)) {
            m_run.fail(c.source, takenBack(c.failure.error(), c.folder, false));
            continue;
        }
        const Status carried =
            c.folder ? carryFolder(c.old, c.fresh, m_run.gate()) : carryFile(c.old, c.fresh);
        if (carried)
            m_run.fail(c.source, takenBack(c.failure.error(), c.folder, true));
        else if (const auto end = writeFailed(
                     c.source,
                     carried.withText(QStringLiteral("%1; copia precedente non recuperata (%2)")
                                          .arg(c.failure.error(), carried.error()))))
            return end;
    }
    return std::nullopt;
}

// Complete: recorded so, then swapped in. A rename that fails keeps the old
// backup where it was.
PassEnd PairPass::swapIn(const TreeScan& scan, const Beside& beside, const QString& fresh)
{
    const QString D = m_pair.destination;
    const QString mark = fresh + kCompleteMark;
    if (!m_run.state.proceed())
        return PassEnd::Stopped;
    if (const Status marked = writeTextFile(mark, {}); !marked) {
        if (const auto end = writeFailed(D, marked))
            return *end == PassEnd::Finished ? endFull(scan, fresh) : *end;
        (void)deleteFile(mark);
        return m_run.removeNow(m_N, fresh, true) ? PassEnd::Finished : PassEnd::Stopped;
    }
    const bool hadOld = exists(beside.target);
    // The old copy goes whole into the versions, where they are kept, or
    // beside the new one until that is in its place. A link in its place
    // goes, and nothing behind it is touched.
    const bool keep = hadOld && m_run.keepsVersions() && !pairFolderOf(D).link;
    // What the new copy holds is listed before it takes the pair's place.
    noteFingerprints();
    // From here the pair is its new copy, and what it was is in the versions.
    m_run.note({m_N, {{.kind = versions::ListedChange::Kind::Rewritten, .size = keep ? 1 : 0}}});
    QString retired;
    if (keep) {
        const auto place = versionPlace(D);
        if (!place) {
            (void)deleteFile(mark);
            return m_run.removeNow(m_N, fresh, true) ? PassEnd::Finished : PassEnd::Stopped;
        }
        retired = *place;
    } else {
        retired = beside.freeName(kRetired);
    }
    Status moved;
    if (hadOld)
        moved =
            keep ? moveIntoVersions(beside.target, D, retired) : moveEntry(beside.target, retired);
    if (moved) {
        moved = moveEntry(fresh, beside.target);
        // The previous backup goes back under the pair's name, whatever else happens.
        if (!moved && hadOld && !moveEntry(retired, beside.target)) {
            m_run.fail(
                D, QStringLiteral("impossibile sostituire il backup precedente (%1): la prossima "
                                  "esecuzione lo rimetterà al suo posto")
                       .arg(moved.error()));
            return PassEnd::Finished;
        }
    }
    if (!moved) {
        if (destinationLost())
            return PassEnd::DestinationLost;
        m_run.fail(
            D, QStringLiteral("impossibile sostituire il backup precedente (%1): è rimasto quello")
                   .arg(moved.error()));
        (void)deleteFile(mark);
        return m_run.removeNow(m_N, fresh, true) ? PassEnd::Finished : PassEnd::Stopped;
    }
    (void)deleteFile(mark);
    if (keep && m_index)
        m_index->oldBackupMoved(lastName(datedPlace().first), retired,
                                [this](const versions::RunBlock& b) { m_run.note(b); }, m_N);
    writeIndex(nullptr);
    if (keep) {
        countVersion(versions::countOf(retired, true, 0, versions::filesIn));
    } else if (hadOld) {
        // The old copy goes on threads of its own, while the next pair copies.
        const QString trash = beside.freeName(kTrash);
        m_run.m_removals.start(moveEntry(retired, trash) ? trash : retired);
    }
    return PassEnd::Finished;
}

} // namespace archivon
