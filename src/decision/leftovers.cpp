// What earlier runs left: beside a pair's destination, copies of the full
// rewrite never finished or old ones not yet removed; inside it, the update's
// temporary files and entries it had set aside.

#include "decision/leftovers.h"

#include "plan/layout.h"
#include "platform/filesystem.h"
#include "fileservices/queries.h"
#include "platform/errors.h"

#include <QRegularExpression>

namespace archivon {

using namespace platform;
using namespace leftovers;

QString Beside::freeName(const QString& kind) const
{
    for (int k = 1;; ++k) {
        const QString path = name(kind, k);
        if (!exists(path) && !exists(path + kCompleteMark))
            return path;
    }
}

std::optional<Beside> leftovers::besideOf(const QString& destination)
{
    const auto where = resolve(destination);
    if (!where || where->components.isEmpty())
        return std::nullopt;
    DrivePath parent = *where;
    const QString name = parent.components.takeLast();
    return Beside{where->toString(), parent.toString(),
                  QLatin1Char('.') + name + QStringLiteral(".archivon-")};
}

// Matched as the destination matches names: on one that folds case, a
// destination typed in another case than its folder's finds what runs left
// under the folder's own spelling.
Leftovers leftovers::findLeftovers(const Beside& b, const NameRules& names)
{
    static const QRegularExpression fresh(QStringLiteral("^nuovo(-[0-9]+)?$"));
    static const QRegularExpression mark(QStringLiteral("^nuovo(-[0-9]+)?\\.completa$"));
    static const QRegularExpression retired(QStringLiteral("^vecchio(-[0-9]+)?$"));
    Leftovers found;
    DirSearch search(joinPath(b.parent, QStringLiteral("*.*")), Hidden | System | Directory);
    for (QString name = search.next(); !name.isEmpty(); name = search.next()) {
        if (!startsAs(name, b.prefix, names))
            continue;
        const QString rest = nameKey(name.mid(b.prefix.size()), names);
        const QString path = joinPath(b.parent, name);
        if (fresh.match(rest).hasMatch())
            found.fresh << path;
        else if (mark.match(rest).hasMatch())
            found.marks << path;
        else if (retired.match(rest).hasMatch())
            found.retired << path;
        else
            found.other << path;
    }
    return found;
}

// Cut off in the swap: the new copy if it was recorded complete, otherwise
// the old one, which is whole until it is renamed away.
QString leftovers::completeCopy(const Leftovers& left)
{
    for (const QString& fresh : left.fresh) {
        if (left.marks.contains(fresh + kCompleteMark))
            return fresh;
    }
    return left.retired.isEmpty() ? QString() : left.retired.first();
}

leftovers::PairFolder leftovers::pairFolderOf(const QString& destination)
{
    const bool link = linkAttributes(destination).valueOr(0) & System;
    const auto attrs = attributes(destination);
    return {.present = attrs && (*attrs & Directory) && !link, .link = link};
}

leftovers::Sorted leftovers::sortOut(const Leftovers& left, bool targetThere)
{
    Sorted fate;
    if (!targetThere)
        fate.putBack = completeCopy(left);
    const auto others = [&](const QStringList& paths) {
        QStringList kept = paths;
        kept.removeAll(fate.putBack);
        return kept;
    };
    fate.marks = left.marks;
    fate.removed = left.other + others(left.fresh);
    fate.oldBackups = others(left.retired);
    return fate;
}

} // namespace archivon
