#include "versions/fields.h"

namespace archivon::versions {

QString escaped(const QString& text, bool name)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const char16_t u = c.unicode();
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out += c;
            out += text.at(++i);
        } else if (c.isSurrogate()) {
            out += QStringLiteral("%u") + QString::number(u, 16).toUpper().rightJustified(4, u'0');
        } else if (u < 0x20 || u == 0x7F || u == u'%' || (name && u == u'\\')) {
            out += QLatin1Char('%') + QString::number(u, 16).toUpper().rightJustified(2, u'0');
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<QString> unescaped(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != u'%') {
            out += text.at(i);
            continue;
        }
        const bool wide = i + 1 < text.size() && text.at(i + 1) == u'u';
        const qsizetype digits = wide ? 4 : 2;
        const qsizetype from = i + 1 + (wide ? 1 : 0);
        if (from + digits > text.size())
            return std::nullopt;
        bool ok = false;
        const uint code = text.mid(from, digits).toUInt(&ok, 16);
        if (!ok)
            return std::nullopt;
        out += QChar(char16_t(code));
        i = from + digits - 1;
    }
    return out;
}

QString pathField(const RelativePath& path)
{
    if (path.isEmpty())
        return QStringLiteral("\\");
    QString out;
    for (const QString& name : path)
        out += QLatin1Char('\\') + escaped(name, true);
    return out;
}

std::optional<RelativePath> pathOf(QStringView field)
{
    if (!field.startsWith(u'\\'))
        return std::nullopt;
    RelativePath path;
    if (field.size() == 1)
        return path;
    for (const QStringView name : field.mid(1).split(u'\\')) {
        const auto n = unescaped(name);
        if (!n || n->isEmpty())
            return std::nullopt;
        path << *n;
    }
    return path;
}

} // namespace archivon::versions
