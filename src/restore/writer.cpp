#include "restore/job.h"

#include "plan/layout.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/fingerprint.h"
#include "platform/textfile.h"
#include "versions/fields.h"

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

// Copies \a source to the free name \a target and gives the fingerprint of
// what was written, taken as it was written.
Result<Fingerprint> copyFingerprinted(const QString& source, const QString& target, const ChunkHook& betweenChunks)
{
    CopiedContent content;
    if (const Status copied = copyToNewFile(source, target, betweenChunks, &content); !copied)
        return Result<Fingerprint>::failure(copied);
    return content.fingerprint;
}

// A free hidden name beside \a target for its copy while it is checked, one
// a copy's temporary would have, so that nothing takes it for a file of the user's.
QString checkedName(const QString& target)
{
    const qsizetype cut = std::max(target.lastIndexOf(QLatin1Char('\\')), target.lastIndexOf(QLatin1Char('/')));
    const QString folder = target.left(cut + 1);
    const QString base = QStringLiteral(".~archivon-") + target.mid(cut + 1).left(64);
    QString candidate = joinPath(folder, base + QStringLiteral(".verifica"));
    for (int n = 2; linkAttributes(candidate).kind() != ErrorKind::NotFound; ++n)
        candidate = joinPath(folder, base + QStringLiteral(".verifica%1").arg(n));
    return candidate;
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
    if (!m_dry) {
        QString note;
        m_expected = Expected::read(job, note);
        if (!note.isEmpty())
            notes << note;
    }
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
    file(job, path, shown, path.last(), parent, place);
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

void Writer::file(const Job& job, const RelativePath& path, const QString& shown, const QString& name,
                  const Slot& parent, const Place& place)
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
    const std::optional<Fingerprint> expected = m_dry ? std::nullopt : expectedOf(job, place);
    if (!write(sourceOf(*job.pair, place), target, e.size, shown, expected)) {
        if (!stopped && m_damagedNow) {
            m_damagedNow = false;
            ++damaged;
            notDone(shown, QStringLiteral("danneggiato nel backup: il contenuto non è quello che fu copiato, "
                                          "non ripristinato; %1")
                               .arg(wholeEarlier(job, path, place)));
        }
        return;
    }
    if (aside) {
        beside << QStringLiteral("%1: %2").arg(shown, target);
        ++m_pair->beside, ++total.beside;
        m_pair->besideBytes += e.size, total.besideBytes += e.size;
    } else {
        ++m_pair->written, ++total.written;
        m_pair->writtenBytes += e.size, total.writtenBytes += e.size;
    }
}

bool Writer::write(const QString& source, const QString& target, qint64 size, const QString& shown,
                   const std::optional<Fingerprint>& expected)
{
    m_meter.file(shown);
    if (m_dry) {
        m_meter.done(size);
        return true;
    }
    const ChunkHook chunk = [this](qint64 written) {
        m_meter.chunk(written);
        return !(m_stop && m_stop->load());
    };
    Status copied;
    if (!expected) {
        copied = copyToNewFile(source, target, chunk);
    } else {
        // Checked under a hidden name first: a file that is not what the
        // backup copied never takes its name.
        const QString checked = checkedName(target);
        const auto written = copyFingerprinted(source, checked, chunk);
        if (!written) {
            copied = Status::failure(written.kind(), written.error());
        } else if (!(written.value() == *expected)) {
            (void)deleteFile(checked);
            m_meter.done(size);
            m_damagedNow = true;
            return false;
        } else if (copied = moveEntry(checked, target); !copied) {
            (void)deleteFile(checked);
        }
    }
    if (!copied && m_stop && m_stop->load()) {
        stopped = true;
        return false;
    }
    m_meter.done(size);
    if (!copied)
        notDone(shown, copied.error());
    return copied.ok();
}

std::optional<Fingerprint> Writer::expectedOf(const Job& job, const Place& place) const
{
    const ListedTree& listed = treeOf(*job.pair, place);
    const RelativePath path = listed.tree.pathOf(place.entry);
    if (place.run < 0)
        return m_expected.ofMirror(path, listed.tree.at(place.entry));
    const QString stamp = lastName(job.backup->runs[std::size_t(place.run)].folder);
    return m_expected.ofVersion(stamp, path, listed.tree.at(place.entry).size);
}

// The newest content of \a path older than the one at \a place that the index
// knows and that reads whole now, named with the --al that gives it back.
QString Writer::wholeEarlier(const Job& job, const RelativePath& path, const Place& place) const
{
    const ComputerBackup& b = *job.backup;
    const auto startOf = [&](std::size_t run) { return b.runs[run].list.header.start; };
    std::vector<DatedVersion> found = datedVersionsOf(b, *job.pair, path);
    for (auto it = found.rbegin(); it != found.rend(); ++it) {
        if (place.run >= 0 && startOf(it->run) >= startOf(std::size_t(place.run)))
            continue; // not earlier than the one found damaged
        const ListedTree& dated = *job.pair->dated[it->run];
        const Tree::Entry& e = dated.tree.at(it->entry);
        const QString stamp = lastName(b.runs[it->run].folder);
        const index::VersionEntry* known = m_expected.version(stamp, dated.tree.pathOf(it->entry));
        if (!known || !known->fingerprint || known->mark == index::Mark::Damaged || known->size != e.size)
            continue;
        QString file = dated.folder;
        for (const QString& name : dated.tree.pathOf(it->entry))
            file = joinPath(file, name);
        const auto read = fingerprintFile(file, true);
        if (!read || !(read.value().fingerprint == *known->fingerprint))
            continue;
        const QDateTime before = startOf(it->run).addSecs(-1);
        return QStringLiteral("la versione integra più recente è quella tolta o sostituita dal backup del %1 "
                              "(--al \"%2\" --percorso \"%3\")")
            .arg(momentText(startOf(it->run)), momentText(before),
                 job.pair->name + QLatin1Char('\\') + path.join(QLatin1Char('\\')));
    }
    return QStringLiteral("il backup non ha nessuna versione precedente integra di questo file");
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
