#pragma once

#include "fileservices/progress.h"

#include <QWidget>

namespace archivon {

/// A horizontal progress bar with a single-precision range, drawn by the
/// current style without text. Values outside the range are refused, so the
/// callers' skip-on-failure rules can see the failed step.
class ProgressBar final : public QWidget, public ProgressTarget
{
    Q_OBJECT

public:
    explicit ProgressBar(QWidget* parent = nullptr);

    float min() const override { return m_min; }
    float max() const override { return m_max; }
    float value() const override { return m_value; }
    void setMin(float min) override;
    void setMax(float max) override;
    bool setValue(float value) override;

    /// Share of the bar that is filled, 0 to 1; what the bar draws.
    double filledShare() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    float m_min = 0;
    float m_max = 100;
    float m_value = 0;
};

} // namespace archivon
