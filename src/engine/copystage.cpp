// The copies of a pass: both the update in place and the full rewrite hand
// their files over here, and hear back how each copy ended.

#include "engine/copystage.h"
#include "engine/pairpass.h"

#include "platform/errors.h"

namespace archivon {

using namespace platform;

CopyStage::CopyStage(PairPass& pass, qsizetype folders, CopyFailed failed)
    : m_pass(pass), m_run(pass.m_run), m_stats(pass.m_stats), m_failed(std::move(failed)),
      m_copies(m_run.gate()), m_done(folders), m_folders(folders)
{
    m_run.m_progress.show(&m_copies);
}

CopyStage::~CopyStage()
{
    m_run.m_progress.show(nullptr);
    m_copies.abandon();
    for (const Handed& h : std::as_const(m_handed)) {
        if (!h.aside.isEmpty() && !exists(h.destination))
            (void)moveEntry(h.aside, h.destination);
    }
}

std::optional<PassEnd> CopyStage::room()
{
    if (const auto end = wait(false))
        return end;
    if (!m_run.state.proceed())
        return PassEnd::Stopped;
    return std::nullopt;
}

std::optional<PassEnd> CopyStage::start(const QString& source, const QString& destination,
                                        const QString& shownAs, const Handed& handed)
{
    m_done.handed(handed.folder);
    m_handed.insert(source, handed);
    if (const Status started = m_copies.start(source, destination, shownAs, handed.keptAt);
        !started) {
        // Nothing was written: the source could not be opened, or the drive is gone.
        m_handed.remove(source);
        if (!handed.aside.isEmpty())
            (void)moveEntry(handed.aside, handed.destination);
        if (m_pass.destinationLost())
            return PassEnd::DestinationLost;
        if (const auto end = m_failed({source, shownAs, 0, started, true}, handed))
            return end;
        ended(handed.folder);
    }
    return std::nullopt;
}

void CopyStage::handedUpTo(qsizetype folder)
{
    for (; m_handedUpTo < folder; ++m_handedUpTo) {
        const qsizetype leading = m_done.listed(m_handedUpTo);
        m_run.m_progress.update([leading](RunProgress& p) { p.foldersDone = leading; });
    }
}

std::optional<PassEnd> CopyStage::finish()
{
    handedUpTo(m_folders);
    return wait(true);
}

// Settles the copies that end until there is room for one more (with \a all:
// until every one has ended). A stop abandons them.
std::optional<PassEnd> CopyStage::wait(bool all)
{
    for (;;) {
        if (m_run.state.stopRequested()) {
            m_copies.abandon();
            return PassEnd::Stopped;
        }
        // Whatever has ended by the time nothing is busy is settled here.
        const bool allEnded = !m_copies.busy();
        m_startedAgain = false;
        if (const auto end = settle())
            return end;
        // A copy started once more while settling is one more to wait for, and
        // to settle, however quickly it ends.
        if (all ? allEnded && !m_startedAgain : m_copies.hasRoom())
            return std::nullopt;
        m_copies.waitFor(50);
    }
}

std::optional<PassEnd> CopyStage::drain()
{
    m_draining = true;
    while (m_copies.busy())
        m_copies.waitFor(50);
    (void)settle();
    if (m_run.state.stopRequested())
        return PassEnd::Stopped;
    return std::nullopt;
}

// Every copy that ended is settled, even past one that ends the pass. A full
// disk (Finished) lets the copies still going end by themselves.
std::optional<PassEnd> CopyStage::settle()
{
    std::optional<PassEnd> end;
    for (const ParallelCopy::Ended& e : m_copies.takeEnded()) {
        const Handed h = m_handed.take(e.source);
        if (e.status) {
            m_pass.copyEnded(e, h);
            ++m_stats.copied;
            m_stats.bytes += e.size;
            m_replaced += h.hadCopy;
            if (e.kept)
                m_pass.countVersion(versions::countOf(h.keptAt, false, h.keptBytes, {}));
            if (!h.aside.isEmpty())
                m_pass.dropSetAside(h.aside, h.destination, true);
        } else if (e.keepFailed && !h.again && !m_draining && !m_run.state.stopRequested() &&
                   again(e, h)) {
            continue; // not ended: copied once more
        } else {
            if (!h.aside.isEmpty())
                (void)moveEntry(h.aside, h.destination);
            if (!end && !m_draining)
                end = m_run.state.stopRequested() ? PassEnd::Stopped : m_failed(e, h);
            m_draining = m_draining || end;
        }
        ended(h.folder);
    }
    if (end && *end != PassEnd::Finished)
        m_copies.abandon();
    return end;
}

// A copy whose old file could not go into a versions folder that went
// meanwhile starts again, into that folder made again; true once it has.
bool CopyStage::again(const ParallelCopy::Ended& e, const Handed& h)
{
    const auto place = m_pass.placeAgain(h.destination, h.destination, h.keptAt, e.status);
    if (!place)
        return false;
    Handed retried = h;
    retried.keptAt = *place;
    retried.again = true;
    m_handed.insert(e.source, retried);
    if (m_copies.start(e.source, h.destination, e.shownAs, retried.keptAt)) {
        m_startedAgain = true;
        return true;
    }
    m_handed.remove(e.source);
    return false;
}

// A file's copy ended, however it ended: one more file, and maybe more folders, done.
void CopyStage::ended(qsizetype folder)
{
    const qsizetype leading = m_done.ended(folder);
    m_run.m_progress.update([leading](RunProgress& p) {
        ++p.filesEnded;
        p.foldersDone = leading;
    });
}

} // namespace archivon
