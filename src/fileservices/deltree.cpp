#include "fileservices/deltree.h"

#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/yield.h"

#include <QStringList>

namespace archivon {

namespace {

using namespace platform;

constexpr unsigned EveryEntry = ReadOnly | Hidden | System | Directory | Archive;

// One removal: yields, and remembers a stop asked for at any of them.
struct Removal
{
    const std::function<bool()>& stopped;
    bool stop = false;

    // False once the removal must end.
    bool yieldAndGoOn()
    {
        yield();
        if (!stop && stopped && stopped())
            stop = true;
        return !stop;
    }
};

// The full paths of a folder's entries. The search is over before anything
// is removed, so that searches of two levels are never open together.
QStringList collectEntries(const QString& cartella, Removal& removal)
{
    QStringList entries;
    DirSearch search(cartella + QLatin1String("\\*.*"), EveryEntry);
    QString name = search.next();
    while (!name.isEmpty()) {
        entries.append(cartella + QLatin1Char('\\') + name);
        name = search.next();
        if (!removal.yieldAndGoOn())
            return {};
    }
    return entries;
}

// Removes what a folder holds and, when asked, the folder itself. Every
// failure is passed over: what cannot go stays, the rest goes.
void removeTree(const QString& cartella, bool removeItself, Removal& removal)
{
    const QStringList entries = collectEntries(cartella, removal);
    for (const QString& entry : entries) {
        if (removal.stop)
            return;
        // The entry itself, never what a symlink leads to: a link is deleted
        // like a file, so the walk never leaves the tree. An entry that cannot
        // be read at all cannot be listed or removed either, and is left.
        if (const auto attrs = linkAttributes(entry)) {
            if (*attrs & Directory) {
                // Its entries can only go while it is writable.
                if (*attrs & ReadOnly)
                    (void)setAttributesNormal(entry);
                removeTree(entry, true, removal);
            } else {
                // Only for regular files: on a link it would reach the target.
                if ((*attrs & ReadOnly) && !(*attrs & System))
                    (void)setAttributesNormal(entry);
                (void)deleteFile(entry);
            }
        }
        if (!removal.yieldAndGoOn())
            return;
    }
    if (removeItself && !removal.stop)
        (void)removeFolder(cartella);
}

} // namespace

bool DelTree(QString& cartella, const std::function<bool()>& stopped)
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
    Removal removal{stopped};
    removeTree(cartella, !isRoot && cartella.size() > 2, removal);
    return !removal.stop;
}

} // namespace archivon
