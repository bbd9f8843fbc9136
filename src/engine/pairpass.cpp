// One pair of a run: the walk of its source, the listing of its backup beside
// it, the room its copy needs, and then its pass.

#include "engine/pairpass.h"
#include "index/marks.h"
#include "plan/checks.h"
#include "versions/room.h"

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

PairPass::PairPass(EngineRun& run, int N) : m_run(run), m_N(N), m_pair(run.m_plan.pairs[N - 1]) {}

// From the walk of the pair's source to the end of its pass. False once the
// run has ended.
bool PairPass::backUp()
{
    m_run.m_progress.update([N = m_N](RunProgress& p) {
        p = RunProgress{};
        p.pair = N;
    });
    m_run.phase(m_N, Phase::Scanning);
    // Asked once, of the pair's folder or the nearest folder above it that exists.
    m_names = platform::probeNameRules(m_pair.destination);
    const bool full = m_run.m_options.fullRewrite;
    // The update lists the backup while the source is walked.
    std::optional<UpdateStart> start;
    std::optional<ListingBeside> listing;
    if (!full)
        m_damaged = index::damagedFiles(m_run.m_plan.backupRoot(), m_pair.destination);
    if (!full && (start = startUpdate()))
        listing.emplace(m_pair.destination, start->present, m_names, m_run.gate());
    const auto scan = walkSource(listing ? &listing->feed() : nullptr);
    BackupListing backup;
    std::optional<Changes> changes = Changes{};
    if (!full) {
        auto listed = listing ? listing->take() : std::nullopt;
        if (scan && listed) {
            backup = std::move(*listed);
            changes = compareWithBackup(*scan, backup, start->keeps, m_names, m_damaged);
        } else {
            changes.reset();
        }
    }
    // The stop question holds the comparison and the measurement too, so that
    // no end comes while it is open.
    if (!scan || !changes || !m_run.state.proceed()) {
        m_run.endStopped();
        return false;
    }
    if (!full && emptiedSource(*scan, backup)) {
        m_run.fail(m_pair.source, kEmptiedSource);
        return true;
    }
    if (!roomFor(full ? scan->bytes : changes->toWrite))
        return false;
    return pass(*scan, backup, *changes);
}

bool PairPass::pass(const TreeScan& scan, BackupListing& backup, Changes& changes)
{
    RunEvent pairStarted;
    pairStarted.kind = RunEvent::Kind::PairStarted;
    pairStarted.pair = m_N;
    pairStarted.path = m_pair.source;
    pairStarted.detail = m_pair.destination;
    m_run.report(pairStarted);
    QElapsedTimer passTime;
    passTime.start();
    const PassEnd end = m_run.m_options.fullRewrite ? fullPass(scan) : updatePass(scan, backup, changes);
    m_run.m_added += m_stats.copied - m_stats.replaced;
    m_run.m_replaced += m_stats.replaced;
    m_run.m_removed += m_stats.removed;
    switch (end) {
    case PassEnd::Stopped:
        m_run.endStopped();
        return false;
    case PassEnd::DestinationLost:
        m_run.endDestinationLost(m_N);
        return false;
    case PassEnd::Finished:
        break;
    }
    m_stats.milliseconds = passTime.elapsed();
    m_stats.versioned = m_versioned;
    m_stats.versionedBytes = m_versionedBytes;
    ++m_run.m_pairsDone;
    RunEvent finished;
    finished.kind = RunEvent::Kind::PairFinished;
    finished.pair = m_N;
    finished.stats = m_stats;
    m_run.report(finished);
    // A run that backed nothing up removes no versions.
    if (m_run.m_pairsDone == 1)
        m_run.startRetention();
    return true;
}

std::optional<TreeScan> PairPass::walkSource(FolderFeed* feed)
{
    WalkObserver observer(m_run.state, feed, [this](qint64 known, qint64 visited) {
        m_run.m_progress.update([&](RunProgress& p) {
            if (known >= 0)
                p.foldersKnown = known;
            if (visited >= 0)
                p.foldersVisited = visited;
        });
    });
    TreeScan scan = scanTree({m_pair.source}, &observer, [this](const QString& link) {
        return leadsIntoBackup(link, m_run.m_destinations);
    });
    if (scan.stopped)
        return std::nullopt;
    RunEvent scanned;
    scanned.kind = RunEvent::Kind::Scanned;
    scanned.pair = m_N;
    for (const ScannedFolder& f : scan.folders)
        scanned.folders << f.path;
    scanned.count = scan.files;
    scanned.bytes = scan.bytes;
    m_run.report(scanned);
    for (const ScanProblem& p : scan.passedOver)
        m_run.passOver(p.path, p.reason);
    return scan;
}

// The room the copy needs: the whole source built beside the old copy, or
// what is new or changed in it. Where it is short, the old copies still being
// removed, then the oldest earlier versions, make more, measured after each.
// False once the run has ended.
bool PairPass::roomFor(qint64 need)
{
    const QString& destination = m_pair.destination;
    auto free = ShowFreeSpace(destination.left(3));
    std::optional<QList<room::Version>> versions; // listed once they are needed
    for (;;) {
        if (!free) {
            m_run.endDestinationLost(m_N);
            return false;
        }
        const bool pending = m_run.m_removals.pending();
        if (!versions && *free < need && m_run.m_options.versionDays > 0 && !pending)
            versions = room::versionsFor(
                m_run.versionRoots(), destination,
                [this](const QString& root) { return m_run.currentVersions(root); },
                m_run.m_lock.token(), QDateTime::currentDateTime());
        const bool versionsLeft = versions && !versions->isEmpty();
        switch (room::next(need, *free, pending, versionsLeft)) {
        case room::Step::WaitForRemovals:
            if (!m_run.waitForRemovals(m_N)) {
                m_run.endStopped();
                return false;
            }
            break;
        case room::Step::RemoveVersion:
            if (!m_run.removeVersionForRoom(m_N, versions->takeFirst())) {
                m_run.endStopped();
                return false;
            }
            break;
        case room::Step::Enough:
        case room::Step::NoRoom:
            RunEvent measured;
            measured.kind = RunEvent::Kind::Measured;
            measured.pair = m_N;
            measured.bytes = need;
            measured.count = *free == kFreeSpaceUnknown ? -1 : *free;
            m_run.report(measured);
            if (*free < need) {
                m_run.endNoSpace();
                return false;
            }
            return true;
        }
        free = ShowFreeSpace(destination.left(3));
    }
}

bool PairPass::destinationLost() const
{
    const auto where = resolve(m_pair.destination);
    return !where || !driveRoot(where->drive);
}

std::optional<PassEnd> PairPass::writeFailed(const QString& path, const Status& failure)
{
    if (destinationLost())
        return PassEnd::DestinationLost;
    if (failure.kind() == ErrorKind::NoSpace)
        return PassEnd::Finished;
    m_run.fail(path, failure.error());
    return std::nullopt;
}

} // namespace archivon
