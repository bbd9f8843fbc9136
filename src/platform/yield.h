#pragma once

namespace archivon::platform {

/// Lets the event loop dispatch what is pending (repaints, timer ticks,
/// clicks) and returns. The one place the program yields; called only at the
/// points where a long operation is designed to let the window breathe.
void yield();

} // namespace archivon::platform
