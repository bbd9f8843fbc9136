#pragma once

// The inside of a check: its progress line and its record on this computer.

#include "check/check.h"

#include <QElapsedTimer>

namespace archivon::check {

/// Files and bytes read of the total, drawn as the restore draws its own.
class Meter
{
public:
    Meter(const Progress& progress, qint64 files, qint64 bytes);
    void file(const QString& name);
    void chunk(qint64 read);
    void done(qint64 size);
    void finish();

private:
    void draw(bool force);

    const Progress& m_progress;
    qint64 m_files = 0, m_bytes = 0;
    qint64 m_doneFiles = 0, m_doneBytes = 0, m_current = 0;
    QString m_name;
    QElapsedTimer m_clock;
    qint64 m_lastDraw = -1;
};

/// The record of a check, in the local log folder, beside the runs' own.
QString writeRecord(const Request& request, const QString& computer, const Outcome& outcome);

} // namespace archivon::check
