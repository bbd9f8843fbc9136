#include "layout/resize.h"

#include "layout/autosizelabel.h"

#include <QRect>
#include <QVariant>
#include <QWidget>

#include <optional>

namespace archivon {

namespace {

constexpr qint32 TwipsPerPixel = 15;

// Lives as long as the program: records are only ever appended.
struct ResizeState
{
    bool ResizeBusy = false;
    QList<FormLayoutRecord> FormLayouts;
    QList<ControlLayoutRecord> ControlLayouts;
};

ResizeState& state()
{
    static ResizeState s;
    return s;
}

class BusyScope
{
public:
    BusyScope() { state().ResizeBusy = true; }
    ~BusyScope() { state().ResizeBusy = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
};

qint32 toTwips(int pixels)
{
    return qint32(pixels) * TwipsPerPixel;
}

// Nearest pixel, symmetric about zero, so a parked control mirrors its home.
int toPixels(qint64 twips)
{
    const qint64 half = TwipsPerPixel / 2;
    const qint64 pixels =
        twips >= 0 ? (twips + half) / TwipsPerPixel : -((-twips + half) / TwipsPerPixel);
    constexpr qint64 limit = QWIDGETSIZE_MAX;
    return int(qBound(-limit, pixels, limit));
}

// Integer division truncates toward zero, as the percentages and places are
// meant to. The product is widened only so that no size Qt accepts overflows.
qint64 scaled(qint32 value, qint32 percent)
{
    return qint64(value) * percent / 100;
}

qint32 percentOf(qint32 client, qint32 recorded)
{
    return qint32(qint64(client) * 100 / recorded);
}

// Direct children only: inner widgets of a control move with it. Unnamed
// children are Qt's own helpers, not controls; child windows are not controls.
QList<QWidget*> controlsOf(const QWidget* window)
{
    QList<QWidget*> controls;
    for (QWidget* child : window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!child->isWindow() && !child->objectName().isEmpty())
            controls.append(child);
    }
    return controls;
}

// Reading the index fails for a control that is not an array element.
std::optional<qint32> controlIndex(const QWidget* control)
{
    const QVariant value = control->property("index");
    if (!value.isValid())
        return std::nullopt;
    bool ok = false;
    const int index = value.toInt(&ok);
    return ok ? std::optional<qint32>(index) : std::nullopt;
}

int formIndexFor(QWidget* window)
{
    const int index = FindFormRecord(window);
    return index >= 0 ? index : CaptureForm(window);
}

} // namespace

void ResizeForm(QWidget* window)
{
    if (!window || state().ResizeBusy)
        return;
    const BusyScope busy;
    // A window placed this far down is out of sight on purpose; leave it be.
    if (qint64(window->frameGeometry().top()) * TwipsPerPixel >= ResizeTopLimit)
        return;
    const bool wasHidden = window->isHidden();
    const QList<QWidget*> controls = controlsOf(window);
    for (QWidget* control : controls)
        ResizeControl(control, window);
    // The pass gives a self-sizing label its scaled design box, which is
    // narrower than its text; the label takes its text's size again there.
    for (QWidget* control : controls) {
        if (auto* label = qobject_cast<AutoSizeLabel*>(control))
            label->fitToText();
    }
    // Written back only when it changed: hiding a widget that was never shown
    // would mark it hidden for good.
    if (window->isHidden() != wasHidden)
        window->setHidden(wasHidden);
}

int FindFormRecord(const QWidget* window)
{
    const auto& forms = state().FormLayouts;
    for (int i = 0; i < forms.size(); ++i) {
        if (forms[i].Name == window->objectName())
            return i;
    }
    return -1;
}

int CaptureForm(QWidget* window)
{
    const qint32 width = toTwips(window->width());
    const qint32 height = toTwips(window->height());
    if (width == 0 || height == 0)
        return -1;
    const QString name = window->objectName();
    state().FormLayouts.append({name, height, width});
    const int index = int(state().FormLayouts.size()) - 1;
    for (QWidget* control : controlsOf(window)) {
        if (FindControlRecord(control, name) < 0)
            CaptureControl(control, name);
    }
    return index;
}

int FindControlRecord(const QWidget* control, const QString& windowName)
{
    const std::optional<qint32> index = controlIndex(control);
    const QString name = control->objectName();
    const auto& controls = state().ControlLayouts;
    for (int i = 0; i < controls.size(); ++i) {
        const ControlLayoutRecord& r = controls[i];
        if (r.FormName == windowName && r.Name == name && (!index || *index == r.Index))
            return i;
    }
    return -1;
}

int CaptureControl(QWidget* control, const QString& windowName)
{
    ControlLayoutRecord r;
    r.Name = control->objectName();
    r.Index = controlIndex(control).value_or(0);
    r.FormName = windowName;
    const QRect g = control->geometry();
    r.Top = toTwips(g.y());
    r.Left = UnparkCoordinate(toTwips(g.x()));
    r.Height = toTwips(g.height());
    r.Width = toTwips(g.width());
    // Qt's list views already take any height, so there is no integral-height
    // setting to switch off here.
    state().ControlLayouts.append(r);
    return int(state().ControlLayouts.size()) - 1;
}

qint32 WidthPercent(QWidget* window)
{
    return WidthPercent(window, toTwips(window->width()));
}

qint32 WidthPercent(QWidget* window, qint32 clientWidthTwips)
{
    const int index = formIndexFor(window);
    if (index < 0)
        return 100;
    return percentOf(clientWidthTwips, state().FormLayouts[index].ScaleWidth);
}

float HeightPercent(QWidget* window)
{
    return HeightPercent(window, toTwips(window->height()));
}

float HeightPercent(QWidget* window, qint32 clientHeightTwips)
{
    const int index = formIndexFor(window);
    if (index < 0)
        return 100;
    return float(percentOf(clientHeightTwips, state().FormLayouts[index].ScaleHeight));
}

void ResizeControl(QWidget* control, QWidget* window)
{
    const qint32 yPct = qint32(HeightPercent(window));
    const qint32 xPct = WidthPercent(window);
    const int index = FindControlRecord(control, window->objectName());
    if (index < 0)
        return;
    const ControlLayoutRecord r = state().ControlLayouts[index];

    qint64 left = scaled(r.Left, xPct);
    if (control->x() < 0)
        left -= ParkingOffset;
    const qint64 top = scaled(r.Top, yPct);
    const qint64 width = scaled(r.Width, xPct);
    const qint64 height = scaled(r.Height, yPct);

    // The move is meant to be tried as (left, top, width, height), then
    // (left, top, width), then (left, top), so that a control that refuses a
    // height still takes the rest. setGeometry does exactly that in one call:
    // it bounds the size by the control's minimum and maximum and keeps the rest.
    control->setGeometry(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

qint32 UnparkCoordinate(qint32 value)
{
    return value < 0 ? value + ParkingOffset : value;
}

bool ResizeBusy()
{
    return state().ResizeBusy;
}

const QList<FormLayoutRecord>& FormLayouts()
{
    return state().FormLayouts;
}

const QList<ControlLayoutRecord>& ControlLayouts()
{
    return state().ControlLayouts;
}

} // namespace archivon
