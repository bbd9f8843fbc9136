#include "versions/runlist.h"

#include "versions/fields.h"

#include "versions/versions.h"

#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "platform/textfile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QUuid>

#include <algorithm>

namespace archivon::versions {

using namespace platform;

namespace {

const QByteArray kMagic = QByteArrayLiteral("archivon-elenco");
const QByteArray kEnd = QByteArrayLiteral("fine");
constexpr qint64 kLargestList = 256 * 1024 * 1024;
// What readRunListEnds() reads of a list: its header lies within the first,
// its summary within the last.
constexpr qint64 kHeadBytes = 64 * 1024;
constexpr qint64 kTailBytes = 16 * 1024;

// ---- Text fields -------------------------------------------------------------

QString timeField(const QDateTime& t)
{
    // With its offset written out, a moment is one instant whatever the zone.
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

std::optional<QDateTime> timeOf(QStringView field)
{
    const QDateTime t = QDateTime::fromString(field.toString(), Qt::ISODateWithMs);
    if (!t.isValid() || t.timeSpec() == Qt::LocalTime)
        return std::nullopt;
    return t;
}

struct Word
{
    int value;
    const char* text;
};

constexpr Word kKinds[] = {{int(EntryKind::File), "file"},
                           {int(EntryKind::Folder), "cartella"},
                           {int(EntryKind::Link), "collegamento"}};
constexpr Word kChanges[] = {{int(ListedChange::Kind::Added), "aggiunto"},
                             {int(ListedChange::Kind::CaseFixed), "maiuscole"},
                             {int(ListedChange::Kind::SetAside), "accantonato"},
                             {int(ListedChange::Kind::PutBack), "rimesso"},
                             {int(ListedChange::Kind::MovedIn), "spostato"},
                             {int(ListedChange::Kind::Rewritten), "riscritta"},
                             {int(ListedChange::Kind::Fingerprint), "impronta"},
                             {int(ListedChange::Kind::VersionFingerprint), "impronta-versione"}};
constexpr Word kOutcomes[] = {{int(RunOutcome::Completed), "completata"},
                              {int(RunOutcome::WithFailures), "con-errori"},
                              {int(RunOutcome::Stopped), "interrotta"},
                              {int(RunOutcome::EndedEarly), "terminata-prima"},
                              {int(RunOutcome::Refused), "rifiutata"},
                              {int(RunOutcome::NothingDone), "nessuna-coppia"}};

template <std::size_t N>
QString wordFor(const Word (&words)[N], int value)
{
    for (const Word& w : words) {
        if (w.value == value)
            return QString::fromLatin1(w.text);
    }
    return {};
}

template <std::size_t N>
std::optional<int> valueOf(const Word (&words)[N], QStringView text)
{
    for (const Word& w : words) {
        if (text == QLatin1String(w.text))
            return w.value;
    }
    return std::nullopt;
}

QString rulesField(const NameRules& rules)
{
    QStringList words;
    words << (rules.foldsCase ? QStringLiteral("maiuscole-uguali") : QStringLiteral("maiuscole-distinte"));
    if (rules.windowsNames)
        words << QStringLiteral("nomi-windows");
    if (rules.assumed)
        words << QStringLiteral("supposte");
    return words.join(QLatin1Char(','));
}

std::optional<NameRules> rulesOf(QStringView field)
{
    NameRules rules;
    bool caseSaid = false;
    for (const QStringView word : field.split(u',')) {
        if (word == u"maiuscole-uguali" || word == u"maiuscole-distinte") {
            rules.foldsCase = word == u"maiuscole-uguali";
            caseSaid = true;
        } else if (word == u"nomi-windows") {
            rules.windowsNames = true;
        } else if (word == u"supposte") {
            rules.assumed = true;
        } else {
            return std::nullopt;
        }
    }
    if (!caseSaid)
        return std::nullopt;
    return rules;
}

// ---- Sections ----------------------------------------------------------------

// What closes a section: its end line carries a digest of the section's lines,
// so a section edited, or cut and joined to another, is told from a whole one.
QByteArray digestOf(const QByteArray& lines)
{
    return QCryptographicHash::hash(lines, QCryptographicHash::Sha256).toHex().left(16);
}

QByteArray section(const QStringList& lines)
{
    QByteArray body;
    for (const QString& line : lines)
        body += line.toUtf8() + '\n';
    return body + kEnd + '\t' + digestOf(body) + '\n';
}

// Reads one section's lines from \a at: nothing when the text ends before its
// end line (a section cut short), the lines otherwise, or a failure.
struct Cut
{
    QStringList lines;
    qsizetype next = 0;
    bool torn = false;
    QString error;
};

Cut readSection(const QByteArray& text, qsizetype at)
{
    Cut cut;
    qsizetype from = at;
    while (true) {
        const qsizetype nl = text.indexOf('\n', from);
        if (nl < 0) {
            cut.torn = true;
            return cut;
        }
        const QByteArray line = text.mid(from, nl - from);
        if (line.startsWith(kEnd + '\t')) {
            if (line.mid(kEnd.size() + 1) != digestOf(text.mid(at, from - at))) {
                cut.error = QStringLiteral("una sezione non corrisponde alla sua riga di chiusura "
                                           "(elenco modificato)");
                return cut;
            }
            cut.next = nl + 1;
            return cut;
        }
        QString decoded = QString::fromUtf8(line);
        if (decoded.toUtf8() != line) {
            cut.error = QStringLiteral("testo non in UTF-8");
            return cut;
        }
        cut.lines << decoded;
        from = nl + 1;
    }
}

QString lineError(const QString& line, const QString& what)
{
    return QStringLiteral("riga «%1»: %2").arg(escaped(line.left(80), false), what);
}

std::optional<qint64> numberOf(QStringView field)
{
    bool ok = false;
    const qint64 n = field.toLongLong(&ok);
    return ok ? std::optional<qint64>(n) : std::nullopt;
}

QString parseHeader(const QStringList& lines, RunHeader& header)
{
    const QStringList first = lines.value(0).split(QLatin1Char('\t'));
    if (first.value(0) != QString::fromLatin1(kMagic))
        return QStringLiteral("non è un elenco di Archivon");
    const auto format = numberOf(first.value(1));
    if (!format || *format < 1)
        return lineError(lines.at(0), QStringLiteral("formato non valido"));
    if (*format > kRunListFormat)
        return QStringLiteral("formato %1, più recente di questa versione del programma").arg(*format);
    header.format = int(*format);
    bool id = false, start = false, previous = false, days = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList f = lines.at(i).split(QLatin1Char('\t'));
        const QString& key = f.at(0);
        if (key == u"esecuzione" && f.size() >= 2 && !id) {
            const auto v = unescaped(f.at(1));
            if (!v || v->isEmpty())
                return lineError(lines.at(i), QStringLiteral("identificativo non valido"));
            header.id = *v;
            id = true;
        } else if (key == u"inizio" && f.size() >= 2 && !start) {
            const auto t = timeOf(f.at(1));
            if (!t)
                return lineError(lines.at(i), QStringLiteral("ora non valida"));
            header.start = *t;
            start = true;
        } else if (key == u"precedente" && f.size() >= 2 && !previous) {
            const auto v = unescaped(f.at(1));
            if (!v)
                return lineError(lines.at(i), QStringLiteral("identificativo non valido"));
            header.previous = *v;
            previous = true;
        } else if (key == u"giorni" && f.size() >= 2 && !days) {
            const auto n = numberOf(f.at(1));
            if (!n || *n < 0)
                return lineError(lines.at(i), QStringLiteral("giorni non validi"));
            header.versionDays = int(*n);
            days = true;
        } else if (key == u"coppia" && f.size() >= 6) {
            ListedPair pair;
            const auto n = numberOf(f.at(1));
            const auto source = unescaped(f.at(2));
            const auto destination = unescaped(f.at(3));
            const auto folder = unescaped(f.at(4));
            const auto rules = rulesOf(f.at(5));
            if (!n || *n < 1 || *n > 4 || !source || !destination || !folder || !rules ||
                header.pairs.size() >= 4)
                return lineError(lines.at(i), QStringLiteral("coppia non valida"));
            header.pairs.append({int(*n), *source, *destination, *folder, *rules});
        } else {
            return lineError(lines.at(i), QStringLiteral("campo sconosciuto o ripetuto"));
        }
    }
    if (!id || !start || !previous || !days)
        return QStringLiteral("intestazione incompleta");
    return {};
}

QString parseBlock(const QStringList& lines, const RunHeader& header, RunBlock& block)
{
    const QStringList first = lines.value(0).split(QLatin1Char('\t'));
    const auto pair = numberOf(first.value(1));
    if (!pair || std::none_of(header.pairs.begin(), header.pairs.end(),
                              [&](const ListedPair& p) { return p.number == *pair; }))
        return lineError(lines.value(0), QStringLiteral("coppia sconosciuta"));
    block.pair = int(*pair);
    block.changes.reserve(lines.size() - 1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList f = lines.at(i).split(QLatin1Char('\t'));
        const auto kind = valueOf(kChanges, f.at(0));
        if (!kind)
            return lineError(lines.at(i), QStringLiteral("modifica sconosciuta"));
        ListedChange change;
        change.kind = ListedChange::Kind(*kind);
        bool ok = true;
        if (change.kind == ListedChange::Kind::Added) {
            const auto entry = valueOf(kKinds, f.value(1));
            const auto size = numberOf(f.value(2));
            const auto time = numberOf(f.value(3));
            const auto path = pathOf(f.value(4));
            ok = entry && size && time && path;
            if (ok) {
                change.entry = EntryKind(*entry);
                change.size = *size;
                change.modifiedNs = *time;
                change.path = *path;
            }
        } else if (change.kind == ListedChange::Kind::Fingerprint) {
            const auto fingerprint = Fingerprint::fromHex(f.value(1));
            const auto size = numberOf(f.value(2));
            const auto path = pathOf(f.value(3));
            ok = f.size() >= 4 && fingerprint && size && *size >= 0 && path;
            if (ok) {
                change.fingerprint = fingerprint;
                change.size = *size;
                change.path = *path;
            }
        } else if (change.kind == ListedChange::Kind::VersionFingerprint) {
            const QString none = QStringLiteral("-");
            const auto fingerprint = Fingerprint::fromHex(f.value(1));
            const auto size = numberOf(f.value(2));
            const auto path = pathOf(f.value(3));
            const QString mark = f.value(4);
            ok = f.size() >= 5 && (fingerprint || f.value(1) == none) && size && *size >= 0 && path &&
                 (mark == none || mark == u"danneggiato");
            if (ok) {
                change.fingerprint = fingerprint;
                change.size = *size;
                change.path = *path;
                change.damaged = mark != none;
            }
        } else if (change.kind == ListedChange::Kind::Rewritten) {
            const auto had = numberOf(f.value(1));
            ok = had && (*had == 0 || *had == 1);
            change.size = had.value_or(0);
        } else {
            const auto path = pathOf(f.value(1));
            const auto other = pathOf(f.value(2));
            ok = path && other;
            if (ok) {
                change.path = *path;
                change.other = *other;
            }
        }
        if (!ok)
            return lineError(lines.at(i), QStringLiteral("campi non validi"));
        block.changes.push_back(std::move(change));
    }
    return {};
}

QString parseSummary(const QStringList& lines, RunSummary& summary)
{
    const QStringList f = lines.value(0).split(QLatin1Char('\t'));
    const auto outcome = valueOf(kOutcomes, f.value(1));
    const auto start = timeOf(f.value(2));
    const auto end = timeOf(f.value(3));
    const auto added = numberOf(f.value(4));
    const auto replaced = numberOf(f.value(5));
    const auto removed = numberOf(f.value(6));
    if (lines.size() != 1 || !outcome || !start || !end || !added || !replaced || !removed)
        return lineError(lines.value(0), QStringLiteral("riepilogo non valido"));
    summary = {RunOutcome(*outcome), *start, *end, *added, *replaced, *removed};
    return {};
}

// The sections after the header, from \a at to the end of \a text, into
// \a list; what is wrong with them, or nothing.
QString readSections(const QByteArray& text, qsizetype at, RunList& list)
{
    for (; at < text.size();) {
        if (list.summary)
            return QStringLiteral("testo dopo il riepilogo");
        const Cut cut = readSection(text, at);
        if (!cut.error.isEmpty())
            return cut.error;
        if (cut.torn) // the last section, cut short: what it named never began
            break;
        at = cut.next;
        const QString kind = cut.lines.value(0).section(QLatin1Char('\t'), 0, 0);
        QString error;
        if (kind == u"blocco") {
            RunBlock block;
            error = parseBlock(cut.lines, list.header, block);
            list.blocks.push_back(std::move(block));
        } else if (kind == u"riepilogo") {
            list.summary.emplace();
            error = parseSummary(cut.lines, *list.summary);
        } else {
            error = lineError(cut.lines.value(0), QStringLiteral("sezione sconosciuta"));
        }
        if (!error.isEmpty())
            return error;
    }
    return {};
}

Result<RunList> parse(const QByteArray& text, bool headerOnly)
{
    const auto refused = [](const QString& why) { return Result<RunList>::failure(why); };
    RunList list;
    if (!text.startsWith(kMagic + '\t'))
        return refused(QStringLiteral("non è un elenco di Archivon"));
    const Cut cut = readSection(text, 0);
    if (!cut.error.isEmpty())
        return refused(cut.error);
    if (cut.torn)
        return refused(QStringLiteral("intestazione incompleta"));
    if (const QString error = parseHeader(cut.lines, list.header); !error.isEmpty())
        return refused(error);
    if (!headerOnly) {
        if (const QString error = readSections(text, cut.next, list); !error.isEmpty())
            return refused(error);
    }
    return list;
}

// Where the first section that begins in \a tail starts: after the first end
// line that follows a line's start (the tail may begin inside a line); -1
// when there is none, the last section being cut short.
qsizetype firstSectionIn(const QByteArray& tail)
{
    qsizetype at = tail.indexOf('\n');
    while (at >= 0) {
        const qsizetype nl = tail.indexOf('\n', at + 1);
        if (nl < 0)
            return -1;
        if (tail.mid(at + 1, kEnd.size() + 1) == kEnd + '\t')
            return nl + 1;
        at = nl;
    }
    return -1;
}

} // namespace

const ListedPair* RunHeader::pairFor(const QString& destination) const
{
    for (const ListedPair& pair : pairs) {
        if (nameKey(pair.destination, pair.rules) == nameKey(destination, pair.rules))
            return &pair;
    }
    return nullptr;
}

QByteArray headerText(const RunHeader& header)
{
    QStringList lines;
    lines << QStringLiteral("%1\t%2").arg(QString::fromLatin1(kMagic)).arg(kRunListFormat)
          << QStringLiteral("esecuzione\t") + escaped(header.id, false)
          << QStringLiteral("inizio\t") + timeField(header.start)
          << QStringLiteral("precedente\t") + escaped(header.previous, false)
          << QStringLiteral("giorni\t%1").arg(header.versionDays);
    for (const ListedPair& p : header.pairs)
        lines << QStringLiteral("coppia\t%1\t%2\t%3\t%4\t%5")
                     .arg(p.number)
                     .arg(escaped(p.source, false), escaped(p.destination, false),
                          escaped(p.folder, false), rulesField(p.rules));
    return section(lines);
}

QByteArray blockText(const RunBlock& block)
{
    QStringList lines;
    lines.reserve(qsizetype(block.changes.size()) + 1);
    lines << QStringLiteral("blocco\t%1").arg(block.pair);
    for (const ListedChange& c : block.changes)
        lines << changeLine(c);
    return section(lines);
}

QString changeLine(const ListedChange& c)
{
    const QString kind = wordFor(kChanges, int(c.kind));
    const QString none = QStringLiteral("-");
    switch (c.kind) {
    case ListedChange::Kind::Added:
        return QStringLiteral("%1\t%2\t%3\t%4\t%5")
            .arg(kind, wordFor(kKinds, int(c.entry)))
            .arg(c.size)
            .arg(c.modifiedNs)
            .arg(pathField(c.path));
    case ListedChange::Kind::Rewritten:
        return QStringLiteral("%1\t%2").arg(kind).arg(c.size != 0 ? 1 : 0);
    case ListedChange::Kind::Fingerprint:
        return kind + QLatin1Char('\t') + (c.fingerprint ? c.fingerprint->hex() : none) +
               QLatin1Char('\t') + QString::number(c.size) + QLatin1Char('\t') + pathField(c.path);
    case ListedChange::Kind::VersionFingerprint:
        return kind + QLatin1Char('\t') + (c.fingerprint ? c.fingerprint->hex() : none) +
               QLatin1Char('\t') + QString::number(c.size) + QLatin1Char('\t') + pathField(c.path) +
               QLatin1Char('\t') + (c.damaged ? QStringLiteral("danneggiato") : none);
    default:
        return QStringLiteral("%1\t%2\t%3").arg(kind, pathField(c.path), pathField(c.other));
    }
}

QByteArray summaryText(const RunSummary& s)
{
    return section({QStringLiteral("riepilogo\t%1\t%2\t%3\t%4\t%5\t%6")
                        .arg(wordFor(kOutcomes, int(s.outcome)), timeField(s.start), timeField(s.end))
                        .arg(s.added)
                        .arg(s.replaced)
                        .arg(s.removed)});
}

Result<RunList> parseRunList(const QByteArray& text)
{
    return parse(text, false);
}

Result<RunList> readRunList(const QString& path)
{
    const auto named = [&](const QString& why) {
        return Result<RunList>::failure(QStringLiteral("%1: %2").arg(path, why));
    };
    const auto text = readSmallFile(path, kLargestList);
    if (!text)
        return named(text.error());
    const auto list = parseRunList(*text);
    return list ? list : named(list.error());
}

Result<RunList> readRunListEnds(const QString& path)
{
    const auto named = [&](const QString& why) {
        return Result<RunList>::failure(QStringLiteral("%1: %2").arg(path, why));
    };
    const auto host = toHost(path);
    if (!host)
        return named(driveNotReadyReason());
    QFile file(*host);
    if (!file.open(QIODevice::ReadOnly))
        return named(file.errorString());
    const qint64 size = file.size();
    if (size <= kHeadBytes + kTailBytes) {
        const auto list = parseRunList(file.readAll());
        return list ? list : named(list.error());
    }
    const auto head = parse(file.read(kHeadBytes), true);
    if (!head)
        return named(head.error());
    if (!file.seek(size - kTailBytes))
        return named(file.errorString());
    const QByteArray tail = file.read(kTailBytes);
    if (tail.size() != kTailBytes)
        return named(QStringLiteral("lettura incompleta: %1").arg(file.errorString()));
    RunList list = head.value();
    const qsizetype first = firstSectionIn(tail);
    if (first < 0)
        return list; // the last section cut short: a run that never ended
    if (const QString error = readSections(tail, first, list); !error.isEmpty())
        return named(error);
    // Only the last blocks were read: none is given rather than a part.
    list.blocks.clear();
    return list;
}

QString newRunId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString newestListId(const QString& versionsRoot)
{
    QString newest;
    QDateTime newestStart;
    QString unreadable;
    QDateTime unreadableStamp;
    DirSearch search(joinPath(versionsRoot, QStringLiteral("*.*")), Hidden | System | Directory);
    for (QString name = search.next(); !name.isEmpty(); name = search.next()) {
        const auto stamp = startOf(name);
        if (!stamp || !(search.lastAttributes() & Directory))
            continue;
        const auto host = toHost(joinPath(joinPath(versionsRoot, name), kRunListName));
        QFile file(host.value_or(QString()));
        if (!host || !file.open(QIODevice::ReadOnly))
            continue; // no list: a run of an older version, or one killed before it wrote any
        const auto list = parse(file.read(64 * 1024), true);
        if (list && (newest.isEmpty() || list.value().header.start > newestStart)) {
            newest = list.value().header.id;
            newestStart = list.value().header.start;
        } else if (!list && (unreadable.isEmpty() || *stamp > unreadableStamp)) {
            unreadable = name;
            unreadableStamp = *stamp;
        }
    }
    // Folder names are local times; a list that cannot be read is judged by
    // its folder's, the only time it gives.
    if (!unreadable.isEmpty() && (newest.isEmpty() || unreadableStamp >= newestStart.toLocalTime()))
        return QStringLiteral("illeggibile:") + unreadable;
    return newest;
}

RunListWriter::RunListWriter(QString datedFolder) : m_path(joinPath(datedFolder, kRunListName)) {}

Status RunListWriter::begin(const RunHeader& header)
{
    return writeInPlace(m_path, headerText(header));
}

Status RunListWriter::add(const RunBlock& block)
{
    return appendToFile(m_path, blockText(block));
}

Status RunListWriter::end(const RunSummary& summary)
{
    return appendToFile(m_path, summaryText(summary));
}

} // namespace archivon::versions
