#include "restore/job.h"

#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/textfile.h"

namespace archivon::restore::detail {

using namespace platform;

namespace {

// A destination that kept the time to whole seconds, or two, still holds the file written.
constexpr qint64 kTimeSlackNs = 2'000'000'000;

// A name that would lead out of its folder, as a list edited on the share could name it.
bool leadsOut(const QString& name)
{
    return name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
           name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'));
}

const ListedTree& treeOf(const PairBackup& pair, const Place& place)
{
    return place.run < 0 ? *pair.mirror : *pair.dated[std::size_t(place.run)];
}

QString sourceOf(const PairBackup& pair, const Place& place)
{
    const ListedTree& listed = treeOf(pair, place);
    QString path = listed.folder;
    for (const QString& name : listed.tree.pathOf(place.entry))
        path = joinPath(path, name);
    return path;
}

} // namespace

bool inScope(const RelativePath& path, const RelativePath& scope)
{
    const qsizetype n = std::min(path.size(), scope.size());
    for (qsizetype k = 0; k < n; ++k) {
        if (path[k] != scope[k])
            return false;
    }
    return true;
}

std::pair<qint64, qint64> sizeOf(const Job& job)
{
    qint64 files = 0, bytes = 0;
    job.moment.forEach([&](const RelativePath& path, EntryKind kind, const Place& place) {
        if (kind != EntryKind::File || !inScope(path, job.scope) || path.size() < job.scope.size())
            return;
        ++files;
        bytes += treeOf(*job.pair, place).tree.at(place.entry).size;
    });
    return {files, bytes};
}

void Writer::run(const Job& job)
{
    perPair.emplace_back();
    m_pair = &perPair.back();
    m_slots.assign(1, Slot{job.target, false, false});
    if (!m_dry && !attributes(job.target)) {
        // The pair's own folder, and what is missing above it.
        const auto where = resolve(job.target);
        QString path = where ? QString(where->drive) + QLatin1Char(':') : QString();
        for (const QString& name : where ? where->components : QStringList()) {
            path = joinPath(path, name);
            if (!attributes(path) && !makeFolder(path))
                break;
        }
        const auto made = attributes(job.target);
        m_slots[0].fresh = true;
        m_slots[0].blocked = !made || !(*made & Directory);
        if (m_slots[0].blocked)
            notDone(job.target, QStringLiteral("impossibile creare la cartella"));
    }
    job.moment.forEach([&](const RelativePath& path, EntryKind kind, const Place& place) {
        if (!stopped && inScope(path, job.scope))
            entry(job, path, kind, place);
    });
}

void Writer::entry(const Job& job, const RelativePath& path, EntryKind kind, const Place& place)
{
    if (m_stop && m_stop->load()) {
        stopped = true;
        return;
    }
    const std::size_t depth = std::size_t(path.size());
    m_slots.resize(depth);
    const Slot parent = m_slots[depth - 1];
    const QString shown = job.pair->name + QLatin1Char('\\') + path.join(QLatin1Char('\\'));
    if (parent.blocked) {
        m_slots.push_back({QString(), false, true});
        if (kind == EntryKind::File)
            ++m_pair->notRestored, ++total.notRestored;
        return;
    }
    if (leadsOut(path.last())) {
        m_slots.push_back({QString(), false, true});
        return notDone(shown, QStringLiteral("nome non valido: non ripristinato"));
    }
    if (kind == EntryKind::Link) {
        m_slots.push_back({QString(), false, true});
        return notDone(shown, QStringLiteral("collegamento: non seguito e non ripristinato"));
    }
    if (kind == EntryKind::Folder)
        return folder(shown, path.last(), parent, depth);
    m_slots.push_back({QString(), false, true});
    file(job, shown, path.last(), parent, place);
}

void Writer::folder(const QString& shown, const QString& name, const Slot& parent, std::size_t depth)
{
    QString target = joinPath(parent.path, name);
    bool fresh = parent.fresh;
    if (!fresh) {
        const auto there = linkAttributes(target);
        if (there && (*there & Directory)) {
            m_slots.push_back({target, false, false});
            return;
        }
        if (there) { // a file, or a link: it stays, the folder goes beside it
            target = besideName(parent.path, name, false);
            beside << QStringLiteral("%1: %2").arg(shown, target);
            ++m_pair->beside, ++total.beside;
        }
        fresh = true;
    }
    if (!m_dry) {
        if (const Status made = makeFolder(target); !made) {
            m_slots.push_back({target, true, true});
            return notDone(shown, QStringLiteral("impossibile creare la cartella %1: %2").arg(target, made.error()));
        }
    }
    ++m_pair->folders, ++total.folders;
    m_slots.resize(depth);
    m_slots.push_back({target, fresh, false});
}

void Writer::file(const Job& job, const QString& shown, const QString& name, const Slot& parent, const Place& place)
{
    const Tree::Entry& e = treeOf(*job.pair, place).tree.at(place.entry);
    QString target = joinPath(parent.path, name);
    bool aside = false;
    if (!parent.fresh) {
        const auto there = linkAttributes(target);
        if (there && !(*there & (Directory | System))) {
            const auto size = fileLength(target);
            const auto time = modifiedNs(target);
            if (size && time && *size == e.size && std::abs(*time - e.modifiedNs) < kTimeSlackNs) {
                ++m_pair->left, ++total.left;
                m_pair->leftBytes += e.size, total.leftBytes += e.size;
                m_meter.done(e.size);
                return;
            }
        }
        aside = there.ok();
        if (aside)
            target = besideName(parent.path, name, true);
    }
    if (!write(sourceOf(*job.pair, place), target, e.size, shown))
        return;
    if (aside) {
        beside << QStringLiteral("%1: %2").arg(shown, target);
        ++m_pair->beside, ++total.beside;
        m_pair->besideBytes += e.size, total.besideBytes += e.size;
    } else {
        ++m_pair->written, ++total.written;
        m_pair->writtenBytes += e.size, total.writtenBytes += e.size;
    }
}

bool Writer::write(const QString& source, const QString& target, qint64 size, const QString& shown)
{
    m_meter.file(shown, size);
    if (m_dry) {
        m_meter.done(size);
        return true;
    }
    const Status copied = copyToNewFile(source, target, [this](qint64 written) {
        m_meter.chunk(written);
        return !(m_stop && m_stop->load());
    });
    if (!copied && m_stop && m_stop->load()) {
        stopped = true;
        return false;
    }
    m_meter.done(size);
    if (!copied)
        notDone(shown, copied.error());
    return copied.ok();
}

QString Writer::besideName(const QString& folder, const QString& name, bool isFile) const
{
    const qsizetype dot = isFile ? name.lastIndexOf(QLatin1Char('.')) : -1;
    const QString base = dot > 0 ? name.left(dot) : name;
    const QString ext = dot > 0 ? name.mid(dot) : QString();
    const QString marked = base + QStringLiteral(" (ripristino %1)").arg(m_stamp);
    QString candidate = joinPath(folder, marked + ext);
    for (int n = 2; linkAttributes(candidate).kind() != ErrorKind::NotFound; ++n)
        candidate = joinPath(folder, marked + QStringLiteral(" (%1)").arg(n) + ext);
    return candidate;
}

void Writer::notDone(const QString& shown, const QString& why)
{
    notRestored << QStringLiteral("%1: %2").arg(shown, why);
    ++m_pair->notRestored, ++total.notRestored;
}

} // namespace archivon::restore::detail
