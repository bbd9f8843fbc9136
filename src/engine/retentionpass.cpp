// Earlier versions as a run keeps them: its own folders, what retention takes
// beside the next pairs, and what goes to make room.

#include "engine/enginerun.h"
#include "versions/retention.h"
#include "versions/room.h"

#include "fileservices/queries.h"
#include "platform/filesystem.h"

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
            m_removals.start(left, true);
        m_touched = m_touched || retention::touches(due);
        for (const QString& name : due.names) {
            if (!state.proceed())
                return;
            const auto hidden = hideForRemoval(joinPath(due.root, name));
            if (!hidden)
                continue;
            m_versionsGone[due.root].removedByAge << name;
            m_removals.start(*hidden, true);
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
