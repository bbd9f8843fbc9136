#pragma once

#include <QString>

namespace archivon::platform {

/// A short Italian reason for an errno value, for the lists the user reads.
QString reasonFor(int error);

/// True for the reason reasonFor() gives a full disk (or quota).
bool isDiskFullReason(const QString& reason);

/// True for the reason reasonFor() gives a rename that would cross file systems.
bool isOtherDiskReason(const QString& reason);

/// The reason given when a drive is not mapped or its folder is gone.
QString driveNotReadyReason();

} // namespace archivon::platform
