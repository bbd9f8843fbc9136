// The jobs beside the backups that run from the command line alone: the
// restore and the check. Each shows its progress on standard error, its
// findings there too, and its counts on standard output; a SIGINT or SIGTERM
// stops it within the chunk under way.

#include "app/checkcommand.h"
#include "app/restorecommand.h"

#include "check/check.h"
#include "restore/restore.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace archivon {

namespace {

std::atomic<bool> g_stop{false};

extern "C" void stopJob(int)
{
    g_stop.store(true);
}

void stopOnSignals()
{
    struct sigaction action {};
    action.sa_handler = stopJob;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void print(std::FILE* to, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

const QString kClear = QStringLiteral("\r\x1b[K");

// The progress line drawn over itself on a terminal, one line each in a log.
std::function<void(const QString&)> progressLine(bool terminal)
{
    return [terminal](const QString& line) { print(stderr, terminal ? kClear + line : line + QLatin1Char('\n')); };
}

template <typename Outcome>
int ended(const Outcome& outcome, bool terminal)
{
    if (terminal)
        print(stderr, kClear);
    print(stdout, outcome.report);
    if (!outcome.error.isEmpty())
        print(stderr, QStringLiteral("archivon: ") + QString(outcome.error).replace(QStringLiteral("\r\n"), QStringLiteral("\n")) +
                          QLatin1Char('\n'));
    if (!outcome.logPath.isEmpty())
        print(stderr, QStringLiteral("archivon: registro: %1\n").arg(outcome.logPath));
    return outcome.status;
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
    stopOnSignals();
    restore::Progress progress;
    progress.terminal = ::isatty(STDERR_FILENO) == 1;
    progress.show = progressLine(progress.terminal);
    if (!command.versionsOf.isEmpty())
        request.path = command.versionsOf;
    const restore::Outcome outcome = command.listMoments            ? restore::listMoments(request)
                                     : !command.versionsOf.isEmpty() ? restore::listVersions(request)
                                                                     : restore::runRestore(request, progress, &g_stop);
    return ended(outcome, progress.terminal);
}

int runCheckCommand(const CommandLine& command)
{
    check::Request request;
    request.computer = command.computer;
    request.user = command.user;
    request.quota = command.quota;
    request.source = command.checkSource;
    request.versions = command.checkVersions;

    // A stop ends the read under way at its next megabyte; what was read is recorded.
    stopOnSignals();
    check::Progress progress;
    progress.terminal = ::isatty(STDERR_FILENO) == 1;
    progress.show = progressLine(progress.terminal);
    progress.finding = [terminal = progress.terminal](const QString& line) {
        print(stderr, (terminal ? kClear : QString()) + QStringLiteral("archivon: ") + line + QLatin1Char('\n'));
    };
    return ended(check::runCheck(request, progress, &g_stop), progress.terminal);
}

} // namespace archivon
