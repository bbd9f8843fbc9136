#pragma once

#include <condition_variable>
#include <mutex>

namespace archivon {

/// The one state of a backup run, read by every thread that writes for it:
/// the engine, its copiers and its removals ask proceed() before anything new
/// begins, and between the chunks of a copy.
///
/// - Running: work goes on.
/// - Held: the user is being asked whether to stop; nothing new begins.
/// - Stopping: a stop was confirmed, or the window closed; nothing more begins.
/// - Ended: the run has completed or wound down.
class RunState
{
public:
    enum class Value { Running, Held, Stopping, Ended };

    Value value() const;

    /// Running -> Held. False when there is nothing to hold any more.
    bool hold();
    /// Held -> Running.
    void release();
    /// Running or Held -> Stopping. False once the run has ended.
    bool stop();
    /// Blocks while Held; true while Running, false once stopping or ended.
    bool proceed();
    /// True once a stop has been confirmed (while stopping, or after).
    bool stopRequested() const;
    /// Waits while Held; Running -> Ended and true, or false when a stop came first.
    bool complete();
    /// Anything -> Ended: the run has wound down.
    void end();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    Value m_value = Value::Running;
    bool m_stopRequested = false;
};

} // namespace archivon
