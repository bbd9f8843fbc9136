#pragma once

#include <QLabel>

namespace archivon {

/// A fixed-size label whose text wraps within its width, its lines as close as
/// the designs expect (1.2 times the font's size) even where the font in use
/// asks for more room; a word longer than the width breaks where it must.
class WrappingLabel final : public QLabel
{
    Q_OBJECT

public:
    explicit WrappingLabel(QWidget* parent = nullptr);

    /// Distance from one line to the next, in pixels.
    qreal lineStep() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace archivon
