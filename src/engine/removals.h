#pragma once

// The removals a run leaves going beside the next pairs: the old copies it
// replaced, and the folders of earlier versions that retention takes.

#include "platform/filesystem.h"
#include "platform/removal.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace archivon {

class Removals
{
public:
    /// How a removal's leftover is said: a failure of the run.
    using Failed = std::function<void(const QString& path, const QString& reason)>;

    Removals(platform::Gate gate, Failed failed) : m_gate(std::move(gate)), m_failed(std::move(failed)) {}

    /// \a version: a folder of earlier versions that retention removes.
    void start(const QString& folder, bool version = false);
    /// Settles those that ended; true while some are still going.
    bool pending();
    /// Waits for every one to end, and settles them.
    void waitAll();
    /// Ends them where they are; what they had not removed yet stays.
    void stop();
    void settle();

private:
    struct Removal
    {
        std::unique_ptr<platform::BackgroundRemoval> removal;
        bool version = false;
    };
    const platform::Gate m_gate;
    const Failed m_failed;
    std::vector<Removal> m_removals;
};

} // namespace archivon
