#pragma once

// The index of a pair's backup as a pass leaves it: what each file of the
// backup holds. The old index is read a piece at a time, and of it only a
// small record is kept beside each file of the walk; the new one is written
// a piece at a time too, once the pass has ended, however it ended.

#include "decision/comparison.h"
#include "index/index.h"
#include "versions/runlist.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace archivon {

class PairIndex
{
public:
    /// For the walk \a scan of the pair whose backup is \a destination; its
    /// index is \a indexFile, its dated folders in \a versionsRoot.
    PairIndex(const TreeScan& scan, QString indexFile, QString destination, QString versionsRoot);

    /// Reads the old index. Its entries for files of the walk are kept where
    /// \a backup (the listing the pass compared with; none for a full
    /// rewrite) shows the same size and time; the rest aside, to be looked at
    /// once the pass has ended. A full rewrite (no \a backup) copies every
    /// file: of the old index it needs only its versions, read at write().
    void readOld(const BackupListing* backup);
    /// What the pass decided for each file: kept, or replaced.
    void decided(const Changes& changes);
    /// File \a file of the walk's folder \a folder was copied whole.
    void copied(qsizetype folder, qsizetype file, qint64 bytes, qint64 modifiedNs,
                const platform::Fingerprint& fingerprint);
    /// The backup's copy of that file moved into the dated folder \a stamp,
    /// at \a there (below the pair's folder in it), with \a size.
    void versioned(qsizetype folder, qsizetype file, const QString& stamp,
                   const versions::RelativePath& there, qint64 size);

    /// The list's lines of what the pass wrote and moved into its dated
    /// folder, handed to \a note a block at a time, each about 1 MiB at most.
    void noteFingerprints(int pair, const std::function<void(const versions::RunBlock&)>& note) const;

    /// A full rewrite's old backup moved whole into the dated folder \a stamp,
    /// where it is \a moved: write() takes its files into the versions, each
    /// with the old index's fingerprint where its size and time still fit,
    /// and hands their lines to \a note as noteFingerprints() does.
    void oldBackupMoved(const QString& stamp, const QString& moved,
                        std::function<void(const versions::RunBlock&)> note, int pair);

    /// Writes the index as the backup under the pair's name now holds it, when
    /// that differs from the old one. \a backup as in readOld(). The old
    /// index's versions go on where their dated folders are still there.
    Status write(const BackupListing* backup);

private:
    struct File
    {
        platform::Fingerprint fingerprint;
        quint32 checkedAt = 0;
        quint8 flags = 0;
    };
    enum Flag : quint8 {
        Keep = 1,       // decided: held as it is
        Replace = 2,    // decided: copied over the backup's copy
        Copied = 4,     // copied whole by this pass
        Known = 8,      // the old index had it, with the size and time the backup holds
        HasPrint = 16,  // fingerprint holds one
        FromBackup = 32,
        Damaged = 64,
    };
    struct Where
    {
        qsizetype folder = -1;
        qsizetype file = -1;
    };
    Where find(const QString& plain);
    versions::RelativePath relativeOf(qsizetype folder, qsizetype file) const;
    std::optional<index::Entry> entryOf(qsizetype folder, qsizetype file, const BackupListing* backup) const;

    const TreeScan& m_scan;
    const QString m_indexFile;
    const QString m_destination;
    const QString m_versionsRoot;
    std::vector<std::vector<File>> m_files; // parallel to the walk
    // Copies whose bytes or time differ from what the walk saw, by folder and file.
    QHash<quint64, std::pair<qint64, qint64>> m_copiedAs;
    QHash<QString, qsizetype> m_folders;     // by the folder's path below the pair's
    std::vector<std::vector<quint32>> m_byName; // each folder's files in the order of their names
    std::vector<index::Entry> m_aside;       // of the old index: not files of the walk
    std::vector<index::VersionEntry> m_versions; // this pass's moves
    QString m_movedStamp, m_moved;             // a full rewrite's old backup
    std::function<void(const versions::RunBlock&)> m_noteMoved;
    int m_pair = 0;
    bool m_oldRead = false; // an old index read whole
    bool m_changed = false;
    qint64 m_oldFiles = 0;
    QSet<QString> m_oldStamps; // the dated folders the old index's versions are in
};

} // namespace archivon
