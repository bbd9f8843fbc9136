#pragma once

#include "plan/runevent.h"
#include "record/checklog.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace archivon {

/// One computer folder of the site folder (R:\BKPQORL), as its record, its
/// lock and the names of its versions tell it. Nothing is measured.
struct ComputerState
{
    enum class Last {
        Completed,
        WithFailures,
        Stopped,    // by the user, or the window closed
        EndedEarly, // no room, the drive lost
        Refused,
        Locked,      // refused: another run held the lock
        InProgress,  // a live lock
        Interrupted, // a stale lock: a run that never ended
        NoOutcome,   // a record that stops before its end
        Unreadable,
        Unrecognised, // not a record of this program
        NoRecord,
        Absent, // expected, and no folder at all
    };
    QString folder;
    QString computer; // from the record (or the lock); empty when unknown
    QString user;
    Last last = Last::NoRecord;
    QString problem; // Unreadable: why
    /// A restore or a check holding the folder now, said beside the last
    /// backup's outcome, which it does not change; empty otherwise.
    QString heldBy;
    QDateTime started;
    int failures = -1;
    QDateTime lastClean;
    /// Working days (Monday to Friday) since the day of lastClean; -1 unknown.
    int workingDays = -1;
    qint64 bytesWritten = -1;
    qint64 bytesKept = -1;
    int versions = 0;
    QDateTime oldestVersion;
    /// How far back a restore can go, as the last run's record says.
    RestoreReach reach;
    /// The last check of the backup, as the checks' summary file records it;
    /// nothing when none is recorded.
    std::optional<CheckSummary> check;
    /// The last check that ran to its end: the one the age of the checks goes by.
    std::optional<CheckSummary> finishedCheck;
    /// Why the computer needs a look; empty when it does not.
    QString warning;
};

/// Every computer folder of a site, the most overdue first.
struct SiteOverview
{
    QString site;
    QDateTime at;
    int days = 2;
    /// Days a check may be old before the computer is marked.
    int checkDays = 7;
    /// Set when the site itself cannot be read: then nothing else holds.
    QString error;
    QList<ComputerState> computers;

    bool anyMarked() const;
    /// 0 none marked, 1 some, 2 the site unreadable.
    int exitStatus() const;
    /// Aligned for a terminal, in Italian.
    QString table() const;
    /// One header line, then one line per computer; ";" between fields.
    QString csv() const;
};

/// Working days (Monday to Friday) after \a from up to and including \a to.
int workingDaysBetween(const QDate& from, const QDate& to);

/// Reads the site folder \a site without writing anything to it. \a expected
/// names computer folders that should be there; \a days is how many working
/// days without a run free of failures are let pass before a computer is
/// marked; \a checkDays how many days the last check of the backup may be
/// old. Locks are judged against \a now, this machine's time.
SiteOverview readSiteOverview(const QString& site, const QStringList& expected, int days,
                              const QDateTime& now, int checkDays = 7);

} // namespace archivon
