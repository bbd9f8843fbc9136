#pragma once

#include "platform/filesystem.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace archivon {

struct ScannedFile;
struct ScannedFolder;

/// What the folder tree scan shows while it runs; every call has an empty
/// default so an observer overrides only what it shows.
class ScanObserver
{
public:
    virtual ~ScanObserver() = default;
    /// The scan starts: hourglass on; `Barra_totale` minimum 1, maximum 2, value 1.
    virtual void started() {}
    /// A folder was added to the list, which now holds \a known entries.
    virtual void folderFound([[maybe_unused]] qint64 known) {}
    /// The same folder, as it stands when added: its paths and parent are
    /// known, its files not yet. Roots come first, each as it is taken.
    virtual void folderAdded([[maybe_unused]] const ScannedFolder& folder) {}
    /// Folder \a k has been walked and holds \a files. The observer may give a
    /// name the text of an equal one it already keeps, so that a long walk keeps
    /// each once; it changes no name, nor anything else.
    virtual void filesFound([[maybe_unused]] qsizetype k, [[maybe_unused]] QList<ScannedFile>& files)
    {
    }
    /// \a visited entries have been walked.
    virtual void folderVisited([[maybe_unused]] qint64 visited) {}
    /// Files are counted: hourglass off.
    virtual void finished() {}
    /// A subfolder whose name a Windows-form path cannot carry.
    virtual void notListed([[maybe_unused]] const QString& path,
                           [[maybe_unused]] const QString& reason)
    {
    }
    /// Asked after every folder walked: true ends the scan where it is.
    virtual bool stopRequested() { return false; }
};

/// An ordinary file met by the scan, as it was then.
struct ScannedFile
{
    QString name;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    unsigned mode = 0;
};

/// A folder of the tree, with its ordinary files in the order the file system
/// listed them.
struct ScannedFolder
{
    QString path;     // as walked: a root as given, then the parent's path, "\" and the name
    QString relative; // below its root: empty for the root, "\A\B" for a folder two down
    int parent = -1;
    platform::FileId id;
    bool listed = true; // false: it could not be listed at all
    Status listing;     // how its listing ended: why it could not be listed, or not to its end
    QList<ScannedFile> files;
};

/// Something the scan met and did not take, and why.
struct ScanProblem
{
    QString path;
    QString reason;
};

struct TreeScan
{
    QList<ScannedFolder> folders; // breadth-first, the roots first
    qint64 files = 0;
    qint64 bytes = 0;
    /// Entries whose name a Windows-form path cannot carry: not copied.
    QList<ScanProblem> notCarried;
    /// Links to folders that are left out: a cycle, or one the caller refuses.
    QList<ScanProblem> passedOver;
    qsizetype visited = 0; // folders walked: all of them, unless stopped
    bool stopped = false;
};

/// Walks the folders below \a roots breadth-first, each level in the order the
/// file system lists it, and takes note of their ordinary files (not hidden,
/// not system). A link to a folder is walked as the folder it points to, under
/// the link's own name; a link that leads back to itself or to one of its own
/// ancestors is not, nor one for which \a leftOut gives a reason. A folder that
/// cannot be read adds nothing, and says why.
TreeScan scanTree(const QStringList& roots, ScanObserver* observer = nullptr,
                  const std::function<QString(const QString& link)>& leftOut = {});

/// Finds every folder below the folders in \a cartelle and counts their files
/// (`List_cartelle` and `NumeroFile`): every entry present is walked, and its
/// subfolders are appended as scanTree() meets them.
///
/// \a Percorso is a working variable: its value is ignored, and on return it
/// holds the last folder walked with a trailing "\" (untouched for an empty list).
qint64 Sottocartelle(QStringList& cartelle, QString& Percorso, ScanObserver* observer = nullptr);

/// The same, for callers that have no use for the working variable.
qint64 Sottocartelle(QStringList& cartelle, ScanObserver* observer = nullptr);

} // namespace archivon
