#include "record/runlog.h"

#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/textfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>

namespace archivon {

namespace {

const QString kPrefix = QStringLiteral("archivon-");
const QString kSuffix = QStringLiteral(".log");

// Box texts break lines with CR LF; in the record they go on indented lines.
QString oneEntry(const QString& text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t.trimmed().replace(QLatin1Char('\n'), QStringLiteral("\n    "));
}

void toStderr(const QString& text)
{
    std::fprintf(stderr, "archivon: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

// The record's times: local, with their offset, so that another machine reads them right.
QString isoTime(const QDateTime& t)
{
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate);
}

// The record's words for how far back a restore can go: the oldest moment,
// or a word; empty when the run did not work it out.
const QString kReachPresent = QStringLiteral("solo-attuale");

QString reachCode(const RestoreReach& reach)
{
    switch (reach.kind) {
    case RestoreReach::Kind::Unknown:
        break;
    case RestoreReach::Kind::OnlyPresent:
        return kReachPresent;
    case RestoreReach::Kind::Since:
        return isoTime(reach.since);
    }
    return {};
}

RestoreReach reachFromCode(const QString& code)
{
    if (code == kReachPresent)
        return {RestoreReach::Kind::OnlyPresent, {}};
    const QDateTime since = QDateTime::fromString(code, Qt::ISODate);
    return since.isValid() ? RestoreReach{RestoreReach::Kind::Since, since} : RestoreReach{};
}

QString outcomeCode(const RunEnd& end)
{
    if (end.reason == RunEnd::Reason::Locked)
        return QStringLiteral("bloccato");
    switch (end.outcome) {
    case RunOutcome::Refused:
        return QStringLiteral("rifiutato");
    case RunOutcome::EndedEarly:
        return end.reason == RunEnd::Reason::Stopped || end.stoppedByUser || end.windowClosed
                   ? QStringLiteral("interrotto")
                   : QStringLiteral("terminato");
    case RunOutcome::Completed:
        break;
    }
    return end.failures == 0 ? QStringLiteral("completato") : QStringLiteral("con-errori");
}

QString outcomeText(const RunEnd& end)
{
    switch (end.outcome) {
    case RunOutcome::Refused:
        return QStringLiteral("rifiutato, nulla è stato cambiato");
    case RunOutcome::EndedEarly:
        return QStringLiteral("terminato prima della fine");
    case RunOutcome::Completed:
        break;
    }
    if (end.failures == 0)
        return QStringLiteral("completato senza errori");
    return end.failures == 1 ? QStringLiteral("completato con 1 errore")
                             : QStringLiteral("completato con %1 errori").arg(end.failures);
}

} // namespace

QString RunLog::folder()
{
    // Qt 6.4 has no state location; the XDG rule is applied here: an unset or
    // relative XDG_STATE_HOME means ~/.local/state.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/archivon");
}

void RunLog::open()
{
    m_open = true;
    m_fileFailed = false;
    m_lines.clear();
    const QString dir = folder();
    // Named by the start time to the millisecond, so the names sort as the runs.
    QDateTime start = QDateTime::currentDateTime();
    do {
        m_path = dir + QLatin1Char('/') + kPrefix +
                 start.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) + kSuffix;
        start = start.addMSecs(1);
    } while (QFileInfo::exists(m_path));
    if (!QDir().mkpath(dir)) {
        m_fileFailed = true;
        toStderr(QStringLiteral("impossibile creare la cartella dei registri %1").arg(dir));
    }

    const QString version = QCoreApplication::applicationVersion();
    write(QStringLiteral("Archivon%1: registro del backup")
              .arg(version.isEmpty() ? QString() : QLatin1Char(' ') + version));
    m_started = QDateTime::currentDateTime();
    write(QStringLiteral("Inizio: ") + m_started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    for (const QString& entry : std::exchange(m_pending, {}))
        write(entry);
    rotate();
}

void RunLog::write(const QString& line)
{
    // A pair pass driven on its own, outside a run, has no record to go to.
    if (!m_open)
        return;
    m_lines << line;
    if (m_fileFailed)
        return;
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text) ||
        file.write((line + QLatin1Char('\n')).toUtf8()) < 0) {
        m_fileFailed = true;
        toStderr(QStringLiteral("impossibile scrivere il registro %1: %2")
                     .arg(m_path, file.errorString()));
    }
}

void RunLog::rotate() const
{
    const QDir dir(folder());
    const QStringList logs =
        dir.entryList({kPrefix + QStringLiteral("*") + kSuffix}, QDir::Files, QDir::Name);
    for (qsizetype i = 0; i + kKept < logs.size(); ++i)
        QFile::remove(dir.filePath(logs.at(i)));
}

void RunLog::note(const QString& text, const QString& label)
{
    const QString entry = label + QStringLiteral(": ") + oneEntry(text);
    if (m_open)
        write(entry);
    else
        m_pending << entry;
}

void RunLog::runStarted(const RunEvent& e)
{
    open();
    m_backupRoot = e.path;
    m_bytesWritten = 0;
    m_bytesKept = 0;
    // The copy on R: is the previous run's record until this one ends.
    m_lastClean = {};
    if (const auto previous = platform::readSmallFile(platform::joinPath(m_backupRoot, kCopyName),
                                                     64 * 1024 * 1024))
        m_lastClean = parseRunRecord(QString::fromUtf8(*previous)).lastClean;
    if (e.folders.size() == 2) {
        write(QStringLiteral("Computer: ") + e.folders.at(0));
        write(QStringLiteral("Utente: ") + e.folders.at(1));
    }
    write(QStringLiteral("Cartella del computer: ") + m_backupRoot);
}

void RunLog::report(const RunEvent& e)
{
    using Kind = RunEvent::Kind;
    switch (e.kind) {
    case Kind::RunStarted:
        runStarted(e);
        if (!e.detail.isEmpty())
            write(QStringLiteral("Tipo di copia: ") + e.detail);
        break;
    case Kind::PairStarted:
        write(QStringLiteral("Coppia %1: %2 -> %3").arg(e.pair).arg(e.path, e.detail));
        break;
    case Kind::Scanned:
        m_bytesScanned = e.bytes;
        break;
    case Kind::PairFinished:
        m_bytesWritten += e.stats.bytes;
        m_bytesKept += m_bytesScanned;
        write(QStringLiteral("Coppia %1 copiata: %2 file, %3 cartelle, %4 byte in %5 s; "
                             "file invariati: %6, file eliminati: %7; spostati nelle versioni "
                             "precedenti: %8 file, %9 byte")
                  .arg(e.pair)
                  .arg(e.stats.copied)
                  .arg(e.stats.folders)
                  .arg(e.stats.bytes)
                  .arg(double(e.stats.milliseconds) / 1000.0, 0, 'f', 1)
                  .arg(e.stats.unchanged)
                  .arg(e.stats.removed)
                  .arg(e.stats.versioned)
                  .arg(e.stats.versionedBytes));
        break;
    case Kind::PairSkipped:
        write(QStringLiteral("Coppia %1 saltata: %2: %3").arg(e.pair).arg(e.path, oneEntry(e.detail)));
        break;
    case Kind::Failure:
        write(QStringLiteral("Errore: %1: %2").arg(e.path, oneEntry(e.detail)));
        break;
    case Kind::PassedOver:
        write(QStringLiteral("Non copiato: %1: %2").arg(e.path, oneEntry(e.detail)));
        break;
    case Kind::Notice:
        write(QStringLiteral("Nota: ") + oneEntry(e.detail));
        break;
    case Kind::RunEnded:
        if (!e.end.message.isEmpty())
            note(e.end.message);
        runEnded(e.end);
        break;
    case Kind::Phase:
    case Kind::Measured:
        break;
    }
}

// What a folder of earlier versions holds at the end, and what the run removed from it.
void RunLog::writeVersions(const VersionsKept& v, int days)
{
    const auto folders = [](int n) {
        return n == 1 ? QStringLiteral("1 cartella") : QStringLiteral("%1 cartelle").arg(n);
    };
    QString kept = QStringLiteral("Versioni precedenti in %1: %2, %3 byte")
                       .arg(v.root, folders(v.folders))
                       .arg(v.bytes);
    if (v.unrecorded > 0)
        kept += QStringLiteral(" (più %1 di dimensione non registrata)").arg(folders(v.unrecorded));
    write(kept);
    if (!v.removedByAge.isEmpty())
        write(QStringLiteral("Versioni eliminate perché più vecchie di %1 giorni: %2")
                  .arg(days)
                  .arg(v.removedByAge.join(QStringLiteral(", "))));
    if (!v.removedForSpace.isEmpty())
        write(QStringLiteral("Versioni eliminate per fare spazio: ") +
              v.removedForSpace.join(QStringLiteral(", ")));
}

void RunLog::refused(const QString& message)
{
    RunEnd end;
    end.status = message;
    runEnded(end);
}

void RunLog::runEnded(const RunEnd& end)
{
    // A start refused by the checks has no runStarted: it gets a record too.
    if (!m_open) {
        open();
        m_backupRoot.clear();
        m_lastClean = {};
        m_bytesWritten = 0;
        m_bytesKept = 0;
    }
    if (end.stoppedByUser)
        write(QStringLiteral("Interrotto dall'utente."));
    if (end.windowClosed)
        write(QStringLiteral("Finestra chiusa durante il backup."));
    if (end.markerWritten)
        write(QStringLiteral("File oldimp.pvx scritto."));
    else if (!end.markerError.isEmpty())
        write(QStringLiteral("File oldimp.pvx non scritto: ") + oneEntry(end.markerError));
    else
        write(QStringLiteral("File oldimp.pvx non scritto: il backup non è stato completato."));
    write(QStringLiteral("Spegnimento richiesto: ") +
          (end.shutdownRequested ? QStringLiteral("sì") : QStringLiteral("no")));
    qint64 versionBytes = 0;
    for (const VersionsKept& v : end.versions) {
        writeVersions(v, end.versionDays);
        versionBytes += v.bytes;
    }
    if (!end.status.isEmpty())
        write(QStringLiteral("Stato: ") + oneEntry(end.status));
    const QString outcome = outcomeText(end);
    write(QStringLiteral("Esito: %1; errori: %2; coppie saltate: %3")
              .arg(outcome)
              .arg(end.failures)
              .arg(end.skipped));
    // One line that says it all, for whoever reads the records of every computer.
    const QString code = outcomeCode(end);
    const QDateTime ended = QDateTime::currentDateTime();
    if (code == QLatin1String("completato"))
        m_lastClean = m_started;
    write(QStringLiteral("Riepilogo: esito=%1; errori=%2; coppie-saltate=%3; inizio=%4; fine=%5; "
                         "ultimo-senza-errori=%6; byte-scritti=%7; byte-tenuti=%8; byte-versioni=%9; "
                         "ripristinabile-dal=%10")
              .arg(code)
              .arg(end.failures)
              .arg(end.skipped)
              .arg(isoTime(m_started), isoTime(ended),
                   m_lastClean.isValid() ? isoTime(m_lastClean) : QString())
              .arg(m_bytesWritten)
              .arg(m_bytesKept)
              .arg(versionBytes)
              .arg(reachCode(end.reach)));
    write(QStringLiteral("Fine: ") + ended.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    m_open = false;

    QString copyError;
    const bool copied = m_backupRoot.isEmpty() || copyToBackupFolder(copyError);
    if (!copied) {
        toStderr(QStringLiteral("impossibile copiare il registro in %1: %2")
                     .arg(platform::joinPath(m_backupRoot, kCopyName), copyError));
    }
    // Written nowhere at all: the whole record goes to standard error.
    if (m_fileFailed && (m_backupRoot.isEmpty() || !copied)) {
        for (const QString& line : std::as_const(m_lines))
            toStderr(line);
    }
    toStderr(QStringLiteral("backup %1 (errori: %2, coppie saltate: %3); registro: %4")
                 .arg(outcome)
                 .arg(end.failures)
                 .arg(end.skipped)
                 .arg(m_fileFailed ? QStringLiteral("non scritto") : m_path));
    if (onEnded)
        onEnded(end);
}

namespace {

// The fields of a record's "Riepilogo" line, "esito=completato; errori=0; ...".
void readSummary(const QString& value, RunRecord& r)
{
    for (const QString& field : value.split(QStringLiteral("; "))) {
        const qsizetype eq = field.indexOf(QLatin1Char('='));
        const QString name = field.left(eq);
        const QString v = eq < 0 ? QString() : field.mid(eq + 1);
        if (name == QLatin1String("esito"))
            r.outcome = v;
        else if (name == QLatin1String("errori"))
            r.failures = v.toInt();
        else if (name == QLatin1String("coppie-saltate"))
            r.skipped = v.toInt();
        else if (name == QLatin1String("inizio") && !v.isEmpty())
            r.started = QDateTime::fromString(v, Qt::ISODate);
        else if (name == QLatin1String("fine") && !v.isEmpty())
            r.ended = QDateTime::fromString(v, Qt::ISODate);
        else if (name == QLatin1String("ultimo-senza-errori") && !v.isEmpty())
            r.lastClean = QDateTime::fromString(v, Qt::ISODate);
        else if (name == QLatin1String("byte-scritti"))
            r.bytesWritten = v.toLongLong();
        else if (name == QLatin1String("byte-tenuti"))
            r.bytesKept = v.toLongLong();
        else if (name == QLatin1String("byte-versioni"))
            r.versionBytes = v.toLongLong();
        else if (name == QLatin1String("ripristinabile-dal"))
            r.reach = reachFromCode(v);
    }
}

// What a record of an older version says in its "Esito" line alone:
// "Esito: completato con 2 errori; errori: 2; coppie saltate: 0".
void readOlderOutcome(const QString& olderOutcome, RunRecord& r)
{
    const QStringList parts = olderOutcome.split(QStringLiteral("; "));
    const QString said = parts.value(0);
    for (const QString& part : parts) {
        if (part.startsWith(QLatin1String("errori: ")))
            r.failures = part.mid(8).toInt();
        else if (part.startsWith(QLatin1String("coppie saltate: ")))
            r.skipped = part.mid(16).toInt();
    }
    if (said == QLatin1String("completato senza errori"))
        r.outcome = QStringLiteral("completato");
    else if (said.startsWith(QLatin1String("completato con")))
        r.outcome = QStringLiteral("con-errori");
    else if (said.startsWith(QLatin1String("terminato")))
        r.outcome = r.status == QLatin1String("Interrotto dall'utente!") ? QStringLiteral("interrotto")
                                                                       : QStringLiteral("terminato");
    else if (said.startsWith(QLatin1String("rifiutato")))
        r.outcome = QStringLiteral("rifiutato");
    if (r.outcome == QLatin1String("completato"))
        r.lastClean = r.started;
}

} // namespace

RunRecord parseRunRecord(const QString& text)
{
    RunRecord r;
    const QString localFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    QString olderOutcome;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines.at(i);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (i == 0) {
            if (!line.startsWith(QLatin1String("Archivon")) || !line.contains(QLatin1String("registro del backup")))
                return r;
            r.parsed = true;
            continue;
        }
        const qsizetype colon = line.indexOf(QStringLiteral(": "));
        if (colon < 0 || line.startsWith(QLatin1Char(' ')))
            continue;
        const QString key = line.left(colon);
        const QString value = line.mid(colon + 2);
        if (key == QLatin1String("Computer"))
            r.computer = value;
        else if (key == QLatin1String("Utente"))
            r.user = value;
        else if (key == QLatin1String("Cartella del computer"))
            r.backupRoot = value;
        else if (key == QLatin1String("Inizio") && !r.started.isValid())
            r.started = QDateTime::fromString(value, localFormat);
        else if (key == QLatin1String("Fine"))
            r.ended = QDateTime::fromString(value, localFormat);
        else if (key == QLatin1String("Stato"))
            r.status = value;
        else if (key == QLatin1String("Esito"))
            olderOutcome = value;
        else if (key == QLatin1String("Riepilogo")) {
            r.summarised = true;
            readSummary(value, r);
        }
    }
    if (!r.summarised && !olderOutcome.isEmpty())
        readOlderOutcome(olderOutcome, r);
    return r;
}

bool RunLog::copyToBackupFolder(QString& error) const
{
    const auto host = platform::toHost(platform::joinPath(m_backupRoot, kCopyName));
    if (!host) {
        error = platform::driveNotReadyReason();
        return false;
    }
    QSaveFile file(*host);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        error = file.errorString();
        return false;
    }
    file.write((m_lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

} // namespace archivon
