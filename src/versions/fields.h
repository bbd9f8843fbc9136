#pragma once

// The text fields of what the program writes line by line on the share (the
// run lists, the index): one record a line, fields separated by a tab, and
// nothing in a field that could break either.

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace archivon::versions {

/// A path below a pair's folder, one name a step; empty for the folder itself.
using RelativePath = QStringList;

/// \a text as a field: '%', control characters and, inside a \a name, the
/// backslash that separates names, written as %XX; a lone surrogate (a name
/// in no encoding) as %uXXXX. Anything else as it is.
QString escaped(const QString& text, bool name);
/// The text of a field; nothing for a field that no escaped() gives.
std::optional<QString> unescaped(QStringView text);

/// \a path as a field: "\" before each name, "\" alone for the folder itself.
QString pathField(const RelativePath& path);
/// The path a pathField() names; nothing for anything else.
std::optional<RelativePath> pathOf(QStringView field);

} // namespace archivon::versions
