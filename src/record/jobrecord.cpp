#include "record/jobrecord.h"

#include "fileservices/texts.h"
#include "record/runlog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace archivon {

namespace {
// On a terminal the line is drawn again at most this often; in a log, a line
// every few seconds.
constexpr qint64 kTerminalMs = 200;
constexpr qint64 kLogMs = 5000;
} // namespace

JobMeter::JobMeter(bool terminal, std::function<void(const QString&)> show, qint64 files, qint64 bytes,
                   QString verb)
    : m_terminal(terminal), m_show(std::move(show)), m_verb(std::move(verb)), m_files(files), m_bytes(bytes)
{
    m_clock.start();
}

void JobMeter::file(const QString& name)
{
    m_name = name;
    m_current = 0;
    draw(false);
}

void JobMeter::chunk(qint64 done)
{
    m_current = done;
    draw(false);
}

void JobMeter::done(qint64 size)
{
    ++m_doneFiles;
    m_doneBytes += size;
    m_current = 0;
    draw(false);
}

void JobMeter::finish()
{
    if (m_lastDraw >= 0)
        draw(true);
}

void JobMeter::draw(bool force)
{
    if (!m_show)
        return;
    const qint64 now = m_clock.elapsed();
    if (!force && m_lastDraw >= 0 && now - m_lastDraw < (m_terminal ? kTerminalMs : kLogMs))
        return;
    if (!force && m_lastDraw < 0 && !m_terminal && now < kLogMs)
        return; // a short job says only its end
    m_lastDraw = now;
    const qint64 bytes = m_doneBytes + m_current;
    QString left;
    if (bytes > 0 && bytes < m_bytes) {
        if (const auto text = Tempo(double(now) / 1000.0 * double(m_bytes - bytes) / double(bytes)))
            left = QStringLiteral(", mancano %1").arg(*text);
    }
    m_show(QStringLiteral("%1%2 di %3 file, %4 di %5%6: %7")
               .arg(m_verb)
               .arg(m_doneFiles)
               .arg(m_files)
               .arg(Scrividimensione(double(bytes)), Scrividimensione(double(m_bytes)), left, m_name));
}

QString writeJobRecord(const QString& prefix, const QStringList& lines)
{
    const QString folder = RunLog::folder();
    if (!QDir().mkpath(folder))
        return {};
    QDateTime now = QDateTime::currentDateTime();
    QString path;
    do {
        path = folder + QLatin1Char('/') + prefix + now.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) +
               QStringLiteral(".log");
        now = now.addMSecs(1);
    } while (QFileInfo::exists(path));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text) || file.write((lines.join('\n') + '\n').toUtf8()) < 0)
        return {};
    file.close();
    const QDir dir(folder);
    const QStringList records = dir.entryList({prefix + QStringLiteral("*.log")}, QDir::Files, QDir::Name);
    for (qsizetype i = 0; i + RunLog::kKept < records.size(); ++i)
        QFile::remove(dir.filePath(records.at(i)));
    return path;
}

} // namespace archivon
