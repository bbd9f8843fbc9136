// The list a run leaves for a restore in its dated folder: the header once it
// first changes a pair's backup, each block on the share before the changes
// it names begin, and the summary at its end.

#include "engine/enginerun.h"

#include "platform/filesystem.h"

namespace archivon {

using namespace platform;

namespace {

versions::RunOutcome listedOutcome(const RunEnd& end, int pairsDone, int failures)
{
    switch (end.reason) {
    case RunEnd::Reason::Completed:
        if (pairsDone == 0)
            return versions::RunOutcome::NothingDone;
        return failures > 0 ? versions::RunOutcome::WithFailures : versions::RunOutcome::Completed;
    case RunEnd::Reason::Stopped:
        return versions::RunOutcome::Stopped;
    case RunEnd::Reason::NoSpace:
    case RunEnd::Reason::DestinationLost:
        return versions::RunOutcome::EndedEarly;
    case RunEnd::Reason::Refused:
    case RunEnd::Reason::Locked:
        break;
    }
    return versions::RunOutcome::Refused;
}

} // namespace

void EngineRun::note(const versions::RunBlock& block)
{
    if (m_listDropped)
        return;
    if (!keepsVersions()) {
        // Nothing to go back to: where earlier lists lead back past this run,
        // a header saying so stops a restore here.
        if (!m_list && !m_previousList.isEmpty())
            (void)startList();
        return;
    }
    if ((!m_list && !startList()) || block.changes.empty())
        return;
    if (const Status written = m_list->add(block); !written)
        dropList(written.error());
}

bool EngineRun::startList()
{
    const QString backupRoot = m_plan.backupRoot();
    const auto folder = m_versions.makeRunFolder(versions::computerRoot(backupRoot));
    if (!folder) {
        dropList(folder.error());
        return false;
    }
    versions::RunHeader header;
    header.id = versions::newRunId();
    header.start = m_start;
    header.previous = m_previousList;
    header.versionDays = m_options.versionDays;
    for (int N = 1; N <= 4; ++N) {
        const BackupPair& pair = m_plan.pairs[std::size_t(N - 1)];
        const QString root = versions::rootFor(pair.destination, backupRoot);
        header.pairs.append({N, pair.source, pair.destination,
                             root.isEmpty() ? lastName(pair.destination)
                                            : versions::pairFolder(m_plan, N, m_versions.rulesFor(root)),
                             probeNameRules(pair.destination)});
    }
    m_list.emplace(*folder);
    if (const Status written = m_list->begin(header); !written) {
        dropList(written.error());
        return false;
    }
    return true;
}

// A list that misses a change would make a restore give back what was never
// there: it goes whole, and a restore stops at this run.
void EngineRun::dropList(const QString& reason)
{
    m_listDropped = true;
    QString where = versions::computerRoot(m_plan.backupRoot());
    if (m_list) {
        where = m_list->path();
        (void)deleteFile(where);
        m_list.reset();
    }
    notice(QStringLiteral("impossibile scrivere l'elenco dell'esecuzione in %1 (%2): i momenti "
                          "precedenti a questo backup non si potranno ripristinare")
               .arg(where, reason));
}

void EngineRun::endList(const RunEnd& end)
{
    if (!m_list)
        return;
    versions::RunSummary summary;
    summary.outcome = listedOutcome(end, m_pairsDone, m_failures);
    summary.start = m_start;
    summary.end = QDateTime::currentDateTime();
    summary.added = m_added;
    summary.replaced = m_replaced;
    summary.removed = m_removed;
    if (const Status written = m_list->end(summary); !written)
        notice(QStringLiteral("impossibile completare l'elenco dell'esecuzione %1 (%2): il backup "
                              "si potrà ripristinare solo com'era prima di essa")
                   .arg(m_list->path(), written.error()));
}

} // namespace archivon
