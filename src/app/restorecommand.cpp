#include "app/restorecommand.h"

#include "restore/restore.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace archivon {

namespace {

std::atomic<bool> g_stop{false};

extern "C" void stopRestore(int)
{
    g_stop.store(true);
}

void print(std::FILE* to, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

} // namespace

int runRestoreCommand(const CommandLine& command)
{
    restore::Request request;
    request.computer = command.computer;
    request.user = command.user;
    if (!command.moment.isEmpty())
        request.when = restore::parseMoment(command.moment);
    request.path = command.restorePath;
    request.destination = command.restoreTarget;
    request.dryRun = command.dryRun;

    // A stop ends the copy under way at its next chunk; its temporary goes.
    struct sigaction action {};
    action.sa_handler = stopRestore;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    restore::Progress progress;
    progress.terminal = ::isatty(STDERR_FILENO) == 1;
    progress.show = [&progress](const QString& line) {
        print(stderr, progress.terminal ? QStringLiteral("\r\x1b[K") + line : line + QLatin1Char('\n'));
    };
    if (!command.versionsOf.isEmpty())
        request.path = command.versionsOf;
    const restore::Outcome outcome = command.listMoments            ? restore::listMoments(request)
                                     : !command.versionsOf.isEmpty() ? restore::listVersions(request)
                                                                     : restore::runRestore(request, progress, &g_stop);
    if (progress.terminal)
        print(stderr, QStringLiteral("\r\x1b[K"));
    print(stdout, outcome.report);
    if (!outcome.error.isEmpty())
        print(stderr, QStringLiteral("archivon: ") + QString(outcome.error).replace(QStringLiteral("\r\n"), QStringLiteral("\n")) +
                          QLatin1Char('\n'));
    if (!outcome.logPath.isEmpty())
        print(stderr, QStringLiteral("archivon: registro: %1\n").arg(outcome.logPath));
    return outcome.status;
}

} // namespace archivon
