// What a run removes or replaces in a pair's backup goes into the run's
// earlier versions, by one rename on the same drive, and only once that
// rename has been made is its place free.

#include "engine/pairpass.h"

#include "platform/errors.h"

namespace archivon {

using namespace platform;

std::optional<QString> PairPass::versionPlace(const QString& path)
{
    if (m_versionsBroken)
        return std::nullopt;
    const QString D = m_pair.destination;
    const QString root = versions::rootFor(D, m_run.m_plan.backupRoot());
    const auto place = m_run.m_versions.placeFor(
        root, versions::pairFolder(m_run.m_plan, m_N, m_run.m_versions.rulesFor(root)),
        path.mid(D.size()));
    // What this run had moved there went with it: said once for the pair.
    if (const QString gone = m_run.m_versions.takeVanished();
        !gone.isEmpty() && !m_versionsVanished) {
        m_versionsVanished = true;
        m_run.fail(gone, QStringLiteral(
                             "cartella delle versioni precedenti scomparsa durante il backup, con "
                             "ciò che conteneva: creata di nuovo"));
    }
    if (!place) {
        versionsBroken(place.error());
        return std::nullopt;
    }
    // The dated folder is this run's from now on: its list goes first.
    m_run.note({m_N, {}});
    return *place;
}

// A move into \a place that failed as if nothing were there, while the entry
// \a path is: a folder of this run's versions went meanwhile. A new place,
// made again, for one more try.
std::optional<QString> PairPass::placeAgain(const QString& path, const QString& as,
                                            const QString& place, const Status& failure)
{
    if (failure.kind() != ErrorKind::NotFound || !exists(path))
        return std::nullopt;
    (void)m_run.m_versions.forgetGone(
        versions::rootFor(m_pair.destination, m_run.m_plan.backupRoot()), place);
    const auto again = versionPlace(as);
    if (again)
        notePlace(as, *again);
    return again;
}

namespace {

// A folder that moves to another parent has its ".." rewritten, which needs
// the right to write in the folder itself: a read-only one is made writable
// for the move, as its removal would be, and read-only again wherever it is.
Status moveKeepingMode(const QString& from, const QString& to)
{
    const unsigned attrs = linkAttributes(from).valueOr(0);
    const bool readOnlyFolder = (attrs & Directory) && (attrs & ReadOnly);
    if (readOnlyFolder)
        (void)setAttributesNormal(from);
    const Status moved = moveEntry(from, to);
    if (readOnlyFolder)
        (void)setReadOnly(moved ? to : from);
    return moved;
}

} // namespace

Status PairPass::moveIntoVersions(const QString& path, const QString& as, QString& place)
{
    Status moved = moveKeepingMode(path, place);
    if (!moved) {
        if (const auto again = placeAgain(path, as, place, moved)) {
            place = *again;
            moved = moveKeepingMode(path, place);
        }
    }
    return moved;
}

bool PairPass::keepVersion(const QString& path, const QString& as, bool folder, qint64 size,
                           const QString& what, bool extra, bool leftover)
{
    auto place = versionPlace(as);
    if (!place)
        return false;
    m_run.m_touched = true;
    notePlace(leftover ? path : as, *place);
    if (const Status moved = moveIntoVersions(path, as, *place); !moved) {
        keepFailed(as, what, moved, extra);
        return false;
    }
    countVersion(versions::countOf(*place, folder, size, versions::filesIn));
    return true;
}

void PairPass::keepFailed(const QString& path, const QString& what, const Status& failure,
                          bool extra)
{
    if (failure.kind() == ErrorKind::OtherDisk)
        return versionsBroken(failure.error());
    if (m_versionsBroken)
        return;
    const QString text = QStringLiteral("%1: impossibile spostare la versione precedente (%2)")
                             .arg(what, failure.error());
    // An extra that stays loses nothing: it is left over, not a failure, and
    // the next run tries again.
    if (extra)
        m_run.passOver(path, text);
    else
        m_run.fail(path, text);
}

// Versions that cannot be kept at all (their folder cannot be made, or is on
// another drive, where nothing goes by a rename) are one failure for the pair,
// and the rest of it keeps what it had.
void PairPass::versionsBroken(const QString& reason)
{
    if (m_versionsBroken)
        return;
    m_versionsBroken = true;
    const QString& D = m_pair.destination;
    m_run.fail(
        D, QStringLiteral("impossibile conservare le versioni precedenti in %1 (%2): nessun file "
                          "della coppia è stato sostituito o eliminato")
               .arg(versions::rootFor(D, m_run.m_plan.backupRoot()), reason));
}

// An entry set aside while one of another kind took its place, once that one
// is there. One that cannot be kept stays under its hidden name, for the next
// run to try again.
void PairPass::dropSetAside(const QString& aside, const QString& as, bool folder)
{
    if (m_run.keepsVersions())
        (void)keepVersion(aside, as, folder, folder ? 0 : fileLength(aside).valueOr(0),
                          QStringLiteral("rimasto da parte"));
    else if (folder)
        m_run.m_removals.start(aside);
    else
        (void)deleteFile(aside);
}

void PairPass::countVersion(versions::Count count)
{
    m_versioned += count.files;
    m_versionedBytes += count.bytes;
    m_run.m_versions.count(versions::rootFor(m_pair.destination, m_run.m_plan.backupRoot()),
                           count.bytes);
}

} // namespace archivon
