// The forecast as the user reads it: per pair what would be copied, replaced,
// removed and kept among the versions, the room it needs, and how the run
// would end.

#include "forecast/dryrun.h"

#include "fileservices/texts.h"

namespace archivon {

using namespace platform;
using Kind = Change::Kind;
using Fate = PairForecast::Fate;

namespace {

QString counted(qint64 n, const QString& one, const QString& many)
{
    return QStringLiteral("%1 %2").arg(n).arg(n == 1 ? one : many);
}

QString bytes(qint64 n)
{
    return QStringLiteral("%1 byte").arg(n);
}

// One line for a change; none for a file the backup holds as it is.
const QString kToVersions = QStringLiteral(" (la versione precedente va nelle versioni precedenti)");

QString changeLine(const PairForecast& p, const Change& c, bool versions)
{
    const ScannedFolder& folder = p.scan.folders.at(c.folder);
    QString place = p.pair.destination + folder.relative;
    QString size;
    if (c.file >= 0) {
        place += QLatin1Char('\\') + folder.files.at(c.file).name;
        size = QStringLiteral(" (%1)").arg(bytes(folder.files.at(c.file).size));
    }
    switch (c.kind) {
    case Kind::Keep:
        return {};
    case Kind::Copy:
        return QStringLiteral("da copiare: ") + place + size;
    case Kind::Replace:
        return QStringLiteral("da sostituire: ") + place + size + (versions ? kToVersions : QString());
    case Kind::SetAside:
        return c.file >= 0 ? QStringLiteral("da copiare al posto di una cartella: ") + place + size
                           : QStringLiteral("cartella da creare al posto di un file: ") + place;
    case Kind::MakeFolder:
        return QStringLiteral("cartella da creare: ") + place;
    case Kind::FixCase:
        return QStringLiteral("nome da correggere: %1 diventa %2").arg(c.path, lastName(place));
    case Kind::NotCarried:
        return QStringLiteral("errore: %1: %2").arg(c.path, c.reason);
    case Kind::Remove:
        return (c.folderThere ? QStringLiteral("cartella da togliere con quanto contiene: ")
                              : QStringLiteral("da togliere: ")) +
               c.path + (versions ? kToVersions : QString());
    }
    return {};
}

QString totals(const PairForecast& p)
{
    qint64 folders = p.makesFolder, names = 0, removed = 0;
    for (const Change& c : p.changes.list) {
        folders += c.file < 0 && (c.kind == Kind::MakeFolder || c.kind == Kind::SetAside);
        names += c.kind == Kind::FixCase;
        removed += c.kind == Kind::Remove;
    }
    return QStringLiteral("  Totale della coppia %1: %2 da copiare (%3), %4 da creare, %5 da "
                          "correggere, %6 da togliere, %7; %8 invariati.")
        .arg(QString::number(p.N), counted(p.copied, QStringLiteral("file"), QStringLiteral("file")),
             bytes(p.writes),
             counted(folders, QStringLiteral("cartella"), QStringLiteral("cartelle")),
             counted(names, QStringLiteral("nome"), QStringLiteral("nomi")),
             QString::number(removed),
             counted(p.failures, QStringLiteral("errore"), QStringLiteral("errori")),
             counted(p.unchanged, QStringLiteral("file"), QStringLiteral("file")));
}

void describePair(const PairForecast& p, QStringList& lines, bool versions)
{
    lines << QString()
          << QStringLiteral("Coppia %1: %2 -> %3").arg(p.N).arg(p.pair.source, p.pair.destination);
    if (p.fate == Fate::Skipped || p.fate == Fate::LeftOut) {
        lines << QStringLiteral("  %1: %2: %3")
                     .arg(p.fate == Fate::LeftOut ? QStringLiteral("errore")
                                                  : QStringLiteral("saltata"),
                          p.leftOutPath, p.leftOutReason);
        return;
    }
    for (const QString& note : p.assumed)
        lines << QStringLiteral("  nota: ") + note;
    const QString freeText = p.room.free == kFreeSpaceUnknown
                             ? QStringLiteral("spazio libero non noto")
                             : QStringLiteral("%1 liberi").arg(bytes(p.room.free));
    if (p.fate == Fate::DriveLost) {
        lines << QStringLiteral("  errore: %1: unità di destinazione non disponibile")
                     .arg(p.pair.destination);
        return;
    }
    if (p.room.waits)
        lines << QStringLiteral("  per fare spazio: si attende la fine della rimozione delle copie "
                                "precedenti ancora in corso");
    for (const room::Version& v : p.room.versionsRemoved)
        lines << QStringLiteral("  per fare spazio: versione precedente da eliminare: %1 (%2)")
                     .arg(v.path(), v.bytes < 0 ? QStringLiteral("incerto: dimensione non registrata")
                                                : bytes(v.bytes));
    if (p.fate == Fate::NoSpace) {
        lines << QStringLiteral("  spazio insufficiente: servono %1, %2: il backup finirebbe qui.")
                     .arg(bytes(p.need), freeText);
        return;
    }
    for (const ScanProblem& problem : p.scan.passedOver)
        lines << QStringLiteral("  non seguito: %1: %2").arg(problem.path, problem.reason);
    const QString left = QStringLiteral(" (lasciato da un'esecuzione interrotta)");
    if (!p.putBack.isEmpty())
        lines << QStringLiteral("  da rimettere al suo posto%1: %2 -> %3")
                     .arg(left, p.putBack, p.pair.destination);
    for (const auto& [aside, place] : p.setAsideBack)
        lines << QStringLiteral("  da rimettere al suo posto%1: %2 -> %3").arg(left, aside, place);
    for (const QString& gone : p.leftoversGone)
        lines << QStringLiteral("  da togliere%1: %2").arg(left, gone);
    if (p.linkReplaced)
        lines << QStringLiteral("  collegamento da sostituire con una cartella: ") +
                     p.pair.destination;
    if (p.makesFolder)
        lines << QStringLiteral("  cartella da creare: ") + p.pair.destination;
    if (!p.fresh.isEmpty())
        lines << (p.oldGoes
                      ? QStringLiteral("  copia nuova da costruire in %1, che poi "
                                       "sostituirebbe il backup precedente in %2") +
                            (versions ? kToVersions : QString())
                      : QStringLiteral("  copia nuova da costruire in %1, che poi prenderebbe "
                                       "il nome %2"))
                     .arg(p.fresh, p.pair.destination);
    for (const Change& c : p.changes.list) {
        if (const QString line = changeLine(p, c, versions); !line.isEmpty())
            lines << QStringLiteral("  ") + line;
    }
    lines << totals(p)
          << QStringLiteral("  Spazio: servono %1, %2%3.")
                 .arg(bytes(p.need), freeText,
                      p.room.uncertain ? QStringLiteral(" (incerto)") : QString());
}

QString outcome(const DryRun& run)
{
    if (!run.refusal.isEmpty())
        return QStringLiteral("backup rifiutato prima di cambiare qualcosa");
    if (run.exitStatus == 2 || run.exitStatus == 3) {
        const PairForecast& last = run.pairs.back();
        return QStringLiteral("backup terminato alla coppia %1 (%2)%3")
            .arg(last.N)
            .arg(last.fate == Fate::NoSpace
                     ? QStringLiteral("spazio insufficiente")
                     : QStringLiteral("unità di destinazione non disponibile"),
                 run.exitStatus == 2 ? QStringLiteral(", prima di cambiare qualcosa") : QString());
    }
    if (run.pairsBacked == 0)
        return QStringLiteral("backup non eseguito: nessuna cartella sorgente sarebbe copiata");
    return run.failures == 0 ? QStringLiteral("completato senza errori")
                             : QStringLiteral("completato con %1")
                                   .arg(counted(run.failures, QStringLiteral("errore"),
                                                QStringLiteral("errori")));
}

} // namespace

QString describe(const DryRun& run)
{
    QStringList lines{
        QStringLiteral("Prova del backup in %1 (%2): nulla viene scritto su nessun disco.")
            .arg(run.backupRoot,
                 run.fullRewrite ? QStringLiteral("completa, ogni file riscritto")
                                 : QStringLiteral("aggiornamento dei soli file nuovi o cambiati"))};
    if (!run.refusal.isEmpty())
        lines << QString(run.refusal).replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    lines += run.notes;
    for (const PairForecast& p : run.pairs)
        describePair(p, lines, run.versionDays > 0);
    for (const QString& gone : run.versionsGone)
        lines << QStringLiteral("Versioni precedenti più vecchie di %1 giorni, da eliminare: %2")
                     .arg(run.versionDays)
                     .arg(gone);
    lines << QString()
          << QStringLiteral("Esito previsto: %1. Stato d'uscita: %2.")
                 .arg(outcome(run))
                 .arg(run.exitStatus);
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace archivon
