#pragma once

// How far a run has got, written by the run's thread and sampled by the view's
// as often as it paints.

#include "plan/runevent.h"
#include "platform/filesystem.h"

#include <functional>
#include <mutex>

namespace archivon {

class ProgressBoard
{
public:
    void update(const std::function<void(RunProgress&)>& change)
    {
        const std::lock_guard lock(m_mutex);
        change(m_progress);
    }
    /// The copies in flight that sample() lists, until they are gone (nullptr).
    void show(const platform::ParallelCopy* copies)
    {
        const std::lock_guard lock(m_mutex);
        m_copies = copies;
    }
    RunProgress sample() const
    {
        const std::lock_guard lock(m_mutex);
        RunProgress progress = m_progress;
        if (m_copies) {
            for (const platform::ParallelCopy::InFlight& f : m_copies->inFlight())
                progress.copying.append({f.source, f.shownAs, f.size, f.written, f.serial});
        }
        return progress;
    }

private:
    mutable std::mutex m_mutex;
    RunProgress m_progress;
    const platform::ParallelCopy* m_copies = nullptr; // under m_mutex
};

} // namespace archivon
