#pragma once

#include <QFrame>
#include <QList>
#include <QTimer>

class QLabel;

namespace archivon {

/// The main window's three-panel status bar: a fixed text, the date and the
/// time, the last two kept current by the bar itself. It docks itself to the
/// bottom edge of its parent, across the whole width, whatever moves it.
class StatusBar final : public QFrame
{
    Q_OBJECT

public:
    explicit StatusBar(QWidget* parent = nullptr);

    /// Text of panel 0 (fixed text), 1 (short date) or 2 (hours and minutes).
    QString panelText(int panel) const;
    /// Outer geometry of a panel, in the bar's coordinates.
    QRect panelGeometry(int panel) const;

    /// Reads the clock again; the bar's timer calls it every few seconds.
    void refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void dock();
    void placePanels();

    QList<QLabel*> m_panels;
    QTimer m_clock;
    bool m_docking = false;
};

} // namespace archivon
