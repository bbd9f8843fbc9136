#pragma once

#include <QString>

namespace archivon {

/// The host folder a path leads to, symlinks resolved as far as it exists, so
/// that two spellings of one folder compare equal; empty for no path.
QString canonicalFolder(const QString& path);

/// True when two host folders are the same or one holds the other.
bool sameOrInside(const QString& a, const QString& b);

} // namespace archivon
