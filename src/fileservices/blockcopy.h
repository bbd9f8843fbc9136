#pragma once

#include "fileservices/progress.h"
#include "platform/result.h"

#include <QString>

namespace archivon {

/// Copies one file in blocks of 1024 bytes and shows how much of it is done,
/// in whole percent, on the bar passed in (set to 0..100 and 0 first).
///
/// The destination always ends as an exact copy of the source, whatever its
/// length or content before: it is rewritten from its start and cut to the
/// source's length. Lengths are counted in 64 bits, so files of any size copy
/// exactly. The window is yielded to once each time the percentage changes,
/// never more, so at most about 100 times per file.
///
/// Paths are in Windows form. A failure (source missing, drive not ready,
/// destination not writable) is returned with its reason; the destination may
/// then be partly rewritten. Both files are closed on every way out.
Status CopiaFile(const QString& Origine, const QString& Destinazione, ProgressTarget& prBarra);

} // namespace archivon
