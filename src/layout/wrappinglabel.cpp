#include "layout/wrappinglabel.h"

#include <QFontInfo>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace archivon {

WrappingLabel::WrappingLabel(QWidget* parent) : QLabel(parent)
{
    setWordWrap(true);
}

qreal WrappingLabel::lineStep() const
{
    return std::min<qreal>(fontMetrics().lineSpacing(),
                           std::ceil(QFontInfo(font()).pixelSize() * 1.2));
}

void WrappingLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawFrame(&painter);

    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    QTextOption option(alignment() & Qt::AlignHorizontal_Mask);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QTextLayout layout(text(), font(), this);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);

    // A font taller than the step gives back half its extra room above the first line.
    const qreal step = lineStep();
    qreal y = -std::max<qreal>(0, (fontMetrics().height() - step) / 2);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(area.width());
        line.setPosition(QPointF(0, y));
        y += step;
    }
    layout.endLayout();

    painter.setClipRect(area);
    painter.setPen(palette().color(foregroundRole()));
    layout.draw(&painter, area.topLeft());
}

} // namespace archivon
