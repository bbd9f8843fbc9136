#pragma once

#include "app/commandline.h"

namespace archivon {

/// `archivon --verifica`: the backup read back, its progress and findings on
/// standard error, its counts on standard output. Returns the exit status.
int runCheckCommand(const CommandLine& command);

} // namespace archivon
