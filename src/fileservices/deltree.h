#pragma once

#include <QString>

#include <functional>

namespace archivon {

/// Removes a folder with everything in it: files of every attribute, folders
/// at any depth, then the folder itself (module `DelTree32`).
///
/// A trailing "\" is dropped from \a cartella, in the caller's variable too. A
/// drive root ("R:" or "R:\") is emptied but kept. Links are never followed:
/// a symlink met in the tree, or named by \a cartella itself, is removed as a
/// link and what it leads to is left alone, so nothing outside the folder is
/// ever touched. Read-only files and folders are made writable first.
///
/// Whatever cannot be removed stays, with the folders above it; the rest
/// goes. Several entries go at once, on threads of their own, while the caller
/// waits; \a stopped is asked before every entry, and true ends the removal
/// there, removing nothing more.
///
/// \returns true when the removal has run to its end, false when it was stopped.
bool DelTree(QString& cartella, const std::function<bool()>& stopped = {});

} // namespace archivon
