#pragma once

#include <QChar>
#include <QList>
#include <QString>

#include <optional>

// Drive letters and Windows-form paths on a POSIX host.
//
// Everything above the platform layer speaks in paths such as
// "R:\BKPQORL\PC7_ufficio2\Documenti". The drive folder (ARCHIVON_DRIVES, or
// $XDG_DATA_HOME/archivon/drives) maps each one-letter entry to a drive root;
// Z: is "/" unless the folder maps z itself.
namespace archivon::platform {

/// The folder whose one-letter entries are the drive roots.
QString drivesFolder();

/// Creates the default drive folder (c -> home, r empty) when ARCHIVON_DRIVES
/// is unset and the folder does not exist yet. Called once at start.
void ensureDefaultDrives();

/// The user's settings, $XDG_CONFIG_HOME/archivon/archivon.conf (host path).
QString configFile();

/// The folder the settings set for a drive (section [Unita], "R=/mnt/server"),
/// or nothing: none is set, or ARCHIVON_DRIVES maps the drives alone.
std::optional<QString> configuredDrive(QChar letter);

/// True while a drive is the plain folder that the first start made in the
/// default drive folder, on this computer's own disk: nothing set in the
/// settings, and no link or mount in its place.
bool isPlaceholderDrive(QChar letter);

/// True when two ready drives lie on one file system.
bool sameFileSystem(QChar a, QChar b);

/// Letters of the drives that are mapped and ready, upper case, sorted; Z included.
QList<QChar> readyDrives();

/// Host folder of a drive root, or nothing when the drive is not ready.
std::optional<QString> driveRoot(QChar letter);

/// A Windows-form path resolved as text: upper-case drive letter and the
/// components below the root, "." and ".." applied, empty components dropped.
struct DrivePath
{
    QChar drive;
    QStringList components;

    /// "R:\BKPQORL\PC7" or "R:\" for the root.
    QString toString() const;
};

/// Resolves a path (absolute, or relative to the current folder) without
/// touching the disk. Fails for UNC paths and texts without a usable drive.
std::optional<DrivePath> resolve(const QString& path);

/// Host path of a Windows-form path; nothing when the drive is not ready or
/// the text is not a path. Never leaves the drive root.
std::optional<QString> toHost(const QString& path);

/// Windows form of a host path: under the mapped drive whose root holds it,
/// otherwise under Z:.
QString fromHost(const QString& hostPath);

/// The program's current folder, in Windows form.
QString currentFolder();
/// Changes the current folder; fails when the folder does not exist.
bool setCurrentFolder(const QString& path);

/// The program's own data folder, $XDG_DATA_HOME/archivon (host path): it holds
/// the default drive folder, and stands in for the program folder of an
/// installed program.
QString dataFolder();

/// The program folder (host path): the executable's folder when the user can
/// write there, otherwise dataFolder(), made on demand. A data folder that
/// cannot be made is reported once on standard error.
QString programHostFolder();
/// The program folder, in Windows form: the marker file and BACKUP go there.
QString programFolder();

/// A file the program ships with (the animations), in Windows form: from the
/// program folder, beside the executable, or in the install's data folder
/// (<prefix>/share/archivon), the first that has it.
QString dataFile(const QString& name);
/// Lets tests put the program folder (marker file, BACKUP, animations)
/// somewhere of their own. Takes a host path; empty restores the default.
void setProgramFolderForTesting(const QString& hostPath);

/// Joins a folder and a name with one backslash.
QString joinPath(const QString& folder, const QString& name);

} // namespace archivon::platform
