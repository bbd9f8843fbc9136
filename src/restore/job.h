#pragma once

// The inside of a restore: the pairs it gives back, each with its moment and
// where it goes, and the walk that writes them. Only src/restore uses it.

#include "index/index.h"
#include "restore/backup.h"
#include "restore/moment.h"
#include "record/jobrecord.h"
#include "restore/restore.h"

#include <QHash>
#include <QStringList>

#include <atomic>
#include <vector>

namespace archivon::restore::detail {

/// One pair to give back.
struct Job
{
    const ComputerBackup* backup = nullptr;
    const PairBackup* pair = nullptr;
    Moment moment;
    RelativePath scope; ///< below the pair's folder; empty: all of it
    QString target;     ///< the folder the pair's folder becomes
};

/// What was, or would be, done.
struct Tally
{
    qint64 written = 0, writtenBytes = 0;
    qint64 beside = 0, besideBytes = 0;
    qint64 left = 0, leftBytes = 0;
    qint64 folders = 0;
    qint64 notRestored = 0;
};

/// Files and bytes written of the total.
class Meter : public JobMeter
{
public:
    Meter(const Progress& progress, qint64 files, qint64 bytes)
        : JobMeter(progress.terminal, progress.show, files, bytes)
    {
    }
};

/// What the index of a job's pair says each file of the backup holds, for
/// the part of the pair the job gives back.
class Expected
{
public:
    /// Reads the index of \a job's pair. No index, or one that does not read,
    /// is no fingerprint known: \a note then says why, when there is anything
    /// to say.
    static Expected read(const Job& job, QString& note);

    /// The fingerprint of the mirror's file at \a path, listed as \a listed:
    /// only where the index's entry is of that very size and time.
    std::optional<platform::Fingerprint> ofMirror(const RelativePath& path, const Tree::Entry& listed) const;
    /// The entry of the versions section for \a path in the dated folder \a stamp.
    const index::VersionEntry* version(const QString& stamp, const RelativePath& path) const;
    /// The fingerprint of the file at \a path in the dated folder \a stamp, of \a size bytes.
    std::optional<platform::Fingerprint> ofVersion(const QString& stamp, const RelativePath& path, qint64 size) const;

private:
    QHash<QString, index::Entry> m_files;              // by path field
    QHash<QString, index::VersionEntry> m_versions;    // by stamp, a tab, path field
};

/// One content of a file in a dated folder, as --versioni names it.
struct DatedVersion
{
    std::size_t run = 0; ///< in ComputerBackup::runs
    int entry = -1;      ///< in the pair's tree of that run's dated folder
};
/// Every content of the file at \a path (below the pair's folder) that the
/// dated folders hold, oldest first.
std::vector<DatedVersion> datedVersionsOf(const ComputerBackup& backup, const PairBackup& pair,
                                          const RelativePath& path);

/// Walks each job's moment and writes it out, or, dry, only counts.
class Writer
{
public:
    Writer(QString stamp, bool dryRun, const std::atomic<bool>* stop, Meter& meter)
        : m_stamp(std::move(stamp)), m_dry(dryRun), m_stop(stop), m_meter(meter)
    {
    }
    void run(const Job& job);

    std::vector<Tally> perPair;
    Tally total;
    QStringList beside;      ///< "what: where it went"
    QStringList notRestored; ///< "what: why"
    QStringList notes;       ///< what the user should know of how it was done
    qint64 damaged = 0;      ///< files not written since the backup's copy is damaged
    bool stopped = false;

private:
    struct Slot
    {
        QString path;
        bool fresh = false;   // made by this restore: nothing in it to meet
        bool blocked = false; // could not be made: nothing goes below
    };
    void entry(const Job& job, const RelativePath& path, EntryKind kind, const Place& place);
    void folder(const QString& shown, const QString& name, const Slot& parent, std::size_t depth);
    void file(const Job& job, const RelativePath& path, const QString& shown, const QString& name,
              const Slot& parent, const Place& place);
    bool write(const QString& source, const QString& target, qint64 size, const QString& shown,
               const std::optional<platform::Fingerprint>& expected);
    std::optional<platform::Fingerprint> expectedOf(const Job& job, const Place& place) const;
    QString wholeEarlier(const Job& job, const RelativePath& path, const Place& place) const;
    QString besideName(const QString& folder, const QString& name, bool isFile) const;
    void notDone(const QString& shown, const QString& why);

    QString m_stamp;
    bool m_dry = false;
    const std::atomic<bool>* m_stop = nullptr;
    Meter& m_meter;
    std::vector<Slot> m_slots;
    Tally* m_pair = nullptr;
    Expected m_expected;
    bool m_damagedNow = false; // the file just written was not what the backup copied
};

/// Files and bytes a job gives back, from the listings alone.
std::pair<qint64, qint64> sizeOf(const Job& job);

/// Whether \a path is \a scope, lies in it, or holds it.
bool inScope(const RelativePath& path, const RelativePath& scope);

/// The record of a restore, in the local log folder, beside the backups' own.
QString writeRecord(const Request& request, const QString& computer, const Outcome& outcome);

} // namespace archivon::restore::detail
