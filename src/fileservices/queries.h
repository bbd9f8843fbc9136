#pragma once

#include "platform/filesystem.h"
#include "platform/result.h"

#include <QString>

// Questions about files, folders and drives, as the main window asks them.
// The existence tests answer false on any failure; the size queries report
// their failure to the caller, who must look at it.
namespace archivon {

/// Anything under that name, a link included, whether or not it leads anywhere.
inline bool exists(const QString& path)
{
    return platform::linkAttributes(path).ok();
}

/// True when a file (hidden and read-only ones too, not a folder) matches the path.
bool FileEsistente(const QString& nomefile);

/// True when a folder, or a file, matches the path.
bool CartellaEsistente(const QString& NomeDir);

/// Size in bytes of one file.
Result<qint64> Dimensionefile(const QString& nomefile);

/// Bytes free to the current user on the drive of a path ("R:\..." or "R:").
Result<qint64> ShowFreeSpace(const QString& drvPath);

/// Bytes of all files in a folder and its subfolders at any depth, hidden and
/// system ones included. A folder reached again through a symlink is counted once.
/// Subfolders and files that cannot be read count as nothing; only a folder
/// that cannot be read itself is a failure.
Result<qint64> ShowFolderInfo(const QString& NomeDir);

/// Files and bytes under a folder, at any depth, hidden and system entries
/// included; a link counts as one entry and is not followed.
std::pair<qint64, qint64> filesUnder(const QString& folder);

} // namespace archivon
