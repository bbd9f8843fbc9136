#pragma once

// The list each run leaves in its dated folder, ".archivon-elenco": what the
// dated folder alone cannot tell of the run. The dated folder holds what the
// run removed or replaced; the list names what it added, what it renamed in
// case or set aside, what it put back or moved in from other names, and the
// pairs it rewrote whole, each block written before the changes it names
// begin. The format is told in docs/run-list.md.

#include "platform/fingerprint.h"
#include "platform/names.h"
#include "platform/result.h"
#include "versions/fields.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace archivon::versions {

inline const QString kRunListName = QStringLiteral(".archivon-elenco");

/// The format this version writes; it reads every one up to it.
constexpr int kRunListFormat = 2;

/// What an entry is, as a list names it.
enum class EntryKind : quint8 { File, Folder, Link };

/// A pair as the run that wrote the list had it.
struct ListedPair
{
    int number = 0; // 1 to 4
    QString source;
    QString destination;
    QString folder; // its place in the dated folder (versions::pairFolder)
    platform::NameRules rules; // of its destination
};

/// What a run notes of itself before anything changes.
struct RunHeader
{
    int format = kRunListFormat; // as read; written always as kRunListFormat
    QString id;
    QDateTime start; // with its offset from UTC
    QString previous; // the newest list on the share when the run began; empty for none
    int versionDays = 0; // 0: what it removed or replaced was not kept
    QList<ListedPair> pairs;

    const ListedPair* pairFor(const QString& destination) const;
};

/// One change a block names, in a pair's backup.
struct ListedChange
{
    enum class Kind : quint8 {
        Added,     ///< path (a new file, or a new folder with all below it) and what it is
        CaseFixed, ///< path renamed to other, which differs only in case
        SetAside,  ///< path moved to other, a hidden name beside it, for an entry of another kind
        PutBack,   ///< other, a hidden name an earlier run left, moved back to path
        MovedIn,   ///< path moved into the dated folder as other (its place in the pair's folder there)
        Rewritten, ///< the whole pair rewritten; size 1 when it had a backup to move aside, 0 when not
        /// path, a file this run wrote into the pair's backup: size the bytes
        /// written, fingerprint theirs
        Fingerprint,
        /// path, a file this run moved into the dated folder (its place in
        /// the pair's folder there): size its size, fingerprint the one the
        /// index held for it where that still fitted, damaged when the index
        /// marked it so
        VersionFingerprint,
    };
    Kind kind = Kind::Added;
    RelativePath path{};
    RelativePath other{};
    EntryKind entry = EntryKind::File;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    std::optional<platform::Fingerprint> fingerprint{};
    bool damaged = false;
};

/// Changes of one pair, written together before the first of them begins.
struct RunBlock
{
    int pair = 0;
    std::vector<ListedChange> changes{};
};

/// How a run ended, for its list.
enum class RunOutcome : quint8 { Completed, WithFailures, Stopped, EndedEarly, Refused, NothingDone };

struct RunSummary
{
    RunOutcome outcome = RunOutcome::Completed;
    QDateTime start;
    QDateTime end;
    qint64 added = 0;
    qint64 replaced = 0;
    qint64 removed = 0;
};

/// A list as read: its header, the blocks that were written whole, and its
/// summary once the run ended.
struct RunList
{
    RunHeader header;
    std::vector<RunBlock> blocks;
    std::optional<RunSummary> summary;
};

/// The texts of a list, in the order they are written.
QByteArray headerText(const RunHeader& header);
QByteArray blockText(const RunBlock& block);
/// The line of one change, with no end of line.
QString changeLine(const ListedChange& change);
QByteArray summaryText(const RunSummary& summary);

/// Reads a list's text. A last block or summary cut short (no end line) is
/// left out: what it named never began. A list that does not parse, whose
/// sections do not match their end lines, that goes on past its summary or
/// that is of a newer format, is refused with what is wrong with it.
Result<RunList> parseRunList(const QByteArray& text);

/// The list in \a path, read whole; a failure names it.
Result<RunList> readRunList(const QString& path);

/// The list in \a path, read at its ends only: its header, and whether its
/// last sections close with its summary. The blocks between, which a first
/// run's list holds by the hundred thousand, are not read, and none is given.
/// A list is refused as readRunList() refuses it for its header and for what
/// its last few kilobytes hold; one damaged further back reads as whole.
Result<RunList> readRunListEnds(const QString& path);

/// A new run's id, unique among every run of every computer.
QString newRunId();

/// The id of the newest list among the dated folders of \a versionsRoot, by the
/// starts they record, to be recorded as a run's previous one; empty when
/// there is none. A list whose header cannot be read, in a folder named later
/// than the newest start that can, gives an id no list has: a restore does not
/// go past it.
QString newestListId(const QString& versionsRoot);

/// Writes a run's list in its dated folder: the header once, then each block
/// before its changes begin, then the summary. Each is added at the end of the
/// file as one write.
class RunListWriter
{
public:
    explicit RunListWriter(QString datedFolder);

    /// Writes the list anew with \a header alone.
    Status begin(const RunHeader& header);
    Status add(const RunBlock& block);
    Status end(const RunSummary& summary);

    const QString& path() const { return m_path; }

private:
    QString m_path;
};

} // namespace archivon::versions
