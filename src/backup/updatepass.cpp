// The update of a pair in place: the backup under the pair's name is compared
// with the source, and only what differs is written. A new or changed file is
// copied under a hidden name and renamed over the old one, so a file under its
// own name is always whole, old or new; what the source no longer holds goes
// only once the whole source has been walked.

#include "backup/enginerun.h"

#include "platform/drives.h"
#include "platform/errors.h"

#include <QScopeGuard>
#include <QSet>

namespace archivon {

using namespace platform;

namespace {

qint64 cut(qint64 ns, qint64 step) { return ns - ns % step; }

// The same file on both sides: a regular file of the same size and time, and
// the same permission bits where the backup keeps them. The time is compared
// to the step the backup keeps, and never more loosely than two seconds.
bool unchanged(const ScannedFile& file, const BackupSide::Entry& entry, const Keeps& keeps)
{
    if (!(entry.attributes & Archive) || entry.link || entry.size != file.size)
        return false;
    const qint64 step = std::min<qint64>(keeps.timeStepNs, 2000000000);
    if (cut(file.modifiedNs, step) != cut(entry.modifiedNs, step))
        return false;
    return !keeps.modes || entry.mode == file.mode;
}

// What a full destination left out of the pair, and what of it the previous
// backup still holds.
QString diskFullText(qint64 left, qint64 files, qint64 keptOld)
{
    QString text = QStringLiteral("spazio su disco esaurito");
    if (left <= 0)
        return text;
    text += left == 1 ? QStringLiteral(": 1 dei %2 file della coppia non è stato copiato").arg(files)
                      : QStringLiteral(": %1 dei %2 file della coppia non sono stati copiati").arg(left).arg(files);
    if (keptOld >= left)
        text += left == 1 ? QStringLiteral(", resta la sua copia del backup precedente")
                          : QStringLiteral(", di ognuno resta la copia del backup precedente");
    else if (keptOld > 0)
        text += QStringLiteral(", di %1 resta la copia del backup precedente").arg(keptOld);
    return text;
}

QString lastName(const QString& relative)
{
    return relative.mid(relative.lastIndexOf(QLatin1Char('\\')) + 1);
}

} // namespace

BackupSide EngineRun::compareWithBackup(int N, const TreeScan& scan)
{
    const QString D = m_plan.pairs[N - 1].destination;
    BackupSide side;
    side.folders.resize(scan.folders.size());
    const auto root = attributes(D);
    side.folders[0].present = root && (*root & Directory) && !(linkAttributes(D).valueOr(0) & System);
    // What the backup keeps of times and modes, asked of its own file system.
    if (auto keeps = probeKeeps(side.folders[0].present ? D : joinPath(D, QStringLiteral(".."))))
        side.keeps = *keeps;
    // Held while the stop question is open; after a stop the caller ends the run.
    for (qsizetype j = 0; j < scan.folders.size() && state.proceed(); ++j) {
        const ScannedFolder& folder = scan.folders.at(j);
        BackupSide::Folder& there = side.folders[j];
        if (j > 0) {
            const BackupSide::Folder& parent = side.folders[folder.parent];
            there.present = parent.present && parent.entries.value(lastName(folder.relative)).isFolder();
        }
        if (there.present) {
            const QString prefix = D + folder.relative + QLatin1Char('\\');
            DirSearch search(prefix, Hidden | System | Directory, true);
            QStringList asideNames;
            for (QString name = search.next(); !name.isEmpty(); name = search.next()) {
                if (isRunLockName(name)) {
                    continue; // a backup folder's own lock, where a pair is backed up into it
                } else if (isCopyTemporary(name)) {
                    side.temporaries << prefix + name;
                } else if (setAsideFrom(name)) {
                    asideNames << name;
                } else {
                    const DirSearch::Details& d = search.lastDetails();
                    there.entries.insert(name, {search.lastAttributes(), d.size, d.modifiedNs, d.mode, d.link});
                }
            }
            for (const QString& name : std::as_const(asideNames)) {
                const QString was = *setAsideFrom(name);
                if (was.isEmpty() || there.entries.contains(was))
                    side.temporaries << prefix + name;
                else
                    side.setAside.append({prefix + name, prefix + was});
            }
        }
        there.changed.resize(folder.files.size(), true);
        for (qsizetype i = 0; i < folder.files.size(); ++i) {
            const ScannedFile& file = folder.files.at(i);
            const auto entry = there.entries.constFind(file.name);
            there.changed[i] = entry == there.entries.constEnd() || !unchanged(file, *entry, side.keeps);
            if (there.changed[i]) {
                side.toWrite += file.size;
                ++side.changedFiles;
                side.changedWithCopy += entry != there.entries.constEnd();
            }
        }
    }
    return side;
}

EngineRun::PassEnd EngineRun::updatePass(int N, const TreeScan& scan, BackupSide& side, PairStats& stats)
{
    const QString D = m_plan.pairs[N - 1].destination;

    phase(N, Phase::Cleaning);
    bool restored = false;
    if (const auto end = sortOutLeftovers(N, restored))
        return *end;
    // What a killed run had set aside goes back where its place is free.
    for (const auto& [aside, place] : std::as_const(side.setAside)) {
        if (!state.proceed())
            return PassEnd::Stopped;
        m_touched = true;
        if (moveEntry(aside, place))
            restored = true;
    }
    if (restored) { // what is under the pair's name now is not what was compared
        side = compareWithBackup(N, scan);
        if (state.stopRequested())
            return PassEnd::Stopped;
    }
    // Its temporary files, and what it set aside whose place is taken, go.
    for (const QString& left : std::as_const(side.temporaries)) {
        if (!state.proceed())
            return PassEnd::Stopped;
        m_touched = true;
        if (const auto attrs = linkAttributes(left); attrs && (*attrs & Directory)) {
            if (!removeNow(N, left, false))
                return PassEnd::Stopped;
        } else if (const Status deleted = deleteFile(left); !deleted) {
            passOver(left, QStringLiteral("impossibile eliminare (%1): resta da un'esecuzione "
                                          "precedente")
                               .arg(deleted.error()));
        }
    }

    struct Handed
    {
        int folder;
        QString destination;
        QString aside; // a folder in the file's place, until the file is there
        bool hadCopy;
    };
    QHash<QString, Handed> handed; // by source
    ParallelCopy copies(gate());
    qint64 replaced = 0; // files copied over their previous copy

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
    std::function<void(const ParallelCopy::Ended&)> settleOne;
    // A full destination ends the pass once the copies handed over have ended,
    // so that what was not copied is counted exactly. The files not copied keep
    // their previous copy where the backup had one.
    const auto ended = [&]() -> PassEnd {
        if (*writeEnd != PassEnd::Finished)
            return *writeEnd;
        while (copies.busy())
            copies.waitFor(50);
        for (const ParallelCopy::Ended& e : copies.takeEnded())
            settleOne(e);
        if (state.stopRequested())
            return PassEnd::Stopped;
        const qint64 left = side.changedFiles - stats.copied;
        fail(D, diskFullText(left, scan.files, side.changedWithCopy - replaced), left);
        return PassEnd::Finished;
    };

    phase(N, Phase::Creating);
    if (!state.proceed())
        return PassEnd::Stopped;
    if (!side.folders[0].present) {
        m_touched = true;
        if (const Status made = makeFolder(D); !made) {
            if (destinationLost(N))
                return PassEnd::DestinationLost;
            fail(D, made.error());
            return PassEnd::Finished;
        }
    }
    updateProgress([](RunProgress& p) { p.foldersMade = 1; });

    // An entry whose kind changed is set aside while the new one is made, and
    // goes back if that fails.
    phase(N, Phase::MakingFolders);
    std::vector<bool> usable(scan.folders.size(), true);
    for (qsizetype i = 1; i < scan.folders.size(); ++i) {
        if (!state.proceed())
            return PassEnd::Stopped;
        const ScannedFolder& folder = scan.folders.at(i);
        const QString path = D + folder.relative;
        usable[i] = usable[folder.parent];
        const BackupSide::Folder& parent = side.folders[folder.parent];
        const auto entry = parent.entries.constFind(lastName(folder.relative));
        if (!usable[i] || (entry != parent.entries.constEnd() && entry->isFolder())) {
            updateProgress([i](RunProgress& p) { p.foldersMade = i + 1; });
            continue;
        }
        m_touched = true;
        QString aside;
        if (entry != parent.entries.constEnd()) {
            const auto moved = setAside(path);
            if (!moved) {
                usable[i] = false;
                if (writeFailed(path, moved.error()))
                    return ended();
                continue;
            }
            aside = *moved;
        }
        if (const Status made = makeFolder(path); !made) {
            usable[i] = false;
            if (!aside.isEmpty())
                (void)moveEntry(aside, path);
            if (writeFailed(path, made.error()))
                return ended();
            continue;
        }
        if (!aside.isEmpty())
            (void)deleteFile(aside);
        updateProgress([i](RunProgress& p) { p.foldersMade = i + 1; });
    }

    phase(N, Phase::Copying);
    for (const ScanProblem& p : scan.notCarried)
        fail(p.path, p.reason);

    FoldersDone done(scan.folders.size());
    // A source that could not be read leaves its backup untouched.
    const auto readFailed = [&](const QString& source, bool hadCopy, const QString& reason) {
        fail(source, hadCopy && !isVanishedReason(reason) ? notUpdated(reason) : reason);
    };

    showCopies(&copies);
    // Whatever happens, an entry set aside goes back unless its new one is there.
    const auto putBack = qScopeGuard([&] {
        showCopies(nullptr);
        copies.abandon();
        for (const Handed& h : std::as_const(handed)) {
            if (!h.aside.isEmpty() && !exists(h.destination))
                (void)moveEntry(h.aside, h.destination);
        }
    });
    // Once the pass is ending, a copy that fails is one of those counted as not copied.
    settleOne = [&](const ParallelCopy::Ended& e) {
        const Handed h = handed.take(e.source);
        if (e.status) {
            ++stats.copied;
            stats.bytes += e.size;
            replaced += h.hadCopy;
            if (!h.aside.isEmpty())
                removeInBackground(h.aside);
        } else {
            if (!h.aside.isEmpty())
                (void)moveEntry(h.aside, h.destination);
            if (!writeEnd && !state.stopRequested()) {
                if (e.readFailed)
                    readFailed(e.source, h.hadCopy, e.status.error());
                else
                    (void)writeFailed(e.source, e.status.error());
            }
        }
        fileEnded(done, h.folder);
    };
    const auto settle = [&]() -> std::optional<PassEnd> {
        for (const ParallelCopy::Ended& e : copies.takeEnded())
            settleOne(e);
        if (state.stopRequested())
            return PassEnd::Stopped;
        if (writeEnd)
            return ended();
        return std::nullopt;
    };

    for (qsizetype j = 0; j < scan.folders.size(); ++j) {
        const ScannedFolder& folder = scan.folders.at(j);
        const BackupSide::Folder& there = side.folders[j];
        if (!folder.listed)
            readFailed(folder.path, there.present || exists(D + folder.relative), folder.error);
        for (qsizetype i = 0; usable[j] && i < folder.files.size(); ++i) {
            const ScannedFile& file = folder.files.at(i);
            if (!there.changed[i]) {
                ++stats.unchanged;
                updateProgress([](RunProgress& p) {
                    ++p.filesEnded;
                    p.passingOver = true;
                });
                continue;
            }
            if (const auto end = waitForCopies(copies, false, settle))
                return *end;
            if (!state.proceed())
                return PassEnd::Stopped;
            updateProgress([](RunProgress& p) { p.passingOver = false; });
            m_touched = true;
            const QString source = joinPath(folder.path, file.name);
            const QString destination = D + folder.relative + QLatin1Char('\\') + file.name;
            const auto entry = there.entries.constFind(file.name);
            const bool hadCopy = entry != there.entries.constEnd();
            QString aside;
            if (hadCopy && entry->isFolder()) {
                const auto moved = setAside(destination);
                if (!moved) {
                    if (writeFailed(destination, moved.error()))
                        return ended();
                    updateProgress([](RunProgress& p) { ++p.filesEnded; });
                    continue;
                }
                aside = *moved;
            }
            done.handed(j);
            handed.insert(source, {int(j), destination, aside, hadCopy});
            if (const Status started = copies.start(source, destination, destination); !started) {
                const Handed h = handed.take(source);
                if (!aside.isEmpty())
                    (void)moveEntry(aside, destination);
                if (destinationLost(N))
                    return PassEnd::DestinationLost;
                readFailed(source, hadCopy, started.error());
                fileEnded(done, j);
            }
        }
        if (folder.listed && !folder.error.isEmpty())
            readFailed(folder.path, true, folder.error);
        const qsizetype leading = done.listed(j);
        updateProgress([leading](RunProgress& p) { p.foldersDone = leading; });
    }
    if (const auto end = waitForCopies(copies, true, settle))
        return *end;
    updateProgress([](RunProgress& p) { p.passingOver = false; });

    // The whole source has been walked, with no stop, no full disk and no lost
    // drive: what it no longer holds goes from the backup. A folder that could
    // not be read to its end keeps everything.
    phase(N, Phase::Cleaning);
    for (qsizetype j = 0; j < scan.folders.size(); ++j) {
        const ScannedFolder& folder = scan.folders.at(j);
        const BackupSide::Folder& there = side.folders[j];
        if (!there.present || !usable[j] || !folder.listed || !folder.error.isEmpty())
            continue;
        QSet<QString> kept;
        for (const ScannedFile& file : folder.files)
            kept.insert(file.name);
        for (qsizetype k = j + 1; k < scan.folders.size(); ++k) {
            if (scan.folders.at(k).parent == j)
                kept.insert(lastName(scan.folders.at(k).relative));
        }
        for (auto it = there.entries.constBegin(); it != there.entries.constEnd(); ++it) {
            if (kept.contains(it.key()))
                continue;
            if (!state.proceed())
                return PassEnd::Stopped;
            const QString path = D + folder.relative + QLatin1Char('\\') + it.key();
            if (it->isFolder()) {
                BackgroundRemoval::Options options;
                options.gate = gate();
                BackgroundRemoval removal(path, options);
                removal.wait();
                if (removal.stopped())
                    return PassEnd::Stopped;
                stats.removed += removal.removedFiles();
                for (const BackgroundRemoval::Left& left : removal.left())
                    fail(left.path, QStringLiteral("impossibile eliminare (%1)").arg(left.reason));
            } else if (const Status deleted = deleteFile(path); deleted) {
                ++stats.removed;
            } else if (writeFailed(path, deleted.error())) {
                return ended();
            }
        }
    }
    stats.folders = scan.folders.size();
    return PassEnd::Finished;
}

} // namespace archivon
