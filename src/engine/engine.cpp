#include "engine/engine.h"
#include "plan/checks.h"
#include "plan/paths.h"

#include "engine/enginerun.h"
#include "versions/room.h"
#include "fileservices/queries.h"
#include "platform/drives.h"
#include "platform/errors.h"

namespace archivon {

using namespace platform;

namespace {

// The walk shows its counters, hands on the folders it finds, and ends early
// once the run stops.
class WalkObserver final : public ScanObserver
{
public:
    WalkObserver(RunState& state, FolderFeed* feed, std::function<void(qint64, qint64)> show)
        : m_state(state), m_feed(feed), m_show(std::move(show))
    {
    }
    void folderFound(qint64 known) override { m_show(known, -1); }
    void folderAdded(const ScannedFolder& folder) override
    {
        if (m_feed)
            m_feed->add(folder);
    }
    void filesFound(qsizetype k, QList<ScannedFile>& files) override
    {
        if (m_feed)
            m_feed->walked(k, files);
    }
    void folderVisited(qint64 visited) override { m_show(-1, visited); }
    bool stopRequested() override { return !m_state.proceed(); }

private:
    RunState& m_state;
    FolderFeed* m_feed;
    std::function<void(qint64, qint64)> m_show;
};

// The listing of the backup under a pair's name, made on a thread of its own
// while the engine walks the source and hands it each folder it finds. The
// listing asks the run's gate before each folder, as the walk does.
class ListingBeside
{
public:
    ListingBeside(const QString& destination, bool present, const NameRules& names, Gate gate)
        : m_thread([this, destination, present, names, gate = std::move(gate)] {
              m_listed = listBackup(destination, m_feed, present, names, gate);
          })
    {
    }
    ~ListingBeside() { m_feed.close(); } // and the thread is joined
    ListingBeside(const ListingBeside&) = delete;
    ListingBeside& operator=(const ListingBeside&) = delete;

    FolderFeed& feed() { return m_feed; }
    /// Once the walk has ended: the listing, or nothing when the run stopped it.
    std::optional<BackupListing> take()
    {
        m_feed.close();
        m_thread.join();
        m_feed.release();
        return std::move(m_listed);
    }

private:
    FolderFeed m_feed;
    std::optional<BackupListing> m_listed;
    std::jthread m_thread; // last, so that it starts once the rest is there
};

} // namespace

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

RunProgress EngineRun::progress() const
{
    const std::lock_guard lock(m_progressMutex);
    RunProgress progress = m_progress;
    if (m_copies) {
        for (const ParallelCopy::InFlight& f : m_copies->inFlight())
            progress.copying.append({f.source, f.shownAs, f.size, f.written, f.serial});
    }
    return progress;
}

bool EngineRun::destinationLost(int N) const
{
    const auto where = resolve(m_plan.pairs[N - 1].destination);
    return !where || !driveRoot(where->drive);
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
    reportStart();
    int last = 1;
    for (int N = 1; N <= 4; ++N) {
        if (!state.proceed())
            return endStopped();
        m_removals.settle();
        last = N;
        if (leftOut(N))
            continue;
        if (!backUpPair(N))
            return;
    }
    // The run ends once the old copies it replaced are gone.
    if (m_removals.pending() && !waitForRemovals(last))
        return endStopped();
    if (!state.complete())
        return endStopped();
    complete();
}

std::optional<TreeScan> EngineRun::walkSource(int N, FolderFeed* feed)
{
    WalkObserver observer(state, feed, [this](qint64 known, qint64 visited) {
        updateProgress([&](RunProgress& p) {
            if (known >= 0)
                p.foldersKnown = known;
            if (visited >= 0)
                p.foldersVisited = visited;
        });
    });
    TreeScan scan = scanTree({m_plan.pairs[N - 1].source}, &observer,
                             [this](const QString& link) { return leadsIntoBackup(link, m_destinations); });
    if (scan.stopped)
        return std::nullopt;
    RunEvent scanned;
    scanned.kind = RunEvent::Kind::Scanned;
    scanned.pair = N;
    for (const ScannedFolder& f : scan.folders)
        scanned.folders << f.path;
    scanned.count = scan.files;
    scanned.bytes = scan.bytes;
    report(scanned);
    for (const ScanProblem& p : scan.passedOver)
        passOver(p.path, p.reason);
    return scan;
}

// The room the copy needs: the whole source built beside the old copy, or
// what is new or changed in it. Where it is short, the old copies still being
// removed, then the oldest earlier versions, make more, measured after each.
// False once the run has ended.
bool EngineRun::roomFor(int N, qint64 need)
{
    const QString& destination = m_plan.pairs[N - 1].destination;
    auto free = ShowFreeSpace(destination.left(3));
    std::optional<QList<room::Version>> versions; // listed once they are needed
    for (;;) {
        if (!free) {
            endDestinationLost(N);
            return false;
        }
        const bool pending = m_removals.pending();
        if (!versions && *free < need && m_options.versionDays > 0 && !pending)
            versions = room::versionsFor(versionRoots(), destination, [this](const QString& root) { return currentVersions(root); },
                                         m_lock.token(), QDateTime::currentDateTime());
        const bool versionsLeft = versions && !versions->isEmpty();
        switch (room::next(need, *free, pending, versionsLeft)) {
        case room::Step::WaitForRemovals:
            if (!waitForRemovals(N)) {
                endStopped();
                return false;
            }
            break;
        case room::Step::RemoveVersion:
            if (!removeVersionForRoom(N, versions->takeFirst())) {
                endStopped();
                return false;
            }
            break;
        case room::Step::Enough:
        case room::Step::NoRoom:
            RunEvent measured;
            measured.kind = RunEvent::Kind::Measured;
            measured.pair = N;
            measured.bytes = need;
            measured.count = *free == kFreeSpaceUnknown ? -1 : *free;
            report(measured);
            if (*free < need) {
                endNoSpace();
                return false;
            }
            return true;
        }
        free = ShowFreeSpace(destination.left(3));
    }
}

// One pair, from the walk of its source to the end of its pass. False once the
// run has ended.
bool EngineRun::backUpPair(int N)
{
    const BackupPair& pair = m_plan.pairs[N - 1];
    updateProgress([N](RunProgress& p) { p = RunProgress{}; p.pair = N; });
    phase(N, Phase::Scanning);
    // Asked once, of the pair's folder or the nearest folder above it that exists.
    m_names = platform::probeNameRules(pair.destination);
    // The update lists the backup while the source is walked.
    std::optional<UpdateStart> start;
    std::optional<ListingBeside> listing;
    if (!m_options.fullRewrite && (start = startUpdate(N)))
        listing.emplace(pair.destination, start->present, m_names, gate());
    const auto scan = walkSource(N, listing ? &listing->feed() : nullptr);
    BackupListing backup;
    std::optional<Changes> changes = Changes{};
    if (!m_options.fullRewrite) {
        auto listed = listing ? listing->take() : std::nullopt;
        if (scan && listed) {
            backup = std::move(*listed);
            changes = compareWithBackup(*scan, backup, start->keeps, m_names);
        } else {
            changes.reset();
        }
    }
    // The stop question holds the comparison and the measurement too, so that
    // no end comes while it is open.
    if (!scan || !changes || !state.proceed()) {
        endStopped();
        return false;
    }
    if (!m_options.fullRewrite && emptiedSource(*scan, backup)) {
        fail(pair.source, kEmptiedSource);
        return true;
    }
    if (!roomFor(N, m_options.fullRewrite ? scan->bytes : changes->toWrite))
        return false;
    m_versionsBroken = m_versionsVanished = false;
    m_versioned = m_versionedBytes = 0;

    RunEvent pairStarted;
    pairStarted.kind = RunEvent::Kind::PairStarted;
    pairStarted.pair = N;
    pairStarted.path = pair.source;
    pairStarted.detail = pair.destination;
    report(pairStarted);
    QElapsedTimer passTime;
    passTime.start();
    PairStats stats;
    switch (m_options.fullRewrite ? fullPass(N, *scan, stats) : updatePass(N, *scan, backup, *changes, stats)) {
    case PassEnd::Stopped:
        endStopped();
        return false;
    case PassEnd::DestinationLost:
        endDestinationLost(N);
        return false;
    case PassEnd::Finished:
        break;
    }
    stats.milliseconds = passTime.elapsed();
    stats.versioned = m_versioned;
    stats.versionedBytes = m_versionedBytes;
    ++m_pairsDone;
    RunEvent finished;
    finished.kind = RunEvent::Kind::PairFinished;
    finished.pair = N;
    finished.stats = stats;
    report(finished);
    // A run that backed nothing up removes no versions.
    if (m_pairsDone == 1)
        startRetention();
    return true;
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
