#pragma once

// What runs leave beside a pair's destination, and how the next run finds it.

#include "platform/drives.h"
#include "platform/names.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace archivon::leftovers {

// Beside a pair's destination D: ".D.archivon-nuovo" while the new copy is
// built, with ".D.archivon-nuovo.completa" beside it once it is complete;
// ".D.archivon-vecchio" for the old backup between the two renames of the
// swap (always a complete copy); ".D.archivon-rimosso" while an old copy is
// removed; ".D.archivon-sonda.XXXXXX" for the probe of what the destination
// keeps of times and modes, made beside D while D is not there. A name that
// something left there already gets "-2", "-3"...
inline const QString kFresh = QStringLiteral("nuovo");
inline const QString kRetired = QStringLiteral("vecchio");
inline const QString kTrash = QStringLiteral("rimosso");
inline const QString kCompleteMark = QStringLiteral(".completa");
inline const QString kProbe = QStringLiteral("sonda.");

struct Beside
{
    QString target;
    QString parent;
    QString prefix;

    QString name(const QString& kind, int k) const
    {
        return platform::joinPath(parent, prefix + kind +
                                              (k > 1 ? QStringLiteral("-%1").arg(k) : QString()));
    }
    /// The first name of that kind that nothing holds.
    QString freeName(const QString& kind) const;
};

std::optional<Beside> besideOf(const QString& destination);

/// What is under a pair's name: its backup, a real folder; or a link in its
/// place, which the run replaces with a folder, touching nothing behind it.
struct PairFolder
{
    bool present = false;
    bool link = false;
};
PairFolder pairFolderOf(const QString& destination);

/// What earlier runs left beside a destination.
struct Leftovers
{
    QStringList fresh; // new copies, complete when their mark is there
    QStringList marks;
    QStringList retired; // complete old backups
    QStringList other;   // old copies being removed, and anything else of ours
};

/// Reads what is beside the destination, its names matched as \a names says
/// the destination matches them; writes nothing.
Leftovers findLeftovers(const Beside& beside, const platform::NameRules& names);

/// The copy that goes back under the destination's name when nothing is
/// there: the last complete backup whatever the order of events was. Empty
/// when there is none.
QString completeCopy(const Leftovers& left);

/// What becomes of what earlier runs left beside a destination.
struct Sorted
{
    QString putBack;         // goes back under the destination's name
    QStringList marks;       // go first, so that a copy half removed never looks complete
    QStringList removed;     // copies never finished, and the rest of ours
    QStringList oldBackups;  // complete old backups: kept among the versions, or removed
};

/// Sorts it out: the last complete copy goes back where nothing is under the
/// destination's name (\a targetThere false), and everything else goes.
Sorted sortOut(const Leftovers& left, bool targetThere);

} // namespace archivon::leftovers
