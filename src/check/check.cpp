#include "check/check.h"

#include "check/meter.h"
#include "index/index.h"
#include "lock/runlock.h"
#include "plan/layout.h"
#include "plan/plan.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/fingerprint.h"
#include "platform/identity.h"
#include "platform/names.h"
#include "record/checklog.h"
#include "versions/fields.h"
#include "versions/versions.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMap>

#include <algorithm>

namespace archivon::check {

using namespace platform;
using versions::RelativePath;

namespace {

constexpr qint64 kDaySeconds = 24 * 3600;
constexpr qint64 kLatelyDays = 30;
// How often, at most, the lock is looked at for a backup that wants the folder.
constexpr qint64 kAskedPollMs = 200;

// What a check finds of one file, beyond its being whole.
enum class Case {
    Whole,
    Damaged,          // same size and time as the index, another content
    ChangedOnShare,   // size or time differ from the index: someone wrote on R:
    DateOnly,         // the content of the index, only its time moved: no problem
    Missing,          // in the index, not in the backup
    SourceNoTime,     // the source changed without its time
    BothDiffer,       // backup and source both differ from the index
    StaleIndex,       // backup and source equal, the index behind them
    SourceWritten,    // the source changed while it was read
    NoFingerprint,    // no fingerprint to go by yet
    Link,             // a link on R:, which a backup never holds
    Unreadable,
};

QString caseText(Case c)
{
    switch (c) {
    case Case::Whole:
        return QStringLiteral("integro");
    case Case::Damaged:
        return QStringLiteral("backup danneggiato: stessa dimensione e data dell'indice, contenuto diverso "
                              "(il prossimo backup lo ricopia)");
    case Case::ChangedOnShare:
        return QStringLiteral("backup cambiato su R: da qualcuno: dimensione o data diverse dall'indice");
    case Case::DateOnly:
        return QStringLiteral("solo la data è cambiata su R:: il contenuto è quello dell'indice");
    case Case::Missing:
        return QStringLiteral("manca nel backup: l'indice lo elenca");
    case Case::SourceNoTime:
        return QStringLiteral("l'originale è cambiato senza cambiare data: il backup non lo ricopia, "
                              "controllare quale dei due è giusto");
    case Case::BothDiffer:
        return QStringLiteral("cambiati sia il backup sia l'originale rispetto all'indice");
    case Case::StaleIndex:
        return QStringLiteral("indice non aggiornato: backup e originale sono uguali, l'indice no "
                              "(un backup interrotto?); l'indice è corretto");
    case Case::SourceWritten:
        return QStringLiteral("l'originale è stato scritto mentre veniva letto: non confrontato");
    case Case::NoFingerprint:
        return QStringLiteral("nessuna impronta ancora: causa sconosciuta");
    case Case::Link:
        return QStringLiteral("collegamento su R:, che il backup non contiene mai: non seguito");
    case Case::Unreadable:
        return QStringLiteral("impossibile leggere");
    }
    return {};
}

struct Found
{
    qint64 size = 0;
    qint64 modifiedNs = 0;
    bool link = false;
};

// One file to read: of the mirror or of a dated folder, in the index or not.
struct Item
{
    int pair = 0;
    qsizetype entry = -1;   // in the pair's index files (or versions); -1: not in it
    bool version = false;
    QString field;          // its path, as the index writes it
    QString backupPath;
    QString sourcePath;     // mirror files only
    std::optional<Found> found; // what the listing of the backup saw
    qint64 checkedAt = 0;
};

struct PairState
{
    QString destination;
    QString indexFile;
    std::optional<index::PairIndex> index; // what it said, or an empty one where there was none
    QString unreadable;                    // why the index could not be read
    std::vector<index::Entry> added;       // files the index did not have
    bool touched = false;   // something to write: at least when files were read
    bool weighty = false;   // more than those times: marks or fingerprints
};

// The files of a backup folder below \a folder, by their path field: links
// named, never followed; hidden entries (the runs' own) left out.
// \a goOn is asked at each folder, and the listing ends when it says no.
void listFiles(const QString& folder, const RelativePath& below, QMap<QString, std::pair<RelativePath, Found>>& out,
               QStringList& errors, const std::function<bool()>& goOn)
{
    if (!goOn())
        return;
    DirSearch search(joinPath(folder, QStringLiteral("*.*")), Hidden | System | Directory, true);
    for (QString name = search.next(); !name.isEmpty(); name = search.next()) {
        const unsigned attrs = search.lastAttributes();
        const DirSearch::Details& d = search.lastDetails();
        if (attrs & Hidden)
            continue;
        const RelativePath path = below + RelativePath{name};
        if (d.link)
            out.insert(versions::pathField(path), {path, Found{0, 0, true}});
        else if (attrs & Directory)
            listFiles(joinPath(folder, name), path, out, errors, goOn);
        else if (!(attrs & System))
            out.insert(versions::pathField(path), {path, Found{d.size, d.modifiedNs, false}});
    }
    if (!search.ok())
        errors << QStringLiteral("%1: cartella non letta fino in fondo: %2").arg(folder, search.error());
}

QString pathBelow(const QString& folder, const QString& field)
{
    const auto path = versions::pathOf(field);
    QString at = folder;
    for (const QString& name : path.value_or(RelativePath{}))
        at = joinPath(at, name);
    return at;
}

// Size and time of a file, the link itself looked at; nothing for anything but a file.
std::optional<Found> statFile(const QString& path)
{
    DirSearch search(path, Hidden | System, true);
    if (search.next().isEmpty() || search.lastDetails().link || !(search.lastAttributes() & Archive))
        return std::nullopt;
    return Found{search.lastDetails().size, search.lastDetails().modifiedNs, false};
}

qint64 cut(qint64 ns, qint64 step)
{
    return ns - ns % step;
}

class Check
{
public:
    Check(const Request& request, const Progress& progress, const std::atomic<bool>* stop, RunLock& lock)
        : m_request(request), m_progress(progress), m_stop(stop), m_lock(lock)
    {
        m_asked.start();
    }

    bool goOn(qint64 = 0);
    void collect(const BackupPlan& plan);
    void read();
    void write(Outcome& o, QStringList& notes);
    qint64 stillDamaged() const;

    std::vector<PairState> pairs;
    std::vector<Item> items;
    QStringList findings;
    QStringList notes; // what is not of one file: indexes, folders not listed
    qint64 read_ = 0, damaged = 0, damagedVersions = 0, changed = 0, fresh = 0, dateOnly = 0, selected = 0;
    qint64 now = QDateTime::currentSecsSinceEpoch();
    bool stopped = false, gaveWay = false;
    qint64 timeStep = 2000000000;

private:
    void found(const Item& item, Case c, const QString& detail = {});
    bool readOne(Item& item, Meter& meter);
    void readFile(Item& item, Meter& meter);
    void readVersion(Item& item, Meter& meter);
    std::optional<Fingerprint> fingerprint(const QString& path, Meter& meter, QString& error);
    bool sameTime(qint64 a, qint64 b) const { return cut(a, timeStep) == cut(b, timeStep); }

    const Request& m_request;
    const Progress& m_progress;
    const std::atomic<bool>* m_stop;
    RunLock& m_lock;
    QElapsedTimer m_asked;
};

bool Check::goOn(qint64)
{
    if (stopped || gaveWay)
        return false;
    if (m_stop && m_stop->load()) {
        stopped = true;
        return false;
    }
    if (m_asked.elapsed() >= kAskedPollMs) {
        m_asked.restart();
        gaveWay = m_lock.askedToGiveWay();
    }
    return !gaveWay;
}

void Check::found(const Item& item, Case c, const QString& detail)
{
    if (c == Case::Damaged) {
        ++damaged;
        damagedVersions += item.version ? 1 : 0;
    }
    else if (c == Case::NoFingerprint)
        ++fresh;
    else if (c == Case::DateOnly)
        ++dateOnly;
    else
        ++changed;
    const QString line =
        QStringLiteral("%1: %2%3").arg(item.backupPath, caseText(c), detail.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(detail));
    findings << line;
    if (m_progress.finding)
        m_progress.finding(line);
}

void Check::collect(const BackupPlan& plan)
{
    const QString root = plan.backupRoot();
    // A backup that asks for the folder while the backup is listed and the
    // indexes read gets it at once: nothing has been read yet.
    const auto goingOn = [this] { return goOn(); };
    for (int n = 1; n <= 4 && goOn(); ++n) {
        const BackupPair& pair = plan.pairs[std::size_t(n - 1)];
        PairState state;
        state.destination = pair.destination;
        state.indexFile = index::fileFor(root, pair.destination);
        auto read = index::readWholeIndex(state.indexFile);
        // An index of another folder (copied, or its name shared) says nothing of this one.
        if (read && *read && read->value().destination.compare(pair.destination, Qt::CaseInsensitive) != 0)
            read = Result<index::PairIndex>::failure(
                QStringLiteral("è di un'altra cartella, %1").arg(read->value().destination));
        if (read && !*read) {
            state.unreadable = read->error();
            notes << QStringLiteral("%1: indice illeggibile (%2): lasciato com'è; i suoi file sono letti come "
                                    "senza impronta, senza registrarne alcuna")
                         .arg(state.indexFile, read->error());
            ++changed;
        } else {
            state.index = read ? read->value() : index::PairIndex{pair.destination, {}, {}};
        }
        const int p = int(pairs.size());
        QMap<QString, std::pair<RelativePath, Found>> listed;
        const auto attrs = linkAttributes(pair.destination);
        if (attrs && (*attrs & Directory))
            listFiles(pair.destination, {}, listed, notes, goingOn);
        if (!goOn())
            return;
        const auto add = [&](qsizetype entry, const QString& field, qint64 checkedAt) {
            Item item;
            item.pair = p;
            item.entry = entry;
            item.field = field;
            item.backupPath = pathBelow(pair.destination, field);
            item.sourcePath = pathBelow(pair.source, field);
            item.checkedAt = checkedAt;
            if (const auto at = listed.constFind(field); at != listed.constEnd()) {
                item.found = at->second;
                listed.erase(at);
            }
            items.push_back(std::move(item));
        };
        if (state.index) {
            for (qsizetype e = 0; e < qsizetype(state.index->files.size()); ++e)
                add(e, state.index->files[std::size_t(e)].path, state.index->files[std::size_t(e)].checkedAt);
        }
        for (const QString& field : listed.keys())
            add(-1, field, 0);
        if (m_request.versions && state.index) {
            const QString versionsRoot = versions::rootFor(pair.destination, root);
            const QString pairFolder = versions::pairFolder(plan, n, probeNameRules(versionsRoot));
            for (qsizetype e = 0; e < qsizetype(state.index->versions.size()); ++e) {
                const index::VersionEntry& v = state.index->versions[std::size_t(e)];
                Item item;
                item.pair = p;
                item.entry = e;
                item.version = true;
                item.field = v.path;
                item.backupPath = pathBelow(joinPath(joinPath(versionsRoot, v.stamp), pairFolder), v.path);
                item.checkedAt = v.checkedAt;
                item.found = statFile(item.backupPath);
                if (!item.found && linkAttributes(item.backupPath))
                    item.found = Found{0, 0, true}; // there, but not a file
                items.push_back(std::move(item));
            }
        }
        pairs.push_back(std::move(state));
    }
}

std::optional<Fingerprint> Check::fingerprint(const QString& path, Meter& meter, QString& error)
{
    const auto content = fingerprintFile(path, true, [&](qint64 bytes) {
        meter.chunk(bytes);
        return goOn(bytes);
    });
    if (!content) {
        if (!stopped && !gaveWay)
            error = content.error();
        return std::nullopt;
    }
    return content.value().fingerprint;
}

void Check::readFile(Item& item, Meter& meter)
{
    PairState& pair = pairs[std::size_t(item.pair)];
    index::Entry* entry = item.entry >= 0 ? &pair.index->files[std::size_t(item.entry)] : nullptr;
    if (item.found && item.found->link) {
        found(item, Case::Link);
    } else if (!item.found) {
        found(item, Case::Missing);
    } else {
        QString error;
        const auto backup = fingerprint(item.backupPath, meter, error);
        if (!backup) {
            if (!error.isEmpty())
                found(item, Case::Unreadable, error);
            return;
        }
        const Found& b = *item.found;
        const bool backupAsIndex = entry && entry->size == b.size && sameTime(entry->modifiedNs, b.modifiedNs);
        // The source, where asked: read when it could tell something.
        std::optional<Fingerprint> source;
        std::optional<Found> s;
        bool sourceAsIndex = false, sourceAsBackup = false;
        if (m_request.source && entry && entry->fingerprint) {
            s = statFile(item.sourcePath);
            // Where the index has its time from the backup (a check recorded it), that
            // time is only as fine as the share keeps it.
            sourceAsIndex = s && s->size == entry->size && sameTime(s->modifiedNs, entry->modifiedNs);
            sourceAsBackup = s && s->size == b.size && sameTime(s->modifiedNs, b.modifiedNs);
            if (sourceAsIndex || (sourceAsBackup && !backupAsIndex)) {
                QString sourceError;
                source = fingerprint(item.sourcePath, meter, sourceError);
                if (stopped || gaveWay)
                    return;
                const auto after = statFile(item.sourcePath);
                if (source && (!after || after->size != s->size || after->modifiedNs != s->modifiedNs)) {
                    found(item, Case::SourceWritten);
                    source.reset();
                    s.reset();
                }
            }
        }
        if (!entry || !entry->fingerprint) {
            if (entry && !backupAsIndex) {
                found(item, Case::ChangedOnShare);
            } else {
                found(item, Case::NoFingerprint,
                      pair.index ? QStringLiteral("registrata ora quella del backup")
                                 : QStringLiteral("l'indice illeggibile resta com'è: non registrata"));
                index::Entry fresh;
                fresh.path = item.field;
                fresh.size = b.size;
                fresh.modifiedNs = b.modifiedNs;
                if (entry)
                    fresh = *entry;
                fresh.fingerprint = *backup;
                fresh.origin = index::Origin::Backup;
                fresh.checkedAt = now;
                if (entry)
                    *entry = fresh;
                else
                    pair.added.push_back(fresh);
                pair.touched = pair.weighty = true;
            }
        } else if (backupAsIndex && *backup == *entry->fingerprint) {
            pair.weighty |= entry->mark != index::Mark::None;
            entry->mark = index::Mark::None; // read whole again (put right by hand, or copied anew)
            if (source && sourceAsIndex && *source != *entry->fingerprint)
                found(item, Case::SourceNoTime);
        } else if (source && sourceAsBackup && *source == *backup) {
            found(item, Case::StaleIndex);
            entry->size = s->size;
            entry->modifiedNs = s->modifiedNs;
            entry->fingerprint = *backup;
            entry->origin = index::Origin::Copy;
            entry->mark = index::Mark::None;
            pair.weighty = true;
        } else if (backupAsIndex) {
            found(item, Case::Damaged);
            entry->mark = index::Mark::Damaged;
            pair.weighty = true;
        } else if (entry->size == b.size && *backup == *entry->fingerprint) {
            found(item, Case::DateOnly);
        } else if (m_request.source && s && !(sourceAsIndex && source && *source == *entry->fingerprint)) {
            found(item, Case::BothDiffer);
        } else {
            found(item, Case::ChangedOnShare);
        }
    }
    if (entry) {
        entry->checkedAt = now;
        pair.touched = true;
    }
}

void Check::readVersion(Item& item, Meter& meter)
{
    PairState& pair = pairs[std::size_t(item.pair)];
    index::VersionEntry& entry = pair.index->versions[std::size_t(item.entry)];
    if (item.found && item.found->link) {
        found(item, Case::Link);
    } else if (!item.found) {
        found(item, Case::Missing);
    } else {
        QString error;
        const auto content = fingerprint(item.backupPath, meter, error);
        if (!content) {
            if (!error.isEmpty())
                found(item, Case::Unreadable, error);
            return;
        }
        if (!entry.fingerprint) {
            found(item, Case::NoFingerprint);
            entry.fingerprint = *content;
            pair.weighty = true;
        } else if (item.found->size != entry.size) {
            found(item, Case::ChangedOnShare);
        } else if (*content != *entry.fingerprint) {
            found(item, Case::Damaged);
            entry.mark = index::Mark::Damaged;
            pair.weighty = true;
        } else {
            pair.weighty |= entry.mark != index::Mark::None;
            entry.mark = index::Mark::None; // read whole again
        }
    }
    entry.checkedAt = now;
    pair.touched = true;
}

bool Check::readOne(Item& item, Meter& meter)
{
    if (!goOn())
        return false;
    meter.file(item.backupPath);
    if (item.version)
        readVersion(item, meter);
    else
        readFile(item, meter);
    if (stopped || gaveWay)
        return false;
    ++read_;
    item.checkedAt = now;
    meter.done(item.found ? item.found->size : 0);
    return true;
}

void Check::read()
{
    // Those read longest ago first, never read first of all; then by path.
    std::vector<Item*> order;
    for (Item& item : items)
        order.push_back(&item);
    std::stable_sort(order.begin(), order.end(), [](const Item* a, const Item* b) {
        if (a->checkedAt != b->checkedAt)
            return a->checkedAt < b->checkedAt;
        return a->backupPath < b->backupPath;
    });
    selected = (qint64(order.size()) * m_request.quota + 99) / 100;
    order.resize(std::size_t(selected));
    // Back in the order of the folders, which reads faster than that of the ages.
    std::sort(order.begin(), order.end(), [](const Item* a, const Item* b) { return a->backupPath < b->backupPath; });
    qint64 bytes = 0;
    for (const Item* item : order)
        bytes += item->found ? item->found->size : 0;
    Meter meter(m_progress, qint64(order.size()), bytes);
    for (Item* item : order) {
        if (!readOne(*item, meter))
            break;
    }
    meter.finish();
}

// The backup's files the indexes mark damaged after this check, whether it
// read them or not: each stays a problem until a run copies it again and a
// check reads it whole. Of the dated folders, only those this check found so:
// a damaged copy a run kept there stays marked for good.
qint64 Check::stillDamaged() const
{
    qint64 marked = damagedVersions;
    for (const PairState& pair : pairs) {
        if (!pair.index)
            continue;
        marked += std::count_if(pair.index->files.begin(), pair.index->files.end(),
                                [](const index::Entry& e) { return e.mark == index::Mark::Damaged; });
    }
    return marked;
}

void Check::write(Outcome&, QStringList& failures)
{
    for (PairState& pair : pairs) {
        if (!pair.index || !pair.touched)
            continue;
        // Asked for the folder: an index that would only learn when its files
        // were read is left, so that the backup waits less; those files are
        // read again first next time. Marks and fingerprints are written.
        if (!goOn() && gaveWay && !pair.weighty)
            continue;
        std::vector<index::Entry> files = std::move(pair.index->files);
        files.insert(files.end(), pair.added.begin(), pair.added.end());
        std::sort(files.begin(), files.end(), [](const index::Entry& a, const index::Entry& b) { return a.path < b.path; });
        index::IndexWriter writer(pair.indexFile, pair.destination);
        Status status;
        for (const index::Entry& e : files) {
            if (status)
                status = writer.add(e);
        }
        for (const index::VersionEntry& v : pair.index->versions) {
            if (status)
                status = writer.add(v);
        }
        if (status)
            status = writer.commit();
        if (!status)
            failures << QStringLiteral("%1: impossibile scrivere l'indice: %2").arg(pair.indexFile, status.error());
    }
}

Outcome refused(QString why)
{
    Outcome o;
    o.status = Outcome::Refused;
    o.error = std::move(why);
    return o;
}

QString reportOf(const Check& check)
{
    QStringList lines;
    lines << QStringLiteral("Letti %1 file di %2 (%3 da leggere)").arg(check.read_).arg(check.items.size()).arg(check.selected)
          << QStringLiteral("Danneggiati (ancora segnati negli indici): %1; altre differenze: %2; "
                            "senza impronta finora: %3; cambiata solo la data: %4")
                 .arg(check.damaged)
                 .arg(check.changed)
                 .arg(check.fresh)
                 .arg(check.dateOnly);
    if (!check.notes.isEmpty())
        lines << QStringLiteral("Da sapere (%1):").arg(check.notes.size());
    for (const QString& n : check.notes)
        lines << QStringLiteral("  ") + n;
    if (!check.findings.isEmpty())
        lines << QStringLiteral("File trovati (%1):").arg(check.findings.size());
    for (const QString& f : check.findings)
        lines << QStringLiteral("  ") + f;
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace

Outcome runCheck(const Request& request, const Progress& progress, const std::atomic<bool>* stop)
{
    const QString computer = request.computer.isEmpty() ? hostName() : request.computer;
    const auto recorded = [&](Outcome o) {
        o.logPath = writeRecord(request, computer, o);
        return o;
    };
    if (request.source && computer.compare(hostName(), Qt::CaseInsensitive) != 0)
        return recorded(refused(QStringLiteral("--sorgente legge le cartelle di questo computer (%1): con il "
                                               "backup di %2 non si può usare.")
                                    .arg(hostName(), computer)));
    if (request.quota < 1 || request.quota > 100)
        return recorded(refused(QStringLiteral("--quota vuole una percentuale da 1% a 100%.")));
    const BackupPlan plan = defaultPlan(computer, request.user);
    const QString root = plan.backupRoot();
    const auto attrs = linkAttributes(root);
    if (!attrs || !(*attrs & Directory))
        return recorded(refused(QStringLiteral("il backup %1 non c'è o non si può leggere%2.")
                                    .arg(root, attrs ? QString() : QStringLiteral(": ") + attrs.error())));
    const QDateTime start = QDateTime::currentDateTime();
    RunLock lock;
    const RunLock::Outcome taken = lock.acquire(root, computer, request.user, start, LockKind::Check);
    if (taken.result == RunLock::Result::Held)
        return recorded(refused(lockedMessage(taken.other.value_or(LockOwner{}), LockKind::Check)));
    if (taken.result == RunLock::Result::Failed)
        return recorded(
            refused(QStringLiteral("impossibile prendere il blocco di %1: %2").arg(root, taken.error)));

    Check check(request, progress, stop, lock);
    // The step of time the share keeps, asked inside this check's own lock.
    if (const auto keeps = probeKeeps(runLockPath(root)))
        check.timeStep = std::clamp<qint64>(keeps.value().timeStepNs, 1, 2000000000);
    check.collect(plan);
    check.read();
    check.damaged = check.stillDamaged();
    Outcome o;
    QStringList failures;
    check.write(o, failures);
    check.notes << failures;

    CheckSummary summary;
    summary.start = start;
    summary.end = QDateTime::currentDateTime();
    summary.read = check.read_;
    summary.total = qint64(check.items.size());
    summary.damaged = check.damaged;
    summary.changed = check.changed + qint64(failures.size());
    const qint64 lately = check.now - kLatelyDays * kDaySeconds;
    summary.readLately = std::count_if(check.items.begin(), check.items.end(), [&](const Item& item) {
        return item.checkedAt > 0 && item.checkedAt >= lately;
    });
    summary.user = request.user;
    summary.host = hostName();
    summary.outcome = check.gaveWay    ? CheckOutcome::GaveWay
                      : check.stopped  ? CheckOutcome::Stopped
                      : summary.damaged + summary.changed > 0 ? CheckOutcome::Problems
                                                              : CheckOutcome::Whole;
    const Status appended = appendCheckSummary(root, summary);
    if (!appended)
        check.notes << QStringLiteral("%1: impossibile aggiungere il riepilogo: %2; --stato non vede questa verifica")
                           .arg(checkLogPath(root), appended.error());
    lock.release();

    o.report = reportOf(check);
    // A check that --stato cannot see is not whole.
    o.status = check.gaveWay || check.stopped ? Outcome::Stopped
               : summary.damaged + summary.changed > 0 || !appended ? Outcome::Problems
                                                                    : Outcome::Whole;

    if (check.gaveWay)
        o.error = QStringLiteral("verifica interrotta per lasciare il posto a un backup: letti %1 file, con "
                                 "quanto trovato registrato nell'indice; la prossima verifica riprende dai file "
                                 "non letti.")
                      .arg(check.read_);
    else if (check.stopped)
        o.error = QStringLiteral("verifica interrotta: letti %1 file, registrati nell'indice.").arg(check.read_);
    if (!appended)
        o.error += (o.error.isEmpty() ? QString() : QStringLiteral("\r\n")) +
                   QStringLiteral("il riepilogo della verifica non è stato aggiunto a %1 (%2): --stato non la vede.")
                       .arg(checkLogPath(root), appended.error());
    return recorded(o);
}

} // namespace archivon::check
