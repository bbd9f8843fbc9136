#include "plan/plan.h"

namespace archivon {

namespace {

struct DefaultPair
{
    QString source;
    QString suffix;
};

const std::array<DefaultPair, 4>& defaultPairs()
{
    static const std::array<DefaultPair, 4> pairs{{
        {QStringLiteral("C:\\Documenti"), QStringLiteral("\\Documenti")},
        {QStringLiteral("C:\\Sys\\Windows\\Application Data\\Identities"),
         QStringLiteral("\\Outlook")},
        {QStringLiteral("C:\\Sys\\Windows\\Preferiti"), QStringLiteral("\\Preferiti")},
        {QStringLiteral("C:\\Sys\\Windows\\Application Data\\Microsoft\\Address Book"),
         QStringLiteral("\\Address Book")},
    }};
    return pairs;
}

} // namespace

QString BackupPlan::backupRoot() const
{
    return kSiteFolder + QLatin1Char('\\') + computer + QLatin1Char('_') + user;
}

BackupPlan defaultPlan(const QString& computer, const QString& user)
{
    BackupPlan plan{computer, user, {}};
    for (std::size_t n = 0; n < plan.pairs.size(); ++n)
        plan.pairs[n] = {defaultPairs()[n].source, plan.backupRoot() + defaultPairs()[n].suffix};
    return plan;
}

} // namespace archivon
