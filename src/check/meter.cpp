#include "check/meter.h"

#include "fileservices/texts.h"
#include "record/runlog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace archivon::check {

namespace {

// On a terminal the line is drawn again at most this often; in a log, a line
// every few seconds.
constexpr qint64 kTerminalMs = 200;
constexpr qint64 kLogMs = 5000;

const QString kRecordPrefix = QStringLiteral("verifica-");

} // namespace

Meter::Meter(const Progress& progress, qint64 files, qint64 bytes)
    : m_progress(progress), m_files(files), m_bytes(bytes)
{
    m_clock.start();
}

void Meter::file(const QString& name)
{
    m_name = name;
    m_current = 0;
    draw(false);
}

void Meter::chunk(qint64 read)
{
    m_current = read;
    draw(false);
}

void Meter::done(qint64 size)
{
    ++m_doneFiles;
    m_doneBytes += size;
    m_current = 0;
    draw(false);
}

void Meter::finish()
{
    if (m_lastDraw >= 0)
        draw(true);
}

void Meter::draw(bool force)
{
    if (!m_progress.show)
        return;
    const qint64 now = m_clock.elapsed();
    if (!force && m_lastDraw >= 0 && now - m_lastDraw < (m_progress.terminal ? kTerminalMs : kLogMs))
        return;
    if (!force && m_lastDraw < 0 && !m_progress.terminal && now < kLogMs)
        return; // a short check says only its end
    m_lastDraw = now;
    const qint64 bytes = m_doneBytes + m_current;
    QString left;
    if (bytes > 0 && bytes < m_bytes) {
        if (const auto text = Tempo(double(now) / 1000.0 * double(m_bytes - bytes) / double(bytes)))
            left = QStringLiteral(", mancano %1").arg(*text);
    }
    m_progress.show(QStringLiteral("letti %1 di %2 file, %3 di %4%5: %6")
                        .arg(m_doneFiles)
                        .arg(m_files)
                        .arg(Scrividimensione(double(bytes)), Scrividimensione(double(m_bytes)), left, m_name));
}

QString writeRecord(const Request& request, const QString& computer, const Outcome& outcome)
{
    const QString folder = RunLog::folder();
    if (!QDir().mkpath(folder))
        return {};
    QDateTime now = QDateTime::currentDateTime();
    QString path;
    do {
        path = folder + QLatin1Char('/') + kRecordPrefix + now.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) +
               QStringLiteral(".log");
        now = now.addMSecs(1);
    } while (QFileInfo::exists(path));
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
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text) || file.write((lines.join('\n') + '\n').toUtf8()) < 0)
        return {};
    file.close();
    const QDir dir(folder);
    const QStringList records = dir.entryList({kRecordPrefix + QStringLiteral("*.log")}, QDir::Files, QDir::Name);
    for (qsizetype i = 0; i + RunLog::kKept < records.size(); ++i)
        QFile::remove(dir.filePath(records.at(i)));
    return path;
}

} // namespace archivon::check
