#include "app/application.h"
#include "app/checkcommand.h"
#include "app/commandline.h"
#include "app/forms.h"
#include "app/overviewcommand.h"
#include "app/restorecommand.h"
#include "app/unattended.h"
#include "lock/runlock.h"
#include "dialogs/formavvio.h"
#include "layout/windowstyle.h"
#include "platform/drives.h"
#include "platform/gui_prompter.h"

#include <QApplication>

#include <cstdio>

namespace {

QStringList argumentsOf(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

} // namespace

int main(int argc, char* argv[])
{
    using namespace archivon;

    // Read before the application exists, so --help and --version need no display.
    const CommandLine command = parseCommandLine(argumentsOf(argc, argv));
    if (command.action == CommandLine::Action::Leave) {
        std::fputs(command.text.toLocal8Bit().constData(), command.exitCode == 0 ? stdout : stderr);
        return command.exitCode;
    }
    // Reads R: only: not even the default drive folder is made.
    if (command.action == CommandLine::Action::Overview) {
        QCoreApplication app(argc, argv);
        setUpApplication();
        return showOverview(command);
    }
    // Writes on this computer only, and on R: its lock: no drive folder is made.
    if (command.action == CommandLine::Action::Restore) {
        QCoreApplication app(argc, argv);
        setUpApplication();
        const int status = runRestoreCommand(command);
        RunLock::stopRetrying();
        return status;
    }
    // Writes on R: only its lock, the indexes' check data and the summary line.
    if (command.action == CommandLine::Action::Check) {
        QCoreApplication app(argc, argv);
        setUpApplication();
        const int status = runCheckCommand(command);
        RunLock::stopRetrying();
        return status;
    }
    // Reads only: no drive folder, no program folder, no log.
    if (command.action == CommandLine::Action::Backup && command.dryRun) {
        QCoreApplication app(argc, argv);
        setUpApplication();
        return dryRun(command.user, command.fullRewrite, command.shutdown);
    }
    // A run with nobody at the screen (cron, a systemd timer) shows no window
    // and needs no display.
    if (command.action == CommandLine::Action::Backup) {
        QCoreApplication app(argc, argv);
        setUpApplication();
        platform::ensureDefaultDrives();
        platform::setCurrentFolder(platform::programFolder());
        UnattendedRun run(command.user, command.shutdown, command.fullRewrite);
        run.start();
        QCoreApplication::exec();
        RunLock::stopRetrying();
        return run.exitStatus();
    }

    QApplication app(argc, argv);
    setUpApplication();
    loadResources();
    QApplication::setQuitOnLastWindowClosed(true);

    installFontSubstitutes();

    platform::ensureDefaultDrives();
    platform::setCurrentFolder(platform::programFolder());

    platform::GuiPrompter prompter;
    platform::setDefaultPrompter(&prompter);
    Forms::avvio()->show();
    const int rc = QApplication::exec();
    Forms::unloadAll();
    RunLock::stopRetrying();
    platform::setDefaultPrompter(nullptr);
    return rc;
}
