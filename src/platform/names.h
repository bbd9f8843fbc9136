#pragma once

#include "result.h"

#include <QString>

namespace archivon::platform {

/// What a destination does with names: a Windows or Samba share, exFAT or FAT
/// does not tell "Report.txt" from "report.txt", and cannot keep some names
/// that a Linux folder holds.
struct NameRules
{
    /// Two names that differ only in case are one name there.
    bool foldsCase = false;
    /// Names a Windows share cannot keep are refused before they are written.
    bool windowsNames = false;
    /// Nothing could be asked: the stricter answer is assumed.
    bool assumed = false;
};

/// Asks the destination of \a existing, an entry that is there (a pair's
/// folder, or the folder that holds it), whether it folds case, without
/// writing anything: the other-case spelling of its name is looked up, and the
/// parent's listing confirms that only one spelling is there. A destination
/// that folds case gets the Windows name rules too. Where no name with a
/// letter can be asked, the stricter answer is assumed.
NameRules probeNameRules(const QString& existing);

/// The key two names are matched by on such a destination: the name itself,
/// or its case-folded form where the destination folds case.
QString nameKey(const QString& name, const NameRules& rules);

/// Whether \a name begins with \a prefix, as the destination matches names.
bool startsAs(const QString& name, const QString& prefix, const NameRules& rules);

/// Why a Windows share could not keep \a name as it is written: a character
/// of \ / : * ? " < > | or a control character, a final dot or blank, or a
/// device name (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, with or without an
/// extension). Empty for a name it can keep.
QString windowsNameProblem(const QString& name);

} // namespace archivon::platform
