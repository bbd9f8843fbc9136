#pragma once

// The inside of a check: its progress line and its record on this computer.

#include "check/check.h"

#include "record/jobrecord.h"

namespace archivon::check {

/// Files and bytes read of the total.
class Meter : public JobMeter
{
public:
    Meter(const Progress& progress, qint64 files, qint64 bytes)
        : JobMeter(progress.terminal, progress.show, files, bytes, QStringLiteral("letti "))
    {
    }
};

/// The record of a check, in the local log folder, beside the runs' own.
QString writeRecord(const Request& request, const QString& computer, const Outcome& outcome);

} // namespace archivon::check
