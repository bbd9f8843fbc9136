// The index of a pair's backup, kept by its pass: the old one read beside the
// walk, each copy's fingerprint noted as it ends, and the new one written once
// the pass has ended, with the list's lines of what it wrote.

#include "engine/pairpass.h"

#include "platform/filesystem.h"

namespace archivon {

using namespace platform;

std::pair<QString, QString> PairPass::datedPlace()
{
    const QString root = versions::rootFor(m_pair.destination, m_run.m_plan.backupRoot());
    const QString dated = m_run.m_versions.runFolder(root);
    return {dated, joinPath(dated, versions::pairFolder(m_run.m_plan, m_N, m_run.m_versions.rulesFor(root)))};
}

void PairPass::startIndex(const TreeScan& scan, const BackupListing* backup, const Changes* changes)
{
    const QString& D = m_pair.destination;
    const QString backupRoot = m_run.m_plan.backupRoot();
    m_index.emplace(scan, index::fileFor(backupRoot, D), D, versions::rootFor(D, backupRoot));
    m_index->readOld(backup);
    if (changes)
        m_index->decided(*changes);
}

void PairPass::copyEnded(const ParallelCopy::Ended& e, const Handed& h)
{
    if (!m_index || h.file < 0)
        return;
    if (e.kept) {
        const auto [dated, base] = datedPlace();
        if (h.keptAt.startsWith(base))
            m_index->versioned(h.folder, h.file, lastName(dated),
                               h.keptAt.mid(base.size()).split(QLatin1Char('\\'), Qt::SkipEmptyParts),
                               h.keptBytes);
    }
    m_index->copied(h.folder, h.file, e.written, e.modifiedNs, e.fingerprint);
}

void PairPass::noteFingerprints()
{
    if (m_index && m_run.keepsVersions())
        m_index->noteFingerprints(m_N, [this](const versions::RunBlock& b) { m_run.note(b); });
}

// An index that cannot be written loses no file: the next check finds less to
// go by, and the next run writes it again.
void PairPass::writeIndex(const BackupListing* backup)
{
    if (!m_index)
        return;
    if (const Status written = m_index->write(backup); !written)
        m_run.notice(QStringLiteral("impossibile scrivere l'indice del backup %1 (%2)")
                         .arg(index::fileFor(m_run.m_plan.backupRoot(), m_pair.destination), written.error()));
    m_index.reset();
}

} // namespace archivon
