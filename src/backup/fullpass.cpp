// The full rewrite of a pair: the new copy is built beside the old backup,
// under a hidden name, recorded as complete, and only then swapped in.

#include "backup/enginerun.h"

#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/textfile.h"

#include <QHash>
#include <QScopeGuard>
#include <QRegularExpression>

#include <optional>

namespace archivon {

using namespace platform;

namespace {

// Beside a pair's destination D: ".D.archivon-nuovo" while the new copy is
// built, with ".D.archivon-nuovo.completa" beside it once it is complete;
// ".D.archivon-vecchio" for the old backup between the two renames of the
// swap (always a complete copy); ".D.archivon-rimosso" while an old copy is
// removed. A name that something left there already gets "-2", "-3"...
const QString kFresh = QStringLiteral("nuovo");
const QString kRetired = QStringLiteral("vecchio");
const QString kTrash = QStringLiteral("rimosso");
const QString kCompleteMark = QStringLiteral(".completa");
// For a small file, opening the old copy costs more than it saves.
constexpr qint64 kForgetCachedFrom = 1024 * 1024;

struct Beside
{
    QString target;
    QString parent;
    QString prefix;

    QString name(const QString& kind, int k) const
    {
        return joinPath(parent, prefix + kind + (k > 1 ? QStringLiteral("-%1").arg(k) : QString()));
    }
    // The first name of that kind that nothing holds.
    QString freeName(const QString& kind) const
    {
        for (int k = 1;; ++k) {
            const QString path = name(kind, k);
            if (!exists(path) && !exists(path + kCompleteMark))
                return path;
        }
    }
};

std::optional<Beside> besideOf(const QString& destination)
{
    const auto where = resolve(destination);
    if (!where || where->components.isEmpty())
        return std::nullopt;
    DrivePath parent = *where;
    const QString name = parent.components.takeLast();
    return Beside{where->toString(), parent.toString(),
                  QLatin1Char('.') + name + QStringLiteral(".archivon-")};
}

// What earlier runs left beside a destination.
struct Leftovers
{
    QStringList fresh;   // new copies, complete when their mark is there
    QStringList marks;
    QStringList retired; // complete old backups
    QStringList other;   // old copies being removed, and anything else of ours
};

Leftovers findLeftovers(const Beside& b)
{
    static const QRegularExpression fresh(QStringLiteral("^nuovo(-[0-9]+)?$"));
    static const QRegularExpression mark(QStringLiteral("^nuovo(-[0-9]+)?\\.completa$"));
    static const QRegularExpression retired(QStringLiteral("^vecchio(-[0-9]+)?$"));
    Leftovers found;
    DirSearch search(joinPath(b.parent, QStringLiteral("*.*")), Hidden | System | Directory);
    for (QString name = search.next(); !name.isEmpty(); name = search.next()) {
        if (!name.startsWith(b.prefix))
            continue;
        const QString rest = name.mid(b.prefix.size());
        const QString path = joinPath(b.parent, name);
        if (fresh.match(rest).hasMatch())
            found.fresh << path;
        else if (mark.match(rest).hasMatch())
            found.marks << path;
        else if (retired.match(rest).hasMatch())
            found.retired << path;
        else
            found.other << path;
    }
    return found;
}

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
        return Status::failure(search.error());
    QList<std::pair<QString, bool>> entries;
    for (QString name = search.next(); !name.isEmpty(); name = search.next())
        entries.append({name, bool(search.lastAttributes() & Directory)});
    for (const auto& [name, isFolder] : entries) {
        if (!gate())
            return Status::failure(reasonFor(ECANCELED));
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

// What earlier runs left beside the destination: a copy one never finished,
// or an old one it had not removed yet. The last complete backup is kept
// under the pair's name whatever the order of events was; \a restored says
// that one was put back there.
std::optional<EngineRun::PassEnd> EngineRun::sortOutLeftovers(int N, bool& restored)
{
    const QString D = m_plan.pairs[N - 1].destination;
    const auto beside = besideOf(D);
    if (!beside) {
        fail(D, driveNotReadyReason());
        return PassEnd::Finished;
    }
    Leftovers left = findLeftovers(*beside);
    if (!exists(beside->target)) {
        // Cut off in the swap: the new copy if it was recorded complete,
        // otherwise the old one, which is whole until it is renamed away.
        QString complete;
        for (const QString& fresh : std::as_const(left.fresh)) {
            if (left.marks.contains(fresh + kCompleteMark)) {
                complete = fresh;
                break;
            }
        }
        if (complete.isEmpty() && !left.retired.isEmpty())
            complete = left.retired.first();
        if (!complete.isEmpty()) {
            m_touched = true;
            (void)state.proceed(); // not while held; a stop still lets it go back
            if (const Status moved = moveEntry(complete, beside->target); !moved) {
                if (destinationLost(N))
                    return PassEnd::DestinationLost;
                fail(D, QStringLiteral("impossibile rimettere al suo posto il backup lasciato "
                                       "da un'esecuzione interrotta (%1)")
                            .arg(moved.error()));
                return PassEnd::Finished;
            }
            restored = true;
            left.fresh.removeAll(complete);
            left.retired.removeAll(complete);
        }
    }
    QStringList garbage = left.other;
    // A mark goes before its copy, so that a copy half removed never looks complete.
    for (const QString& mark : std::as_const(left.marks))
        (void)deleteFile(mark);
    garbage += left.fresh;
    // An old backup is renamed before its removal begins: a copy under that
    // name is always whole.
    for (const QString& retired : std::as_const(left.retired)) {
        const QString trash = beside->freeName(kTrash);
        if (moveEntry(retired, trash))
            garbage << trash;
        else
            passOver(retired, QStringLiteral("copia precedente non eliminata"));
    }
    for (const QString& folder : std::as_const(garbage)) {
        if (!removeNow(N, folder, false))
            return PassEnd::Stopped;
    }
    return std::nullopt;
}

EngineRun::PassEnd EngineRun::fullPass(int N, const TreeScan& scan, PairStats& stats)
{
    const QString S = m_plan.pairs[N - 1].source;
    const QString D = m_plan.pairs[N - 1].destination;
    const auto beside = besideOf(D);
    if (!beside) {
        fail(D, driveNotReadyReason());
        return PassEnd::Finished;
    }

    phase(N, Phase::Cleaning);
    bool restored = false;
    if (const auto end = sortOutLeftovers(N, restored))
        return *end;

    phase(N, Phase::Creating);
    if (!state.proceed())
        return PassEnd::Stopped;
    // The new mirror is built here; the old backup keeps D's name until the
    // new one is complete.
    const QString fresh = beside->freeName(kFresh);
    const QString mark = fresh + kCompleteMark;
    m_touched = true;
    if (const Status made = makeFolder(fresh); !made) {
        if (destinationLost(N))
            return PassEnd::DestinationLost;
        fail(D, made.error()); // nowhere to build: the old backup stays
        return PassEnd::Finished;
    }
    updateProgress([](RunProgress& p) { p.foldersMade = 1; });

    // A full destination: the new copy goes at once, and the old backup stays.
    const auto endFull = [&]() {
        QString text = scan.files > 0 ? QStringLiteral("spazio su disco esaurito: nessuno dei %1 file "
                                                       "della coppia è stato copiato")
                                            .arg(scan.files)
                                      : QStringLiteral("spazio su disco esaurito: copia non completata");
        // An empty folder under the pair's name is no previous backup.
        if (!DirSearch(joinPath(D, QStringLiteral("*.*")), Hidden | System | Directory).next().isEmpty())
            text += QStringLiteral(", resta il backup precedente");
        fail(D, text, scan.files);
        (void)deleteFile(mark);
        return removeNow(N, fresh, true) ? PassEnd::Finished : PassEnd::Stopped;
    };
    // True when nothing more can be written: the drive is gone, or full.
    std::optional<PassEnd> writeEnd;
    const auto writeFailed = [&](const QString& path, const QString& reason) {
        if (destinationLost(N)) {
            writeEnd = PassEnd::DestinationLost;
            return true;
        }
        if (isDiskFullReason(reason)) {
            writeEnd = PassEnd::Finished;
            return true;
        }
        fail(path, reason);
        return false;
    };

    // The folders, parents first since the walk is breadth-first.
    phase(N, Phase::MakingFolders);
    for (qsizetype i = 1; i < scan.folders.size(); ++i) {
        if (!state.proceed())
            return PassEnd::Stopped;
        const QString& relative = scan.folders.at(i).relative;
        if (const Status made = makeFolder(fresh + relative);
            !made && writeFailed(D + relative, made.error()))
            return *writeEnd == PassEnd::Finished ? endFull() : *writeEnd;
        updateProgress([i](RunProgress& p) { p.foldersMade = i + 1; });
    }

    phase(N, Phase::Copying);
    for (const ScanProblem& p : scan.notCarried)
        fail(p.path, p.reason);

    // The files are copied two at a time beside this loop; a folder is done
    // once every copy of its files has ended.
    struct Carry
    {
        QString source;
        QString old;
        QString fresh;
        QString reason;
        bool folder;
    };
    QList<Carry> carries;
    struct Handed
    {
        int folder;
        QString fresh;
    };
    QHash<QString, Handed> handed; // by source
    FoldersDone done(scan.folders.size());
    // A source that could not be read keeps its previous copy; one that
    // vanished is not brought back.
    const auto readFailed = [&](const QString& source, const QString& old, const QString& to,
                                const QString& reason) {
        if (isVanishedReason(reason))
            fail(source, reason);
        else
            carries.append({source, old, to, reason, false});
    };

    ParallelCopy copies(gate());
    showCopies(&copies);
    const auto unpublish = qScopeGuard([&] { showCopies(nullptr); });
    // Settles the copies that ended; says how the pass ends when one ends it.
    const auto settle = [&]() -> std::optional<PassEnd> {
        for (const ParallelCopy::Ended& e : copies.takeEnded()) {
            const Handed h = handed.take(e.source);
            if (e.status) {
                ++stats.copied;
                stats.bytes += e.size;
            } else if (state.stopRequested()) {
                copies.abandon();
                return PassEnd::Stopped;
            } else if (e.readFailed) {
                readFailed(e.source, e.shownAs, h.fresh, e.status.error());
            } else if (writeFailed(e.source, e.status.error())) {
                copies.abandon();
                return *writeEnd == PassEnd::Finished ? endFull() : *writeEnd;
            }
            fileEnded(done, h.folder);
        }
        return std::nullopt;
    };

    for (qsizetype j = 0; j < scan.folders.size(); ++j) {
        const ScannedFolder& folder = scan.folders.at(j);
        const QString shownFolder = D + folder.relative;
        const QString freshFolder = fresh + folder.relative;
        for (const ScannedFile& file : folder.files) {
            if (const auto end = waitForCopies(copies, false, settle))
                return *end;
            if (!state.proceed()) {
                copies.abandon();
                return PassEnd::Stopped;
            }
            const QString source = joinPath(folder.path, file.name);
            const QString shown = joinPath(shownFolder, file.name);
            const QString to = joinPath(freshFolder, file.name);
            // The old backup's copy of a large file is about to go: the memory
            // it holds serves the new one, which is far quicker than fresh memory.
            if (file.size >= kForgetCachedFrom)
                forgetCachedContent(shown);
            done.handed(j);
            handed.insert(source, {int(j), to});
            if (const Status started = copies.start(source, to, shown); !started) {
                handed.remove(source);
                if (destinationLost(N)) {
                    copies.abandon();
                    return PassEnd::DestinationLost;
                }
                // Nothing was written: the source could not be opened.
                readFailed(source, shown, to, started.error());
                fileEnded(done, j);
            }
        }
        if (!folder.error.isEmpty())
            carries.append({folder.path, shownFolder, freshFolder, folder.error, true});
        const qsizetype leading = done.listed(j);
        updateProgress([leading](RunProgress& p) { p.foldersDone = leading; });
    }
    if (const auto end = waitForCopies(copies, true, settle))
        return *end;

    for (const Carry& c : carries) {
        if (!state.proceed())
            return PassEnd::Stopped;
        if (!exists(c.old)) {
            fail(c.source, c.folder ? QStringLiteral("impossibile leggere la cartella (%1)").arg(c.reason)
                                    : c.reason);
            continue;
        }
        const Status carried = c.folder ? carryFolder(c.old, c.fresh, gate()) : carryFile(c.old, c.fresh);
        if (carried)
            fail(c.source, notUpdated(c.reason));
        else if (writeFailed(c.source, QStringLiteral("%1; copia precedente non recuperata (%2)")
                                           .arg(c.reason, carried.error())))
            return *writeEnd == PassEnd::Finished ? endFull() : *writeEnd;
    }
    stats.folders = scan.folders.size();

    // Complete: recorded so, then swapped in. A rename that fails keeps the
    // old backup where it was.
    if (!state.proceed())
        return PassEnd::Stopped;
    if (const Status marked = writeTextFile(mark, {}); !marked) {
        if (writeFailed(D, marked.error()))
            return *writeEnd == PassEnd::Finished ? endFull() : *writeEnd;
        (void)deleteFile(mark);
        return removeNow(N, fresh, true) ? PassEnd::Finished : PassEnd::Stopped;
    }
    const bool hadOld = exists(beside->target);
    const QString retired = beside->freeName(kRetired);
    Status moved;
    if (hadOld)
        moved = moveEntry(beside->target, retired);
    if (moved) {
        moved = moveEntry(fresh, beside->target);
        // The previous backup goes back under the pair's name, whatever else happens.
        if (!moved && hadOld && !moveEntry(retired, beside->target)) {
            fail(D, QStringLiteral("impossibile sostituire il backup precedente (%1): la prossima "
                                   "esecuzione lo rimetterà al suo posto")
                        .arg(moved.error()));
            return PassEnd::Finished;
        }
    }
    if (!moved) {
        if (destinationLost(N))
            return PassEnd::DestinationLost;
        fail(D, QStringLiteral("impossibile sostituire il backup precedente (%1): è rimasto quello")
                    .arg(moved.error()));
        (void)deleteFile(mark);
        return removeNow(N, fresh, true) ? PassEnd::Finished : PassEnd::Stopped;
    }
    (void)deleteFile(mark);
    // The old copy goes on threads of its own, while the next pair copies.
    if (hadOld) {
        const QString trash = beside->freeName(kTrash);
        removeInBackground(moveEntry(retired, trash) ? trash : retired);
    }
    return PassEnd::Finished;
}

} // namespace archivon
