#pragma once

#include "result.h"

#include <QStringList>

namespace archivon::platform {

/// Writes lines in Windows-1252, each ended by CR LF, through a temporary file
/// and a rename: a failed write leaves the old file in place.
Status writeTextFile(const QString& path, const QStringList& lines);

/// Reads a small file whole; a file longer than \a limit bytes fails.
Result<QByteArray> readSmallFile(const QString& path, qint64 limit = 64 * 1024);

/// Writes a small file in place: made when missing, emptied and written when
/// not. Its modification time is then the time of the machine that holds it
/// (a share's server), which is what it is written for.
Status writeInPlace(const QString& path, const QByteArray& content);

/// Adds \a content at the end of a file, made when missing. Written at the
/// size the file has when it is opened, not through O_APPEND, which a Samba
/// share mounted through FUSE (smbnetfs) fails with an I/O error. Meant for a
/// file only one writer adds to.
Status appendToFile(const QString& path, const QByteArray& content);

/// Modification time of a file or folder, in nanoseconds since the epoch.
Result<qint64> modifiedNs(const QString& path);

/// Windows-1252 bytes of a text; characters it cannot hold become "?".
QByteArray toWindows1252(const QString& text);

} // namespace archivon::platform
