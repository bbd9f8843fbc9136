#include "app/application.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace archivon {

void setUpApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Archivon"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ARCHIVON_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("it.qorl.Archivon"));

    // The program speaks Italian whatever the session's language. Without
    // Qt's catalogue installed, its texts stay in English.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(QLocale(QLocale::Italian, QLocale::Italy), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

} // namespace archivon
