#pragma once

// What a job run from the command line beside the backups (a restore, a
// check) shows as it goes and leaves behind: one progress line, and a record
// in the local log folder beside the runs' own.

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <functional>

namespace archivon {

/// Files and bytes done of the total, drawn as the user sees it best: often
/// on a terminal, every few seconds in a log, and a short job only at its end.
class JobMeter
{
public:
    /// \a show draws the line; \a verb leads it ("letti ", or nothing).
    JobMeter(bool terminal, std::function<void(const QString&)> show, qint64 files, qint64 bytes,
             QString verb = {});
    void file(const QString& name);
    void chunk(qint64 done);
    void done(qint64 size);
    void finish();

private:
    void draw(bool force);

    bool m_terminal = false;
    std::function<void(const QString&)> m_show;
    QString m_verb;
    qint64 m_files = 0, m_bytes = 0;
    qint64 m_doneFiles = 0, m_doneBytes = 0, m_current = 0;
    QString m_name;
    QElapsedTimer m_clock;
    qint64 m_lastDraw = -1;
};

/// Writes a job's record, \a lines, as "<prefix><time>.log" in the local log
/// folder, keeping the newest RunLog::kKept of that prefix; its path, or
/// nothing when it could not be written.
QString writeJobRecord(const QString& prefix, const QStringList& lines);

} // namespace archivon
