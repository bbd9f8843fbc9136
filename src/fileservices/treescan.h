#pragma once

#include <QString>
#include <QStringList>

namespace archivon {

/// What the folder tree scan shows while it runs. The main window maps the
/// calls onto its hourglass, `Barra_totale` and the labels; every call has an
/// empty default so a caller overrides only what it shows.
class ScanObserver
{
public:
    virtual ~ScanObserver() = default;
    /// The scan starts: hourglass on; `Barra_totale` minimum 1, maximum 2, value 1.
    virtual void started() {}
    /// A folder was added to the list, which now holds \a known entries:
    /// `Barra_totale` maximum and `Lbl_file_totali` := \a known.
    virtual void folderFound([[maybe_unused]] qint64 known) {}
    /// \a visited entries have been walked: `Barra_totale` value,
    /// `Lbl_file_copiati` and `Lbl_visitati` := \a visited.
    virtual void folderVisited([[maybe_unused]] qint64 visited) {}
    /// Files are counted: hourglass off.
    virtual void finished() {}
    /// A subfolder that cannot be listed, its name one that a Windows-form
    /// path cannot carry.
    virtual void notListed([[maybe_unused]] const QString& path,
                           [[maybe_unused]] const QString& reason)
    {
    }
    /// Asked after every yield: true ends the scan where it is.
    virtual bool stopRequested() { return false; }
};

/// Finds every folder below the folders in \a cartelle and counts their files.
///
/// \a cartelle is both the work queue and the result (`List_cartelle`): every
/// entry present is walked, and its subfolders are appended breadth-first, each
/// level in the order the file system lists it, as the entry's path with a "\"
/// (one, never two) and the folder name. Hidden and system folders are neither
/// listed nor walked. A folder reached again through a symlink (a cycle, or two
/// links to one folder) is not appended a second time. A folder that cannot be
/// read adds nothing; a subfolder whose name cannot be carried is told to the
/// observer. The platform is yielded to once per folder walked, and the scan
/// ends there, with the list as far as it got, when the observer asks.
///
/// \a Percorso is a working variable: its value is ignored, and on return it
/// holds the last folder walked with a trailing "\" (untouched for an empty list).
///
/// Returns the number of ordinary files (not hidden, not system) in all the
/// folders of the list: `NumeroFile`.
qint64 Sottocartelle(QStringList& cartelle, QString& Percorso, ScanObserver* observer = nullptr);

/// The same, for callers that have no use for the working variable.
qint64 Sottocartelle(QStringList& cartelle, ScanObserver* observer = nullptr);

} // namespace archivon
