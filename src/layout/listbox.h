#pragma once

#include <QListWidget>

namespace archivon {

/// A list box that shows its rows whenever it is painted. Qt lays out changed
/// rows on a timer and draws nothing until then; a long job that changes the
/// list between its yields would have every yield find that layout pending.
class ListBox final : public QListWidget
{
    Q_OBJECT

public:
    using QListWidget::QListWidget;

protected:
    bool viewportEvent(QEvent* event) override;
};

} // namespace archivon
