#include "index/index.h"

#include "versions/fields.h"

#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "platform/textfile.h"

#include <QFile>

namespace archivon::index {

using namespace platform;

namespace {

const QByteArray kMagic = QByteArrayLiteral("archivon-indice");
const QString kNew = QStringLiteral(".nuovo");
const QString kOld = QStringLiteral(".vecchio");
// Entries are written to the new index a megabyte at a time.
constexpr qsizetype kPiece = 1024 * 1024;

QString fingerprintField(const std::optional<Fingerprint>& f)
{
    return f ? f->hex() : QStringLiteral("-");
}

QString markField(Mark mark) { return mark == Mark::Damaged ? QStringLiteral("danneggiato") : QStringLiteral("-"); }

QByteArray line(const QStringList& fields) { return fields.join(QLatin1Char('\t')).toUtf8() + '\n'; }

// The digest an end line carries: the first 16 digits of the fingerprint of
// every line before it.
QByteArray digestText(const Fingerprinter& lines) { return lines.result().hex().left(16).toLatin1(); }

std::optional<qint64> numberOf(QStringView field)
{
    bool ok = false;
    const qint64 n = field.toLongLong(&ok);
    return ok && n >= 0 ? std::optional(n) : std::nullopt;
}

std::optional<std::optional<Fingerprint>> fingerprintOf(QStringView field)
{
    if (field == u"-")
        return std::optional<Fingerprint>();
    const auto f = Fingerprint::fromHex(field);
    if (!f)
        return std::nullopt;
    return std::optional<Fingerprint>(*f);
}

std::optional<Mark> markOf(QStringView field)
{
    if (field == u"-")
        return Mark::None;
    if (field == u"danneggiato")
        return Mark::Damaged;
    return std::nullopt;
}

// A path field as far as the reader needs to know: those who take its names
// decode it, and pass over one that does not decode.
bool isPath(QStringView field) { return field.startsWith(u'\\'); }

// One line of the index's body; false when it does not parse.
bool parseEntry(const QList<QStringView>& f, const Reader& reader)
{
    if (f[0] == u"file" && f.size() == 8) {
        Entry e;
        const auto size = numberOf(f[2]);
        const auto time = numberOf(f[3]);
        const auto print = fingerprintOf(f[4]);
        const auto checked = numberOf(f[6]);
        const auto mark = markOf(f[7]);
        const bool copy = f[5] == u"copia";
        if (!isPath(f[1]) || !size || !time || !print || !checked || !mark || (!copy && f[5] != u"backup"))
            return false;
        e.path = f[1].toString();
        e.size = *size;
        e.modifiedNs = *time;
        e.fingerprint = *print;
        e.origin = copy ? Origin::Copy : Origin::Backup;
        e.checkedAt = *checked;
        e.mark = *mark;
        if (reader.file)
            reader.file(std::move(e));
        return true;
    }
    if (f[0] == u"versione" && f.size() == 7) {
        VersionEntry e;
        const auto stamp = versions::unescaped(f[1]);
        const auto size = numberOf(f[3]);
        const auto print = fingerprintOf(f[4]);
        const auto checked = numberOf(f[5]);
        const auto mark = markOf(f[6]);
        if (!stamp || stamp->isEmpty() || !isPath(f[2]) || !size || !print || !checked || !mark)
            return false;
        e.stamp = *stamp;
        e.path = f[2].toString();
        e.size = *size;
        e.fingerprint = *print;
        e.checkedAt = *checked;
        e.mark = *mark;
        if (reader.version)
            reader.version(std::move(e));
        return true;
    }
    return false;
}

// Reads one index file; its destination, or what is wrong with it.
Result<QString> readOne(const QString& path, const Reader& reader)
{
    const auto host = toHost(path);
    if (!host)
        return Result<QString>::failure(driveNotReady());
    QFile file(*host);
    if (!file.open(QIODevice::ReadOnly))
        return Result<QString>::failure(
            Status::failure(file.error() == QFileDevice::OpenError && !file.exists() ? ErrorKind::NotFound
                                                                                     : ErrorKind::Other,
                            file.errorString()));
    const auto refuse = [&](qint64 lineNumber, const QString& what) {
        return Result<QString>::failure(
            QStringLiteral("indice %1 illeggibile, riga %2: %3").arg(path).arg(lineNumber).arg(what));
    };
    Fingerprinter digest;
    QString destination;
    qint64 entries = 0;
    qint64 number = 0;
    bool ended = false;
    while (!file.atEnd()) {
        const QByteArray raw = file.readLine();
        ++number;
        if (!raw.endsWith('\n'))
            return refuse(number, QStringLiteral("interrotto"));
        if (ended)
            return refuse(number, QStringLiteral("testo dopo la fine"));
        if (reader.onlyMarked && number > 2 && !raw.startsWith("fine\t") && !raw.endsWith("\tdanneggiato\n")) {
            ++entries; // whole or not, the end line says
            digest.add(raw.constData(), std::size_t(raw.size()));
            continue;
        }
        const QString text = QString::fromUtf8(raw.constData(), raw.size() - 1);
        const QList<QStringView> f = QStringView(text).split(u'\t');
        if (number == 1) {
            bool ok = false;
            const int format = f.size() == 2 && f[0] == QLatin1String(kMagic) ? f[1].toInt(&ok) : 0;
            if (!ok || format < 1)
                return refuse(number, QStringLiteral("non è un indice"));
            if (format > kFormat)
                return refuse(number, QStringLiteral("di una versione più recente (%1)").arg(format));
        } else if (number == 2) {
            const auto d = f.size() == 2 && f[0] == u"coppia" ? versions::unescaped(f[1]) : std::nullopt;
            if (!d)
                return refuse(number, QStringLiteral("coppia mancante"));
            destination = *d;
        } else if (f[0] == u"fine") {
            if (f.size() != 3 || numberOf(f[1]) != entries || f[2] != QLatin1String(digestText(digest)))
                return refuse(number, QStringLiteral("non corrisponde al suo contenuto"));
            ended = true;
            continue;
        } else if (!parseEntry(f, reader)) {
            return refuse(number, QStringLiteral("non valida"));
        } else {
            ++entries;
        }
        digest.add(raw.constData(), std::size_t(raw.size()));
    }
    if (file.error() != QFileDevice::NoError)
        return Result<QString>::failure(file.errorString());
    if (!ended)
        return refuse(number, QStringLiteral("interrotto"));
    return destination;
}

bool present(const QString& path)
{
    const auto host = toHost(path);
    return host && QFile::exists(*host);
}

} // namespace

QString folderOf(const QString& backupRoot) { return backupRoot + QLatin1Char('\\') + kFolderName; }

QString fileFor(const QString& backupRoot, const QString& destination)
{
    const QString prefix = backupRoot + QLatin1Char('\\');
    const QString key = destination.startsWith(prefix, Qt::CaseInsensitive) ? destination.mid(prefix.size())
                                                                           : destination;
    // One name, whatever the path: its separators and anything a share
    // refuses in a name written out.
    QString name;
    for (const QChar c : key) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == u'%' || QStringView(u"\\/:*?\"<>|").contains(c))
            name += QLatin1Char('%') + QString::number(u, 16).toUpper().rightJustified(2, u'0');
        else
            name += c;
    }
    return folderOf(backupRoot) + QLatin1Char('\\') + name;
}

std::optional<Result<QString>> readIndex(const QString& indexFile, const Reader& reader)
{
    // A whole new index is newer than the one it was to replace; a kill may
    // have left it beside that one, or alone with the old one moved aside.
    const QString fresh = indexFile + kNew;
    if (present(fresh) && readOne(fresh, {}).ok())
        return readOne(fresh, reader);
    if (present(indexFile))
        return readOne(indexFile, reader);
    if (present(indexFile + kOld))
        return readOne(indexFile + kOld, reader);
    return std::nullopt;
}

std::optional<Result<PairIndex>> readWholeIndex(const QString& indexFile)
{
    PairIndex index;
    const auto read = readIndex(indexFile, {[&](Entry&& e) { index.files.push_back(std::move(e)); },
                                            [&](VersionEntry&& e) { index.versions.push_back(std::move(e)); }});
    if (!read)
        return std::nullopt;
    if (!*read)
        return Result<PairIndex>::failure(read->status());
    index.destination = read->value();
    return Result<PairIndex>(std::move(index));
}

QByteArray entryText(const Entry& e)
{
    // Written for every file of every pair at each change: one buffer, no list of fields.
    QByteArray line;
    line.reserve(e.path.size() + 96);
    line += "file\t";
    line += e.path.toUtf8();
    line += '\t' + QByteArray::number(e.size) + '\t' + QByteArray::number(e.modifiedNs) + '\t';
    line += e.fingerprint ? e.fingerprint->hex().toLatin1() : QByteArrayLiteral("-");
    line += e.origin == Origin::Copy ? "\tcopia\t" : "\tbackup\t";
    line += QByteArray::number(e.checkedAt);
    line += e.mark == Mark::Damaged ? "\tdanneggiato\n" : "\t-\n";
    return line;
}

QByteArray entryText(const VersionEntry& e)
{
    return line({QStringLiteral("versione"), versions::escaped(e.stamp, false), e.path, QString::number(e.size),
                 fingerprintField(e.fingerprint), QString::number(e.checkedAt), markField(e.mark)});
}

struct IndexWriter::Digest
{
    Fingerprinter lines;
};

IndexWriter::IndexWriter(QString indexFile, QString destination)
    : m_file(std::move(indexFile)), m_digest(std::make_unique<Digest>())
{
    m_pending = line({QString::fromLatin1(kMagic), QString::number(kFormat)}) +
                line({QStringLiteral("coppia"), versions::escaped(destination, false)});
}

IndexWriter::~IndexWriter()
{
    // A new index never finished is no index: what a reader finds is the old one.
    if (m_started)
        (void)deleteFile(m_file + kNew);
}

Status IndexWriter::flush()
{
    if (m_failed)
        return Status::failure(QStringLiteral("indice non scritto"));
    m_digest->lines.add(m_pending.constData(), std::size_t(m_pending.size()));
    Status written;
    if (!m_started) {
        const QString folder = m_file.left(m_file.lastIndexOf(QLatin1Char('\\')));
        if (!present(folder))
            (void)makeFolder(folder); // made by whichever run comes first
        written = writeInPlace(m_file + kNew, m_pending);
        m_started = true;
    } else {
        written = appendToFile(m_file + kNew, m_pending);
    }
    m_written += m_pending.size();
    m_pending.clear();
    m_failed = !written.ok();
    return written;
}

Status IndexWriter::add(const Entry& entry)
{
    m_pending += entryText(entry);
    ++m_entries;
    return m_pending.size() >= kPiece ? flush() : Status();
}

Status IndexWriter::add(const VersionEntry& entry)
{
    m_pending += entryText(entry);
    ++m_entries;
    return m_pending.size() >= kPiece ? flush() : Status();
}

Status IndexWriter::commit()
{
    if (const Status body = flush(); !body)
        return body;
    const QByteArray end = "fine\t" + QByteArray::number(m_entries) + '\t' + digestText(m_digest->lines) + '\n';
    if (const Status ended = appendToFile(m_file + kNew, end); !ended)
        return ended;
    // Old aside, new in, old gone: no step renames over a name.
    const QString old = m_file + kOld;
    if (present(old))
        (void)deleteFile(old); // older still than the index beside it
    if (present(m_file)) {
        if (const Status aside = moveEntry(m_file, old); !aside)
            return aside;
    }
    if (const Status in = moveEntry(m_file + kNew, m_file); !in)
        return in;
    m_started = false;
    (void)deleteFile(old);
    return {};
}

} // namespace archivon::index
