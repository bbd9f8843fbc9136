#pragma once

#include "platform/filesystem.h"

#include <QList>
#include <QString>

#include <memory>

namespace archivon::platform {

/// Removes a folder with everything in it on threads of its own, while the
/// caller goes on with other work: an old backup that a complete new one has
/// replaced, or what a stopped run left. Several files go at once, since each
/// removal mostly waits for the disk.
///
/// It never acts outside the tree: symlinks are removed as links and never
/// followed, folders are opened without following links and made writable
/// through the descriptor that was opened, and a file is made writable (where
/// a share asks for it) only when it has no other name. A folder is read to
/// its end before its entries go, and closed before it is removed.
///
/// The gate is asked before every entry is removed: while it blocks nothing
/// goes, and once it says false the removal ends and what is left stays.
/// The destructor stops the removal at its next entry and waits for it.
class BackgroundRemoval
{
public:
    struct Options
    {
        /// Empty the folder but keep it (a drive root).
        bool keepFolder = false;
        Gate gate;
    };

    /// Something that could not be removed, in Windows form, and why.
    struct Left
    {
        QString path;
        Status failure;
    };

    /// Starts removing \a folder (Windows form). A path that leads nowhere
    /// removes nothing; a symlink in the folder's place goes as a link.
    BackgroundRemoval(const QString& folder, Options options);
    explicit BackgroundRemoval(const QString& folder);
    ~BackgroundRemoval();
    BackgroundRemoval(const BackgroundRemoval&) = delete;
    BackgroundRemoval& operator=(const BackgroundRemoval&) = delete;

    const QString& folder() const { return m_folder; }
    /// Waits up to \a milliseconds; true once the removal has ended.
    bool waitFor(int milliseconds);
    /// Waits until the removal has ended.
    void wait();
    /// Ends the removal at its next entry; what is left stays.
    void stop();
    /// True when the removal ended before its end: stop() or the gate.
    bool stopped() const;
    /// Once ended (and not stopped): what could not be removed, the deepest
    /// entries first met, each with its reason; empty when everything went.
    QList<Left> left() const;
    /// Files (and links) removed so far.
    qint64 removedFiles() const;

private:
    struct Impl;
    QString m_folder;
    std::unique_ptr<Impl> d;
};

} // namespace archivon::platform
