#pragma once

// The decision of an update in place: what the backup under a pair's name needs
// for it to hold the walk of its source, worked out from the two listings alone.
// The comparison touches no disk, and the listing only reads: the update pass
// lists the backup, compares, then carries out the changes; a dry run stops
// after the comparison.

#include "fileservices/treescan.h"
#include "platform/filesystem.h"
#include "plan/layout.h"
#include "platform/names.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace archivon {

/// Why a source that could not be read keeps its previous copy.
inline QString notUpdated(const QString& reason)
{
    return QStringLiteral("impossibile leggere (%1): non aggiornato, resta la copia precedente")
        .arg(reason);
}

/// What a full rewrite says of an entry of the source it could not read (a
/// \a folder not read to its end, or a file) once its previous copy, where the
/// old backup holds one (\a hadCopy), is taken back into the new copy.
inline QString takenBack(const QString& error, bool folder, bool hadCopy)
{
    if (hadCopy)
        return notUpdated(error);
    return folder ? QStringLiteral("impossibile leggere la cartella (%1)").arg(error) : error;
}

/// What a run says of a source it could not read: where the backup holds a
/// previous copy, that the copy stays; one gone meanwhile is only gone.
inline QString unreadSource(const Status& failure, bool hadCopy)
{
    return hadCopy && failure.kind() != ErrorKind::NotFound ? notUpdated(failure.error()) : failure.error();
}

/// What the backup under a pair's name holds, folder by folder of the walk of
/// its source.
struct BackupListing
{
    struct Entry
    {
        unsigned attributes = 0;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        unsigned mode = 0;
        bool link = false;

        bool isFolder() const { return (attributes & platform::Directory) && !link; }
    };
    struct Folder
    {
        bool present = false; // a folder under that name
        QString
            error{}; // why it could not be listed to its end: nothing in it is replaced or removed
        QHash<QString, Entry> entries{};
    };
    QString root{};                // the pair's destination
    std::vector<Folder> folders{}; // one for each folder of the walk
    /// What a killed run left: its temporary files and the entries it had set
    /// aside whose place is taken, to be removed...
    QStringList temporaries{};
    /// ...and entries it had set aside whose place is free, to go back there.
    QList<QPair<QString, QString>> setAside{}; // (where it is, where it goes)
};

/// \a listing of a copy under \a from, as it will be once it is under \a to.
BackupListing movedTo(BackupListing listing, const QString& from, const QString& to);

/// Of what a killed run left in the backup (BackupListing::temporaries), an
/// entry it had set aside is a whole entry of the previous backup, which goes
/// into the versions where they are kept: the path the backup held it under.
/// Nothing for a temporary file, which only goes.
inline std::optional<QString> setAsideWhole(const QString& temporary, const platform::NameRules& names)
{
    const QString name = lastName(temporary);
    const auto was = platform::setAsideFrom(name, names);
    if (!was)
        return std::nullopt;
    return was->isEmpty() ? temporary : temporary.left(temporary.size() - name.size()) + *was;
}

/// Lists the backup under \a destination, folder by folder of the walk \a scan,
/// each under the spelling the destination takes for the source's (\a names);
/// \a present: a folder is there under \a destination itself. Writes nothing.
/// Nothing when \a gate says to end first; it is asked before each folder.
std::optional<BackupListing> listBackup(const QString& destination, const TreeScan& scan,
                                       bool present, const platform::NameRules& names,
                                       const platform::Gate& gate = {});

/// The folders of the walk \a scan at and under its folder \a k, \a k first,
/// each after its parent: those a listing of that folder alone covers.
std::vector<qsizetype> foldersUnder(const TreeScan& scan, qsizetype k);

/// \a listing (of the walk \a scan) once an entry a killed update set aside
/// is back in its free \a place, as the run puts it back before it compares:
/// \a entry is there under its name, a folder with all it holds, which
/// \a below lists for the walk's folder \a k of that name, folder by folder
/// of foldersUnder(). Touches no disk.
void putBackInListing(BackupListing& listing, const TreeScan& scan, const platform::NameRules& names,
                      const QString& place, const BackupListing::Entry& entry,
                      const std::function<BackupListing(qsizetype k)>& below);

/// The folders of a walk as it finds them, handed to a listing of the backup
/// that runs beside the walk on a thread of its own.
class FolderFeed
{
public:
    struct Folder
    {
        QString relative;
        int parent = -1;
    };
    void add(const ScannedFolder& folder);
    /// The walk has ended, to its end or not.
    void close();
    /// Folder \a j of the walk, once it is found; nothing when the walk ended without it.
    std::optional<Folder> at(qsizetype j);

    /// The walk has read folder \a j, which holds \a files, and the listing has
    /// read folder \a j of the backup, which holds \a entries. Whichever comes
    /// second lets the names of the walk and of the backup spelt the same share
    /// one text, so that a large tree keeps each name once, not twice; the first
    /// leaves its own for the second. No name changes.
    void walked(qsizetype j, QList<ScannedFile>& files);
    void listed(qsizetype j, QHash<QString, BackupListing::Entry>& entries);
    /// Once the walk and the listing have ended: what each left for the other goes.
    void release();

private:
    std::mutex m_mutex;
    std::condition_variable m_added;
    std::vector<Folder> m_folders;
    std::vector<QList<ScannedFile>> m_walked;                   // shared with the walk
    std::vector<QHash<QString, BackupListing::Entry>> m_listed; // shared with the listing
    bool m_closed = false;
};

/// The same listing, folder by folder as \a feed hands them, until it is closed.
/// Its folders are those of the walk only when the walk ran to its end.
std::optional<BackupListing> listBackup(const QString& destination, FolderFeed& feed,
                                       bool present, const platform::NameRules& names,
                                       const platform::Gate& gate = {});

/// A source that holds no file at all over a backup that does (\a backup
/// listed for the walk \a scan) is far more likely a mistake than a wish: the
/// update leaves the pair out, as a failure. Reads the backup's folders only.
bool emptiedSource(const TreeScan& scan, const BackupListing& backup);
inline const QString kEmptiedSource =
    QStringLiteral("la cartella sorgente non contiene alcun file, mentre il suo backup sì: "
                   "coppia saltata, il backup è rimasto com'era (per svuotarlo, eseguire un "
                   "backup completo)");

/// One thing the backup needs, or a file it holds as it is.
struct Change
{
    enum class Kind {
        Keep,    // a file the backup holds as it is
        Copy,    // a new file
        Replace, // a changed file
        MakeFolder,
        SetAside,   // an entry whose kind changed, set aside while the new one is made
        FixCase,    // an entry whose name differs only in case, renamed to the source's spelling
        NotCarried, // what cannot be carried, and why
        Remove,     // an entry the source no longer holds
    };
    Kind kind = Kind::Keep;
    qsizetype folder = 0; // the folder of the walk the change is in, or the one it makes
    qsizetype file = -1;  // the file of that folder, or -1: the folder itself
    QString path{};       // NotCarried: the source or backup path it is about; Remove: the extra;
                          // FixCase: the entry under its backup spelling
    QString reason{};     // NotCarried
    /// Remove: the extra is a folder. NotCarried of a folder (file -1): it
    /// could not be read to its end, and the full rewrite takes its previous
    /// copy back from the old backup.
    bool folderThere = false;
    /// FixCase: the listing does not show that the destination's folded name is
    /// this very entry (the name rules were assumed, or the folder holds more
    /// than one spelling of it), so the rename goes through a hidden name.
    bool twoSteps = false;    // beside folderThere, so that a change takes 88 bytes, not 96
    qint64 size = 0;          // Replace, Remove, SetAside: the size of the entry the backup holds

    /// A file of the walk is copied: new, changed, or in the place of a folder.
    bool copiesFile() const { return file >= 0 && (kind == Kind::Copy || kind == Kind::Replace || kind == Kind::SetAside); }
};

struct Changes
{
    /// Folders first, parents first; then folder by folder of the walk what
    /// cannot be carried and each of its files; the removals last, once the
    /// whole source has been copied.
    std::vector<Change> list;
    qint64 toWrite = 0; // bytes of the files to copy
    /// Files to copy, and those of them that have a copy in the backup.
    qint64 changedFiles = 0;
    qint64 changedWithCopy = 0;
};

/// Which entries of the walk the destination can hold under their own names:
/// none whose name it refuses, and one of each set of names it takes for one.
struct NameCheck
{
    std::vector<bool> folders;            // for each folder of the walk: carried
    std::vector<std::vector<bool>> files; // for each of its files: carried
    std::vector<Change> notCarried;       // the others, with their reasons, folder by folder
    bool clashes = false;                 // some of them for another name of the same folder
};

/// Of two source names the destination takes for one, the one \a backup holds
/// under its exact spelling is carried, otherwise the first in byte order. A
/// folder left out takes all it holds with it, without a line for each.
NameCheck checkNames(const TreeScan& scan, const BackupListing& backup,
                     const platform::NameRules& names);

/// The full rewrite of a pair, decided before anything is written, in the
/// order it is made: the new copy's folders, parents first; what cannot be
/// carried; then folder by folder of the walk its files, and, for a folder that
/// could not be read to its end, the taking back of its previous copy.
Changes planFullRewrite(const TreeScan& scan, const NameCheck& names);

/// The backup folder's spellings, by the key the destination matches names by;
/// of two spellings of one key, the first in byte order.
QHash<QString, QString> spellings(const BackupListing::Folder& there,
                                  const platform::NameRules& names);

/// The spelling under which \a there holds \a name (\a keyed from spellings):
/// its own, or one the destination takes for it; empty where it holds none.
QString heldAs(const BackupListing::Folder& there, const QHash<QString, QString>& keyed,
               const QString& name, const platform::NameRules& names);

/// The same file on both sides: a regular file of the same size and time, and
/// the same permission bits where the backup keeps them (\a keeps). The time
/// is compared to the step the backup keeps, and never more loosely than two
/// seconds.
bool unchanged(const ScannedFile& file, const BackupListing::Entry& entry, const platform::Keeps& keeps);

/// The changes that make the backup \a backup hold the walk \a scan, on a
/// destination that keeps what \a keeps says of times and modes and matches
/// names as \a names says. A file of the backup in \a damaged (its path below
/// the pair's folder as the backup spells it, "\\d\\a.txt"), which a check
/// found damaged, is replaced although its size and time match.
Changes compareWithBackup(const TreeScan& scan, const BackupListing& backup,
                          const platform::Keeps& keeps, const platform::NameRules& names = {},
                          const QSet<QString>& damaged = {});

} // namespace archivon
