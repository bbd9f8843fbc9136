#pragma once

#include <QString>

#include <memory>

namespace archivon::platform {

/// Removes a folder with everything in it on threads of its own, while the
/// caller goes on with other work: an old backup that a complete new one has
/// replaced. Several files go at once, since each removal mostly waits for
/// the disk. Symlinks are removed as links and never followed; folders made
/// read-only are made writable first. What cannot be removed stays.
///
/// The destructor stops the removal at its next entry and waits for it.
class BackgroundRemoval
{
public:
    /// Starts removing \a folder (Windows form). A path that leads nowhere
    /// removes nothing.
    explicit BackgroundRemoval(const QString& folder);
    ~BackgroundRemoval();
    BackgroundRemoval(const BackgroundRemoval&) = delete;
    BackgroundRemoval& operator=(const BackgroundRemoval&) = delete;

    const QString& folder() const { return m_folder; }
    /// Waits up to \a milliseconds; true once the removal has ended.
    bool waitFor(int milliseconds);
    /// Ends the removal at its next entry; what is left stays.
    void stop();
    /// True when stop() was called before the removal ended.
    bool stopped() const;

private:
    struct Impl;
    QString m_folder;
    std::unique_ptr<Impl> d;
};

} // namespace archivon::platform
