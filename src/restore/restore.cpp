#include "restore/restore.h"

#include "fileservices/texts.h"
#include "lock/runlock.h"
#include "plan/paths.h"
#include "plan/plan.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/identity.h"
#include "restore/job.h"
#include "versions/versions.h"

#include <QRegularExpression>

namespace archivon::restore {

using namespace platform;
using detail::Job;

namespace {

Outcome refused(QString why)
{
    Outcome o;
    o.status = Outcome::Refused;
    o.error = std::move(why);
    return o;
}

RelativePath splitPath(const QString& text)
{
    return text.split(QRegularExpression(QStringLiteral("[\\\\/]")), Qt::SkipEmptyParts);
}

// The oldest moment that can be given back of \a pair, for a refusal to name.
QString oldestText(const ComputerBackup& backup, const PairBackup& pair)
{
    const Reach reach = reachOf(backup.historyOf(pair, false));
    // Only the present within reach: its moment is the last run's end, where known.
    const QDateTime oldest = reach.oldest.isValid() ? reach.oldest : backup.lastEnd;
    if (!oldest.isValid())
        return QStringLiteral("si può ripristinare solo il backup com'è ora (senza --al)");
    return QStringLiteral("il più vecchio che si può ripristinare è il %1 (--al \"%2\")")
        .arg(shownMoment(oldest), momentText(oldest));
}

// The pair as it was at \a when; nothing given: as it stands. A moment after
// the last end the share knows of is the backup as it stands; where a run
// began since and never ended, or left no list that reads, there is no such
// end (ComputerBackup::lastEnd), and the moment is worked out from the lists.
Result<Moment> momentOf(const ComputerBackup& backup, const PairBackup& pair, const std::optional<QDateTime>& when)
{
    const bool present = !when || (backup.lastEnd.isValid() && *when >= backup.lastEnd);
    Result<Moment> moment = momentAt(backup.historyOf(pair, present), present ? std::nullopt : when);
    if (!moment)
        return Result<Moment>::failure(moment.error() + QStringLiteral(";\r\n") + oldestText(backup, pair));
    return moment;
}

// Where the pair's folder goes: the folder given, or its own source.
QString targetOf(const Request& request, const PairBackup& pair)
{
    if (request.destination.isEmpty())
        return pair.source;
    const auto where = resolve(request.destination);
    return where ? joinPath(where->toString(), pair.name) : QString();
}

// Whether writing into \a target would write on R:'s file system, however the
// path is spelt: a folder of R:, or of the file system R: is mounted from.
bool onShare(const QString& target)
{
    const QString share = canonicalFolder(QStringLiteral("R:\\"));
    const QString place = canonicalFolder(target);
    if (share.isEmpty() || place.isEmpty())
        return false; // no R: to write on, or no path: refused as such
    if (place == share || place.startsWith(share + QLatin1Char('/')))
        return true;
    if (sameFileSystem(QLatin1Char('R'), QLatin1Char('C')))
        return false; // R: is a folder of this computer's own disk
    auto where = resolve(target);
    while (where && !where->components.isEmpty() && !attributes(where->toString()))
        where->components.removeLast();
    const auto here = where ? fileId(where->toString()) : Result<FileId>::failure(QString());
    const auto there = fileId(QStringLiteral("R:\\"));
    return here && there && here.value().device == there.value().device;
}

bool emptyOrAbsent(const QString& folder)
{
    const auto attrs = linkAttributes(folder);
    if (!attrs)
        return attrs.kind() == ErrorKind::NotFound;
    return (*attrs & Directory) && !anyMatch(joinPath(folder, QStringLiteral("*.*")), Hidden | System | Directory);
}

// The pairs --percorso names (every pair without it), each with its moment.
Result<std::vector<Job>> jobsFor(const Request& request, const ComputerBackup& backup)
{
    using R = Result<std::vector<Job>>;
    const RelativePath path = splitPath(request.path);
    std::vector<Job> jobs;
    for (const PairBackup& pair : backup.pairs) {
        if (!path.isEmpty() && path.first().compare(pair.name, Qt::CaseInsensitive) != 0)
            continue;
        auto moment = momentOf(backup, pair, request.when);
        if (!moment)
            return R::failure(moment.error());
        Job job{&backup, &pair, moment.value(), path.mid(1), targetOf(request, pair)};
        if (!job.moment.present() || (!job.scope.isEmpty() && !job.moment.find(job.scope))) {
            if (path.isEmpty())
                continue; // nothing of this pair then
            return R::failure(QStringLiteral("«%1» non c'era nel backup %2.")
                                  .arg(request.path, request.when ? QStringLiteral("al ") + shownMoment(*request.when)
                                                                  : QStringLiteral("com'è ora")));
        }
        jobs.push_back(std::move(job));
    }
    if (jobs.empty() && !path.isEmpty())
        return R::failure(QStringLiteral("«%1» non è una cartella del backup di %2.").arg(path.first(), backup.root));
    if (jobs.empty())
        return R::failure(QStringLiteral("il backup %1 non contiene nulla da ripristinare.")
                              .arg(request.when ? QStringLiteral("al ") + shownMoment(*request.when)
                                                : QStringLiteral("com'è ora")));
    return jobs;
}

// Why the jobs cannot be written where they go, before anything is.
QString targetRefusal(const Request& request, const std::vector<Job>& jobs)
{
    for (const Job& job : jobs) {
        if (job.target.isEmpty() || !resolve(job.target))
            return QStringLiteral("la cartella di destinazione «%1» non è un percorso valido.").arg(request.destination);
        if (onShare(job.target))
            return QStringLiteral("la destinazione %1 si trova sull'unità R:, dove il ripristino non scrive.")
                .arg(job.target);
        const auto attrs = attributes(job.target);
        if (attrs && !(*attrs & Directory))
            return QStringLiteral("%1 c'è già e non è una cartella.").arg(job.target);
        if (request.destination.isEmpty() && job.scope.isEmpty() && !emptyOrAbsent(job.target))
            return QStringLiteral("la cartella %1 non è vuota: il ripristino dell'intera cartella al suo "
                                  "posto non si fa.\r\nIndicare con --percorso che cosa ripristinare, o una "
                                  "cartella vuota con --destinazione.")
                .arg(job.target);
    }
    return {};
}

QString reportOf(const Request& request, const detail::Writer& writer, const std::vector<Job>& jobs,
                 qsizetype& notRestored);

} // namespace

std::optional<QDateTime> parseMoment(const QString& text)
{
    const QString t = text.trimmed();
    const QDate day = QDate::fromString(t.left(10), QStringLiteral("yyyy-MM-dd"));
    if (!day.isValid())
        return std::nullopt;
    if (t.size() == 10)
        return QDateTime(day, QTime(23, 59, 59, 999));
    // The end of the minute or second given: a run that ended within it counts.
    if (const QTime s = QTime::fromString(t.mid(11), QStringLiteral("HH:mm:ss")); s.isValid() && t.at(10) == ' ')
        return QDateTime(day, s.addMSecs(999));
    if (const QTime m = QTime::fromString(t.mid(11), QStringLiteral("HH:mm")); m.isValid() && t.at(10) == ' ')
        return QDateTime(day, m.addMSecs(59'999));
    return std::nullopt;
}

QString momentText(const QDateTime& when)
{
    return when.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

Outcome runRestore(const Request& request, const Progress& progress, const std::atomic<bool>* stop)
{
    const QString computer = request.computer.isEmpty() ? hostName() : request.computer;
    const BackupPlan plan = defaultPlan(computer, request.user);
    const auto recorded = [&](Outcome o) {
        if (!request.dryRun)
            o.logPath = detail::writeRecord(request, computer, o);
        return o;
    };
    const auto backup = readBackup(plan.backupRoot(), plan);
    if (!backup)
        return recorded(refused(backup.error()));
    const auto jobs = jobsFor(request, backup.value());
    if (!jobs)
        return recorded(refused(jobs.error()));
    if (const QString why = targetRefusal(request, jobs.value()); !why.isEmpty())
        return recorded(refused(why));
    // The present's stamp is the last run's end: the moment the backup holds.
    const QDateTime stamp = request.when ? *request.when
                                         : backup.value().lastEnd.isValid() ? backup.value().lastEnd
                                                                            : QDateTime::currentDateTime();
    RunLock lock;
    if (!request.dryRun) {
        const RunLock::Outcome taken =
            lock.acquire(plan.backupRoot(), computer, request.user, QDateTime::currentDateTime(), LockKind::Restore);
        if (taken.result == RunLock::Result::Held)
            return recorded(refused(lockedMessage(taken.other.value_or(LockOwner{}), LockKind::Restore)));
        if (taken.result == RunLock::Result::Failed)
            return recorded(refused(QStringLiteral("impossibile prendere il blocco di %1: %2")
                                        .arg(plan.backupRoot(), taken.error)));
    }
    qint64 files = 0, bytes = 0;
    for (const Job& job : jobs.value()) {
        const auto [f, b] = detail::sizeOf(job);
        files += f, bytes += b;
    }
    detail::Meter meter(request.dryRun ? Progress{} : progress, files, bytes);
    detail::Writer writer(versions::stampOf(stamp), request.dryRun, stop, meter);
    for (const Job& job : jobs.value()) {
        if (!writer.stopped)
            writer.run(job);
    }
    meter.finish();
    lock.release();
    Outcome o;
    qsizetype notRestored = 0;
    o.report = reportOf(request, writer, jobs.value(), notRestored);
    o.status = writer.stopped ? Outcome::Stopped : notRestored > 0 ? Outcome::NotAllRestored : Outcome::Restored;
    if (writer.stopped)
        o.error = QStringLiteral("ripristino interrotto: i file già scritti restano, nessun file è rimasto a metà.");
    return recorded(o);
}

namespace {

QString tallyText(const detail::Tally& t, bool dry)
{
    return QStringLiteral("%1 %2 file (%3), %4 accanto (%5), %6 lasciati com'erano (%7), %8 cartelle %9")
        .arg(dry ? QStringLiteral("da scrivere") : QStringLiteral("scritti"))
        .arg(t.written)
        .arg(Scrividimensione(double(t.writtenBytes)))
        .arg(t.beside)
        .arg(Scrividimensione(double(t.besideBytes)))
        .arg(t.left)
        .arg(Scrividimensione(double(t.leftBytes)))
        .arg(t.folders)
        .arg(dry ? QStringLiteral("da creare") : QStringLiteral("create"));
}

QStringList indented(QStringList lines)
{
    for (QString& line : lines)
        line.prepend(QStringLiteral("  "));
    return lines;
}

QString reportOf(const Request& request, const detail::Writer& writer, const std::vector<Job>& jobs,
                 qsizetype& notRestoredCount)
{
    QStringList lines;
    QStringList notRestored = writer.notRestored;
    for (std::size_t k = 0; k < jobs.size() && k < writer.perPair.size(); ++k) {
        const Job& job = jobs[k];
        lines << QStringLiteral("%1 -> %2: %3").arg(job.pair->name, job.target,
                                                     tallyText(writer.perPair[k], request.dryRun));
        // What the listings passed over, in the trees the moment was made of.
        std::vector<const ListedTree*> trees{job.pair->mirror ? &*job.pair->mirror : nullptr};
        for (const int run : job.moment.undone())
            trees.push_back(job.pair->dated[std::size_t(run)] ? &*job.pair->dated[std::size_t(run)] : nullptr);
        for (const ListedTree* tree : trees) {
            for (const PassedOver& p : tree ? tree->passed : QList<PassedOver>()) {
                if (detail::inScope(p.path, job.scope))
                    notRestored << QStringLiteral("%1: %2").arg(p.shown, p.reason);
            }
        }
    }
    lines << QStringLiteral("Totale: ") + tallyText(writer.total, request.dryRun);
    if (!writer.beside.isEmpty())
        lines << QStringLiteral("Messi accanto a ciò che c'era (%1):").arg(writer.beside.size())
              << indented(writer.beside);
    if (!writer.notes.isEmpty())
        lines << QStringLiteral("Avvisi:") << indented(writer.notes);
    if (writer.damaged > 0)
        lines << QStringLiteral("Danneggiati nel backup: %1 file, non ripristinati (sotto, ciascuno con la sua "
                                "versione integra, se c'è)")
                     .arg(writer.damaged);
    if (!notRestored.isEmpty())
        lines << QStringLiteral("Non ripristinati (%1):").arg(notRestored.size())
              << indented(notRestored);
    notRestoredCount = notRestored.size();
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace

} // namespace archivon::restore
