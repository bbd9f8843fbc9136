#pragma once

// How long earlier versions stay: a run removes the run folders of each
// versions folder that are older than the days set, and the oldest of them
// when a pair needs their room. What each folder holds is recorded once, when
// its run ends, so that nothing walks the versions on every run.

#include "plan/plan.h"
#include "plan/runevent.h"
#include "platform/names.h"
#include "platform/result.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

namespace archivon::retention {

/// The hidden file in a run's folder that holds the bytes the run moved there.
inline const QString kBytesName = QStringLiteral(".archivon-byte");

/// Of the names \a names found in a versions folder, the run folders, oldest
/// first: never \a current (the folder of the run going on), never a name that
/// gives no date, never one dated after \a now.
QStringList runFolders(const QStringList& names, const QString& current, const QDateTime& now);

/// Those of runFolders() older than \a days at \a now, oldest first; none for
/// 0 days or fewer.
QStringList due(const QStringList& names, const QString& current, int days, const QDateTime& now);

/// What the file system of a versions folder does with names.
using RulesOf = std::function<platform::NameRules(const QString& root)>;

/// The versions folders of the pairs of \a plan, each once, in pair order: two
/// are one where \a rulesOf (by default a probe of each) says their names match.
QStringList rootsOf(const BackupPlan& plan, const RulesOf& rulesOf = {});

/// What a versions folder holds at its top.
struct Listing
{
    bool ok = false;
    QStringList names;       // entries that are not hidden
    QStringList halfRemoved; // paths of folders whose removal a run began
};
Listing listRoot(const QString& root);

/// The hidden name a run folder takes before its removal begins, so that one
/// half removed never looks whole. Nothing is there under it.
QString removalName(const QString& folder);

/// What retention takes in one versions folder, once a run has backed up its
/// first pair: the run folders older than the days set, and what an earlier
/// run began to remove.
struct Due
{
    QString root;
    QStringList names;       // run folders, oldest first
    QStringList halfRemoved; // paths
};

/// Whether what retention takes in one folder changes the drive: each run
/// folder it removes does; going on with a removal an earlier run began does not.
inline bool touches(const Due& due)
{
    return !due.names.isEmpty();
}

/// Reads only: what retention takes in each of \a roots that no other live run
/// holds (\a ownToken: the caller's lock), never the folder \a current gives
/// for a root (the run's own).
QList<Due> dueNow(const QStringList& roots, int days, const std::function<QString(const QString&)>& current,
                  const QString& ownToken, const QDateTime& now);

/// The bytes recorded in the run folder \a folder; -1 when none are.
qint64 recordedBytes(const QString& folder);
Status recordBytes(const QString& folder, qint64 bytes);

/// What \a root holds: its run folders and their recorded bytes.
VersionsKept kept(const QString& root);

} // namespace archivon::retention
