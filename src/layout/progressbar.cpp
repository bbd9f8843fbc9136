#include "layout/progressbar.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionProgressBar>

#include <algorithm>
#include <cmath>

namespace archivon {

namespace {
// The style wants whole numbers; this many steps keep the drawing smooth.
constexpr int kSteps = 10000;
} // namespace

ProgressBar::ProgressBar(QWidget* parent) : QWidget(parent) {}

void ProgressBar::setMin(float min)
{
    m_min = min;
    update();
}

void ProgressBar::setMax(float max)
{
    m_max = max;
    update();
}

bool ProgressBar::setValue(float value)
{
    if (!(value >= m_min && value <= m_max))
        return false;
    if (value != m_value) {
        m_value = value;
        update();
    }
    return true;
}

double ProgressBar::filledShare() const
{
    // After a range change the old value may lie outside; draw it clamped.
    if (!(m_max > m_min))
        return m_value >= m_max ? 1.0 : 0.0;
    const double share = (double(m_value) - m_min) / (double(m_max) - m_min);
    return std::clamp(share, 0.0, 1.0);
}

QSize ProgressBar::sizeHint() const
{
    return {150, 25};
}

void ProgressBar::paintEvent(QPaintEvent*)
{
    QStyleOptionProgressBar option;
    option.initFrom(this);
    option.minimum = 0;
    option.maximum = kSteps;
    option.progress = int(std::lround(filledShare() * kSteps));
    option.textVisible = false;
    option.state |= QStyle::State_Horizontal;

    QPainter painter(this);
    style()->drawControl(QStyle::CE_ProgressBar, &option, &painter, this);
}

} // namespace archivon
