#pragma once

namespace archivon {

/// Names the program to the window system (name, version, desktop file
/// "archivon") and has Qt's own texts (menus of the edit boxes, standard
/// buttons) in Italian, as the rest of the program. Call once, after the
/// application object is made.
void setUpApplication();

} // namespace archivon
