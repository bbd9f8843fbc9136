#pragma once

// What a backup run would do, worked out from what the drives hold now and
// nothing else written anywhere: the checks of a run, its walk, its listing of
// each backup and its comparison, and none of its writing.

#include "decision/comparison.h"
#include "plan/runevent.h"
#include "plan/settings.h"
#include "plan/plan.h"
#include "versions/room.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <vector>

namespace archivon {

/// What a run would do with one pair.
struct PairForecast
{
    enum class Fate {
        Backed,    // backed up
        Skipped,   // left out, no failure: its source is not there
        LeftOut,   // left out as a failure
        NoSpace,   // the run would end here: too little room
        DriveLost, // the run would end here: the destination's drive is gone
    };
    Fate fate = Fate::Backed;
    int N = 0;
    BackupPair pair{};
    QString leftOutPath{}; // Skipped, LeftOut: what it is about, and why
    QString leftOutReason{};
    TreeScan scan{};
    platform::NameRules names{};
    /// What could not be read of the destination, and so was assumed.
    QStringList assumed{};
    /// What earlier runs left: a complete copy that goes back under the pair's
    /// name, entries set aside that go back to their places, and what goes.
    QString putBack{};
    QList<QPair<QString, QString>> setAsideBack{};
    QStringList leftoversGone{};
    QStringList oldBackups{}; // of those, complete old backups: kept among the versions
    bool linkReplaced = false; // a link in the place of the pair's folder goes
    bool makesFolder = false;  // the pair's folder is made
    QString fresh{};           // the full rewrite: where the new copy is built,
    bool oldGoes = false;      // and whether a previous backup goes once it is in place
    Changes changes{};         // in the order the run makes them
    qint64 need = 0;           // the room the run measures for
    qint64 oldBytes = 0;       // the full rewrite: what the old copy's removal frees
    /// The room there, less what the pairs before write, and where more came
    /// from when it was short.
    room::Foreseen room{};
    qint64 writes = 0;         // bytes it would copy
    qint64 copied = 0;         // files it would copy
    qint64 versioned = 0;      // files it would move into the earlier versions
    qint64 unchanged = 0;
    int failures = 0;
    bool touches = false; // something on the destination's drive would change
};

/// What a run would do, from its start to its exit status.
struct DryRun
{
    QString backupRoot{};
    bool fullRewrite = false;
    int versionDays = 0;           // what is removed or replaced is kept this many days
    QStringList versionsGone{};    // version folders the run's retention would remove
    /// Why the run would be refused before it began; empty when it would not be.
    QString refusal{};
    /// What a run says as it starts: warnings, folders it makes first.
    QStringList notes{};
    std::vector<PairForecast> pairs{};
    int failures = 0;
    int pairsBacked = 0;
    RunOutcome outcome = RunOutcome::Completed;
    /// Of an unattended run: 0 completed, 1 with failures, 2 refused, 3 ended early.
    int exitStatus = 0;
};

/// Works out what a run of \a plan would do, as it would decide it; writes
/// nothing on any drive. Where the destination could only be asked by writing,
/// it reads what is there, and where nothing can be read it assumes the
/// stricter answer and says so.
DryRun forecastRun(const BackupPlan& plan, const RunOptions& options = {});

/// The forecast as the user reads it: pair by pair, one entry a line, with
/// the totals, the expected outcome and its exit status.
QString describe(const DryRun& run);

} // namespace archivon
