#pragma once

// The check of a computer's backup: its files read back from the share, with
// the cached pages dropped first, and held against the index the runs wrote
// of them; with the source too where asked. What it finds is named file by
// file; on the share it writes only its lock, the indexes' check data and
// marks, and one line of the summary of checks.

#include <QString>

#include <atomic>
#include <functional>

namespace archivon::check {

/// What `archivon --verifica` was asked for.
struct Request
{
    QString computer; ///< empty: this computer
    QString user;
    int quota = 100;         ///< the share of the files read, in percent, those read longest ago first
    bool source = false;     ///< --sorgente: this computer's sources read too
    bool versions = false;   ///< --anche-versioni: the files of the dated folders too
};

/// How a check ended, and what it has to say.
struct Outcome
{
    enum Status { Whole = 0, Problems = 1, Refused = 2, Stopped = 3 };
    int status = Refused;
    QString report;  ///< for standard output: counts, and every file found wrong with its case
    QString error;   ///< for standard error: why it was refused, stopped or gave way
    QString logPath; ///< the record written on this computer; empty for none
};

/// Where the progress and each finding go as the check reads.
struct Progress
{
    bool terminal = false;
    std::function<void(const QString& line)> show;    ///< the progress line
    std::function<void(const QString& line)> finding; ///< one file and its case
};

/// Runs a check. \a stop, when set, ends it within the megabyte being read;
/// so does a backup asking for the folder. What was read so far is recorded.
Outcome runCheck(const Request& request, const Progress& progress = {},
                 const std::atomic<bool>* stop = nullptr);

} // namespace archivon::check
