#pragma once

#include "app/commandline.h"

namespace archivon {

/// --ripristina: gives the backup back, or with --elenco or --versioni says
/// what it can give back; returns the exit status.
int runRestoreCommand(const CommandLine& command);

} // namespace archivon
