#include "restore/job.h"

#include "versions/fields.h"

namespace archivon::restore::detail {

using platform::Fingerprint;

namespace {

QString versionKey(const QString& stamp, const QString& pathField)
{
    return stamp + QLatin1Char('\t') + pathField;
}

} // namespace

Expected Expected::read(const Job& job, QString& note)
{
    Expected e;
    const QString indexFile = index::fileFor(job.backup->root, job.pair->destination);
    const auto inScope = [&](const QString& field) {
        const auto path = versions::pathOf(field);
        return path && detail::inScope(*path, job.scope);
    };
    const auto read = index::readIndex(
        indexFile, {.file =
                        [&](index::Entry&& entry) {
                            if (entry.fingerprint && inScope(entry.path))
                                e.m_files.insert(entry.path, std::move(entry));
                        },
                    .version =
                        [&](index::VersionEntry&& entry) {
                            if (entry.fingerprint && inScope(entry.path))
                                e.m_versions.insert(versionKey(entry.stamp, entry.path), std::move(entry));
                        }});
    if (read && !read->ok()) {
        // What was handed over before the reading failed does not count.
        e = {};
        note = QStringLiteral("l'indice di %1 non si legge (%2): i file di %1 sono ripristinati senza il "
                              "controllo delle impronte")
                   .arg(job.pair->name, read->error());
    } else if (read && read->value().compare(job.pair->destination, Qt::CaseInsensitive) != 0) {
        e = {};
        note = QStringLiteral("l'indice di %1 è di un'altra cartella (%2): i file di %1 sono ripristinati "
                              "senza il controllo delle impronte")
                   .arg(job.pair->name, read->value());
    }
    return e;
}

std::optional<Fingerprint> Expected::ofMirror(const RelativePath& path, const Tree::Entry& listed) const
{
    const auto it = m_files.constFind(versions::pathField(path));
    if (it == m_files.cend() || it->size != listed.size || !index::sameTime(it->modifiedNs, listed.modifiedNs))
        return std::nullopt;
    return it->fingerprint;
}

const index::VersionEntry* Expected::version(const QString& stamp, const RelativePath& path) const
{
    const auto it = m_versions.constFind(versionKey(stamp, versions::pathField(path)));
    return it == m_versions.cend() ? nullptr : &*it;
}

std::optional<Fingerprint> Expected::ofVersion(const QString& stamp, const RelativePath& path, qint64 size) const
{
    const index::VersionEntry* known = version(stamp, path);
    if (!known || known->size != size)
        return std::nullopt;
    return known->fingerprint;
}

} // namespace archivon::restore::detail
