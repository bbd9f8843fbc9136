#include "plan/settings.h"

#include "plan/layout.h"
#include "platform/drives.h"

#include <QRegularExpression>
#include <QSettings>

namespace archivon {

using namespace platform;

bool fullRewriteConfigured()
{
    const QSettings settings(configFile(), QSettings::IniFormat);
    return settings.value(QStringLiteral("CopiaCompleta"), false).toBool();
}

int versionDaysConfigured(QString* problem)
{
    const QSettings settings(configFile(), QSettings::IniFormat);
    const QVariant value = settings.value(QStringLiteral("GiorniVersioni"));
    if (!value.isValid())
        return versions::kDefaultDays;
    // "30, 40" reads as a list; its text is then empty, and no number.
    const QString text = value.toString().trimmed();
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    bool ok = false;
    const int days = digits.match(text).hasMatch() ? text.toInt(&ok) : 0;
    if (ok)
        return days;
    if (problem)
        *problem = QStringLiteral("Attenzione: in %1 il valore GiorniVersioni=%2 non è un numero "
                                  "intero di giorni (0 o più): le versioni precedenti sono tenute "
                                  "per %3 giorni.")
                       .arg(configFile(), value.toStringList().join(QStringLiteral(", ")))
                       .arg(versions::kDefaultDays);
    return versions::kDefaultDays;
}

} // namespace archivon
