#include "fileservices/texts.h"

#include <QLocale>

#include <cfenv>
#include <cmath>
#include <limits>

namespace archivon {

namespace {

// "##,##0.00": grouped thousands, two decimals, halves rounded away from zero.
QString formatAmount(double value)
{
    const double rounded = std::round(value * 100.0) / 100.0;
    return QLocale().toString(rounded, 'f', 2);
}

} // namespace

QString Scrividimensione(double dimensione)
{
    if (dimensione < 1024)
        return formatAmount(dimensione) + QStringLiteral(" byte");
    if (dimensione / 1024 < 1024)
        return formatAmount(dimensione / 1024) + QStringLiteral(" Kb");
    return formatAmount(dimensione / 1024 / 1024) + QStringLiteral(" Mb");
}

Result<QString> Tempo(double Tempoi)
{
    if (std::isnan(Tempoi))
        return Result<QString>::failure(QStringLiteral("durata non valida"));
    const int saved = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double whole = std::nearbyint(Tempoi); // halves to the even neighbour
    std::fesetround(saved);
    if (whole < 0 || whole > double(std::numeric_limits<qint32>::max()))
        return Result<QString>::failure(QStringLiteral("durata fuori dall'intervallo"));

    const qint32 secs = qint32(whole);
    const int s = secs % 60;
    const int m = (secs / 60) % 60;
    const int h = secs / 3600;
    QString text;
    if (h > 0)
        text = QString::number(h) + QStringLiteral(" h ");
    if (m != 0)
        text += QString::number(m) + QStringLiteral(" m ");
    text += QString::number(s) + QStringLiteral(" s");
    return text;
}

} // namespace archivon
