#include "layout/autosizelabel.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>

namespace archivon {

AutoSizeLabel::AutoSizeLabel(QWidget* parent) : QLabel(parent)
{
    setWordWrap(false);
}

namespace {

const QEvent::Type kFitEvent = QEvent::Type(QEvent::registerEventType());

} // namespace

void AutoSizeLabel::setText(const QString& text)
{
    QLabel::setText(text);
    if (s_deferDepth == 0) {
        fitToText();
    } else if (!m_fitPending) {
        m_fitPending = true;
        QCoreApplication::postEvent(this, new QEvent(kFitEvent), Qt::HighEventPriority);
    }
}

bool AutoSizeLabel::event(QEvent* event)
{
    if (event->type() == kFitEvent) {
        if (m_fitPending)
            fitToText();
        return true;
    }
    return QLabel::event(event);
}

void AutoSizeLabel::fitToText()
{
    m_fitPending = false;
    if (geometry() != m_fitted)
        m_box = geometry();
    const QSize wanted = sizeHint();
    const Qt::Alignment horizontal = alignment() & Qt::AlignHorizontal_Mask;
    int left = m_box.left();
    if (horizontal & Qt::AlignRight)
        left = m_box.right() + 1 - wanted.width();
    else if (horizontal & Qt::AlignHCenter)
        left = m_box.left() + (m_box.width() - wanted.width()) / 2;
    // Growing leftwards stops at the window's edge: a negative left edge
    // means a parked control to the resize pass.
    if (m_box.left() >= 0)
        left = std::max(left, 0);
    m_fitted = QRect(QPoint(left, m_box.top()), wanted);
    if (geometry() != m_fitted)
        setGeometry(m_fitted);
}

void AutoSizeLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    // Fonts from the window's style sheet arrive when the label is polished.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        fitToText();
}

} // namespace archivon
