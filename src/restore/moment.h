#pragma once

// The backup of a pair as it was at a moment, worked out from listings alone:
// the mirror as it is, each run's list, and the pair's folder in each run's
// dated folder. Nothing here touches a disk. Starting from the mirror, the
// runs after the moment are undone, the newest first: what a run added goes,
// its dated folder is laid over what is left, and its renames go back.

#include "platform/result.h"
#include "versions/reach.h"
#include "versions/runlist.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace archivon::restore {

using versions::EntryKind;
using versions::Reach;
using versions::RelativePath;
using versions::shownMoment;

/// A folder tree as listed: a pair's folder in the mirror, or in a dated folder.
class Tree
{
public:
    struct Entry
    {
        QString name;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        int parent = -1; // -1: the top of the tree
        EntryKind kind = EntryKind::File;
    };

    /// Adds an entry below \a parent (-1: the top) and returns its index; a
    /// folder is added before what it holds.
    int add(int parent, QString name, EntryKind kind, qint64 size = 0, qint64 modifiedNs = 0);
    const Entry& at(int entry) const { return m_entries[std::size_t(entry)]; }
    int count() const { return int(m_entries.size()); }
    /// The path of \a entry below the top; empty for -1, the top itself.
    RelativePath pathOf(int entry) const;
    void reserve(int entries) { m_entries.reserve(std::size_t(entries)); }

private:
    std::vector<Entry> m_entries;
};

/// Where the content of a path lies at a moment.
struct Place
{
    int run = -1;   ///< -1: the mirror; otherwise the index in History::runs of the run whose dated folder holds it
    int entry = -1; ///< in that tree; -1 for its top, the pair's folder itself
    bool operator==(const Place&) const = default;
};

/// What the share holds of one pair: passed in, never read here.
struct History
{
    struct Run
    {
        const versions::RunList* list = nullptr;
        /// The pair's folder in the run's dated folder (named as the list says);
        /// null when there is none.
        const Tree* dated = nullptr;
    };
    /// A dated folder whose list is there but does not parse.
    using Refused = versions::RefusedList;

    QString destination;          ///< the pair's, as the lists name it
    const Tree* mirror = nullptr; ///< the pair's folder as it is; null when it is not there
    std::vector<Run> runs;        ///< in any order
    std::vector<Refused> refused;
    /// Starts (from their names) of dated folders without a list: runs of an
    /// older version.
    std::vector<QDateTime> unlisted;

    /// What the reach is worked out from: the runs' lists, in the order of runs.
    versions::RunHistory lists() const;
};

namespace detail {

// A name in a folder of a moment, matched as the destination matches names,
// without a folded copy of every name.
struct NameInFolder
{
    int parent = -1;
    bool folds = false;
    QString name;
    bool operator==(const NameInFolder& other) const
    {
        return parent == other.parent &&
               name.compare(other.name, folds ? Qt::CaseInsensitive : Qt::CaseSensitive) == 0;
    }
};
size_t qHash(const NameInFolder& key, size_t seed = 0) noexcept;

} // namespace detail

/// The pair as it was at a moment: each path there then, and where its content lies.
class Moment
{
public:
    /// Where the content of \a path lies; nothing when it was not there.
    std::optional<Place> find(const RelativePath& path) const;
    /// Each entry there, a folder before what it holds, with its path as it
    /// was spelt then, its kind and where its content lies. The pair's folder
    /// itself is not named.
    void forEach(const std::function<void(const RelativePath&, EntryKind, const Place&)>& visit) const;
    /// Whether the pair's folder was there at all.
    bool present() const { return !m_nodes.empty() && m_nodes[0].alive; }
    /// Runs undone to reach it, newest first, as indices in History::runs.
    const std::vector<int>& undone() const { return m_undone; }

private:
    friend class MomentBuilder;
    struct Node
    {
        QString name;
        Place place;
        int parent = -1;
        int first = -1; // the last entry put in it, whose next is the one before...
        int next = -1;
        EntryKind kind = EntryKind::Folder;
        bool alive = true; // an entry gone stays in its folder's chain
    };
    using Key = detail::NameInFolder;
    Key keyOf(int parent, const QString& name) const { return {parent, m_rules.foldsCase, name}; }

    std::vector<Node> m_nodes; // [0]: the pair's folder
    QHash<Key, int> m_index;
    platform::NameRules m_rules;
    std::vector<int> m_undone;
};

/// The oldest moment the lists reach for the pair of \a history.
Reach reachOf(const History& history);

/// The pair as the last run that had ended by \a when left it: every run that
/// began after that one is undone, runs that never ended included. A moment
/// out of reach fails with why. Nothing given: the pair as it stands, no run
/// undone.
Result<Moment> momentAt(const History& history, const std::optional<QDateTime>& when);

} // namespace archivon::restore
