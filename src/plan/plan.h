#pragma once

// The plan of a run: the computer and user it is for, and its four pairs.

#include "plan/layout.h"

#include <QString>

#include <array>

namespace archivon {

/// One numbered source folder and the folder it is backed up into.
struct BackupPair
{
    QString source;
    QString destination;
};

/// What a backup run works on, taken once when the user confirms it: the
/// computer and user it is for, and the four folder pairs.
struct BackupPlan
{
    QString computer;
    QString user;
    std::array<BackupPair, 4> pairs;

    /// The per-computer backup folder, "R:\BKPQORL\<computer>_<user>".
    QString backupRoot() const;
};

/// The four fixed sources, each with the folder of the backup folder it goes to.
BackupPlan defaultPlan(const QString& computer, const QString& user);

} // namespace archivon
