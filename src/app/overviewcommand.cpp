#include "app/overviewcommand.h"

#include "record/overview.h"
#include "platform/drives.h"
#include "platform/textfile.h"

#include <QDir>

#include <cstdio>

namespace archivon {

int showOverview(const CommandLine& command)
{
    QStringList expected;
    if (!command.expectedFile.isEmpty()) {
        const QString path =
            platform::fromHost(QDir::current().absoluteFilePath(command.expectedFile));
        const auto text = platform::readSmallFile(path, 1024 * 1024);
        if (!text) {
            std::fprintf(stderr, "archivon: impossibile leggere %s: %s\n",
                         command.expectedFile.toLocal8Bit().constData(),
                         text.error().toLocal8Bit().constData());
            return kBadArguments;
        }
        for (QString line : QString::fromUtf8(*text).split(QLatin1Char('\n'))) {
            line = line.trimmed();
            if (!line.isEmpty() && !line.startsWith(QLatin1Char('#')))
                expected << line;
        }
    }
    const SiteOverview overview = readSiteOverview(QStringLiteral("R:\\BKPQORL"), expected,
                                                   command.days, QDateTime::currentDateTime(),
                                                   command.checkDays);
    if (!overview.error.isEmpty())
        std::fprintf(stderr, "archivon: %s\n", overview.error.toLocal8Bit().constData());
    else
        std::fputs((command.csv ? overview.csv() : overview.table()).toLocal8Bit().constData(),
                   stdout);
    return overview.exitStatus();
}

} // namespace archivon
