// The engine's interface, and the run: its pairs one after the other, each a
// pass of its own.

#include "engine/engine.h"
#include "plan/checks.h"
#include "plan/paths.h"

#include "engine/enginerun.h"
#include "engine/pairpass.h"

namespace archivon {

using namespace platform;

EngineRun::EngineRun(BackupEngine& owner, const BackupPlan& plan, const RunOptions& options)
    : m_owner(owner), m_plan(plan), m_typedFirstPair(plan.pairs[0]), m_options(options)
{
    shutdownAtEnd = options.shutdownAtEnd;
    // "R:\BK\d1\" names the folder "R:\BK\d1": every text built from it is
    // joined to what follows with one separator.
    for (BackupPair& pair : m_plan.pairs) {
        while (pair.destination.size() > 3 &&
               (pair.destination.endsWith(QLatin1Char('\\')) || pair.destination.endsWith(QLatin1Char('/'))))
            pair.destination.chop(1);
    }
    for (std::size_t i = 0; i < m_plan.pairs.size(); ++i)
        m_destinations[i] = canonicalFolder(m_plan.pairs[i].destination);
}

void EngineRun::run()
{
    // The backup folder is made here when it is missing: never under a name a
    // share cannot keep, whoever started the run.
    if (const QString refusal = backupFolderNameRefusal(m_plan); !refusal.isEmpty()) {
        RunEnd end;
        end.outcome = RunOutcome::Refused;
        end.reason = RunEnd::Reason::Refused;
        end.message = end.status = refusal;
        return finish(end);
    }
    if (!takeLock())
        return;
    m_previousList = versions::newestListId(versions::computerRoot(m_plan.backupRoot()));
    reportStart();
    int last = 1;
    for (int N = 1; N <= 4; ++N) {
        if (!state.proceed())
            return endStopped();
        m_removals.settle();
        last = N;
        if (leftOut(N))
            continue;
        if (!PairPass(*this, N).backUp())
            return;
    }
    // The run ends once the old copies it replaced are gone.
    if (m_removals.pending() && !waitForRemovals(last))
        return endStopped();
    if (!state.complete())
        return endStopped();
    complete();
}

BackupEngine::BackupEngine(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<RunEvent>();
}

BackupEngine::~BackupEngine()
{
    if (d) {
        d->state.stop();
        if (d->thread.joinable())
            d->thread.join();
    }
}

void BackupEngine::start(const BackupPlan& plan, const Options& options)
{
    Q_ASSERT(!d);
    Options taken = options;
    taken.shutdownAtEnd = taken.shutdownAtEnd || m_shutdownAtEnd;
    d = std::make_unique<EngineRun>(*this, plan, taken);
    d->thread = std::thread([run = d.get()] {
        run->run();
        const std::lock_guard lock(run->endedMutex);
        run->ended = true;
        run->endedChanged.notify_all();
    });
}

bool BackupEngine::hold() { return d && d->state.hold(); }

void BackupEngine::release()
{
    if (d)
        d->state.release();
}

void BackupEngine::stop(bool windowClosed)
{
    if (!d)
        return;
    if (windowClosed)
        d->windowClosed = true;
    d->state.stop();
}

void BackupEngine::setShutdownAtEnd(bool shutdown)
{
    m_shutdownAtEnd = shutdown;
    if (d)
        d->shutdownAtEnd = shutdown;
}

bool BackupEngine::isRunning() const
{
    if (!d)
        return false;
    const std::lock_guard lock(d->endedMutex);
    return !d->ended;
}

bool BackupEngine::wait(int milliseconds)
{
    if (!d)
        return true;
    {
        std::unique_lock lock(d->endedMutex);
        if (milliseconds < 0)
            d->endedChanged.wait(lock, [this] { return d->ended; });
        else if (!d->endedChanged.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                           [this] { return d->ended; }))
            return false;
    }
    if (d->thread.joinable())
        d->thread.join();
    return true;
}

RunProgress BackupEngine::progress() const
{
    return d ? d->progress() : RunProgress{};
}

} // namespace archivon
