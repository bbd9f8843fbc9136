#include "layout/progressbar.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionProgressBar>

#include <algorithm>
#include <cmath>

namespace archivon {

namespace {
// The style wants whole numbers; this many steps keep the drawing smooth.
constexpr int kSteps = 10000;

// What a screen reader learns of a bar: that it is one, its range and value,
// and the share reached as a percentage.
class AccessibleProgressBar final : public QAccessibleWidget, public QAccessibleValueInterface
{
public:
    explicit AccessibleProgressBar(ProgressBar* bar)
        : QAccessibleWidget(bar, QAccessible::ProgressBar)
    {
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return QStringLiteral("%1%").arg(std::lround(bar()->filledShare() * 100));
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return bar()->value(); }
    void setCurrentValue(const QVariant&) override {} // the program alone moves a bar
    QVariant maximumValue() const override { return bar()->max(); }
    QVariant minimumValue() const override { return bar()->min(); }
    QVariant minimumStepSize() const override { return 0; }

private:
    ProgressBar* bar() const { return static_cast<ProgressBar*>(widget()); }
};

QAccessibleInterface* accessibleBar(const QString& className, QObject* object)
{
    if (className == QLatin1String(ProgressBar::staticMetaObject.className()) && object &&
        object->isWidgetType())
        return new AccessibleProgressBar(static_cast<ProgressBar*>(object));
    return nullptr;
}

} // namespace

ProgressBar::ProgressBar(QWidget* parent) : QWidget(parent)
{
    static const bool accessible = (QAccessible::installFactory(accessibleBar), true);
    Q_UNUSED(accessible);
}

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
        if (QAccessible::isActive()) {
            QAccessibleValueChangeEvent event(this, m_value);
            QAccessible::updateAccessibility(&event);
        }
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
