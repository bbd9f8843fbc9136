#include "plan/checks.h"

#include "plan/layout.h"
#include "plan/paths.h"
#include "fileservices/queries.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/names.h"

#include <QRegularExpression>
#include <QStringList>

namespace archivon {

using namespace platform;

namespace {

// A folder that is there after the attempt counts as made: a name with
// trailing blanks exists already when only its trimmed form was looked for.
bool ensureFolder(const QString& path)
{
    if (makeFolder(path))
        return true;
    const auto attrs = attributes(path);
    return attrs.ok() && (attrs.value() & Directory);
}

QString notMade(const QStringList& folders, const QString& reason)
{
    const QString what = folders.size() == 1
                             ? QStringLiteral("Impossibile creare la cartella ") + folders.first()
                             : QStringLiteral("Impossibile creare le cartelle ") +
                                   folders.join(QStringLiteral(", "));
    return what + QStringLiteral(".\r\n") + reason;
}

const QString kDriveHint =
    QStringLiteral("Verificare che il disco R: sia collegato e che sia possibile scrivervi.");

bool isDrivePath(const QString& path)
{
    return path.size() >= 3 && path.at(0).isLetter() && path.at(0).unicode() < 128 &&
           path.at(1) == QLatin1Char(':') &&
           (path.at(2) == QLatin1Char('\\') || path.at(2) == QLatin1Char('/'));
}

} // namespace

QString backupFolderNameRefusal(const BackupPlan& plan)
{
    // The share is the backup's home even where R: is a folder of this
    // computer for now: a name it cannot keep would be a backup that cannot
    // move there. Here "\\" and "/" would also nest folders.
    const QString name = plan.computer + QLatin1Char('_') + plan.user;
    const QString problem = windowsNameProblem(name);
    if (problem.isEmpty())
        return {};
    return QStringLiteral("Il nome della cartella del computer «%1» non è ammesso (%2): il nome "
                          "utente non può contenere i caratteri < > : \" / \\ | ? * né finire "
                          "con un punto o uno spazio.")
        .arg(name, problem);
}

QString makeBackupFolders(const BackupPlan& plan)
{
    const QString root = plan.backupRoot();
    if (const QString refusal = backupFolderNameRefusal(plan); !refusal.isEmpty())
        return notMade({root}, refusal);
    // A step that needs a folder that could not be made is not attempted.
    if (!CartellaEsistente(kSiteFolder.trimmed()) &&
        !ensureFolder(QStringLiteral("R:\\") + QStringLiteral("BKPQORL")))
        return notMade({kSiteFolder}, kDriveHint);

    if (CartellaEsistente(root.trimmed()))
        return {};
    if (!ensureFolder(root))
        return notMade({root}, kDriveHint);
    QStringList failed;
    for (const QString& sub : {QStringLiteral("\\Documenti"), QStringLiteral("\\Preferiti"),
                               QStringLiteral("\\Outlook"), QStringLiteral("\\Address Book")}) {
        if (!ensureFolder(root + sub))
            failed << root + sub;
    }
    return failed.isEmpty() ? QString() : notMade(failed, kDriveHint);
}

QString placeholderWarning()
{
    if (!isPlaceholderDrive(QLatin1Char('R')))
        return {};
    return QStringLiteral("Attenzione: l'unità R: non è il server ma la cartella %1 di questo "
                          "computer. Indicare la cartella del server con R= nella sezione [Unita] "
                          "di %2.")
        .arg(*driveRoot(QLatin1Char('R')), configFile());
}

QString localDriveRefusal()
{
    const auto configured = configuredDrive(QLatin1Char('R'));
    if (!configured || !sameFileSystem(QLatin1Char('R'), QLatin1Char('C')))
        return {};
    return QStringLiteral("L'unità R: impostata in %1 (%2) si trova sullo stesso disco dell'unità "
                          "C:: la cartella del server non è collegata.\r\nIl backup non viene "
                          "eseguito e su R: non viene scritto nulla.")
        .arg(configFile(), *configured);
}

namespace {

// Pair N's own folders: both named, with drive letters, the destination below
// the root of a ready drive and without "." or "..".
QString checkPairFolders(const BackupPlan& plan, int N)
{
    const QString& s = plan.pairs[N - 1].source;
    const QString& d = plan.pairs[N - 1].destination;
    if (s.trimmed().isEmpty())
        return QStringLiteral("Coppia %1: manca la cartella sorgente.").arg(N);
    if (d.trimmed().isEmpty())
        return QStringLiteral("Coppia %1: manca la cartella destinazione.").arg(N);
    if (!isDrivePath(s))
        return QStringLiteral("Coppia %1: la cartella sorgente \"%2\" non è un percorso "
                              "completo con la lettera dell'unità (ad esempio C:\\Documenti).")
            .arg(N)
            .arg(s);
    if (!isDrivePath(d))
        return QStringLiteral("Coppia %1: la cartella destinazione \"%2\" non è un percorso "
                              "completo con la lettera dell'unità (ad esempio R:\\BKPQORL).")
            .arg(N)
            .arg(d);
    // "..\PC8_altro" in a user name would lead to another computer's backup.
    const QStringList parts = d.split(QRegularExpression(QStringLiteral("[\\\\/]")));
    if (parts.contains(QStringLiteral(".")) || parts.contains(QStringLiteral("..")))
        return QStringLiteral("Coppia %1: la cartella destinazione \"%2\" non può contenere "
                              "\".\" o \"..\" tra le sue cartelle.")
            .arg(N)
            .arg(d);
    const auto resolved = resolve(d);
    if (!resolved || resolved->components.isEmpty())
        return QStringLiteral("Coppia %1: la cartella destinazione \"%2\" non può essere la "
                              "radice di un'unità.")
            .arg(N)
            .arg(d);
    if (!driveRoot(resolved->drive))
        return QStringLiteral("L'unità di destinazione %1: non è disponibile!\r\n"
                              "Controllare che sia collegata e riprovare.")
            .arg(resolved->drive);
    return {};
}

// A destination is rewritten: it may hold no source and no other destination,
// nor lie inside one. One pass over the texts, so that a "%" in a typed folder
// stays as it is.
QString checkOverlaps(const BackupPlan& plan, const std::array<QString, 4>& sources,
                      const std::array<QString, 4>& destinations)
{
    const auto overlap = [&plan](int N, const QString& kind, int M) {
        return QStringLiteral("Coppia %1: la cartella destinazione \"%2\" coincide con la "
                              "cartella %3 della coppia %4, la contiene o vi è contenuta.")
            .arg(QString::number(N), plan.pairs[N - 1].destination, kind, QString::number(M));
    };
    for (int N = 1; N <= 4; ++N) {
        const QString& d = destinations[N - 1];
        if (d.isEmpty())
            continue;
        for (int M = 1; M <= 4; ++M) {
            const QString& s = sources[M - 1];
            if (!s.isEmpty() && sameOrInside(s, d))
                return M == N ? kSelfCopyMessage : overlap(N, QStringLiteral("sorgente"), M);
            if (M > N && !destinations[M - 1].isEmpty() && sameOrInside(d, destinations[M - 1]))
                return overlap(N, QStringLiteral("destinazione"), M);
        }
    }
    return {};
}

// A mirror there would remove the computer's whole backup, or the versions,
// which only their retention may touch.
QString checkBackupFolder(const BackupPlan& plan, const std::array<QString, 4>& destinations)
{
    const QString home = canonicalFolder(plan.backupRoot());
    for (int N = 1; N <= 4; ++N) {
        const QString& d = destinations[N - 1];
        if (d.isEmpty())
            continue;
        if (!home.isEmpty() && (home == d || home.startsWith(d + QLatin1Char('/'))))
            return QStringLiteral("Coppia %1: la cartella destinazione \"%2\" coincide con la "
                                  "cartella del computer %3 o la contiene.")
                .arg(QString::number(N), plan.pairs[N - 1].destination, plan.backupRoot());
        for (const BackupPair& pair : plan.pairs) {
            const QString root = versions::rootFor(pair.destination, plan.backupRoot());
            if (const QString folder = canonicalFolder(root); !folder.isEmpty() && sameOrInside(d, folder))
                return QStringLiteral("Coppia %1: la cartella destinazione \"%2\" coincide con la "
                                      "cartella delle versioni precedenti %3, la contiene o vi è "
                                      "contenuta.")
                    .arg(QString::number(N), plan.pairs[N - 1].destination, root);
        }
    }
    return {};
}

} // namespace

QString checkPlan(const BackupPlan& plan)
{
    if (const QString refusal = localDriveRefusal(); !refusal.isEmpty())
        return refusal;
    std::array<QString, 4> sources;
    std::array<QString, 4> destinations;
    for (int N = 1; N <= 4; ++N) {
        if (const QString refusal = checkPairFolders(plan, N); !refusal.isEmpty())
            return refusal;
        sources[N - 1] = canonicalFolder(plan.pairs[N - 1].source);
        destinations[N - 1] = canonicalFolder(plan.pairs[N - 1].destination);
    }
    if (const QString refusal = backupFolderNameRefusal(plan); !refusal.isEmpty())
        return refusal;
    if (const QString refusal = checkOverlaps(plan, sources, destinations); !refusal.isEmpty())
        return refusal;
    return checkBackupFolder(plan, destinations);
}

std::optional<LeftOut> whyLeftOut(const BackupPair& pair, const std::optional<QString>& heldBy)
{
    const auto sourceAttrs = attributes(pair.source);
    if (!sourceAttrs || !(*sourceAttrs & Directory)) {
        const auto where = resolve(pair.source);
        if (where && !driveRoot(where->drive))
            return LeftOut{false, pair.source,
                           QStringLiteral("l'unità %1: non è disponibile: coppia saltata, il "
                                          "backup precedente è rimasto")
                               .arg(where->drive),
                           where->drive};
        return LeftOut{false, pair.source,
                       QStringLiteral("cartella sorgente inesistente: coppia saltata, il backup "
                                      "precedente è rimasto")};
    }
    // A folder another run of a backup is writing into is left to it.
    if (heldBy)
        return LeftOut{true, pair.destination,
                       QStringLiteral("cartella in uso da un altro backup in corso "
                                      "(computer %1): coppia saltata")
                           .arg(*heldBy)};
    // A source that cannot be read is not an empty one: its old backup stays.
    if (DirSearch probe(joinPath(pair.source, QStringLiteral("*.*")), 0); !probe.ok())
        return LeftOut{true, pair.source,
                       QStringLiteral("impossibile leggere la cartella sorgente (%1): "
                                      "coppia saltata, il backup precedente è rimasto")
                           .arg(probe.error())};
    return std::nullopt;
}

QString leadsIntoBackup(const QString& link, const std::array<QString, 4>& destinations)
{
    const QString target = canonicalFolder(link);
    for (const QString& destination : destinations) {
        if (destination.isEmpty())
            continue;
        const int slash = destination.lastIndexOf(QLatin1Char('/'));
        const QString beside = destination.left(slash + 1) + QLatin1Char('.') +
                               destination.mid(slash + 1) + QStringLiteral(".archivon-");
        if (target == destination || target.startsWith(destination + QLatin1Char('/')) ||
            target.startsWith(beside))
            return QStringLiteral("collegamento a una cartella di backup: non copiato");
    }
    return {};
}

QString confirmationQuestion(const BackupPlan& plan)
{
    return QStringLiteral("Sei sicuro di voler avviare la copia?\r\n"
                          "Quest'operazione sovrascriverà tutti i dati presenti in \r\n") +
           plan.backupRoot() + QStringLiteral("\r\nL'operazione potrebbe richiedere alcuni minuti");
}

} // namespace archivon
