#include "restore/job.h"


#include <QCoreApplication>
#include <QDateTime>

namespace archivon::restore::detail {

namespace {
const QString kRecordPrefix = QStringLiteral("ripristino-");
} // namespace

QString writeRecord(const Request& request, const QString& computer, const Outcome& outcome)
{
    QStringList lines{
        QStringLiteral("Archivon %1: registro del ripristino").arg(QCoreApplication::applicationVersion()),
        QStringLiteral("Fine: ") + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
        QStringLiteral("Computer: ") + computer,
        QStringLiteral("Utente: ") + request.user,
        QStringLiteral("Momento: ") + (request.when ? momentText(*request.when) : QStringLiteral("il backup com'è ora")),
        QStringLiteral("Percorso: ") + (request.path.isEmpty() ? QStringLiteral("tutte le cartelle") : request.path),
        QStringLiteral("Destinazione: ") +
            (request.destination.isEmpty() ? QStringLiteral("al loro posto") : request.destination),
    };
    if (!outcome.error.isEmpty())
        lines << QStringLiteral("Messaggio: ") + outcome.error.trimmed();
    lines << outcome.report.trimmed() << QStringLiteral("Stato d'uscita: %1").arg(outcome.status);
    return writeJobRecord(kRecordPrefix, lines);
}

} // namespace archivon::restore::detail
