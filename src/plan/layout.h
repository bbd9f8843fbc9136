#pragma once

// The names of what the program keeps on R:, which every part that reads or
// writes there shares.

#include <QString>

namespace archivon {

/// The folder that holds every computer's backup folder.
inline const QString kSiteFolder = QStringLiteral("R:\\BKPQORL");

/// The lock a run holds in a computer's backup folder.
inline const QString kRunLockName = QStringLiteral(".archivon-blocco");
/// The files a run taking the lock writes beside it to read the share's clock.
inline const QString kLockClockPrefix = QStringLiteral(".archivon-ora-");
/// True for the names the lock and its takers use beside it: no run ever
/// takes them for a leftover or an extra.
bool isRunLockName(const QString& name);

/// The last name of a drive path.
inline QString lastName(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('\\')) + 1);
}

namespace versions {

inline const QString kFolderName = QStringLiteral("Versioni precedenti");

/// The days versions are kept unless archivon.conf says otherwise
/// (GiorniVersioni under [General]); 0 keeps none.
constexpr int kDefaultDays = 30;

/// The versions folder of the computer's backup folder \a backupRoot, where
/// every run leaves its list; empty for a path on no drive.
QString computerRoot(const QString& backupRoot);

/// The folder that holds the versions of the pair whose destination is
/// \a destination: the one in the computer's backup folder \a backupRoot where
/// the destination lies in it, otherwise one beside the destination, on its
/// own drive. Empty for a destination with no folder above it.
QString rootFor(const QString& destination, const QString& backupRoot);

} // namespace versions

} // namespace archivon
