// The index of a pair's backup as a pass leaves it. Beside a large walk it
// keeps 24 bytes a file; the old index is read as a stream, twice at most,
// and the new one goes out a piece at a time.

#include "engine/pairindex.h"

#include "index/marks.h"
#include "versions/fields.h"

#include "fileservices/queries.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/textfile.h"

#include <algorithm>
#include <limits>

namespace archivon {

using namespace platform;

namespace {

// The file at \a path is as an index or listing had it: the same size, and
// the same time to a share's step.
bool stillAs(const QString& path, qint64 size, qint64 modified)
{
    return fileLength(path).valueOr(-1) == size && index::sameTime(modified, modifiedNs(path).valueOr(-1));
}

// A list's block is handed over once its text passes this.
constexpr qint64 kBlockText = 1024 * 1024;

bool needsEscape(QStringView name)
{
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || u == u'%' || u == u'\\' || c.isSurrogate())
            return true;
    }
    return false;
}

// The order of the index: by the text of the path fields. A path is compared
// as the pieces it is made of, with no text built for it.
struct Pieces
{
    QStringView a, b, c;
    QChar at(qsizetype k) const
    {
        if (k < a.size())
            return a[k];
        k -= a.size();
        if (k < b.size())
            return b[k];
        return c[k - b.size()];
    }
    qsizetype size() const { return a.size() + b.size() + c.size(); }
};

int compare(const Pieces& x, const Pieces& y)
{
    const qsizetype n = std::min(x.size(), y.size());
    for (qsizetype k = 0; k < n; ++k) {
        const char16_t u = x.at(k).unicode(), v = y.at(k).unicode();
        if (u != v)
            return u < v ? -1 : 1;
    }
    return x.size() < y.size() ? -1 : x.size() > y.size() ? 1 : 0;
}

const QString kSeparator = QStringLiteral("\\");

} // namespace

PairIndex::PairIndex(const TreeScan& scan, QString indexFile, QString destination, QString versionsRoot)
    : m_scan(scan), m_indexFile(std::move(indexFile)), m_destination(std::move(destination)),
      m_versionsRoot(std::move(versionsRoot))
{
    m_files.resize(std::size_t(scan.folders.size()));
    for (qsizetype j = 0; j < scan.folders.size(); ++j)
        m_files[std::size_t(j)].resize(std::size_t(scan.folders.at(j).files.size()));
}

PairIndex::Where PairIndex::find(const QString& plain)
{
    const qsizetype cut = plain.lastIndexOf(QLatin1Char('\\'));
    if (cut < 0)
        return {};
    if (m_folders.isEmpty()) {
        for (qsizetype j = 0; j < m_scan.folders.size(); ++j)
            m_folders.insert(m_scan.folders.at(j).relative, j);
        m_byName.resize(std::size_t(m_scan.folders.size()));
    }
    const qsizetype j = m_folders.value(plain.left(cut), -1);
    if (j < 0)
        return {};
    const QList<ScannedFile>& files = m_scan.folders.at(j).files;
    std::vector<quint32>& order = m_byName[std::size_t(j)];
    if (order.empty() && !files.isEmpty()) {
        order.resize(std::size_t(files.size()));
        for (quint32 i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(),
                  [&](quint32 x, quint32 y) { return files.at(x).name < files.at(y).name; });
    }
    const QStringView name = QStringView(plain).mid(cut + 1);
    const auto it = std::lower_bound(order.begin(), order.end(), name,
                                     [&](quint32 x, QStringView n) { return QStringView(files.at(x).name) < n; });
    if (it == order.end() || files.at(*it).name != name)
        return {};
    return {j, qsizetype(*it)};
}

void PairIndex::readOld(const BackupListing* backup)
{
    index::Reader reader;
    reader.file = [&](index::Entry&& e) {
        ++m_oldFiles;
        if (!backup)
            return;
        const auto plain = index::plainPath(e.path);
        const Where w = plain ? find(*plain) : Where{};
        if (w.folder < 0) {
            m_aside.push_back(std::move(e));
            return;
        }
        bool fits = e.checkedAt >= 0 && e.checkedAt <= std::numeric_limits<quint32>::max();
        if (backup) {
            const BackupListing::Folder& there = backup->folders[std::size_t(w.folder)];
            const auto held = there.entries.constFind(m_scan.folders.at(w.folder).files.at(w.file).name);
            fits = fits && held != there.entries.cend() && !held->isFolder() && held->size == e.size &&
                   index::sameTime(e.modifiedNs, held->modifiedNs);
        }
        File& f = m_files[std::size_t(w.folder)][std::size_t(w.file)];
        if (!fits)
            return;
        f.flags |= Known;
        if (e.fingerprint) {
            f.fingerprint = *e.fingerprint;
            f.flags |= HasPrint;
        }
        if (e.origin == index::Origin::Backup)
            f.flags |= FromBackup;
        if (e.mark == index::Mark::Damaged)
            f.flags |= Damaged;
        f.checkedAt = quint32(e.checkedAt);
    };
    // Read again as the new index is written; here only where they are.
    reader.version = [this](index::VersionEntry&& v) { m_oldStamps.insert(v.stamp); };
    const auto read = index::readIndex(m_indexFile, reader);
    m_oldRead = read && *read;
    if (read && !*read) {
        // What an index that does not read gave is no knowledge.
        for (auto& folder : m_files)
            std::fill(folder.begin(), folder.end(), File{});
        m_aside.clear();
    }
}

void PairIndex::decided(const Changes& changes)
{
    for (const Change& c : changes.list) {
        if (c.file < 0)
            continue;
        File& f = m_files[std::size_t(c.folder)][std::size_t(c.file)];
        if (c.kind == Change::Kind::Keep)
            f.flags |= Keep;
        else if (c.kind == Change::Kind::Replace)
            f.flags |= Replace;
    }
}

void PairIndex::copied(qsizetype folder, qsizetype file, qint64 bytes, qint64 modifiedNs,
                       const Fingerprint& fingerprint)
{
    File& f = m_files[std::size_t(folder)][std::size_t(file)];
    f.fingerprint = fingerprint;
    f.checkedAt = 0;
    f.flags = quint8((f.flags & (Keep | Replace)) | Copied | HasPrint);
    const ScannedFile& s = m_scan.folders.at(folder).files.at(file);
    if (s.size != bytes || s.modifiedNs != modifiedNs)
        m_copiedAs.insert((quint64(folder) << 32) | quint64(file), {bytes, modifiedNs});
    m_changed = true;
}

void PairIndex::versioned(qsizetype folder, qsizetype file, const QString& stamp,
                          const versions::RelativePath& there, qint64 size)
{
    const File& f = m_files[std::size_t(folder)][std::size_t(file)];
    index::VersionEntry v;
    v.stamp = stamp;
    v.path = versions::pathField(there);
    v.size = size;
    if ((f.flags & Known) && (f.flags & HasPrint))
        v.fingerprint = f.fingerprint;
    if (f.flags & Known) {
        v.checkedAt = f.checkedAt;
        v.mark = (f.flags & Damaged) ? index::Mark::Damaged : index::Mark::None;
    }
    m_versions.push_back(std::move(v));
    m_changed = true;
}

versions::RelativePath PairIndex::relativeOf(qsizetype folder, qsizetype file) const
{
    const ScannedFolder& f = m_scan.folders.at(folder);
    versions::RelativePath path = f.relative.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    path << f.files.at(file).name;
    return path;
}

namespace {

// Hands the lines over a block at a time.
class Blocks
{
public:
    Blocks(int pair, const std::function<void(const versions::RunBlock&)>& note) : m_note(note)
    {
        m_block.pair = pair;
    }
    ~Blocks() { flush(); }
    void add(versions::ListedChange&& change)
    {
        for (const QString& name : change.path)
            m_text += name.size() + 1;
        m_text += 64;
        m_block.changes.push_back(std::move(change));
        if (m_text >= kBlockText)
            flush();
    }
    void flush()
    {
        if (!m_block.changes.empty())
            m_note(m_block);
        m_block.changes.clear();
        m_text = 0;
    }

private:
    const std::function<void(const versions::RunBlock&)>& m_note;
    versions::RunBlock m_block;
    qint64 m_text = 0;
};

versions::ListedChange versionLine(const index::VersionEntry& v)
{
    using Kind = versions::ListedChange::Kind;
    versions::ListedChange c{.kind = Kind::VersionFingerprint,
                             .path = versions::pathOf(v.path).value_or(versions::RelativePath{}),
                             .size = v.size};
    c.fingerprint = v.fingerprint;
    c.damaged = v.mark == index::Mark::Damaged;
    return c;
}

} // namespace

void PairIndex::noteFingerprints(int pair, const std::function<void(const versions::RunBlock&)>& note) const
{
    using Kind = versions::ListedChange::Kind;
    Blocks blocks(pair, note);
    for (qsizetype j = 0; j < m_scan.folders.size(); ++j) {
        const std::vector<File>& files = m_files[std::size_t(j)];
        for (qsizetype i = 0; i < qsizetype(files.size()); ++i) {
            const File& f = files[std::size_t(i)];
            if (!(f.flags & Copied))
                continue;
            const auto as = m_copiedAs.constFind((quint64(j) << 32) | quint64(i));
            versions::ListedChange c{.kind = Kind::Fingerprint,
                                     .path = relativeOf(j, i),
                                     .size = as != m_copiedAs.cend() ? as->first
                                                                     : m_scan.folders.at(j).files.at(i).size};
            c.fingerprint = f.fingerprint;
            blocks.add(std::move(c));
        }
    }
    for (const index::VersionEntry& v : m_versions)
        blocks.add(versionLine(v));
}

void PairIndex::oldBackupMoved(const QString& stamp, const QString& moved,
                               std::function<void(const versions::RunBlock&)> note, int pair)
{
    m_movedStamp = stamp;
    m_moved = moved;
    m_noteMoved = std::move(note);
    m_pair = pair;
    m_changed = true;
}

std::optional<index::Entry> PairIndex::entryOf(qsizetype folder, qsizetype file,
                                               const BackupListing* backup) const
{
    const File& f = m_files[std::size_t(folder)][std::size_t(file)];
    const ScannedFolder& there = m_scan.folders.at(folder);
    const ScannedFile& s = there.files.at(file);
    index::Entry e;
    e.path = versions::pathField(relativeOf(folder, file));
    e.size = s.size;
    e.modifiedNs = s.modifiedNs;
    if (f.flags & Copied) {
        if (const auto as = m_copiedAs.constFind((quint64(folder) << 32) | quint64(file)); as != m_copiedAs.cend()) {
            e.size = as->first;
            e.modifiedNs = as->second;
        }
        e.fingerprint = f.fingerprint;
        return e;
    }
    // Not copied: the backup's copy as the listing found it, where it is still there.
    const BackupListing::Entry* held = nullptr;
    if (backup) {
        const auto it = backup->folders[std::size_t(folder)].entries.constFind(s.name);
        if (it != backup->folders[std::size_t(folder)].entries.cend() && !it->isFolder())
            held = &*it;
    }
    if (f.flags & Replace) {
        // A copy that failed or never began: the old one, only as the old index knew it.
        if (!(f.flags & Known) || !held)
            return std::nullopt;
        const QString path = m_destination + there.relative + QLatin1Char('\\') + s.name;
        if (!stillAs(path, held->size, held->modifiedNs))
            return std::nullopt;
    } else if (!(f.flags & Keep)) {
        return std::nullopt;
    }
    if (held) {
        e.size = held->size;
        e.modifiedNs = held->modifiedNs;
    }
    if (f.flags & Known) {
        if (f.flags & HasPrint)
            e.fingerprint = f.fingerprint;
        e.origin = (f.flags & FromBackup) ? index::Origin::Backup : index::Origin::Copy;
        e.checkedAt = f.checkedAt;
        e.mark = (f.flags & Damaged) ? index::Mark::Damaged : index::Mark::None;
    }
    return e;
}

Status PairIndex::write(const BackupListing* backup)
{
    // The files the backup holds now, in the index's order.
    struct Item
    {
        quint32 folder, file;
    };
    std::vector<Item> items;
    qint64 unknown = 0;
    for (qsizetype j = 0; j < m_scan.folders.size(); ++j) {
        const std::vector<File>& files = m_files[std::size_t(j)];
        for (qsizetype i = 0; i < qsizetype(files.size()); ++i) {
            const quint8 flags = files[std::size_t(i)].flags;
            if (flags & (Keep | Replace | Copied)) {
                items.push_back({quint32(j), quint32(i)});
                unknown += !(flags & Known) || (flags & Copied);
            }
        }
    }
    // What the old index had beside the walk's files, where the backup still holds it as it said.
    std::vector<index::Entry> aside;
    for (index::Entry& e : m_aside) {
        const auto plain = index::plainPath(e.path);
        if (!plain)
            continue;
        const QString path = m_destination + *plain;
        if (stillAs(path, e.size, e.modifiedNs))
            aside.push_back(std::move(e));
    }
    m_aside.clear();
    std::sort(aside.begin(), aside.end(),
              [](const index::Entry& x, const index::Entry& y) { return x.path < y.path; });

    QHash<QString, bool> there; // the dated folders, by name
    const auto datedThere = [&](const QString& stamp) {
        auto it = there.find(stamp);
        if (it == there.end())
            it = there.insert(stamp, exists(joinPath(m_versionsRoot, stamp)));
        return *it;
    };
    if (!m_changed && m_oldRead && unknown == 0 && qint64(items.size() + aside.size()) == m_oldFiles) {
        // The same files as the old index, each as it had them: only a dated
        // folder gone since changes it.
        const bool gone = std::any_of(m_oldStamps.cbegin(), m_oldStamps.cend(),
                                      [&](const QString& stamp) { return !datedThere(stamp); });
        if (!gone)
            return {};
    }

    // The walk's folders as path fields, once each.
    std::vector<QString> folderFields(std::size_t(m_scan.folders.size()));
    for (qsizetype j = 0; j < m_scan.folders.size(); ++j) {
        const QString& relative = m_scan.folders.at(j).relative;
        folderFields[std::size_t(j)] =
            relative.isEmpty() ? QString()
                               : versions::pathField(relative.split(QLatin1Char('\\'), Qt::SkipEmptyParts));
    }
    QHash<quint64, QString> escapedNames; // the few names a field writes otherwise
    for (const Item& it : items) {
        const QString& name = m_scan.folders.at(it.folder).files.at(it.file).name;
        if (needsEscape(name))
            escapedNames.insert((quint64(it.folder) << 32) | it.file, versions::escaped(name, true));
    }
    const auto piecesOf = [&](const Item& it) {
        const auto e = escapedNames.constFind((quint64(it.folder) << 32) | it.file);
        return Pieces{folderFields[it.folder], kSeparator,
                      e != escapedNames.cend() ? QStringView(*e)
                                               : QStringView(m_scan.folders.at(it.folder).files.at(it.file).name)};
    };
    std::sort(items.begin(), items.end(),
              [&](const Item& x, const Item& y) { return compare(piecesOf(x), piecesOf(y)) < 0; });

    index::IndexWriter writer(m_indexFile, m_destination);
    Status written;
    const auto add = [&](const auto& entry) {
        if (written)
            written = writer.add(entry);
    };
    auto next = aside.begin();
    for (const Item& it : items) {
        const Pieces p = piecesOf(it);
        for (; next != aside.end() && compare(Pieces{next->path, {}, {}}, p) < 0; ++next)
            add(*next);
        if (const auto e = entryOf(it.folder, it.file, backup))
            add(*e);
    }
    for (; next != aside.end(); ++next)
        add(*next);
    aside.clear();
    std::vector<Item>().swap(items);

    // The versions: the old index's, where their dated folders are still
    // there, and a full rewrite's old backup, moved whole.
    std::optional<Blocks> moved;
    if (m_noteMoved)
        moved.emplace(m_pair, m_noteMoved);
    index::Reader reader;
    reader.file = [&](index::Entry&& e) {
        if (!moved)
            return;
        index::VersionEntry v;
        v.stamp = m_movedStamp;
        v.path = e.path;
        v.size = e.size;
        const auto plain = index::plainPath(e.path);
        const QString path = m_moved + plain.value_or(QString());
        if (plain && stillAs(path, e.size, e.modifiedNs)) {
            v.fingerprint = e.fingerprint;
            v.checkedAt = e.checkedAt;
            v.mark = e.mark;
        }
        moved->add(versionLine(v));
        m_versions.push_back(std::move(v));
        if (m_versions.size() >= 4096) { // the rest after the old ones
            for (const index::VersionEntry& kept : m_versions)
                add(kept);
            m_versions.clear();
        }
    };
    reader.version = [&](index::VersionEntry&& v) {
        if (datedThere(v.stamp))
            add(v);
    };
    if (m_oldRead && (moved || !m_oldStamps.isEmpty()))
        (void)index::readIndex(m_indexFile, reader);
    moved.reset();
    for (const index::VersionEntry& v : m_versions)
        add(v);
    m_versions.clear();
    if (!written)
        return written;
    return writer.commit();
}

} // namespace archivon
