#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

class QWidget;

// Proportional resize: keeps a window's controls in proportion to its size.
//
// The first pass over a window records its client size and the place of each
// of its controls (the design layout); every later pass puts each control at
// its recorded place scaled by the ratio of the current client size to the
// recorded one, horizontally and vertically apart. Fonts are never scaled.
//
// Everything is reckoned in twips at 15 twips a pixel: a widget's pixel
// geometry times 15 is read, whole-number percentages and integer division
// do the scaling, and the result is written back in pixels, rounded.
//
// A window is any QWidget: its objectName names it, its width and height are
// its client area, its controls are its direct child widgets that have an
// objectName and are not windows of their own, in the order of its child
// list. Inner widgets of a control (a status bar's labels, a list's viewport)
// follow their control and are never scaled on their own.
//
// A control is named by its objectName; an element of a control array also
// carries an int dynamic property "index". A control without that property is
// not an array element and is matched by its name alone.
//
// Qt has no end-point line control: a QFrame drawn as a horizontal or vertical
// line is placed like any other control, its box scaled as a rectangle, which
// puts the line where scaled end points would.
namespace archivon {

/// A window's client size when the window was first met, in twips.
struct FormLayoutRecord
{
    QString Name;
    qint32 ScaleHeight = 0;
    qint32 ScaleWidth = 0;
};

/// A control's design place, in twips; Left is unparked.
struct ControlLayoutRecord
{
    QString Name;
    qint32 Index = 0; // stays 0 for a control that is not an array element
    QString FormName;
    qint32 Top = 0;
    qint32 Left = 0;
    qint32 Height = 0;
    qint32 Width = 0;
};

/// Parked controls sit this many twips left of their home.
inline constexpr qint32 ParkingOffset = 75000;

/// A window whose top edge is this low or lower (in twips) is left as it is.
inline constexpr qint32 ResizeTopLimit = 30000;

/// Runs one pass over a window. A pass asked for while another one runs is
/// dropped, not queued.
void ResizeForm(QWidget* window);

/// Index of the window's record, or -1.
int FindFormRecord(const QWidget* window);

/// Records a window and those of its controls not yet recorded under its name;
/// returns the window's new index. A window whose client width or height is 0
/// is not recorded (-1) until it has a size, so no percentage divides by 0.
int CaptureForm(QWidget* window);

/// Index of the control's record under a window name, or -1.
int FindControlRecord(const QWidget* control, const QString& windowName);

/// Records one control under a window name; returns the new index.
int CaptureControl(QWidget* control, const QString& windowName);

/// Whole percentage of the client width against the recorded one, truncated;
/// records the window first when it has no record yet. 100 for a window that
/// cannot be recorded.
qint32 WidthPercent(QWidget* window);
/// The same with a client width given in twips.
qint32 WidthPercent(QWidget* window, qint32 clientWidthTwips);

/// The same as WidthPercent for the height, as a float holding a whole value.
float HeightPercent(QWidget* window);
float HeightPercent(QWidget* window, qint32 clientHeightTwips);

/// Places one control from its record. A control without a record (made after
/// its window was recorded) stays where it is.
void ResizeControl(QWidget* control, QWidget* window);

/// Home value of a horizontal coordinate: a parked (negative) value gets the
/// parking offset added, any other value is returned as it is.
qint32 UnparkCoordinate(qint32 value);

/// True only while a pass runs.
bool ResizeBusy();

/// The records made so far. They live as long as the program and are never
/// changed: a window closed and opened again keeps its first design layout.
const QList<FormLayoutRecord>& FormLayouts();
const QList<ControlLayoutRecord>& ControlLayouts();

} // namespace archivon
