// What earlier runs left: beside a pair's destination, copies of the full
// rewrite never finished or old ones not yet removed; inside it, the update's
// temporary files and entries it had set aside.

#include "backup/leftovers.h"

#include "backup/enginerun.h"
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

// What earlier runs left beside the destination: a copy one never finished,
// or an old one it had not removed yet. The last complete backup is kept
// under the pair's name whatever the order of events was; \a restored says
// that one was put back there.
std::optional<EngineRun::PassEnd> EngineRun::sortOutLeftovers(int N, bool& restored)
{
    const QString D = m_plan.pairs[N - 1].destination;
    const auto beside = besideOf(D);
    if (!beside) {
        fail(D, driveNotReadyReason());
        return PassEnd::Finished;
    }
    const Sorted fate = sortOut(findLeftovers(*beside, m_names), exists(beside->target));
    if (!fate.putBack.isEmpty()) {
        m_touched = true;
        (void)state.proceed(); // not while held; a stop still lets it go back
        if (const Status moved = moveEntry(fate.putBack, beside->target); !moved) {
            if (destinationLost(N))
                return PassEnd::DestinationLost;
            fail(D, QStringLiteral("impossibile rimettere al suo posto il backup lasciato "
                                   "da un'esecuzione interrotta (%1)")
                        .arg(moved.error()));
            return PassEnd::Finished;
        }
        restored = true;
    }
    for (const QString& mark : fate.marks)
        (void)deleteFile(mark);
    QStringList garbage = fate.removed;
    // An old backup is renamed before its removal begins: a copy under that
    // name is always whole. Where versions are kept, it is one of them.
    for (const QString& retired : fate.oldBackups) {
        if (keepsVersions()) {
            (void)keepVersion(N, retired, D, true, 0, QStringLiteral("copia precedente"));
            continue;
        }
        const QString trash = beside->freeName(kTrash);
        if (moveEntry(retired, trash))
            garbage << trash;
        else
            passOver(retired, QStringLiteral("copia precedente non eliminata"));
    }
    for (const QString& entry : std::as_const(garbage)) {
        if (!removeLeftover(N, entry))
            return PassEnd::Stopped;
    }
    return std::nullopt;
}

// A folder goes with all it holds; a file or a link by itself. What stays is
// listed as left by an earlier run. False when the run stops meanwhile.
bool EngineRun::removeLeftover(int N, const QString& path)
{
    m_touched = true;
    if (const auto attrs = linkAttributes(path); attrs && (*attrs & Directory))
        return removeNow(N, path, false);
    if (const Status deleted = deleteFile(path); !deleted && deleted.kind() != ErrorKind::NotFound)
        passOver(path, QStringLiteral("impossibile eliminare (%1): resta da un'esecuzione "
                                      "precedente")
                           .arg(deleted.error()));
    return true;
}

// What a killed update had set aside goes back where its place is free.
std::optional<EngineRun::PassEnd> EngineRun::putBackSetAside(const BackupListing& backup,
                                                             bool& restored)
{
    for (const auto& [aside, place] : backup.setAside) {
        if (!state.proceed())
            return PassEnd::Stopped;
        m_touched = true;
        if (moveEntry(aside, place))
            restored = true;
    }
    return std::nullopt;
}

// Its temporary files, and what it set aside whose place is taken, go.
std::optional<EngineRun::PassEnd> EngineRun::removeTemporaries(int N, const BackupListing& backup)
{
    for (const QString& left : backup.temporaries) {
        if (!state.proceed())
            return PassEnd::Stopped;
        // Something set aside is a whole entry of the previous backup: it is kept.
        const QString name = lastName(left);
        if (const auto was = setAsideFrom(name, m_names); was && keepsVersions()) {
            m_touched = true;
            const QString as = was->isEmpty() ? left : left.left(left.size() - name.size()) + *was;
            const bool folder = linkAttributes(left).valueOr(0) & Directory;
            (void)keepVersion(N, left, as, folder, folder ? 0 : fileLength(left).valueOr(0),
                              QStringLiteral("rimasto da parte"));
            continue;
        }
        if (!removeLeftover(N, left))
            return PassEnd::Stopped;
    }
    return std::nullopt;
}

} // namespace archivon
