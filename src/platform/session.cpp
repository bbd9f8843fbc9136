#include "platform/session.h"

#include <QProcess>
#include <QStandardPaths>

#include <pwd.h>
#include <unistd.h>

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

// A timer's run has no USER: the system names the user the program runs as.
// An empty name would ask loginctl for no one in particular.
QString userName()
{
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty()) {
        if (const passwd* entry = ::getpwuid(::geteuid()))
            user = QString::fromLocal8Bit(entry->pw_name);
    }
    return user;
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
    else if (const QString user = userName(); !user.isEmpty())
        runBriefly(QStringLiteral("loginctl"), {QStringLiteral("terminate-user"), user});
}

SessionControl& session()
{
    static SystemSessionControl system;
    return g_session ? *g_session : system;
}

void setSession(SessionControl* control) { g_session = control; }

} // namespace archivon::platform
