#include "app/application.h"
#include "app/forms.h"
#include "dialogs/formavvio.h"
#include "layout/windowstyle.h"
#include "platform/drives.h"
#include "platform/gui_prompter.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    using namespace archivon;

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
    platform::setDefaultPrompter(nullptr);
    return rc;
}
