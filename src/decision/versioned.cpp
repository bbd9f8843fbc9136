#include "decision/versioned.h"

#include "fileservices/queries.h"
#include "platform/filesystem.h"

namespace archivon::versions {

using namespace platform;

Entry entryAt(const QString& path)
{
    const bool folder = linkAttributes(path).valueOr(0) & Directory;
    return {path, folder, folder ? 0 : fileLength(path).valueOr(0)};
}

Count filesIn(const QString& folder)
{
    const auto [files, bytes] = filesUnder(folder);
    return {files, bytes};
}

Count countOf(const QString& path, bool folder, qint64 size, const FolderCount& under)
{
    return folder ? under(path) : Count{1, size};
}

Count versionedBy(const Changes& changes, const TreeScan& scan, const QString& destination,
                  const QList<Entry>& whole, const FolderCount& under)
{
    Count count;
    for (const Change& c : changes.list) {
        const ScannedFolder& folder = scan.folders.at(c.folder);
        if (c.kind == Change::Kind::Replace)
            count += {1, c.size};
        else if (c.kind == Change::Kind::Remove)
            count += countOf(c.path, c.folderThere, c.size, under);
        else if (c.kind == Change::Kind::SetAside && c.file >= 0) // a folder in the file's place
            count += under(destination + folder.relative + QLatin1Char('\\') + folder.files.at(c.file).name);
        else if (c.kind == Change::Kind::SetAside) // a file in the folder's place
            count += {1, c.size};
    }
    for (const Entry& e : whole)
        count += countOf(e.path, e.folder, e.size, under);
    return count;
}

} // namespace archivon::versions
