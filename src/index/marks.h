#pragma once

// What the runs take from a pair's index before they decide: the files a
// check found damaged, which are copied again whatever their size and time say.

#include <QSet>
#include <QString>
#include <QStringView>

#include <optional>

namespace archivon::index {

/// The files of the pair whose destination is \a destination that its index
/// (in the computer's backup folder \a backupRoot) marks damaged, each by its
/// path below the pair's folder as the backup spells it ("\d\a.txt"). Empty
/// where there is no index, or one that does not read: no mark is trusted
/// from an index that cannot be read whole.
QSet<QString> damagedFiles(const QString& backupRoot, const QString& destination);

/// The path an index entry's field names, as damagedFiles() gives it:
/// "\" before each name as it is; nothing for a field that names none.
std::optional<QString> plainPath(QStringView field);

} // namespace archivon::index
