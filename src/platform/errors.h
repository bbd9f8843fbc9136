#pragma once

#include "platform/result.h"

#include <QString>

namespace archivon::platform {

/// A short Italian reason for an errno value, for the lists the user reads.
QString reasonFor(int error);

/// True for the reason reasonFor() gives a full disk (or quota).
bool isDiskFullReason(const QString& reason);

/// True for the reason reasonFor() gives a rename that would cross file systems.
bool isOtherDiskReason(const QString& reason);

/// The kind of failure an errno value is.
ErrorKind kindOf(int error);

/// The reason given when a drive is not mapped or its folder is gone.
QString driveNotReadyReason();

/// That failure, of kind DriveLost.
Status driveNotReady();

} // namespace archivon::platform
