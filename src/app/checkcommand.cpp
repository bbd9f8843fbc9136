#include "app/checkcommand.h"

#include "check/check.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace archivon {

namespace {

std::atomic<bool> g_stop{false};

extern "C" void stopCheck(int)
{
    g_stop.store(true);
}

void print(std::FILE* to, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

} // namespace

int runCheckCommand(const CommandLine& command)
{
    check::Request request;
    request.computer = command.computer;
    request.user = command.user;
    request.quota = command.quota;
    request.source = command.checkSource;
    request.versions = command.checkVersions;

    // A stop ends the read under way at its next megabyte; what was read is recorded.
    struct sigaction action {};
    action.sa_handler = stopCheck;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    check::Progress progress;
    progress.terminal = ::isatty(STDERR_FILENO) == 1;
    const QString clear = progress.terminal ? QStringLiteral("\r\x1b[K") : QString();
    progress.show = [&](const QString& line) { print(stderr, progress.terminal ? clear + line : line + QLatin1Char('\n')); };
    progress.finding = [&](const QString& line) { print(stderr, clear + QStringLiteral("archivon: ") + line + QLatin1Char('\n')); };
    const check::Outcome outcome = check::runCheck(request, progress, &g_stop);
    print(stderr, clear);
    print(stdout, outcome.report);
    if (!outcome.error.isEmpty())
        print(stderr, QStringLiteral("archivon: ") + QString(outcome.error).replace(QStringLiteral("\r\n"), QStringLiteral("\n")) +
                          QLatin1Char('\n'));
    if (!outcome.logPath.isEmpty())
        print(stderr, QStringLiteral("archivon: registro: %1\n").arg(outcome.logPath));
    return outcome.status;
}

} // namespace archivon
