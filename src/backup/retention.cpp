#include "backup/retention.h"

#include "backup/enginerun.h"
#include "backup/room.h"
#include "backup/versions.h"
#include "fileservices/queries.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/textfile.h"

#include <QRegularExpression>

#include <algorithm>

namespace archivon::retention {

using namespace platform;

namespace {

const QString kRemoving = QStringLiteral(".archivon-rimosso");

} // namespace

QStringList runFolders(const QStringList& names, const QString& current, const QDateTime& now)
{
    QList<std::pair<QDateTime, QString>> dated;
    for (const QString& name : names) {
        const auto start = versions::startOf(name);
        if (start && *start <= now && name != current)
            dated.append({*start, name});
    }
    std::sort(dated.begin(), dated.end());
    QStringList folders;
    for (const auto& [start, name] : std::as_const(dated))
        folders << name;
    return folders;
}

QStringList due(const QStringList& names, const QString& current, int days, const QDateTime& now)
{
    if (days <= 0)
        return {};
    const QDateTime before = now.addDays(-days);
    QStringList old = runFolders(names, current, now);
    old.removeIf([&](const QString& name) { return *versions::startOf(name) >= before; });
    return old;
}

QStringList rootsOf(const BackupPlan& plan, const RulesOf& rulesOf)
{
    QStringList roots;
    QStringList keys;
    for (const BackupPair& pair : plan.pairs) {
        const QString root = versions::rootFor(pair.destination, plan.backupRoot());
        if (root.isEmpty())
            continue;
        const QString key = nameKey(root, rulesOf ? rulesOf(root) : probeNameRules(root));
        if (!keys.contains(key)) {
            roots << root;
            keys << key;
        }
    }
    return roots;
}

Listing listRoot(const QString& root)
{
    static const QRegularExpression halfRemoved(
        QStringLiteral("^\\..+\\.archivon-rimosso(-[0-9]+)?$"));
    Listing listing;
    DirSearch search(joinPath(root, QStringLiteral("*.*")), Hidden | System | Directory);
    for (QString name = search.next(); !name.isEmpty(); name = search.next()) {
        if (!name.startsWith(QLatin1Char('.')))
            listing.names << name;
        else if (halfRemoved.match(name).hasMatch())
            listing.halfRemoved << joinPath(root, name);
    }
    listing.ok = search.ok();
    return listing;
}

QString removalName(const QString& folder)
{
    const qsizetype cut = folder.lastIndexOf(QLatin1Char('\\'));
    const QString base = folder.left(cut + 1) + QLatin1Char('.') + folder.mid(cut + 1) + kRemoving;
    QString name = base;
    for (int k = 2; linkAttributes(name).ok(); ++k)
        name = base + QStringLiteral("-%1").arg(k);
    return name;
}

QList<Due> dueNow(const QStringList& roots, int days, const std::function<QString(const QString&)>& current,
                  const QString& ownToken, const QDateTime& now)
{
    QList<Due> found;
    for (const QString& root : roots) {
        if (liveLockAbove(root, ownToken))
            continue;
        const Listing listing = listRoot(root);
        found.append({root, due(listing.names, current(root), days, now), listing.halfRemoved});
    }
    return found;
}

qint64 recordedBytes(const QString& folder)
{
    const auto text = readSmallFile(joinPath(folder, kBytesName), 64);
    bool ok = false;
    const qint64 bytes = text ? QString::fromLatin1(*text).trimmed().toLongLong(&ok) : -1;
    return ok && bytes >= 0 ? bytes : -1;
}

Status recordBytes(const QString& folder, qint64 bytes)
{
    return writeTextFile(joinPath(folder, kBytesName), {QString::number(bytes)});
}

VersionsKept kept(const QString& root)
{
    VersionsKept k;
    k.root = root;
    // Every run folder counts here, those dated in the future too.
    for (const QString& name : listRoot(root).names) {
        if (!versions::startOf(name))
            continue;
        ++k.folders;
        const qint64 bytes = recordedBytes(joinPath(root, name));
        if (bytes < 0)
            ++k.unrecorded;
        else
            k.bytes += bytes;
    }
    return k;
}

} // namespace archivon::retention

namespace archivon {

using namespace platform;

QString EngineRun::currentVersions(const QString& root)
{
    return lastName(m_versions.runFolder(root));
}

QStringList EngineRun::versionRoots()
{
    return retention::rootsOf(m_plan, [this](const QString& root) { return m_versions.rulesFor(root); });
}

// A version folder is renamed to a hidden name before its removal begins, so
// that one half removed never looks whole. Nothing when it cannot be, which is
// a failure.
std::optional<QString> EngineRun::hideForRemoval(const QString& folder)
{
    const QString hidden = retention::removalName(folder);
    if (const Status moved = moveEntry(folder, hidden); !moved) {
        fail(folder, QStringLiteral("impossibile eliminare la versione precedente (%1)").arg(moved.error()));
        return std::nullopt;
    }
    return hidden;
}

// The folders older than the days kept go, and what an earlier run began to
// remove goes too.
void EngineRun::startRetention()
{
    const auto current = [this](const QString& root) { return currentVersions(root); };
    for (const retention::Due& due : retention::dueNow(versionRoots(), m_options.versionDays, current,
                                                       m_lock.token(), QDateTime::currentDateTime())) {
        for (const QString& left : due.halfRemoved)
            removeInBackground(left, true);
        for (const QString& name : due.names) {
            if (!state.proceed())
                return;
            m_touched = true;
            const auto hidden = hideForRemoval(joinPath(due.root, name));
            if (!hidden)
                continue;
            m_versionsGone[due.root].removedByAge << name;
            removeInBackground(*hidden, true);
        }
    }
}

bool EngineRun::removeVersionForRoom(int N, const room::Version& version)
{
    if (!state.proceed())
        return false;
    m_touched = true;
    const auto hidden = hideForRemoval(version.path());
    if (!hidden)
        return true;
    const auto drive = resolve(version.root);
    notice(QStringLiteral("spazio insufficiente sull'unità %1: per la coppia %2: eliminata la versione "
                          "precedente più vecchia, %3 (%4)")
               .arg(drive ? QString(drive->drive) : QString(), QString::number(N), version.path(),
                    version.bytes < 0 ? QStringLiteral("dimensione non registrata")
                                      : QStringLiteral("%1 byte").arg(version.bytes)));
    m_versionsGone[version.root].removedForSpace << version.name;
    return removeNow(N, *hidden, true);
}

void EngineRun::closeVersions(RunEnd& end)
{
    for (const versions::RunVersions::RunFolder& folder : m_versions.runFolders()) {
        if (const Status recorded = retention::recordBytes(folder.path, folder.bytes); !recorded)
            notice(QStringLiteral("impossibile registrare la dimensione della cartella %1 (%2)")
                       .arg(folder.path, recorded.error()));
    }
    end.versionDays = m_options.versionDays;
    for (const QString& root : versionRoots()) {
        VersionsKept kept = retention::kept(root);
        kept.removedByAge = m_versionsGone.value(root).removedByAge;
        kept.removedForSpace = m_versionsGone.value(root).removedForSpace;
        if (kept.folders > 0 || !kept.removedByAge.isEmpty() || !kept.removedForSpace.isEmpty())
            end.versions << kept;
    }
}

} // namespace archivon
