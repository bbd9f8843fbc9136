#include "platform/names.h"

#include "platform/drives.h"
#include "platform/filesystem.h"

#include <QStringList>

namespace archivon::platform {

namespace {

QString otherCase(const QString& name)
{
    QString flipped = name;
    for (QChar& c : flipped) {
        if (c.isLower())
            c = c.toUpper();
        else if (c.isUpper())
            c = c.toLower();
    }
    return flipped;
}

// How many of \a names the listing of \a folder holds, each spelt exactly so.
int listed(const QString& folder, const QStringList& names)
{
    int count = 0;
    DirSearch search(joinPath(folder, QStringLiteral("*.*")), Hidden | System | Directory);
    for (QString found = search.next(); !found.isEmpty(); found = search.next())
        count += names.contains(found);
    return count;
}

} // namespace

NameRules probeNameRules(const QString& existing)
{
    auto where = resolve(existing);
    while (where && !where->components.isEmpty()) {
        const QString name = where->components.takeLast();
        const QString parent = where->toString();
        const QString flipped = otherCase(name);
        if (flipped == name || !linkAttributes(joinPath(parent, name)))
            continue; // nothing to ask of this one: its parent, then
        // The other spelling reaches it, and the two are not entries of their
        // own: the one typed may be the other spelling of the one listed.
        const bool folds =
            linkAttributes(joinPath(parent, flipped)).ok() && listed(parent, {name, flipped}) < 2;
        return {folds, folds, false};
    }
    return {true, true, true};
}

QString nameKey(const QString& name, const NameRules& rules)
{
    return rules.foldsCase ? name.toCaseFolded() : name;
}

bool startsAs(const QString& name, const QString& prefix, const NameRules& rules)
{
    // Asked of every entry listed: most differ at once from a prefix that
    // begins with a character no fold changes, such as the dot of a hidden name.
    if (!prefix.isEmpty() && !name.isEmpty() && prefix.front().unicode() < 0x80 &&
        !prefix.front().isLetter() && name.front() != prefix.front())
        return false;
    if (!rules.foldsCase)
        return name.startsWith(prefix);
    return nameKey(name.left(prefix.size()), rules) == nameKey(prefix, rules);
}

QString windowsNameProblem(const QString& name)
{
    static const QString forbidden = QStringLiteral("\\/:*?\"<>|");
    for (const QChar c : name) {
        if (forbidden.contains(c))
            return QStringLiteral("il nome contiene «%1», che la destinazione non accetta").arg(c);
        if (c.unicode() < 0x20)
            return QStringLiteral("il nome contiene un carattere di controllo, che la destinazione "
                                  "non accetta");
    }
    if (name.endsWith(QLatin1Char('.')))
        return QStringLiteral("il nome finisce con un punto, che la destinazione non conserva");
    if (name.endsWith(QLatin1Char(' ')))
        return QStringLiteral("il nome finisce con uno spazio, che la destinazione non conserva");
    // A device name stays one with any extension, and with blanks before it.
    const QString base = name.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
    static const QStringList devices{QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"),
                                     QStringLiteral("NUL")};
    const bool numbered = base.size() == 4 && (base.startsWith(QLatin1String("COM")) || base.startsWith(QLatin1String("LPT"))) &&
                          base.at(3) >= QLatin1Char('1') && base.at(3) <= QLatin1Char('9');
    if (devices.contains(base) || numbered)
        return QStringLiteral("«%1» è il nome di un dispositivo di Windows, che la destinazione non "
                              "accetta")
            .arg(name.section(QLatin1Char('.'), 0, 0).trimmed());
    return {};
}

} // namespace archivon::platform
