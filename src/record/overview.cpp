#include "record/overview.h"

#include "lock/runlock.h"
#include "record/runlog.h"
#include "versions/versions.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/textfile.h"

#include <QLocale>

#include <algorithm>
#include <climits>

namespace archivon {

using namespace platform;
using Last = ComputerState::Last;

namespace {

Last lastFromOutcome(const QString& code)
{
    static const QList<std::pair<QString, Last>> codes{
        {QStringLiteral("completato"), Last::Completed},
        {QStringLiteral("con-errori"), Last::WithFailures},
        {QStringLiteral("interrotto"), Last::Stopped},
        {QStringLiteral("terminato"), Last::EndedEarly},
        {QStringLiteral("rifiutato"), Last::Refused},
        {QStringLiteral("bloccato"), Last::Locked}};
    for (const auto& [text, last] : codes) {
        if (code == text)
            return last;
    }
    return Last::NoOutcome;
}

void readRecord(ComputerState& c, const QString& root)
{
    const QString path = joinPath(root, RunLog::kCopyName);
    // The limit the next run reads it with, too.
    const auto text = readSmallFile(path, 64 * 1024 * 1024);
    if (!text) {
        const auto there = attributes(path);
        if (!there && there.kind() == ErrorKind::NotFound)
            return; // no record: NoRecord
        c.last = Last::Unreadable;
        c.problem = there ? text.error() : there.error();
        return;
    }
    const RunRecord r = parseRunRecord(QString::fromUtf8(*text));
    if (!r.parsed) {
        c.last = Last::Unrecognised;
        return;
    }
    c.computer = r.computer;
    c.user = r.user;
    c.last = lastFromOutcome(r.outcome);
    c.started = r.started;
    c.failures = r.failures;
    c.lastClean = r.lastClean;
    c.bytesWritten = r.bytesWritten;
    c.bytesKept = r.bytesKept;
    c.reach = r.reach;
}

void readVersions(ComputerState& c, const QString& root)
{
    // Only the names: a dated folder per run that kept something.
    DirSearch search(joinPath(joinPath(root, versions::kFolderName), QStringLiteral("*.*")), Directory);
    for (QString name = search.next(); !name.isEmpty(); name = search.next()) {
        // A second run in the same second has " (2)" after its date.
        const auto start = versions::startOf(name);
        if (!start)
            continue;
        const QDateTime when = *start;
        ++c.versions;
        if (!c.oldestVersion.isValid() || when < c.oldestVersion)
            c.oldestVersion = when;
    }
}

QString warningFor(const ComputerState& c)
{
    switch (c.last) {
    case Last::WithFailures:
        return QStringLiteral("completa, ma sempre con errori");
    case Last::Completed:
        return QStringLiteral("nessun backup recente");
    case Last::Absent:
        return QStringLiteral("nessuna cartella: mai eseguito");
    case Last::NoRecord:
        return QStringLiteral("nessun backup registrato");
    case Last::Unreadable:
    case Last::Unrecognised:
        return QStringLiteral("registro da controllare");
    default:
        return QStringLiteral("backup non completato");
    }
}

ComputerState readComputer(const QString& site, const QString& folder, const QDateTime& now)
{
    ComputerState c;
    c.folder = folder;
    const QString root = joinPath(site, folder);
    readRecord(c, root);
    // A lock says more than the record, which is the run before it.
    const auto lock = readRunLock(root);
    const qint64 nowNs = now.toMSecsSinceEpoch() * 1000000;
    if (lock && lock->kind != LockKind::Backup) {
        // Another kind of run says nothing of the backups; a live one is named.
        if (judgeRunLock(*lock, nowNs) == LockState::Live)
            c.heldBy = lockKindName(lock->kind) + QStringLiteral(" in corso");
    } else if (lock) {
        c.last =
            judgeRunLock(*lock, nowNs) == LockState::Live ? Last::InProgress : Last::Interrupted;
        c.failures = -1;
        c.bytesWritten = c.bytesKept = -1;
        // The run under way, or left, may have changed what can be given back.
        c.reach = {};
        c.problem.clear();
        if (lock->started.isValid())
            c.started = lock->started;
        if (c.computer.isEmpty() && !lock->computer.isEmpty()) {
            c.computer = lock->computer;
            c.user = lock->user;
        }
    }
    readVersions(c, root);
    // The checks' summary alone: the index is never read here.
    const CheckHistory checks = lastCheck(root);
    c.check = checks.last;
    c.finishedCheck = checks.lastFinished;
    return c;
}

// When the last check ended (or began, for a line without its end).
QDateTime checkTime(const CheckSummary& check)
{
    return check.end.isValid() ? check.end : check.start;
}

// Why the last check of \a c needs a look; empty when it does not, or when
// the backup was never checked.
QString checkWarning(const ComputerState& c, const QDateTime& now, int checkDays)
{
    if (!c.check)
        return {};
    // One that gave way while reading the indexes counted only the marks of
    // those it read: the damage the last whole one found stands until then.
    const qint64 damaged = c.finishedCheck ? std::max(c.check->damaged, c.finishedCheck->damaged) : c.check->damaged;
    if (damaged > 0)
        return damaged == 1 ? QStringLiteral("la verifica ha trovato 1 file danneggiato")
                            : QStringLiteral("la verifica ha trovato %1 file danneggiati").arg(damaged);
    // A check stopped or given way before its end reads only part of the
    // backup, perhaps nothing: the age goes by the last that ran to its end.
    const QDateTime when = c.finishedCheck ? checkTime(*c.finishedCheck) : QDateTime();
    if (!when.isValid() || when.secsTo(now) > qint64(checkDays) * 24 * 3600)
        return QStringLiteral("nessuna verifica da più di %1 giorni").arg(checkDays);
    return {};
}

// The share of the backup some check read in the last 30 days, as a whole
// percentage rounded down (so 100 means all of it); -1 when unknown.
int readLatelyPercent(const CheckSummary& check)
{
    if (check.total <= 0 || check.readLately < 0)
        return -1;
    return int(std::min<qint64>(100, check.readLately * 100 / check.total));
}

QString checkOutcomeText(const CheckSummary& check)
{
    QString text = checkOutcomeName(check.outcome);
    QStringList found;
    if (check.damaged > 0)
        found << (check.damaged == 1 ? QStringLiteral("1 danneggiato")
                                     : QStringLiteral("%1 danneggiati").arg(check.damaged));
    if (check.changed > 0)
        found << (check.changed == 1 ? QStringLiteral("1 cambiato")
                                     : QStringLiteral("%1 cambiati").arg(check.changed));
    return found.isEmpty() ? text : text + QStringLiteral(": ") + found.join(QStringLiteral(", "));
}

QString sizeText(qint64 bytes)
{
    if (bytes < 0)
        return {};
    static const char* const units[] = {"byte", "KB", "MB", "GB", "TB"};
    double value = double(bytes);
    int unit = 0;
    while (value >= 1024 && unit < 4) {
        value /= 1024;
        ++unit;
    }
    const QLocale italian(QLocale::Italian, QLocale::Italy);
    return (unit == 0 ? italian.toString(bytes) : italian.toString(value, 'f', 1)) +
           QLatin1Char(' ') + QLatin1String(units[unit]);
}

QString lastOutcomeText(const ComputerState& c);

QString outcomeText(const ComputerState& c)
{
    const QString last = lastOutcomeText(c);
    return c.heldBy.isEmpty() ? last : last + QStringLiteral(" (") + c.heldBy + QLatin1Char(')');
}

QString lastOutcomeText(const ComputerState& c)
{
    switch (c.last) {
    case Last::Completed:
        return QStringLiteral("completato");
    case Last::WithFailures:
        return c.failures == 1 ? QStringLiteral("con 1 errore")
                               : QStringLiteral("con %1 errori").arg(c.failures);
    case Last::Stopped:
        return QStringLiteral("interrotto dall'utente");
    case Last::EndedEarly:
        return QStringLiteral("terminato prima della fine");
    case Last::Refused:
        return QStringLiteral("rifiutato");
    case Last::Locked:
        return QStringLiteral("rifiutato: già in corso");
    case Last::InProgress:
        return QStringLiteral("in corso");
    case Last::Interrupted:
        return QStringLiteral("interrotto (blocco scaduto)");
    case Last::NoOutcome:
        return QStringLiteral("senza esito");
    case Last::Unreadable:
        return QStringLiteral("registro illeggibile: ") + c.problem;
    case Last::Unrecognised:
        return QStringLiteral("registro non riconosciuto");
    case Last::NoRecord:
        return QStringLiteral("nessun registro");
    case Last::Absent:
        return QStringLiteral("cartella assente");
    }
    return {};
}

QString timeText(const QDateTime& t, const QString& format)
{
    return t.isValid() ? t.toLocalTime().toString(format) : QString();
}

// The oldest moment a restore can give: its time as \a format writes it
// after \a before; empty when the record does not say.
QString reachText(const RestoreReach& reach, const QString& before, const QString& format)
{
    switch (reach.kind) {
    case RestoreReach::Kind::Unknown:
        break;
    case RestoreReach::Kind::OnlyPresent:
        return QStringLiteral("solo lo stato attuale");
    case RestoreReach::Kind::Since:
        return before + timeText(reach.since, format);
    }
    return {};
}

QString percentText(const std::optional<CheckSummary>& check)
{
    const int percent = check ? readLatelyPercent(*check) : -1;
    return percent < 0 ? QString() : QStringLiteral("%1%").arg(percent);
}

QString csvField(QString text)
{
    if (!text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')))
        return text;
    return QLatin1Char('"') + text.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

} // namespace

int workingDaysBetween(const QDate& from, const QDate& to)
{
    if (!from.isValid() || !to.isValid() || to <= from)
        return 0;
    const qint64 weeks = from.daysTo(to) / 7;
    int days = int(weeks * 5);
    for (QDate d = from.addDays(weeks * 7 + 1); d <= to; d = d.addDays(1)) {
        if (d.dayOfWeek() <= 5)
            ++days;
    }
    return days;
}

SiteOverview readSiteOverview(const QString& site, const QStringList& expected, int days,
                              const QDateTime& now, int checkDays)
{
    SiteOverview o;
    o.site = site;
    o.at = now;
    o.days = days;
    o.checkDays = checkDays;
    QStringList folders;
    {
        DirSearch search(joinPath(site, QStringLiteral("*.*")), Directory);
        for (QString name = search.next(); !name.isEmpty(); name = search.next()) {
            if (search.lastAttributes() & Directory)
                folders << name;
        }
        if (!search.ok()) {
            const auto drive = resolve(site);
            if (!drive || !driveRoot(drive->drive))
                o.error = QStringLiteral("L'unità %1: non è disponibile.")
                              .arg(drive ? drive->drive : QLatin1Char('R'));
            else if (const auto there = attributes(site); !there)
                o.error =
                    QStringLiteral("La cartella %1 non esiste (%2).").arg(site, there.error());
            else
                o.error = QStringLiteral("Impossibile leggere la cartella %1: %2.")
                              .arg(site, search.error());
            return o;
        }
    }
    for (const QString& folder : std::as_const(folders))
        o.computers << readComputer(site, folder, now);
    for (const QString& name : expected) {
        if (!folders.contains(name, Qt::CaseInsensitive)) {
            ComputerState c;
            c.folder = name;
            c.last = Last::Absent;
            o.computers << c;
        }
    }
    for (ComputerState& c : o.computers) {
        if (c.lastClean.isValid())
            c.workingDays = workingDaysBetween(c.lastClean.toLocalTime().date(), now.date());
        if (c.workingDays < 0 || c.workingDays > days)
            c.warning = warningFor(c);
        if (const QString check = checkWarning(c, now, checkDays); !check.isEmpty())
            c.warning = c.warning.isEmpty() ? check : c.warning + QStringLiteral(", ") + check;
    }
    std::stable_sort(o.computers.begin(), o.computers.end(),
                     [](const ComputerState& a, const ComputerState& b) {
                         const int da = a.workingDays < 0 ? INT_MAX : a.workingDays;
                         const int db = b.workingDays < 0 ? INT_MAX : b.workingDays;
                         if (da != db)
                             return da > db;
                         if (a.warning.isEmpty() != b.warning.isEmpty())
                             return !a.warning.isEmpty();
                         return a.folder.compare(b.folder, Qt::CaseInsensitive) < 0;
                     });
    return o;
}

bool SiteOverview::anyMarked() const
{
    return std::any_of(computers.begin(), computers.end(),
                       [](const ComputerState& c) { return !c.warning.isEmpty(); });
}

int SiteOverview::exitStatus() const
{
    if (!error.isEmpty())
        return 2;
    return anyMarked() ? 1 : 0;
}

QString SiteOverview::table() const
{
    if (!error.isEmpty())
        return error + QLatin1Char('\n');
    const QString shortTime = QStringLiteral("dd/MM/yy HH:mm");
    QList<QStringList> rows{{QString(), QStringLiteral("Computer, utente"),
                             QStringLiteral("Ultimo backup"), QStringLiteral("Esito"),
                             QStringLiteral("Senza errori"), QStringLiteral("Giorni"),
                             QStringLiteral("Scritti"), QStringLiteral("Nel backup"),
                             QStringLiteral("Versioni"), QStringLiteral("Ripristinabile"),
                             QStringLiteral("Verifica"), QStringLiteral("Esito verifica"),
                             QStringLiteral("Letto in 30 gg"), QStringLiteral("Da controllare")}};
    int marked = 0;
    for (const ComputerState& c : computers) {
        marked += c.warning.isEmpty() ? 0 : 1;
        const QString who = c.computer.isEmpty() ? QStringLiteral("cartella ") + c.folder
                                                 : c.computer + QStringLiteral(", ") + c.user;
        rows << QStringList{
            c.warning.isEmpty() ? QString() : QStringLiteral("!"),
            who,
            timeText(c.started, shortTime),
            outcomeText(c),
            timeText(c.lastClean, shortTime),
            c.workingDays < 0 ? QStringLiteral("?") : QString::number(c.workingDays),
            sizeText(c.bytesWritten),
            sizeText(c.bytesKept),
            c.versions == 0 ? QString()
                            : QStringLiteral("%1 dal %2")
                                  .arg(c.versions)
                                  .arg(c.oldestVersion.toString(QStringLiteral("dd/MM/yy"))),
            reachText(c.reach, QStringLiteral("dal "), QStringLiteral("dd/MM/yyyy HH:mm:ss")),
            c.check ? timeText(checkTime(*c.check), shortTime) : QStringLiteral("mai verificato"),
            c.check ? checkOutcomeText(*c.check) : QString(),
            percentText(c.check),
            c.warning};
    }
    QList<qsizetype> widths(rows.first().size(), 0);
    for (const QStringList& row : std::as_const(rows)) {
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row.at(i).size());
    }
    QString text =
        QStringLiteral("Backup in %1 al %2: %3, %4 da controllare (nessun backup senza errori "
                       "da più di %5 giorni lavorativi, o mai; danni trovati dall'ultima verifica, "
                       "o nessuna verifica da più di %6 giorni).\n\n")
            .arg(site, at.toString(QStringLiteral("dd/MM/yyyy HH:mm")),
                 computers.size() == 1 ? QStringLiteral("1 cartella")
                                       : QStringLiteral("%1 cartelle").arg(computers.size()))
            .arg(marked)
            .arg(days)
            .arg(checkDays);
    for (const QStringList& row : std::as_const(rows)) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i) {
            const bool number = i == 5 || i == 6 || i == 7 || i == 12;
            line += number ? row.at(i).rightJustified(widths.at(i))
                           : row.at(i).leftJustified(widths.at(i));
            line += QStringLiteral("  ");
        }
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        text += line + QLatin1Char('\n');
    }
    return text;
}

QString SiteOverview::csv() const
{
    const QString isoTime = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    QString text =
        QStringLiteral("cartella;computer;utente;ultimo-backup;esito;errori;ultimo-senza-errori;"
                       "giorni-lavorativi;byte-scritti;byte-tenuti;versioni;versione-piu-vecchia;"
                       "da-controllare;ripristinabile;ultima-verifica;esito-verifica;"
                       "danneggiati;letto-30-giorni\n");
    const auto number = [](qint64 n) { return n < 0 ? QString() : QString::number(n); };
    for (const ComputerState& c : computers) {
        const QStringList fields{c.folder,
                                 c.computer,
                                 c.user,
                                 timeText(c.started, isoTime),
                                 outcomeText(c),
                                 number(c.failures),
                                 timeText(c.lastClean, isoTime),
                                 number(c.workingDays),
                                 number(c.bytesWritten),
                                 number(c.bytesKept),
                                 QString::number(c.versions),
                                 timeText(c.oldestVersion, isoTime),
                                 c.warning,
                                 reachText(c.reach, {}, isoTime),
                                 c.check ? timeText(checkTime(*c.check), isoTime) : QString(),
                                 c.check ? checkOutcomeName(c.check->outcome) : QStringLiteral("mai verificato"),
                                 c.check ? QString::number(c.check->damaged) : QString(),
                                 c.check ? number(readLatelyPercent(*c.check)) : QString()};
        QStringList quoted;
        for (const QString& f : fields)
            quoted << csvField(f);
        text += quoted.join(QLatin1Char(';')) + QLatin1Char('\n');
    }
    return text;
}

} // namespace archivon
