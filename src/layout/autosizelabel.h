#pragma once

#include <QLabel>

namespace archivon {

/// A label whose size follows its one-line text, as the window designs' auto-size
/// labels do. The edge its alignment names stays put: a right-aligned label
/// grows to the left, a centred one to both sides, any other to the right.
///
/// setText() hides QLabel's: write the text through this type (the window
/// classes expose these labels with it) so that the size follows.
class AutoSizeLabel final : public QLabel
{
    Q_OBJECT

public:
    explicit AutoSizeLabel(QWidget* parent = nullptr);

    void setText(const QString& text);
    /// Resizes the label to its text, keeping the anchored edge.
    void fitToText();

protected:
    void changeEvent(QEvent* event) override;

private:
    // The box the label was last placed in by someone else, and where the
    // label last put itself: the anchored edge is taken from the box.
    QRect m_box;
    QRect m_fitted;
};

} // namespace archivon
