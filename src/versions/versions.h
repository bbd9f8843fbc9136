#pragma once

// Earlier versions: what a run removes or replaces in a pair's backup is moved,
// not deleted, into a folder of that run under "Versioni precedenti", where it
// stays for the days set.

#include "plan/plan.h"
#include "platform/names.h"
#include "platform/result.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>

#include <optional>
#include <utility>

namespace archivon::versions {

/// The name of a run's folder: its start in local time, to the second, in a
/// form that sorts by date and that a Windows share takes ("2026-12-07 19.30.05").
QString stampOf(const QDateTime& start);

/// The start a run's folder name gives, " (2)" and the like allowed after it;
/// nothing for a name that is not one.
std::optional<QDateTime> startOf(const QString& folderName);

/// The folder that pair \a N of \a plan has in a run's folder: its destination's
/// last name ("Documenti"), or, where another pair of the plan keeps its
/// versions in the same root under a name that root's \a rules take for the
/// same, that name with the pair's number ("Documenti (coppia 2)").
QString pairFolder(const BackupPlan& plan, int N, const platform::NameRules& rules);

/// Where one run puts what it removes or replaces: under each versions root
/// it meets, a folder of its own, named by its start (with " (2)" where that
/// name is taken), made when the first entry goes there.
class RunVersions
{
public:
    explicit RunVersions(QDateTime start) : m_stamp(stampOf(start)) {}

    /// What the file system of \a root does with names, asked once.
    const platform::NameRules& rulesFor(const QString& root);

    /// A free name for the entry \a relative ("\Lettere\a.txt") of the pair
    /// folder \a pair (see pairFolder()), in this run's folder of \a root, the
    /// folders above it made. Nothing is written under that name. A folder this
    /// run had made there that is gone is made again.
    Result<QString> placeFor(const QString& root, const QString& pair, const QString& relative);
    /// After a move into \a place that failed as if a folder above it were
    /// missing: forgets the folders this run had made there that are gone, so
    /// that the next place makes them again. False when none is.
    bool forgetGone(const QString& root, const QString& place);
    /// The highest folder found gone since the last call, once; empty when none.
    QString takeVanished() { return std::exchange(m_vanished, {}); }

    /// This run's folder in \a root, made now where it is not there yet.
    Result<QString> makeRunFolder(const QString& root);
    /// This run's folder in \a root, once something went there.
    QString runFolder(const QString& root);
    /// Bytes moved into this run's folder of \a root.
    void count(const QString& root, qint64 bytes);
    struct RunFolder
    {
        QString root;
        QString path;
        qint64 bytes = 0; // moved there, as far as this run knows
    };
    /// Every run folder this run made, with its bytes.
    QList<RunFolder> runFolders() const { return m_runFolders.values(); }

private:
    Result<QString> tryPlace(const QString& root, const QString& pair, const QString& relative);
    Status makeFolders(const QString& root, const QString& path);
    /// The key this run knows a path below \a root by: folded only where that
    /// root's file system folds case.
    QString keyOf(const QString& root, const QString& path) { return platform::nameKey(path, rulesFor(root)); }

    QString m_stamp;
    QHash<QString, platform::NameRules> m_rules; // by versions root
    QHash<QString, RunFolder> m_runFolders; // by the key of the versions root
    // What this run made or handed out in its own folders, where no other run
    // writes, by key.
    QSet<QString> m_made;
    QSet<QString> m_given;
    QString m_vanished;
};

} // namespace archivon::versions
