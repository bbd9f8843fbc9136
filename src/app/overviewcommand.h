#pragma once

#include "app/commandline.h"

namespace archivon {

/// --stato: prints the last backup of every computer folder on R:, and
/// returns the exit status. Writes nothing anywhere, and makes no folder.
int showOverview(const CommandLine& command);

} // namespace archivon
