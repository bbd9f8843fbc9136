#pragma once

#include "platform/result.h"

#include <QString>

// The short texts the main window shows for sizes and durations.
namespace archivon {

/// "1.536,00 Kb": bytes, kilobytes or megabytes (divisor 1024), two decimals,
/// separators of the regional settings.
QString Scrividimensione(double dimensione);

/// "1 h 2 m 5 s": seconds rounded half to even; fails for negative values or
/// values beyond 32 signed bits.
Result<QString> Tempo(double Tempoi);

} // namespace archivon
