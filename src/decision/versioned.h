#pragma once

// What a pass moves into the earlier versions, counted from its changes: the
// run counts it as it goes, and its forecast before anything is written.

#include "decision/comparison.h"

#include <QList>
#include <QString>

#include <functional>

namespace archivon::versions {

/// What a run moves into its versions: files, and their bytes.
struct Count
{
    qint64 files = 0;
    qint64 bytes = 0;

    Count& operator+=(const Count& other)
    {
        files += other.files;
        bytes += other.bytes;
        return *this;
    }
    bool operator==(const Count&) const = default;
};

/// The files a folder holds at any depth, and their bytes, read where it is.
using FolderCount = std::function<Count(const QString& folder)>;

/// What one entry adds to the versions: a file is one, of its \a size; a
/// folder, every file it holds, as \a under counts them at \a path.
Count countOf(const QString& path, bool folder, qint64 size, const FolderCount& under);

/// An entry moved into the versions whole: a file of \a size, or a \a folder.
struct Entry
{
    QString path;
    bool folder = true;
    qint64 size = 0;
};

/// An entry as it is now on the disk, to go into the versions whole.
Entry entryAt(const QString& path);
/// Counts a folder's files on the disk: the FolderCount of a run.
Count filesIn(const QString& folder);

/// What a pass over the pair at \a destination moves into the versions, as
/// the run counts it: of \a changes (of the walk \a scan), each file it
/// replaces, each entry it removes, each entry it sets aside for one of
/// another kind; and each entry earlier runs left that goes there whole
/// (\a whole: complete old backups, entries set aside whose place is taken,
/// the old copy a full rewrite replaces).
Count versionedBy(const Changes& changes, const TreeScan& scan, const QString& destination,
                  const QList<Entry>& whole, const FolderCount& under);

} // namespace archivon::versions
