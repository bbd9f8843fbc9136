#include "layout/listbox.h"

#include <QEvent>

namespace archivon {

bool ListBox::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::Paint)
        executeDelayedItemsLayout();
    return QListWidget::viewportEvent(event);
}

} // namespace archivon
