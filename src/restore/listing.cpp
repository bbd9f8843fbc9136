#include "restore/restore.h"

#include "fileservices/texts.h"
#include "plan/plan.h"
#include "platform/identity.h"
#include "restore/backup.h"
#include "restore/job.h"

#include <QRegularExpression>

#include <algorithm>

namespace archivon::restore {

namespace {

using versions::RunOutcome;

QString outcomeName(const std::optional<versions::RunSummary>& summary)
{
    if (!summary)
        return QStringLiteral("non terminata");
    switch (summary->outcome) {
    case RunOutcome::Completed:
        return QStringLiteral("completata");
    case RunOutcome::WithFailures:
        return QStringLiteral("con errori");
    case RunOutcome::Stopped:
        return QStringLiteral("interrotta");
    case RunOutcome::EndedEarly:
        return QStringLiteral("terminata prima della fine");
    case RunOutcome::Refused:
        return QStringLiteral("rifiutata");
    case RunOutcome::NothingDone:
        return QStringLiteral("nessuna cartella copiata");
    }
    return {};
}

QString shown(qint64 ns)
{
    return shownMoment(QDateTime::fromMSecsSinceEpoch(ns / 1'000'000));
}

Result<ComputerBackup> backupOf(const Request& request)
{
    const BackupPlan plan = defaultPlan(request.computer.isEmpty() ? platform::hostName() : request.computer,
                                        request.user);
    return readBackup(plan.backupRoot(), plan);
}

Outcome refusedWith(const QString& why)
{
    Outcome o;
    o.error = why;
    return o;
}

// The entry at \a path in \a tree, a file; -1 when there is none.
int fileAt(const Tree& tree, const RelativePath& path)
{
    int at = -1;
    for (const QString& name : path) {
        int found = -1;
        for (int e = 0; e < tree.count() && found < 0; ++e) {
            if (tree.at(e).parent == at && tree.at(e).name == name)
                found = e;
        }
        if (found < 0)
            return -1;
        at = found;
    }
    return at >= 0 && tree.at(at).kind == EntryKind::File ? at : -1;
}

} // namespace

namespace detail {

std::vector<DatedVersion> datedVersionsOf(const ComputerBackup& backup, const PairBackup& pair,
                                          const RelativePath& path)
{
    std::vector<std::size_t> order(backup.runs.size());
    for (std::size_t k = 0; k < order.size(); ++k)
        order[k] = k;
    std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        return backup.runs[x].list.header.start < backup.runs[y].list.header.start;
    });
    std::vector<DatedVersion> found;
    for (const std::size_t k : order) {
        const auto& dated = pair.dated[k];
        if (const int e = dated ? fileAt(dated->tree, path) : -1; e >= 0)
            found.push_back({k, e});
    }
    return found;
}

} // namespace detail

Outcome listMoments(const Request& request)
{
    const auto backup = backupOf(request);
    if (!backup)
        return refusedWith(backup.error());
    const ComputerBackup& b = backup.value();
    std::vector<const ComputerBackup::Run*> runs;
    for (const ComputerBackup::Run& run : b.runs)
        runs.push_back(&run);
    std::sort(runs.begin(), runs.end(), [](auto* x, auto* y) { return x->list.header.start > y->list.header.start; });
    QStringList lines{QStringLiteral("Momenti del backup in %1, dal più recente:").arg(b.root)};
    for (const ComputerBackup::Run* run : runs) {
        const auto& s = run->list.summary;
        lines << (s ? QStringLiteral("  %1  %2: aggiunti %3, sostituiti %4, tolti %5")
                          .arg(momentText(s->end), outcomeName(s))
                          .arg(s->added)
                          .arg(s->replaced)
                          .arg(s->removed)
                    : QStringLiteral("  (iniziata il %1)  %2").arg(momentText(run->list.header.start), outcomeName(s)));
    }
    if (runs.empty() && b.lastEnd.isValid())
        lines << QStringLiteral("  %1  ultimo backup registrato (nessun elenco delle esecuzioni)").arg(momentText(b.lastEnd));
    // The lists are the computer's: every pair reaches as far. Where only the
    // present is within reach, its moment is the last run's end, where known.
    const Reach reach = versions::reachOf(b.history());
    const QDateTime oldest = reach.oldest.isValid() ? reach.oldest : b.lastEnd;
    lines << (oldest.isValid() ? QStringLiteral("Il momento più vecchio che si può ripristinare: %1").arg(momentText(oldest))
                                 : QStringLiteral("Si può ripristinare solo il backup com'è ora."));
    Outcome o;
    o.status = Outcome::Restored;
    o.report = lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    return o;
}

Outcome listVersions(const Request& request)
{
    const auto backup = backupOf(request);
    if (!backup)
        return refusedWith(backup.error());
    const ComputerBackup& b = backup.value();
    const RelativePath path = request.path.split(QRegularExpression(QStringLiteral("[\\\\/]")), Qt::SkipEmptyParts);
    const auto pair = std::find_if(b.pairs.begin(), b.pairs.end(), [&](const PairBackup& p) {
        return !path.isEmpty() && p.name.compare(path.first(), Qt::CaseInsensitive) == 0;
    });
    if (pair == b.pairs.end() || path.size() < 2)
        return refusedWith(QStringLiteral("«%1» non è un file di una cartella del backup di %2.").arg(request.path, b.root));
    QStringList lines{QStringLiteral("Versioni di %1:").arg(request.path)};
    const auto line = [](const Tree& tree, int e, const QString& when) {
        return QStringLiteral("  %1: %2, modificato il %3").arg(when, Scrividimensione(double(tree.at(e).size)),
                                                                  shown(tree.at(e).modifiedNs));
    };
    for (const detail::DatedVersion& v : detail::datedVersionsOf(b, *pair, path.mid(1)))
        lines << line(pair->dated[v.run]->tree, v.entry,
                      QStringLiteral("tolto o sostituito dal backup del %1").arg(momentText(b.runs[v.run].list.header.start)));
    if (const int e = pair->mirror ? fileAt(pair->mirror->tree, path.mid(1)) : -1; e >= 0)
        lines << line(pair->mirror->tree, e, QStringLiteral("copia attuale"));
    if (lines.size() == 1)
        return refusedWith(QStringLiteral("il backup non tiene nessuna versione di «%1».").arg(request.path));
    Outcome o;
    o.status = Outcome::Restored;
    o.report = lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    return o;
}

} // namespace archivon::restore
