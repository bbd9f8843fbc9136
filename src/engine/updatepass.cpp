// The update of a pair in place: the backup under the pair's name is listed
// and compared with the source, and only then are the changes made. A new or
// changed file is copied under a hidden name and renamed over the old one, so
// a file under its own name is always whole, old or new; what the source no
// longer holds goes only once the whole source has been copied.

#include "engine/pairpass.h"

#include "platform/drives.h"
#include "platform/errors.h"

namespace archivon {

using namespace platform;

namespace {


// What a full destination left out of the pair, and what of it the previous
// backup still holds.
QString diskFullText(qint64 left, qint64 files, qint64 keptOld)
{
    QString text = QStringLiteral("spazio su disco esaurito");
    if (left <= 0)
        return text;
    text += left == 1
                ? QStringLiteral(": 1 dei %2 file della coppia non è stato copiato").arg(files)
                : QStringLiteral(": %1 dei %2 file della coppia non sono stati copiati")
                      .arg(left)
                      .arg(files);
    if (keptOld >= left)
        text += left == 1 ? QStringLiteral(", resta la sua copia del backup precedente")
                          : QStringLiteral(", di ognuno resta la copia del backup precedente");
    else if (keptOld > 0)
        text += QStringLiteral(", di %1 resta la copia del backup precedente").arg(keptOld);
    return text;
}

QString leftOverText(const QString& reason)
{
    return QStringLiteral("impossibile eliminare (%1): resta sulla destinazione").arg(reason);
}

// Where a change goes in the pass: the folders, then the files, then the removals.
Phase phaseOf(const Change& change)
{
    switch (change.kind) {
    case Change::Kind::MakeFolder:
        return Phase::MakingFolders;
    case Change::Kind::FixCase:
    case Change::Kind::SetAside:
        return change.file < 0 ? Phase::MakingFolders : Phase::Copying;
    case Change::Kind::Remove:
        return Phase::Cleaning;
    default:
        return Phase::Copying;
    }
}

} // namespace

std::optional<PairPass::UpdateStart> PairPass::startUpdate()
{
    const QString D = m_pair.destination;
    UpdateStart start;
    start.present = leftovers::pairFolderOf(D).present;
    if (!m_run.state.proceed())
        return std::nullopt;
    // What the backup keeps of times and modes, asked of its own file system.
    // A probe that a kill leaves in the pair's folder is one of its temporary
    // files; beside it, one of the leftovers the next run sorts out.
    const auto beside = leftovers::besideOf(D);
    if (start.present || beside) {
        if (const auto probed =
                start.present ? probeKeeps(D)
                              : probeKeeps(beside->parent, beside->prefix + leftovers::kProbe))
            start.keeps = *probed;
    }
    return start;
}

std::optional<Changes> PairPass::decideUpdate(const TreeScan& scan, BackupListing& backup)
{
    const auto start = startUpdate();
    if (!start)
        return std::nullopt;
    auto listed = listBackup(m_pair.destination, scan, start->present, m_names, m_run.gate());
    if (!listed)
        return std::nullopt;
    backup = std::move(*listed);
    return compareWithBackup(scan, backup, start->keeps, m_names, m_damaged);
}

PassEnd PairPass::updatePass(const TreeScan& scan, BackupListing& backup, Changes& changes)
{
    const QString D = m_pair.destination;

    m_run.phase(m_N, Phase::Cleaning);
    bool restored = false;
    if (const auto end = sortOutLeftovers(restored))
        return *end;
    if (const auto end = putBackSetAside(backup, restored))
        return *end;
    if (restored) { // what is under the pair's name now is not what was compared
        auto again = decideUpdate(scan, backup);
        if (!again)
            return PassEnd::Stopped;
        changes = std::move(*again);
    }
    if (const auto end = removeTemporaries(backup))
        return *end;

    m_run.phase(m_N, Phase::Creating);
    if (!m_run.state.proceed())
        return PassEnd::Stopped;
    noteUpdate(scan, changes, !backup.folders[0].present);
    if (!backup.folders[0].present) {
        m_run.m_touched = true;
        // A link in the place of the pair's folder goes, and nothing behind it
        // is touched: the backup is a real folder again.
        if (leftovers::pairFolderOf(D).link)
            (void)deleteFile(D);
        if (const Status made = makeFolder(D); !made) {
            if (destinationLost())
                return PassEnd::DestinationLost;
            m_run.fail(D, made.error());
            return PassEnd::Finished;
        }
    }
    m_run.m_progress.update([](RunProgress& p) { p.foldersMade = 1; });
    startIndex(scan, &backup, &changes);
    const PassEnd end = applyChanges(scan, changes);
    // However the pass ended, the index says what the backup holds now.
    if (end != PassEnd::DestinationLost) {
        noteFingerprints();
        writeIndex(&backup);
    }
    return end;
}

// The changes in their order, the run asked before each. The removals come
// only once the whole source has been copied, with no stop, no full disk and
// no lost drive.
PassEnd PairPass::applyChanges(const TreeScan& scan, const Changes& changes)
{
    CopyStage copies(
        *this, scan.folders.size(),
        [this](const ParallelCopy::Ended& e, const Handed& h) { return copyFailed(e, h); });
    // A full destination (Finished) ends the pass once the copies handed over
    // have ended, so that what was not copied is counted exactly. The files not
    // copied keep their previous copy where the backup had one.
    const auto ended = [&](PassEnd end) {
        m_stats.replaced = copies.replaced();
        if (end != PassEnd::Finished)
            return end;
        const auto stopped = copies.drain();
        m_stats.replaced = copies.replaced();
        if (stopped)
            return PassEnd::Stopped;
        const qint64 left = changes.changedFiles - m_stats.copied;
        m_run.fail(m_pair.destination,
                   diskFullText(left, scan.files, changes.changedWithCopy - copies.replaced()),
                   left);
        return PassEnd::Finished;
    };
    // A folder that could not be made is left out, with all that it holds.
    std::vector<bool> usable(scan.folders.size(), true);
    Phase at = Phase::MakingFolders;
    m_run.phase(m_N, at);
    const auto reach = [&](Phase next) -> std::optional<PassEnd> {
        if (at == Phase::MakingFolders && next != at) {
            m_run.m_progress.update(
                [n = scan.folders.size()](RunProgress& p) { p.foldersMade = n; });
            m_run.phase(m_N, at = Phase::Copying);
        }
        if (at == Phase::Copying && next == Phase::Cleaning) {
            if (const auto end = copies.finish())
                return end;
            m_run.m_progress.update([](RunProgress& p) { p.passingOver = false; });
            m_run.phase(m_N, at = Phase::Cleaning);
        }
        return std::nullopt;
    };
    for (const Change& c : changes.list) {
        if (const auto end = reach(phaseOf(c)))
            return ended(*end);
        if (at == Phase::Copying)
            copies.handedUpTo(c.folder);
        if (c.file >= 0 && !usable[c.folder])
            continue; // a file of a folder that could not be made
        if (const auto end = applyChange(scan, c, copies, usable))
            return ended(*end);
    }
    if (const auto end = reach(Phase::Cleaning))
        return ended(*end);
    m_stats.replaced = copies.replaced();
    m_stats.folders = scan.folders.size();
    return PassEnd::Finished;
}

// One change, once the pass has reached its phase.
std::optional<PassEnd> PairPass::applyChange(const TreeScan& scan, const Change& change,
                                             CopyStage& copies, std::vector<bool>& usable)
{
    switch (change.kind) {
    case Change::Kind::Keep:
        ++m_stats.unchanged;
        m_run.m_progress.update([](RunProgress& p) {
            ++p.filesEnded;
            p.passingOver = true;
        });
        break;
    case Change::Kind::Copy:
    case Change::Kind::Replace:
        return copyFor(scan, change, copies);
    case Change::Kind::MakeFolder:
    case Change::Kind::SetAside:
        return change.file < 0 ? makeFolderFor(scan, change, usable) : copyFor(scan, change, copies);
    case Change::Kind::FixCase:
        return fixCase(scan, change);
    case Change::Kind::NotCarried:
        m_run.fail(change.path, change.reason);
        break;
    case Change::Kind::Remove:
        return removeExtra(change);
    }
    return std::nullopt;
}

// A source that could not be read leaves its backup untouched.
std::optional<PassEnd> PairPass::copyFailed(const ParallelCopy::Ended& e, const Handed& h)
{
    if (e.keepFailed) {
        keepFailed(h.destination, QStringLiteral("non aggiornato"), e.status);
        return std::nullopt;
    }
    if (!e.readFailed)
        return writeFailed(e.source, e.status);
    m_run.fail(e.source, unreadSource(e.status, h.hadCopy));
    return std::nullopt;
}

// A folder of the walk that the backup lacks. An entry of another kind in its
// place is set aside while the folder is made, and goes back if that fails.
std::optional<PassEnd> PairPass::makeFolderFor(const TreeScan& scan, const Change& change,
                                               std::vector<bool>& usable)
{
    const ScannedFolder& folder = scan.folders.at(change.folder);
    usable[change.folder] = usable[folder.parent];
    if (!usable[change.folder])
        return std::nullopt;
    if (!m_run.state.proceed())
        return PassEnd::Stopped;
    m_run.m_touched = true;
    const QString path = m_pair.destination + folder.relative;
    QString aside;
    if (change.kind == Change::Kind::SetAside) {
        const auto moved = setAsideFor(change, path);
        if (!moved) {
            usable[change.folder] = false;
            return writeFailed(path, moved.status());
        }
        aside = *moved;
    }
    if (const Status made = makeFolder(path); !made) {
        usable[change.folder] = false;
        if (!aside.isEmpty())
            (void)moveEntry(aside, path);
        return writeFailed(path, made);
    }
    if (!aside.isEmpty())
        dropSetAside(aside, path, false);
    m_run.m_progress.update([k = change.folder](RunProgress& p) { p.foldersMade = k + 1; });
    return std::nullopt;
}

// A file to copy. A folder in its place is set aside until the file is there,
// and goes back if its copy fails.
std::optional<PassEnd> PairPass::copyFor(const TreeScan& scan, const Change& change,
                                         CopyStage& copies)
{
    const ScannedFolder& folder = scan.folders.at(change.folder);
    const ScannedFile& file = folder.files.at(change.file);
    if (const auto end = copies.room())
        return end;
    m_run.m_progress.update([](RunProgress& p) { p.passingOver = false; });
    m_run.m_touched = true;
    const QString source = joinPath(folder.path, file.name);
    const QString destination =
        m_pair.destination + folder.relative + QLatin1Char('\\') + file.name;
    Handed handed{.folder = change.folder,
                  .file = change.file,
                  .destination = destination,
                  .hadCopy = change.kind != Change::Kind::Copy};
    // The file it replaces is kept among the versions, or it is not replaced.
    if (change.kind == Change::Kind::Replace && m_run.keepsVersions()) {
        const auto place = versionPlace(destination);
        if (!place) {
            m_run.m_progress.update([](RunProgress& p) { ++p.filesEnded; });
            return std::nullopt;
        }
        notePlace(destination, *place);
        handed.keptAt = *place;
        handed.keptBytes = change.size;
    }
    if (change.kind == Change::Kind::SetAside) {
        const auto moved = setAsideFor(change, destination);
        if (!moved) {
            m_run.m_progress.update([](RunProgress& p) { ++p.filesEnded; });
            return writeFailed(destination, moved.status());
        }
        handed.aside = *moved;
    }
    return copies.start(source, destination, destination, handed);
}

// An entry the backup holds under another case takes the source's spelling.
// Where the listing shows that the folded name is this very entry, one plain
// rename serves. Otherwise the new spelling may lead to another entry, so the
// rename goes in two steps, neither of which replaces anything: to a hidden
// name that records the new spelling, then to that spelling. A run killed
// between them leaves the entry under that hidden name, which the next run puts
// back under the new spelling. A name too long to be recorded so is renamed
// plainly. The content is then compared as usual.
std::optional<PassEnd> PairPass::fixCase(const TreeScan& scan, const Change& change)
{
    if (!m_run.state.proceed())
        return PassEnd::Stopped;
    m_run.m_touched = true;
    const ScannedFolder& folder = scan.folders.at(change.folder);
    const QString name =
        change.file >= 0 ? folder.files.at(change.file).name : lastName(folder.relative);
    const QString to = m_pair.destination + folder.relative +
                       (change.file >= 0 ? QLatin1Char('\\') + name : QString());
    if (!change.twoSteps || !setAsideRecords(name)) {
        if (const Status renamed = renameCase(change.path, to); !renamed)
            return writeFailed(to, renamed);
        return std::nullopt;
    }
    const auto aside = setAsideFor(change, change.path, name);
    if (!aside)
        return writeFailed(to, aside.status());
    if (const Status moved = moveEntry(*aside, to); !moved) {
        // Back under its old spelling; failing that, the next run puts it back.
        (void)moveEntry(*aside, change.path);
        return writeFailed(to, moved);
    }
    return std::nullopt;
}

std::optional<PassEnd> PairPass::removeExtra(const Change& change)
{
    if (!m_run.state.proceed())
        return PassEnd::Stopped;
    m_run.m_touched = true;
    if (m_run.keepsVersions()) {
        const qint64 before = m_versioned;
        if (keepVersion(change.path, change.path, change.folderThere, change.size, kNotRemoved,
                        true))
            m_stats.removed += m_versioned - before;
        return std::nullopt;
    }
    if (change.folderThere) {
        BackgroundRemoval::Options options;
        options.gate = m_run.gate();
        BackgroundRemoval removal(change.path, options);
        removal.wait();
        if (removal.stopped())
            return PassEnd::Stopped;
        m_stats.removed += removal.removedFiles();
        for (const BackgroundRemoval::Left& left : removal.left())
            m_run.passOver(left.path, leftOverText(left.failure.error()));
        return std::nullopt;
    }
    // What cannot be removed loses nothing: it is left over, and the next run
    // tries again.
    if (const Status deleted = deleteFile(change.path); !deleted) {
        if (destinationLost())
            return PassEnd::DestinationLost;
        m_run.passOver(change.path, leftOverText(deleted.error()));
        return std::nullopt;
    }
    ++m_stats.removed;
    return std::nullopt;
}

} // namespace archivon
