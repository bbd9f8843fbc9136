#include "index/marks.h"

#include "index/index.h"
#include "versions/fields.h"

namespace archivon::index {

std::optional<QString> plainPath(QStringView field)
{
    const auto path = versions::pathOf(field);
    if (!path)
        return std::nullopt;
    QString plain;
    for (const QString& name : *path)
        plain += QLatin1Char('\\') + name;
    return plain;
}

QSet<QString> damagedFiles(const QString& backupRoot, const QString& destination)
{
    QSet<QString> damaged;
    Reader reader;
    reader.onlyMarked = true;
    reader.file = [&](Entry&& entry) {
        if (entry.mark != Mark::Damaged)
            return;
        if (const auto plain = plainPath(entry.path))
            damaged.insert(*plain);
    };
    const auto read = readIndex(fileFor(backupRoot, destination), reader);
    if (!read || !*read)
        return {};
    return damaged;
}

} // namespace archivon::index
