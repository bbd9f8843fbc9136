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

    /// While one exists, labels take their size when the event loop next runs
    /// rather than at every write: measuring a text costs more than copying a
    /// small file, and nobody sees a size before the window is painted.
    class DeferFitting
    {
    public:
        DeferFitting() { ++s_deferDepth; }
        ~DeferFitting() { --s_deferDepth; }
        DeferFitting(const DeferFitting&) = delete;
        DeferFitting& operator=(const DeferFitting&) = delete;
    };
    /// Resizes the label to its text, keeping the anchored edge.
    void fitToText();

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // The box the label was last placed in by someone else, and where the
    // label last put itself: the anchored edge is taken from the box.
    QRect m_box;
    QRect m_fitted;
    bool m_fitPending = false;
    static inline int s_deferDepth = 0;
};

} // namespace archivon
