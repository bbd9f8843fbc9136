// The copies of a pass: both the update in place and the full rewrite hand
// their files over here, and hear back how each copy ended.

#include "engine/enginerun.h"

#include "platform/errors.h"

namespace archivon {

using namespace platform;

std::optional<EngineRun::PassEnd> EngineRun::writeFailed(int N, const QString& path,
                                                         const Status& failure)
{
    if (destinationLost(N))
        return PassEnd::DestinationLost;
    if (failure.kind() == ErrorKind::NoSpace)
        return PassEnd::Finished;
    fail(path, failure.error());
    return std::nullopt;
}

EngineRun::CopyStage::CopyStage(EngineRun& run, int N, qsizetype folders, PairStats& stats,
                                CopyFailed failed)
    : m_run(run), m_N(N), m_stats(stats), m_failed(std::move(failed)), m_copies(run.gate()),
      m_done(folders), m_folders(folders)
{
    m_run.showCopies(&m_copies);
}

EngineRun::CopyStage::~CopyStage()
{
    m_run.showCopies(nullptr);
    m_copies.abandon();
    for (const Handed& h : std::as_const(m_handed)) {
        if (!h.aside.isEmpty() && !exists(h.destination))
            (void)moveEntry(h.aside, h.destination);
    }
}

std::optional<EngineRun::PassEnd> EngineRun::CopyStage::room()
{
    if (const auto end = wait(false))
        return end;
    if (!m_run.state.proceed())
        return PassEnd::Stopped;
    return std::nullopt;
}

std::optional<EngineRun::PassEnd> EngineRun::CopyStage::start(const QString& source,
                                                              const QString& destination,
                                                              const QString& shownAs,
                                                              const Handed& handed)
{
    m_done.handed(handed.folder);
    m_handed.insert(source, handed);
    if (const Status started = m_copies.start(source, destination, shownAs, handed.keptAt);
        !started) {
        // Nothing was written: the source could not be opened, or the drive is gone.
        m_handed.remove(source);
        if (!handed.aside.isEmpty())
            (void)moveEntry(handed.aside, handed.destination);
        if (m_run.destinationLost(m_N))
            return PassEnd::DestinationLost;
        if (const auto end = m_failed({source, shownAs, 0, started, true}, handed))
            return end;
        ended(handed.folder);
    }
    return std::nullopt;
}

void EngineRun::CopyStage::handedUpTo(qsizetype folder)
{
    for (; m_handedUpTo < folder; ++m_handedUpTo) {
        const qsizetype leading = m_done.listed(m_handedUpTo);
        m_run.updateProgress([leading](RunProgress& p) { p.foldersDone = leading; });
    }
}

std::optional<EngineRun::PassEnd> EngineRun::CopyStage::finish()
{
    handedUpTo(m_folders);
    return wait(true);
}

// Settles the copies that end until there is room for one more (with \a all:
// until every one has ended). A stop abandons them.
std::optional<EngineRun::PassEnd> EngineRun::CopyStage::wait(bool all)
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

std::optional<EngineRun::PassEnd> EngineRun::CopyStage::drain()
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
std::optional<EngineRun::PassEnd> EngineRun::CopyStage::settle()
{
    std::optional<PassEnd> end;
    for (const ParallelCopy::Ended& e : m_copies.takeEnded()) {
        const Handed h = m_handed.take(e.source);
        if (e.status) {
            ++m_stats.copied;
            m_stats.bytes += e.size;
            m_replaced += h.hadCopy;
            if (e.kept)
                m_run.countVersion(m_N, versions::countOf(h.keptAt, false, h.keptBytes, {}));
            if (!h.aside.isEmpty())
                m_run.dropSetAside(m_N, h.aside, h.destination, true);
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
bool EngineRun::CopyStage::again(const ParallelCopy::Ended& e, const Handed& h)
{
    const auto place = m_run.placeAgain(m_N, h.destination, h.destination, h.keptAt, e.status);
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
void EngineRun::CopyStage::ended(qsizetype folder)
{
    const qsizetype leading = m_done.ended(folder);
    m_run.updateProgress([leading](RunProgress& p) {
        ++p.filesEnded;
        p.foldersDone = leading;
    });
}

} // namespace archivon
