#include "app/application.h"
#include "app/commandline.h"
#include "app/forms.h"
#include "app/unattended.h"
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

// A scheduled run from cron has no display; it shows nothing anyway.
void allowNoDisplay()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
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
    if (command.action == CommandLine::Action::Backup)
        allowNoDisplay();

    QApplication app(argc, argv);
    setUpApplication();
    loadResources();
    QApplication::setQuitOnLastWindowClosed(true);

    installFontSubstitutes();

    platform::ensureDefaultDrives();
    platform::setCurrentFolder(platform::programFolder());

    int rc = 0;
    if (command.action == CommandLine::Action::Backup) {
        UnattendedRun run(command.user, command.shutdown);
        run.start();
        QApplication::exec();
        Forms::unloadAll();
        rc = run.exitStatus();
    } else {
        platform::GuiPrompter prompter;
        platform::setDefaultPrompter(&prompter);
        Forms::avvio()->show();
        rc = QApplication::exec();
        Forms::unloadAll();
    }
    platform::setDefaultPrompter(nullptr);
    return rc;
}
