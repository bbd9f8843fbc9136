#include "plan/paths.h"

#include "platform/drives.h"
#include "platform/filesystem.h"

#include <QDir>
#include <QFileInfo>

namespace archivon {

using namespace platform;

QString canonicalFolder(const QString& path)
{
    const auto resolved = resolve(path);
    if (!resolved)
        return QString();
    const auto root = driveRoot(resolved->drive);
    if (!root)
        return QString();
    QString existing = QFileInfo(*root).canonicalFilePath();
    QStringList rest = resolved->components;
    while (!rest.isEmpty()) {
        const QString next = existing + QLatin1Char('/') + rest.first();
        const QString canonical = QFileInfo(next).canonicalFilePath();
        if (canonical.isEmpty())
            break;
        existing = canonical;
        rest.removeFirst();
    }
    for (const QString& c : rest)
        existing += QLatin1Char('/') + c;
    return existing;
}

bool sameOrInside(const QString& a, const QString& b)
{
    const QString sa = a.endsWith(QLatin1Char('/')) ? a : a + QLatin1Char('/');
    const QString sb = b.endsWith(QLatin1Char('/')) ? b : b + QLatin1Char('/');
    return sa.startsWith(sb) || sb.startsWith(sa);
}

} // namespace archivon
