#pragma once

// What a plan must pass before a run starts, and what a run asks of each pair
// as it comes to it.

#include "plan/plan.h"

#include <QString>

#include <array>
#include <optional>

namespace archivon {

/// The refusal of a folder copied onto itself.
inline const QString kSelfCopyMessage =
    QStringLiteral("Eh no!Non puoi copiare una cartella su se stessa!!!");

/// Why the computer's backup folder "<computer>_<user>" cannot be made on a
/// Windows share, whatever R: is here: every such name is refused before
/// anything is made or started. Empty for a name a share keeps.
QString backupFolderNameRefusal(const BackupPlan& plan);

/// Makes the site folder, the backup folder and its four subfolders where they
/// are missing (nothing when the backup folder exists already). Returns what
/// to tell the user when something could not be made, or an empty text.
QString makeBackupFolders(const BackupPlan& plan);

/// What the window's status line, the log and an unattended run say while
/// drive R: is the placeholder folder the first start made, where a backup
/// stays on this computer; empty otherwise. A warning, not a refusal.
QString placeholderWarning();

/// The refusal of an R: set in the settings that lies on drive C:'s file
/// system, as a share that is not mounted leaves its empty mount point; empty
/// otherwise. Made before anything is written on R:.
QString localDriveRefusal();

/// Every pair must name two folders with drive letters, the destination on a
/// ready drive and apart from every source and every other destination, before
/// anything is deleted. Returns the Italian refusal, or an empty text.
QString checkPlan(const BackupPlan& plan);

/// Why a run leaves a pair out, its old backup kept.
struct LeftOut
{
    bool failure = false; // otherwise only skipped
    QString path{};
    QString reason{};
    QChar driveMissing{}; // the source's drive, not ready
};

/// Nothing when a run backs \a pair up: its source is there and can be read,
/// and no other live run holds its destination (\a heldBy: that run's host).
std::optional<LeftOut> whyLeftOut(const BackupPair& pair, const std::optional<QString>& heldBy);

/// Why a walk leaves out \a link: it leads into one of the backups
/// \a destinations (host folders, as canonicalFolder gives them) or a copy
/// being built beside one, which would copy a backup into itself. Empty otherwise.
QString leadsIntoBackup(const QString& link, const std::array<QString, 4>& destinations);

/// The question asked before a run starts.
QString confirmationQuestion(const BackupPlan& plan);

} // namespace archivon
