#include "versions/retention.h"

#include "lock/runlock.h"
#include "versions/versions.h"
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
