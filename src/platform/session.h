#pragma once

#include <QStringList>

// Forced shutdown and log-off. Tests install a recording fake: nothing in a
// test may ever reach the real commands.
namespace archivon::platform {

class SessionControl
{
public:
    virtual ~SessionControl() = default;
    virtual void shutdownForced() = 0;
    virtual void logoffForced() = 0;
};

/// Runs systemctl/loginctl found through PATH; results are ignored.
class SystemSessionControl final : public SessionControl
{
public:
    void shutdownForced() override;
    void logoffForced() override;
};

/// Records the requests instead of making them.
class RecordingSessionControl final : public SessionControl
{
public:
    void shutdownForced() override { requests << QStringLiteral("shutdown"); }
    void logoffForced() override { requests << QStringLiteral("logoff"); }
    QStringList requests;
};

/// The session control in use; the system one unless replaced.
SessionControl& session();
/// Replaces the session control (nullptr restores the system one). Not owned.
void setSession(SessionControl* control);

} // namespace archivon::platform
