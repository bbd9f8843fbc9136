#include "check/meter.h"

#include <QCoreApplication>
#include <QDateTime>

namespace archivon::check {

namespace {
const QString kRecordPrefix = QStringLiteral("verifica-");
} // namespace

QString writeRecord(const Request& request, const QString& computer, const Outcome& outcome)
{
    QStringList lines{
        QStringLiteral("Archivon %1: registro della verifica").arg(QCoreApplication::applicationVersion()),
        QStringLiteral("Fine: ") + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
        QStringLiteral("Computer: ") + computer,
        QStringLiteral("Utente: ") + request.user,
        QStringLiteral("Quota: %1%").arg(request.quota),
        QStringLiteral("Originali letti: ") + (request.source ? QStringLiteral("sì") : QStringLiteral("no")),
        QStringLiteral("Versioni precedenti lette: ") + (request.versions ? QStringLiteral("sì") : QStringLiteral("no")),
    };
    if (!outcome.error.isEmpty())
        lines << QStringLiteral("Messaggio: ") + outcome.error.trimmed();
    lines << outcome.report.trimmed() << QStringLiteral("Stato d'uscita: %1").arg(outcome.status);
    return writeJobRecord(kRecordPrefix, lines);
}

} // namespace archivon::check
