// What earlier runs left, sorted out by a pass: the copies beside the
// destination, and the temporaries and set-aside entries inside it.

#include "engine/pairpass.h"

#include "platform/errors.h"

namespace archivon {

using namespace platform;
using namespace leftovers;


// What earlier runs left beside the destination: a copy one never finished,
// or an old one it had not removed yet. The last complete backup is kept
// under the pair's name whatever the order of events was; \a restored says
// that one was put back there.
std::optional<PassEnd> PairPass::sortOutLeftovers(bool& restored)
{
    const QString D = m_pair.destination;
    const auto beside = besideOf(D);
    if (!beside) {
        m_run.fail(D, driveNotReadyReason());
        return PassEnd::Finished;
    }
    const Sorted fate = sortOut(findLeftovers(*beside, m_names), exists(beside->target));
    if (!fate.putBack.isEmpty()) {
        m_run.m_touched = true;
        (void)m_run.state.proceed(); // not while held; a stop still lets it go back
        if (const Status moved = moveEntry(fate.putBack, beside->target); !moved) {
            if (destinationLost())
                return PassEnd::DestinationLost;
            m_run.fail(D, QStringLiteral("impossibile rimettere al suo posto il backup lasciato "
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
        if (m_run.keepsVersions()) {
            (void)keepVersion(retired, D, true, 0, QStringLiteral("copia precedente"));
            continue;
        }
        const QString trash = beside->freeName(kTrash);
        if (moveEntry(retired, trash))
            garbage << trash;
        else
            m_run.passOver(retired, QStringLiteral("copia precedente non eliminata"));
    }
    for (const QString& entry : std::as_const(garbage)) {
        if (!removeLeftover(entry))
            return PassEnd::Stopped;
    }
    return std::nullopt;
}

// A folder goes with all it holds; a file or a link by itself. What stays is
// listed as left by an earlier run. False when the run stops meanwhile.
bool PairPass::removeLeftover(const QString& path)
{
    m_run.m_touched = true;
    if (const auto attrs = linkAttributes(path); attrs && (*attrs & Directory))
        return m_run.removeNow(m_N, path, false);
    if (const Status deleted = deleteFile(path); !deleted && deleted.kind() != ErrorKind::NotFound)
        m_run.passOver(path, QStringLiteral("impossibile eliminare (%1): resta da un'esecuzione "
                                            "precedente")
                                 .arg(deleted.error()));
    return true;
}

// What a killed update had set aside goes back where its place is free.
std::optional<PassEnd> PairPass::putBackSetAside(const BackupListing& backup, bool& restored)
{
    versions::RunBlock block{m_N, {}};
    for (const auto& [aside, place] : backup.setAside)
        block.changes.push_back({.kind = versions::ListedChange::Kind::PutBack,
                                 .path = relativeOf(place),
                                 .other = relativeOf(aside)});
    if (!block.changes.empty())
        m_run.note(block);
    for (const auto& [aside, place] : backup.setAside) {
        if (!m_run.state.proceed())
            return PassEnd::Stopped;
        m_run.m_touched = true;
        if (moveEntry(aside, place))
            restored = true;
    }
    return std::nullopt;
}

// Its temporary files, and what it set aside whose place is taken, go.
std::optional<PassEnd> PairPass::removeTemporaries(const BackupListing& backup)
{
    for (const QString& left : backup.temporaries) {
        if (!m_run.state.proceed())
            return PassEnd::Stopped;
        // Something set aside is a whole entry of the previous backup: it is kept.
        if (const auto as = setAsideWhole(left, m_names); as && m_run.keepsVersions()) {
            m_run.m_touched = true;
            const versions::Entry whole = versions::entryAt(left);
            (void)keepVersion(left, *as, whole.folder, whole.size,
                              QStringLiteral("rimasto da parte"), false, true);
            continue;
        }
        if (!removeLeftover(left))
            return PassEnd::Stopped;
    }
    return std::nullopt;
}

} // namespace archivon
