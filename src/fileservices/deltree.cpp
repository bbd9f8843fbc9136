#include "fileservices/deltree.h"

#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/yield.h"

#include <QStringList>

namespace archivon {

namespace {

using namespace platform;

constexpr unsigned EveryEntry = ReadOnly | Hidden | System | Directory | Archive;

// The full paths of a folder's entries. The search is over before anything
// is removed, so that searches of two levels are never open together.
QStringList collectEntries(const QString& cartella)
{
    QStringList entries;
    DirSearch search(cartella + QLatin1String("\\*.*"), EveryEntry);
    QString name = search.next();
    while (!name.isEmpty()) {
        // A host name holding a backslash would address some other entry.
        if (name != QLatin1String(".") && name != QLatin1String("..") &&
            !name.contains(QLatin1Char('\\')))
            entries.append(cartella + QLatin1Char('\\') + name);
        name = search.next();
        yield();
    }
    return entries;
}

// Removes what a folder holds and, when asked, the folder itself. Every
// failure is passed over: what cannot go stays, the rest goes.
void removeTree(const QString& cartella, bool removeItself)
{
    const QStringList entries = collectEntries(cartella);
    for (const QString& entry : entries) {
        // The entry itself, never what a symlink leads to: a link is deleted
        // like a file, so the walk never leaves the tree. An entry that cannot
        // be read at all cannot be listed or removed either, and is left.
        if (const auto attrs = linkAttributes(entry)) {
            if (*attrs & Directory) {
                // Its entries can only go while it is writable.
                if (*attrs & ReadOnly)
                    (void)setAttributesNormal(entry);
                removeTree(entry, true);
            } else {
                // Only for regular files: on a link it would reach the target.
                if ((*attrs & ReadOnly) && !(*attrs & System))
                    (void)setAttributesNormal(entry);
                (void)deleteFile(entry);
            }
        }
        yield();
    }
    if (removeItself)
        (void)removeFolder(cartella);
}

} // namespace

bool DelTree(QString& cartella)
{
    if (cartella.endsWith(QLatin1Char('\\')))
        cartella.chop(1);
    // Not a path, the empty text included: nothing is removed, least of all
    // the current folder that an empty text would stand for.
    const auto where = resolve(cartella);
    if (!where)
        return true;

    // A drive root is emptied and kept, whatever the text says ("R:", "R:\.").
    const bool isRoot = where->components.isEmpty();
    if (!isRoot) {
        const auto attrs = linkAttributes(cartella);
        if (!attrs)
            return true;
        if (!(*attrs & Directory)) {
            // A link to a folder goes as a link; a file is not a folder to remove.
            if (const auto target = attributes(cartella); target && (*target & Directory))
                (void)deleteFile(cartella);
            return true;
        }
        if (*attrs & ReadOnly)
            (void)setAttributesNormal(cartella);
    }
    removeTree(cartella, !isRoot && cartella.size() > 2);
    return true;
}

} // namespace archivon
