#pragma once

// The summary of the checks of a computer's backup, "archivon-verifica.log"
// beside its archivon.log: one line a check, added at its end, so that the
// overview can tell from this file alone when the backup was last read back,
// what that found, and how much of it has been read lately.

#include "platform/result.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace archivon {

inline const QString kCheckLogName = QStringLiteral("archivon-verifica.log");

/// How a check ended.
enum class CheckOutcome : quint8 {
    Whole,     ///< "integro": every file read was as the index says
    Problems,  ///< "problemi": damage or changes found, each named in its record
    Stopped,   ///< "interrotta": stopped before its end
    GaveWay,   ///< "ceduta": a backup asked for the folder, and got it
};

/// One check, as its summary line records it.
struct CheckSummary
{
    QDateTime start;
    QDateTime end;
    CheckOutcome outcome = CheckOutcome::Whole;
    qint64 read = 0;       // files read by this check
    qint64 total = 0;      // files the backup's index holds
    qint64 damaged = 0;    // backup damaged: same size and time, another fingerprint
    qint64 changed = 0;    // every other difference it named (changed on R:, on the source...)
    qint64 readLately = 0; // files of the backup some check read in the last 30 days
    QString user;          // the user of the computer folder
    QString host;          // the machine that ran it
};

/// The summary file of the computer's backup folder \a backupRoot.
QString checkLogPath(const QString& backupRoot);

/// Adds \a summary at the end of the summary file, as one write.
Status appendCheckSummary(const QString& backupRoot, const CheckSummary& summary);

/// What the summary file of \a backupRoot records: its last check, and the
/// last that ran to its end ("integro" or "problemi"); nothing for either when
/// there is no file or it records none. A line that does not parse (cut
/// short, or of a later version's) is passed over for the one before it.
struct CheckHistory
{
    std::optional<CheckSummary> last;
    std::optional<CheckSummary> lastFinished;
};
CheckHistory lastCheck(const QString& backupRoot);

/// "integro", "problemi", "interrotta", "ceduta".
QString checkOutcomeName(CheckOutcome outcome);

} // namespace archivon
