// A dry run: the decisions of a backup run, taken from the drives as they are,
// through the functions the run itself decides with, and printed instead of
// carried out. Nothing here writes: it lists, stats and opens for reading.

#include "forecast/dryrun.h"
#include "plan/checks.h"
#include "plan/paths.h"

#include "versions/retention.h"
#include "versions/versions.h"

#include "decision/leftovers.h"
#include "decision/versioned.h"
#include "index/marks.h"
#include "lock/runlock.h"
#include "fileservices/queries.h"
#include "platform/drives.h"
#include "platform/textfile.h"

#include <algorithm>
#include <functional>

namespace archivon {

using namespace platform;
using namespace leftovers;

namespace {

using Kind = Change::Kind;
using Fate = PairForecast::Fate;

constexpr qint64 kSecondNs = 1000000000;

// The listing of the walk's folder \a k and all it holds, taken where it is
// set aside, as it will be once it is back in its \a place.
BackupListing listedAside(const TreeScan& scan, qsizetype k, const QString& aside,
                          const QString& place, const NameRules& names)
{
    TreeScan below;
    const QString top = scan.folders.at(k).relative;
    const std::vector<qsizetype> under = foldersUnder(scan, k);
    for (const qsizetype j : under) {
        ScannedFolder& folder = below.folders.emplace_back();
        folder.relative = scan.folders.at(j).relative.mid(top.size());
        // under is in the walk's order, each parent before its folders
        const auto parent = std::lower_bound(under.begin(), under.end(), scan.folders.at(j).parent);
        folder.parent = j == k ? -1 : int(parent - under.begin());
    }
    return movedTo(*listBackup(aside, below, true, names), aside, place);
}

// What a killed update set aside, read where it is, goes back in the listing.
void putBackSetAside(const TreeScan& scan, const NameRules& names, BackupListing& listing)
{
    for (const auto& [aside, place] : std::as_const(listing.setAside)) {
        DirSearch search(aside, Hidden | System | Directory, true);
        if (search.next().isEmpty())
            continue;
        const DirSearch::Details& d = search.lastDetails();
        putBackInListing(listing, scan, names, place, {search.lastAttributes(), d.size, d.modifiedNs, d.mode, d.link},
                         [&](qsizetype k) { return listedAside(scan, k, aside, place, names); });
    }
}

// What the destination keeps of times and modes, read from what is there, as
// the run would find it by writing a probe: the coarsest step that every time
// there is a multiple of (the folders above the pair's got theirs from the
// destination itself), and the modes where the files that match their
// sources in size and time mostly match them in mode too.
Keeps keepsRead(const QString& D, const TreeScan& scan, const BackupListing& listing,
                QStringList& assumed)
{
    std::vector<qint64> times;
    for (const BackupListing::Folder& folder : listing.folders) {
        for (const BackupListing::Entry& entry : folder.entries)
            times.push_back(entry.modifiedNs);
    }
    for (auto where = resolve(D); where && !where->components.isEmpty();
         where->components.removeLast()) {
        if (const auto time = modifiedNs(where->toString()))
            times.push_back(*time);
    }
    Keeps keeps;
    if (times.empty()) {
        keeps.timeStepNs = kSecondNs;
        assumed << QStringLiteral("sulla destinazione non si è potuta leggere nessuna data: si "
                                  "suppone che conservi solo i secondi interi");
    } else {
        for (const qint64 step : {kSecondNs, 100000000LL, 10000000LL, 1000000LL, 1000LL, 1LL}) {
            if (std::all_of(times.begin(), times.end(),
                            [step](qint64 t) { return t % step == 0; })) {
                keeps.timeStepNs = step;
                break;
            }
        }
    }
    const Keeps timesOnly{.timeStepNs = keeps.timeStepNs, .modes = false};
    qint64 alike = 0;
    qint64 sameMode = 0;
    for (qsizetype j = 0; j < scan.folders.size(); ++j) {
        for (const ScannedFile& file : scan.folders.at(j).files) {
            const auto entry = listing.folders[j].entries.constFind(file.name);
            if (entry == listing.folders[j].entries.cend() || !unchanged(file, *entry, timesOnly))
                continue;
            ++alike;
            sameMode += entry->mode == file.mode;
        }
    }
    keeps.modes = 2 * sameMode >= alike;
    return keeps;
}

// A file the run would copy whose source cannot be opened fails as its copy
// would, and nothing of it changes; \a hadCopy says whether the backup holds
// one that stays.
void checkSources(PairForecast& p, const std::function<bool(const Change&)>& hadCopy)
{
    for (Change& c : p.changes.list) {
        if (!c.copiesFile())
            continue;
        const ScannedFolder& folder = p.scan.folders.at(c.folder);
        const ScannedFile& file = folder.files.at(c.file);
        const QString source = joinPath(folder.path, file.name);
        if (const Status opens = sourceOpens(source); !opens) {
            c = {.kind = Kind::NotCarried,
                 .folder = c.folder,
                 .path = source,
                 .reason = unreadSource(opens, hadCopy(c))};
        } else {
            p.writes += file.size;
        }
    }
}

// What the destination does with names, asked as the run asks it; where the
// pair's folder and those above it are not there yet (the run makes them
// first), of another entry of the nearest folder that is.
NameRules namesRead(const QString& D)
{
    NameRules names = probeNameRules(D);
    for (auto where = resolve(D); names.assumed && where; where->components.removeLast()) {
        const QString folder = where->toString();
        DirSearch search(joinPath(folder, QStringLiteral("*.*")), Hidden | System | Directory);
        for (QString name = search.next(); names.assumed && !name.isEmpty(); name = search.next())
            names = probeNameRules(joinPath(folder, name));
        if (search.ok() || where->components.isEmpty())
            break;
    }
    return names;
}

// The pair is left out, as a \a failure or not, and why.
void leaveOut(PairForecast& p, const QString& path, const QString& reason, bool failure)
{
    p.fate = failure ? Fate::LeftOut : Fate::Skipped;
    p.leftOutPath = path;
    p.leftOutReason = reason;
    p.failures = failure ? 1 : 0;
}

// What earlier runs left beside the pair's folder: the last complete backup
// goes back under its name where nothing is there, and the rest goes.
void sortOutBeside(PairForecast& p)
{
    const auto beside = besideOf(p.pair.destination);
    if (!beside)
        return;
    const Sorted fate = sortOut(findLeftovers(*beside, p.names), exists(beside->target));
    p.putBack = fate.putBack;
    p.leftoversGone = fate.marks + fate.removed + fate.oldBackups;
    p.oldBackups = fate.oldBackups;
}

// What earlier runs left that goes into the versions whole: the complete
// old backups, and what is set aside in the backup whose place is taken.
// \a damaged: the files the pair's index marks damaged, as the run reads them.
void foreseeUpdate(PairForecast& p, QList<versions::Entry>& whole, const QSet<QString>& damaged)
{
    const QString& D = p.pair.destination;
    const PairFolder folder = pairFolderOf(D);
    p.linkReplaced = folder.link;
    const bool present = folder.present;
    BackupListing listing = *listBackup(D, p.scan, present, p.names);
    // The room is measured before anything is sorted out.
    QStringList timesAssumed;
    const Changes first =
        compareWithBackup(p.scan, listing, keepsRead(D, p.scan, listing, timesAssumed), p.names, damaged);
    p.need = first.toWrite;
    if (emptiedSource(p.scan, listing))
        return leaveOut(p, p.pair.source, kEmptiedSource, true);
    sortOutBeside(p);
    if (!p.putBack.isEmpty())
        listing = movedTo(*listBackup(p.putBack, p.scan, true, p.names), p.putBack, D);
    p.setAsideBack = listing.setAside;
    putBackSetAside(p.scan, p.names, listing);
    p.leftoversGone += listing.temporaries;
    for (const QString& left : std::as_const(listing.temporaries)) {
        if (setAsideWhole(left, p.names))
            whole << versions::entryAt(left);
    }
    p.makesFolder = !present && p.putBack.isEmpty();
    if (p.putBack.isEmpty() && p.setAsideBack.isEmpty()) {
        p.changes = first;
    } else {
        timesAssumed.clear();
        p.changes = compareWithBackup(p.scan, listing, keepsRead(D, p.scan, listing, timesAssumed),
                                      p.names, damaged);
    }
    p.assumed += timesAssumed;
    checkSources(p, [](const Change& c) { return c.kind != Kind::Copy; });
    p.touches = p.makesFolder || !p.putBack.isEmpty() || !p.setAsideBack.isEmpty() ||
                !p.leftoversGone.isEmpty() ||
                std::any_of(p.changes.list.begin(), p.changes.list.end(), [](const Change& c) {
                    return c.kind != Kind::Keep && c.kind != Kind::NotCarried;
                });
}

// The new copy holds every file the destination can keep, copied again; the
// old backup is where the copies of what cannot be read come from, and it
// goes into the versions whole, unless a link is in its place.
void foreseeFull(PairForecast& p, QList<versions::Entry>& whole)
{
    const QString& D = p.pair.destination;
    const TreeScan& scan = p.scan;
    sortOutBeside(p);
    const QString old = p.putBack.isEmpty() ? D : p.putBack;
    if (const auto beside = besideOf(D))
        p.fresh = beside->name(kFresh, 1); // what was there by that name has gone by then
    p.oldGoes = exists(old);
    if (p.oldGoes)
        p.oldBytes = ShowFolderInfo(old).valueOr(0);
    if (p.oldGoes && !pairFolderOf(old).link)
        whole << versions::Entry{old};
    BackupListing listing;
    listing.folders.resize(scan.folders.size());
    NameCheck names = checkNames(scan, listing, p.names);
    if (names.clashes) {
        const auto root = attributes(old);
        listing = *listBackup(old, scan, root && (*root & Directory), p.names);
        names = checkNames(scan, listing, p.names);
    }
    p.changes = planFullRewrite(scan, names);
    // A folder not read to its end: its previous copy is taken back, where there is one.
    for (Change& c : p.changes.list) {
        if (c.kind == Kind::NotCarried && c.folderThere) {
            const ScannedFolder& folder = scan.folders.at(c.folder);
            c.reason = takenBack(folder.listing.error(), true, exists(old + folder.relative));
        }
    }
    p.need = scan.bytes;
    checkSources(p, [&](const Change& c) {
        const ScannedFolder& folder = scan.folders.at(c.folder);
        return exists(old + folder.relative + QLatin1Char('\\') + folder.files.at(c.file).name);
    });
    p.touches = true;
}

// \a destinations: the pairs', as host folders.
PairForecast forecastPair(const BackupPlan& plan, int N, const RunOptions& options,
                          const std::array<QString, 4>& destinations)
{
    PairForecast p{.N = N, .pair = plan.pairs[N - 1]};
    const QString& D = p.pair.destination;
    const auto holder = liveLockAbove(D, QString());
    if (const auto out = whyLeftOut(p.pair, holder ? std::optional(holder->host) : std::nullopt)) {
        leaveOut(p, out->path, out->reason, out->failure);
        return p;
    }
    p.scan = scanTree({p.pair.source}, nullptr, [&](const QString& link) {
        return leadsIntoBackup(link, destinations);
    });
    p.names = namesRead(D);
    if (p.names.assumed)
        p.assumed << QStringLiteral("la destinazione non si è potuta interrogare sui nomi: si "
                                    "suppone che non distingua maiuscole e minuscole e che "
                                    "rifiuti i nomi che Windows non accetta");
    QList<versions::Entry> whole;
    if (options.fullRewrite)
        foreseeFull(p, whole);
    else
        foreseeUpdate(p, whole, index::damagedFiles(plan.backupRoot(), D));
    if (p.fate == Fate::LeftOut)
        return p;
    for (const Change& c : p.changes.list) {
        p.failures += c.kind == Kind::NotCarried;
        p.unchanged += c.kind == Kind::Keep;
        p.copied += c.copiesFile();
    }
    for (const QString& old : std::as_const(p.oldBackups))
        whole << versions::Entry{old};
    if (options.versionDays > 0)
        p.versioned = versions::versionedBy(p.changes, p.scan, D, whole, versions::filesIn).files;
    return p;
}

// The room of pair \a p, taken step by step as the run takes it. Says whether
// something changed on the way.
bool foreseeRoom(const BackupPlan& plan, const RunOptions& options, PairForecast& p,
                 room::Drive& drive)
{
    const auto free = ShowFreeSpace(p.pair.destination.left(3));
    if (!free) {
        p.fate = Fate::DriveLost;
        return false;
    }
    p.room = room::foresee(p.need, *free, drive, [&] {
        return options.versionDays <= 0
                   ? QList<room::Version>()
                   : room::versionsFor(retention::rootsOf(plan), p.pair.destination,
                                       [](const QString&) { return QString(); }, QString(),
                                       QDateTime::currentDateTime());
    });
    if (!p.room.enough)
        p.fate = Fate::NoSpace;
    return p.room.waits || !p.room.versionsRemoved.isEmpty();
}

// Retention begins once the first pair is backed up: its removals, with those
// an earlier run began, go on beside the next pairs. Says whether it changes
// something.
bool foreseeRetention(const BackupPlan& plan, const RunOptions& options, DryRun& run,
                      const std::function<room::Drive&(const QString&)>& driveOf)
{
    bool touched = false;
    for (const retention::Due& due :
         retention::dueNow(retention::rootsOf(plan), options.versionDays,
                           [](const QString&) { return QString(); }, QString(), QDateTime::currentDateTime())) {
        touched = touched || retention::touches(due);
        room::Drive& there = driveOf(due.root);
        for (qsizetype i = 0; i < due.halfRemoved.size(); ++i)
            there.pending.add(-1);
        for (const QString& name : due.names) {
            const QString folder = joinPath(due.root, name);
            run.versionsGone << folder;
            there.versionsGone << folder;
            there.pending.add(retention::recordedBytes(folder));
        }
    }
    return touched;
}

// The start of a run: the checks of its plan, then its lock.
bool refused(const BackupPlan& plan, DryRun& run)
{
    if (const QString problem = checkPlan(plan); !problem.isEmpty()) {
        run.refusal = problem;
        return true;
    }
    if (const QString warning = placeholderWarning(); !warning.isEmpty())
        run.notes << warning;
    if (!exists(run.backupRoot))
        run.notes << QStringLiteral("La cartella %1 non c'è: il backup la creerebbe, con le "
                                    "cartelle delle quattro coppie.")
                         .arg(run.backupRoot);
    // The share's clock can only be read by writing there: this machine's serves.
    const auto owner = readRunLock(run.backupRoot);
    if (owner &&
        judgeRunLock(*owner, QDateTime::currentMSecsSinceEpoch() * 1000000) == LockState::Live) {
        run.refusal = lockedMessage(*owner);
        return true;
    }
    if (owner)
        run.notes << QStringLiteral("Un'esecuzione precedente (computer %1) è terminata senza "
                                    "liberare la cartella: il backup rimuoverebbe il suo blocco.")
                         .arg(owner->host.isEmpty() ? QStringLiteral("?") : owner->host);
    return false;
}

} // namespace

DryRun forecastRun(const BackupPlan& plan, const RunOptions& options)
{
    DryRun run{.backupRoot = plan.backupRoot(), .fullRewrite = options.fullRewrite, .versionDays = options.versionDays};
    const auto ends = [&run](RunOutcome outcome) {
        run.outcome = outcome;
        run.exitStatus = exitStatusFor(outcome, run.failures);
        return run;
    };
    if (refused(plan, run))
        return ends(RunOutcome::Refused);
    std::array<QString, 4> destinations;
    for (std::size_t i = 0; i < plan.pairs.size(); ++i)
        destinations[i] = canonicalFolder(plan.pairs[i].destination);
    QHash<QChar, room::Drive> drives;
    const auto driveOf = [&](const QString& path) -> room::Drive& {
        const auto where = resolve(path);
        return drives[where ? where->drive : QChar()];
    };
    bool touched = false;
    for (int N = 1; N <= 4; ++N) {
        run.pairs.push_back(forecastPair(plan, N, options, destinations));
        PairForecast& p = run.pairs.back();
        run.failures += p.failures;
        if (p.fate == Fate::Backed) {
            room::Drive& drive = driveOf(p.pair.destination);
            touched = foreseeRoom(plan, options, p, drive) || touched;
            if (p.fate == Fate::NoSpace || p.fate == Fate::DriveLost) {
                run.failures += p.fate == Fate::DriveLost;
                return ends(earlyEnd(touched));
            }
            touched = touched || p.touches;
            drive.written += p.writes;
            // Without versions, the old copy a full rewrite replaced is removed
            // while the next pairs go on.
            if (p.oldGoes && options.versionDays <= 0)
                drive.pending.add(p.oldBytes);
            if (++run.pairsBacked == 1)
                touched = foreseeRetention(plan, options, run, driveOf) || touched;
        }
    }
    if (run.pairsBacked == 0)
        run.failures = std::max(run.failures, 1);
    return ends(RunOutcome::Completed);
}

} // namespace archivon
