#include "versions/versions.h"

#include "fileservices/queries.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/filesystem.h"

#include <QRegularExpression>

namespace archivon::versions {

using namespace platform;

namespace {

const QString kStampFormat = QStringLiteral("yyyy-MM-dd HH.mm.ss");

} // namespace

QString stampOf(const QDateTime& start)
{
    return start.toLocalTime().toString(kStampFormat);
}

std::optional<QDateTime> startOf(const QString& folderName)
{
    static const QRegularExpression form(
        QStringLiteral("^(\\d{4}-\\d{2}-\\d{2} \\d{2}\\.\\d{2}\\.\\d{2})( \\(\\d+\\))?$"));
    const auto match = form.match(folderName);
    if (!match.hasMatch())
        return std::nullopt;
    const QDateTime start = QDateTime::fromString(match.captured(1), kStampFormat);
    if (!start.isValid())
        return std::nullopt;
    return start;
}

QString pairFolder(const BackupPlan& plan, int N, const NameRules& rules)
{
    const QString& destination = plan.pairs[N - 1].destination;
    const QString root = nameKey(rootFor(destination, plan.backupRoot()), rules);
    const QString name = lastName(destination);
    for (int M = 1; M <= int(plan.pairs.size()); ++M) {
        const QString& other = plan.pairs[M - 1].destination;
        if (M != N && nameKey(lastName(other), rules) == nameKey(name, rules) &&
            nameKey(rootFor(other, plan.backupRoot()), rules) == root)
            return QStringLiteral("%1 (coppia %2)").arg(name).arg(N);
    }
    return name;
}

const NameRules& RunVersions::rulesFor(const QString& root)
{
    auto it = m_rules.find(root);
    if (it == m_rules.end())
        it = m_rules.insert(root, probeNameRules(root));
    return *it;
}

QString RunVersions::runFolder(const QString& root)
{
    return m_runFolders.value(keyOf(root, root)).path;
}

void RunVersions::count(const QString& root, qint64 bytes)
{
    if (const auto it = m_runFolders.find(keyOf(root, root)); it != m_runFolders.end())
        it->bytes += bytes;
}

// Makes \a path and the folders above it that are missing, up to one that is there.
Status RunVersions::makeFolders(const QString& root, const QString& path)
{
    const QString key = keyOf(root, path);
    if (m_made.contains(key))
        return {};
    if (const auto attrs = attributes(path); !attrs || !(*attrs & Directory)) {
        const qsizetype cut = path.lastIndexOf(QLatin1Char('\\'));
        if (cut < 2)
            return driveNotReady();
        if (cut > 2) { // below a folder, not the drive's root
            if (const Status above = makeFolders(root, path.left(cut)); !above)
                return above;
        }
        // Another run may have made the versions folder a moment before.
        if (const Status made = makeFolder(path); !made && !(attributes(path).valueOr(0) & Directory))
            return made;
    }
    m_made.insert(key);
    return {};
}

Result<QString> RunVersions::placeFor(const QString& root, const QString& pair,
                                      const QString& relative)
{
    const auto place = tryPlace(root, pair, relative);
    if (place || place.kind() != ErrorKind::NotFound)
        return place;
    // Something this run made went meanwhile: made again, once.
    const QString run = runFolder(root);
    const QString meant = run.isEmpty() ? joinPath(root, m_stamp) : joinPath(run, pair) + relative;
    return forgetGone(root, meant) ? tryPlace(root, pair, relative) : place;
}

bool RunVersions::forgetGone(const QString& root, const QString& place)
{
    // The highest folder above the place that is not there.
    QString gone;
    for (QString folder = place.left(place.lastIndexOf(QLatin1Char('\\')));
         folder.lastIndexOf(QLatin1Char('\\')) >= 2 && !(attributes(folder).valueOr(0) & Directory);
         folder.truncate(folder.lastIndexOf(QLatin1Char('\\'))))
        gone = folder;
    const QString key = keyOf(root, gone);
    if (gone.isEmpty() || !m_made.contains(key))
        return false; // nothing this run had made
    const auto under = [&](const QString& k) { return k == key || k.startsWith(key + QLatin1Char('\\')); };
    m_made.removeIf(under);
    m_given.removeIf(under);
    m_runFolders.removeIf([&](QHash<QString, RunFolder>::iterator it) { return under(keyOf(root, it->path)); });
    if (m_vanished.isEmpty())
        m_vanished = gone;
    return true;
}

Result<QString> RunVersions::makeRunFolder(const QString& root)
{
    QString run = runFolder(root);
    if (!run.isEmpty())
        return run;
    // A folder of its own: another run that began in the same second keeps its own.
    if (const Status made = makeFolders(root, root); !made)
        return Result<QString>::failure(made);
    const QString named = joinPath(root, m_stamp);
    run = named;
    for (int k = 2;; ++k) {
        const Status made = makeFolder(run); // made, never found: it is this run's alone
        if (made)
            break;
        if (!linkAttributes(run).ok() || k > 1000)
            return Result<QString>::failure(made);
        run = QStringLiteral("%1 (%2)").arg(named).arg(k);
    }
    m_made.insert(keyOf(root, run));
    m_runFolders.insert(keyOf(root, root), {root, run});
    return run;
}

Result<QString> RunVersions::tryPlace(const QString& root, const QString& pair,
                                      const QString& relative)
{
    const auto made = makeRunFolder(root);
    if (!made)
        return made;
    const QString& run = *made;
    const QString place = joinPath(run, pair) + relative;
    const qsizetype cut = place.lastIndexOf(QLatin1Char('\\'));
    if (const Status made = makeFolders(root, place.left(cut)); !made)
        return Result<QString>::failure(made);
    // Only this run writes in its folder: a name it has not handed out is free.
    QString free = place;
    for (int k = 2; m_given.contains(keyOf(root, free)); ++k)
        free = QStringLiteral("%1 (%2)").arg(place).arg(k);
    m_given.insert(keyOf(root, free));
    return free;
}

} // namespace archivon::versions
