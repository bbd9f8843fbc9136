#pragma once

#include "result.h"

#include <QStringList>

namespace archivon::platform {

/// Writes lines in Windows-1252, each ended by CR LF, through a temporary file
/// and a rename: a failed write leaves the old file in place.
Status writeTextFile(const QString& path, const QStringList& lines);

/// Windows-1252 bytes of a text; characters it cannot hold become "?".
QByteArray toWindows1252(const QString& text);

} // namespace archivon::platform
