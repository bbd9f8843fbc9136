#include "layout/statusbar.h"

#include <QDate>
#include <QEvent>
#include <QLabel>
#include <QLocale>
#include <QRegularExpression>
#include <QTime>

#include <algorithm>

namespace archivon {

namespace {
// Panel widths in pixels (8910, 1500 and 1440 twips); the first never
// narrower than 1440 twips.
constexpr int kTextPanel = 594;
constexpr int kTextPanelMin = 96;
constexpr int kDatePanel = 100;
constexpr int kTimePanel = 96;
// The regional short time format, without seconds where it shows them.
QString hoursAndMinutes(const QLocale& locale)
{
    static const QRegularExpression seconds(QStringLiteral("[.:]?s{1,2}(\\.z+)?"));
    QString format = locale.timeFormat(QLocale::ShortFormat);
    format.remove(seconds);
    return format.trimmed();
}

} // namespace

StatusBar::StatusBar(QWidget* parent) : QFrame(parent)
{
    for (int i = 0; i < 3; ++i) {
        auto* panel = new QLabel(this);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setTextFormat(Qt::PlainText);
        panel->setIndent(3);
        m_panels << panel;
    }
    m_panels[0]->setText(QStringLiteral("QORL - Backup & Restore Program"));
    m_panels[1]->setAlignment(Qt::AlignCenter);
    m_panels[2]->setAlignment(Qt::AlignCenter);
    refresh();

    // Short enough that the minute changes on screen without visible delay.
    m_clock.setInterval(1000);
    connect(&m_clock, &QTimer::timeout, this, &StatusBar::refresh);
    m_clock.start();

    if (parent)
        parent->installEventFilter(this);
}

QString StatusBar::panelText(int panel) const
{
    return m_panels.value(panel) ? m_panels[panel]->text() : QString();
}

QRect StatusBar::panelGeometry(int panel) const
{
    return m_panels.value(panel) ? m_panels[panel]->geometry() : QRect();
}

void StatusBar::refresh()
{
    const QLocale locale;
    const QString date = locale.toString(QDate::currentDate(), QLocale::ShortFormat);
    const QString time = locale.toString(QTime::currentTime(), hoursAndMinutes(locale));
    if (m_panels[1]->text() != date)
        m_panels[1]->setText(date);
    if (m_panels[2]->text() != time)
        m_panels[2]->setText(time);
}

bool StatusBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parent() && event->type() == QEvent::Resize)
        dock();
    return QFrame::eventFilter(watched, event);
}

void StatusBar::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    dock();
    placePanels();
}

void StatusBar::moveEvent(QMoveEvent* event)
{
    QFrame::moveEvent(event);
    dock();
}

void StatusBar::changeEvent(QEvent* event)
{
    QFrame::changeEvent(event);
    if (event->type() == QEvent::ParentChange && parentWidget()) {
        parentWidget()->installEventFilter(this);
        dock();
    }
}

void StatusBar::dock()
{
    auto* owner = parentWidget();
    if (!owner || m_docking)
        return;
    // Only the height is the bar's own; the parent decides the rest.
    const QRect docked(0, owner->height() - height(), owner->width(), height());
    if (geometry() == docked)
        return;
    m_docking = true;
    setGeometry(docked);
    m_docking = false;
}

void StatusBar::placePanels()
{
    // On a bar narrower than the three panels the text panel gives way first.
    const int h = height();
    const int text = std::clamp(width() - kDatePanel - kTimePanel, kTextPanelMin, kTextPanel);
    m_panels[0]->setGeometry(0, 0, text, h);
    m_panels[1]->setGeometry(text, 0, kDatePanel, h);
    m_panels[2]->setGeometry(text + kDatePanel, 0, kTimePanel, h);
}

} // namespace archivon
