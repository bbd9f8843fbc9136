#include "platform/session.h"

#include <QProcess>
#include <QStandardPaths>

namespace archivon::platform {

namespace {

SessionControl* g_session = nullptr;

// Starts a command found through PATH and gives it a few seconds; whatever it
// answers is ignored, as the request is forced and nothing can follow it.
void runBriefly(const QString& program, const QStringList& arguments)
{
    const QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        return;
    QProcess process;
    process.start(path, arguments);
    if (process.waitForStarted(3000))
        process.waitForFinished(3000);
}

} // namespace

void SystemSessionControl::shutdownForced()
{
    runBriefly(QStringLiteral("systemctl"),
               {QStringLiteral("poweroff"), QStringLiteral("--ignore-inhibitors")});
}

void SystemSessionControl::logoffForced()
{
    const QString id = qEnvironmentVariable("XDG_SESSION_ID");
    if (!id.isEmpty())
        runBriefly(QStringLiteral("loginctl"), {QStringLiteral("terminate-session"), id});
    else
        runBriefly(QStringLiteral("loginctl"),
                   {QStringLiteral("terminate-user"), qEnvironmentVariable("USER")});
}

SessionControl& session()
{
    static SystemSessionControl system;
    return g_session ? *g_session : system;
}

void setSession(SessionControl* control) { g_session = control; }

} // namespace archivon::platform
