#pragma once

#include <QFont>
#include <QWidget>

namespace archivon {

/// The font of every window: MS Sans Serif 8.25 pt regular. Controls with a
/// font of their own set it in their window design.
QFont windowFont();

/// Where the designed faces are missing, prefers installed faces of about
/// their width: the designs leave little room for wider text. Called once at start.
void installFontSubstitutes();

/// Registers the program's built-in pictures (window icons). The windows call
/// it before they are built; repeated calls do nothing.
void loadResources();

/// Enter presses the push button that has the focus, as the space bar does;
/// no button of the window becomes a default button.
void pressButtonsOnEnter(QWidget* window);

/// Puts a top-level window in the middle of the screen it will open on.
void centreOnScreen(QWidget* window);

/// Builds a window from its design: the program's pictures and font, the
/// controls, the designed size held fixed, centred, and Enter pressing the
/// focused button.
template <typename Ui>
void setUpWindow(QWidget* window, Ui& ui)
{
    loadResources();
    window->setFont(windowFont());
    ui.setupUi(window);
    window->setFixedSize(window->size());
    centreOnScreen(window);
    pressButtonsOnEnter(window);
}

} // namespace archivon
