#pragma once

#include "platform/result.h"

#include <QString>

namespace archivon::platform {

/// A short Italian reason for an errno value, for the lists the user reads.
QString reasonFor(int error);

/// The kind of failure an errno value is.
ErrorKind kindOf(int error);

/// The reason given when a drive is not mapped or its folder is gone.
QString driveNotReadyReason();

/// That failure, of kind DriveLost.
Status driveNotReady();

} // namespace archivon::platform
