#include "fileservices/deltree.h"

#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/removal.h"

namespace archivon {

using namespace platform;

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
        // A file is not a folder to remove; a link to one goes as a link.
        if (!(*attrs & Directory)) {
            const auto target = attributes(cartella);
            if (!target || !(*target & Directory))
                return true;
        }
    }
    BackgroundRemoval::Options options;
    options.keepFolder = isRoot;
    if (stopped)
        options.gate = [&stopped] { return !stopped(); };
    BackgroundRemoval removal(where->toString(), options);
    removal.wait();
    return !removal.stopped();
}

} // namespace archivon
