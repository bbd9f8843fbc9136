#include "platform/yield.h"

#include <QCoreApplication>

namespace archivon::platform {

void yield()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace archivon::platform
