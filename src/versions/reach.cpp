#include "versions/reach.h"

#include "plan/layout.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "versions/versions.h"

#include <QHash>
#include <QLocale>

#include <algorithm>

namespace archivon::versions {

using namespace platform;

std::vector<int> runOrder(const std::vector<const RunList*>& lists)
{
    const auto header = [&](int k) -> const RunHeader& { return lists[std::size_t(k)]->header; };
    std::vector<int> byStart(lists.size());
    for (std::size_t k = 0; k < byStart.size(); ++k)
        byStart[k] = int(k);
    std::sort(byStart.begin(), byStart.end(), [&](int a, int b) {
        return header(a).start != header(b).start ? header(a).start < header(b).start
                                                  : header(a).id < header(b).id;
    });
    QHash<QString, int> byId;
    for (const int k : byStart)
        byId.insert(header(k).id, k);
    std::vector<int> after(lists.size(), -1);
    std::vector<char> follows(lists.size(), 0);
    for (const int k : byStart) {
        const int before = header(k).previous.isEmpty() ? -1 : byId.value(header(k).previous, -1);
        if (before >= 0 && before != k && after[std::size_t(before)] < 0) {
            after[std::size_t(before)] = k;
            follows[std::size_t(k)] = 1;
        }
    }
    std::vector<int> order;
    order.reserve(byStart.size());
    std::vector<char> placed(lists.size(), 0);
    const auto chainFrom = [&](int k) {
        for (; k >= 0 && !placed[std::size_t(k)]; k = after[std::size_t(k)]) {
            placed[std::size_t(k)] = 1;
            order.push_back(k);
        }
    };
    for (const int k : byStart) {
        if (!follows[std::size_t(k)])
            chainFrom(k);
    }
    for (const int k : byStart) // lists that name each other round a loop
        chainFrom(k);
    return order;
}

std::optional<Barrier> barrierFor(const RunHistory& h, const std::vector<int>& order, std::size_t first)
{
    const auto header = [&](std::size_t k) -> const RunHeader& { return h.lists[std::size_t(order[k])]->header; };
    const auto refusal = [](const RefusedList& r) {
        return Barrier{Reach::Limit::RefusedList,
                       QStringLiteral("l'elenco in «%1» non si legge: %2").arg(r.folder, r.why)};
    };
    first = std::min(first, order.size());
    const QDateTime after = first > 0 ? header(first - 1).start : QDateTime();
    for (std::size_t k = order.size(); k-- > first;) {
        const RunHeader& run = header(k);
        if (run.versionDays <= 0)
            return Barrier{Reach::Limit::NoVersions,
                           QStringLiteral("l'esecuzione del %1 non ha tenuto le versioni precedenti")
                               .arg(shownMoment(run.start))};
        const QString expected = k > 0 ? header(k - 1).id : QString();
        if (run.previous == expected)
            continue;
        const QDateTime before = k > 0 ? header(k - 1).start : QDateTime();
        for (const RefusedList& r : h.refused) {
            if ((!before.isValid() || r.stamp > before) && r.stamp <= run.start)
                return refusal(r);
        }
        return Barrier{Reach::Limit::MissingList,
                       QStringLiteral("manca l'elenco dell'esecuzione precedente a quella del %1")
                           .arg(shownMoment(run.start))};
    }
    // What ran after the run reached, the last listed one included, and left
    // no list that reads.
    for (const RefusedList& r : h.refused) {
        if (!after.isValid() || r.stamp > after)
            return refusal(r);
    }
    for (const QDateTime& stamp : h.unlisted) {
        if (!after.isValid() || stamp > after)
            return Barrier{Reach::Limit::OlderRuns,
                           QStringLiteral("l'esecuzione del %1 non ha lasciato un elenco (versione "
                                          "precedente del programma)")
                               .arg(shownMoment(stamp))};
    }
    // Without a single list nothing tells what the runs did, however many
    // there were: the mirror is all there is.
    if (order.empty())
        return Barrier{Reach::Limit::NoLists, QStringLiteral("nessuna esecuzione ha lasciato un elenco")};
    return std::nullopt;
}

Reach reachOf(const RunHistory& h)
{
    const std::vector<int> order = runOrder(h.lists);
    Reach reach;
    std::optional<std::size_t> reached;
    for (std::size_t first = order.size() + 1; first-- > 0;) {
        // A moment is the end of a run that ended, or before the first.
        const RunList* run = first > 0 ? h.lists[std::size_t(order[first - 1])] : nullptr;
        if (run && !run->summary)
            continue;
        if (const auto barrier = barrierFor(h, order, first)) {
            reach.limit = barrier->limit;
            reach.why = barrier->why;
            break;
        }
        reached = first;
    }
    // Before the first list the chain leads to, the state just before that run
    // is known, not what came earlier: a backup may have been there before
    // this version kept lists, and runs without one leave no trace.
    if (reached && *reached == 0)
        reach.oldest = h.lists[std::size_t(order[0])]->header.start;
    else if (reached)
        reach.oldest = h.lists[std::size_t(order[*reached - 1])]->summary->end;
    return reach;
}

RestoreReach Reach::reachable() const
{
    if (oldest.isValid())
        return {RestoreReach::Kind::Since, oldest};
    return {RestoreReach::Kind::OnlyPresent, {}};
}

RunHistory BackupRuns::history() const
{
    RunHistory h;
    for (const Run& run : runs)
        h.lists.push_back(&run.list);
    h.refused = refused;
    h.unlisted = unlisted;
    return h;
}

namespace {

bool isFolder(const QString& path)
{
    const auto attrs = linkAttributes(path);
    return attrs && (*attrs & Directory);
}

// The list of a dated folder: read, refused, or missing (a run of an older version).
void readList(BackupRuns& runs, const QString& folder, const QDateTime& stamp, bool whole)
{
    const QString path = joinPath(folder, kRunListName);
    const auto attrs = linkAttributes(path);
    if (!attrs && attrs.kind() == ErrorKind::NotFound) {
        runs.unlisted.push_back(stamp);
        return;
    }
    if (attrs && (*attrs & (System | Directory))) {
        runs.refused.push_back({stamp, folder, QStringLiteral("non è un file")});
        return;
    }
    auto list = whole ? readRunList(path) : readRunListEnds(path);
    if (!list) {
        runs.refused.push_back({stamp, folder, list.error()});
        return;
    }
    runs.runs.push_back({std::move(list.value()), folder});
}

} // namespace

BackupRuns readBackupRuns(const QString& backupRoot, bool whole)
{
    BackupRuns runs;
    const QString versionsRoot = joinPath(backupRoot, kFolderName);
    if (!isFolder(versionsRoot))
        return runs;
    DirSearch search(joinPath(versionsRoot, QStringLiteral("*.*")), System | Directory);
    for (QString name = search.next(); !name.isEmpty(); name = search.next()) {
        const auto stamp = startOf(name);
        const QString folder = joinPath(versionsRoot, name);
        if (stamp && isFolder(folder))
            readList(runs, folder, *stamp, whole);
    }
    return runs;
}

Reach reachOfBackup(const QString& backupRoot)
{
    const BackupRuns runs = readBackupRuns(backupRoot, false);
    return reachOf(runs.history());
}

QString shownMoment(const QDateTime& when)
{
    return QLocale(QLocale::Italian).toString(when.toLocalTime(), QStringLiteral("dd/MM/yyyy HH:mm:ss"));
}

} // namespace archivon::versions
