#pragma once

#include <QString>

class QWidget;

namespace archivon {

class FormAvvio;
class Form1;
class Form2;
class Form3;

/// The program's four windows. Each exists once and is reached by name from
/// any other window; the first request loads it (the window is built, then its
/// Form_Load runs) and the caller shows it. A closed window is forgotten, so
/// the next request loads it afresh.
///
/// The program ends when its last window closes, and at once when the main
/// window closes, whatever else is open.
class Forms
{
public:
    static FormAvvio* avvio();
    static Form1* form1();
    static Form2* form2();
    static Form3* form3();

    /// "Form_avvio", "Form1", "Form2" or "Form3": true while that window is loaded.
    static bool isLoaded(const QString& name);

    /// Closes and deletes a window of the registry.
    static void unload(QWidget* form);

    /// True once the main window has closed: long operations stop where they are.
    static bool ending();

    /// Closes every other window and leaves the event loop; the main window
    /// calls it as it closes.
    static void endProgram();

    /// Each window calls it as it closes.
    static void forget(QWidget* form);

    /// Deletes every window still loaded and clears the ending flag (end of the
    /// program, and between tests).
    static void unloadAll();
};

} // namespace archivon
