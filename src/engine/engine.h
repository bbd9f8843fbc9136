#pragma once

#include "plan/plan.h"
#include "plan/settings.h"
#include "plan/runevent.h"
#include "versions/versions.h"

#include <QObject>

#include <memory>

namespace archivon {

class EngineRun;

/// The backup run, apart from any window: the four pair passes, from the walk
/// of each source to the completion, on a thread of its own.
///
/// It takes a plan (the pairs as the user confirmed them) and reports what
/// happens through reported(), in order. How far the copy has got is not
/// reported but sampled with progress(), as often as a view paints. The owner
/// asks the questions: hold() while the stop question is open, then stop() or
/// release().
class BackupEngine final : public QObject
{
    Q_OBJECT

public:
    using Options = RunOptions;

    explicit BackupEngine(QObject* parent = nullptr);
    /// Stops a run still going and waits for it.
    ~BackupEngine() override;

    /// Starts a run of \a plan, whose pairs must have passed checkPlan().
    /// An engine runs once.
    void start(const BackupPlan& plan, const Options& options);

    /// Holds the run while the user is asked whether to stop it: nothing new
    /// begins, and a copy in flight writes at most one more chunk. False when
    /// the run has completed or is ending already: there is nothing to ask.
    bool hold();
    /// Lets a held run go on.
    void release();
    /// Ends the run as stopped, wherever it is, unless it has completed.
    /// With \a windowClosed, the user closed the window rather than answered.
    void stop(bool windowClosed = false);
    /// Whether the run shuts the computer down when it completes.
    void setShutdownAtEnd(bool shutdown);

    /// True from start() until the run's thread has ended.
    bool isRunning() const;
    /// Waits up to \a milliseconds (for ever when negative) for the run to end.
    bool wait(int milliseconds = -1);

    RunProgress progress() const;

signals:
    /// Emitted on the run's thread: listeners in other threads get the
    /// reports queued, in order.
    void reported(const archivon::RunEvent& event);

private:
    friend class EngineRun;
    bool m_shutdownAtEnd = false;
    std::unique_ptr<EngineRun> d;
};

} // namespace archivon
