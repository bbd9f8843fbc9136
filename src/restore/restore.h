#pragma once

// Giving the backup back: a computer's backup as it was at a moment, or as it
// stands, written to its place on this computer or into a folder of choice.
// Nothing is ever replaced or removed there: a file that differs keeps its
// place, and the backup's goes beside it under a name of its own.

#include <QDateTime>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>

namespace archivon::restore {

/// What `archivon --ripristina` was asked for.
struct Request
{
    QString computer; ///< empty: this computer
    QString user;
    std::optional<QDateTime> when; ///< --al; nothing: the backup as it stands
    QString path;        ///< --percorso, below the computer's backup folder; empty: every pair
    QString destination; ///< --destinazione; empty: each pair's own source folder
    bool dryRun = false; ///< --prova: what would be done, nothing written anywhere
};

/// How a restore ended, and what it has to say.
struct Outcome
{
    enum Status { Restored = 0, NotAllRestored = 1, Refused = 2, Stopped = 3 };
    int status = Refused;
    QString report; ///< for standard output: totals, what went beside, what was not restored
    QString error;  ///< for standard error: why it was refused or stopped
    QString logPath; ///< the record written on this computer; empty for none
};

/// Where the progress goes while files are written: a line, and whether it is
/// redrawn in place (a terminal) or added (a log).
struct Progress
{
    bool terminal = false;
    std::function<void(const QString& line)> show;
};

/// Runs a restore. \a stop, when set, ends it within the chunk being written:
/// no partial file is left under a final name.
Outcome runRestore(const Request& request, const Progress& progress = {},
                   const std::atomic<bool>* stop = nullptr);

/// --elenco: the moments that can be given back, newest first: each run's end
/// as --al takes it, its outcome and counts, and last the oldest within reach.
/// Reads only.
Outcome listMoments(const Request& request);

/// --versioni: every content the backup holds of the file \a request.path:
/// each one a run moved out of the mirror, oldest first, then the present copy.
/// Reads only.
Outcome listVersions(const Request& request);

/// Reads a moment as --al takes it: "AAAA-MM-GG" (the end of that day) or
/// "AAAA-MM-GG HH:MM[:SS]", local time. Nothing for any other text.
std::optional<QDateTime> parseMoment(const QString& text);

/// A moment written so that parseMoment() reads it back as it is.
QString momentText(const QDateTime& when);

} // namespace archivon::restore
