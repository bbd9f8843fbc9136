#pragma once

#include <QString>

namespace archivon::platform {

/// A short Italian reason for an errno value, for the lists the user reads.
QString reasonFor(int error);

/// The reason given when a drive is not mapped or its folder is gone.
QString driveNotReadyReason();

} // namespace archivon::platform
