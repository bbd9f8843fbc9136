#pragma once

// The copies of a pass: both the update in place and the full rewrite hand
// their files over here, and hear back how each copy ended.

#include "plan/runevent.h"
#include "platform/filesystem.h"

#include <QHash>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace archivon {

class EngineRun;
class PairPass;

/// How a pair's pass ends.
enum class PassEnd { Finished, Stopped, DestinationLost };

/// The leading folders of the walk whose files have all been handed over and
/// whose copies have all ended: how far "% cartelle" and the list go.
class FoldersDone
{
public:
    explicit FoldersDone(qsizetype folders) : m_pending(folders, 0), m_listed(folders, false) {}
    void handed(qsizetype folder) { ++m_pending[folder]; }
    /// A copy of a file of \a folder ended; returns the leading folders done.
    qsizetype ended(qsizetype folder)
    {
        --m_pending[folder];
        return advance();
    }
    /// Every file of \a folder has been handed over; returns the leading folders done.
    qsizetype listed(qsizetype folder)
    {
        m_listed[folder] = true;
        return advance();
    }

private:
    qsizetype advance()
    {
        while (m_leading < qsizetype(m_listed.size()) && m_listed[m_leading] && m_pending[m_leading] == 0)
            ++m_leading;
        return m_leading;
    }
    std::vector<qint64> m_pending;
    std::vector<bool> m_listed;
    qsizetype m_leading = 0;
};

/// A copy handed over, until it ends.
struct Handed
{
    qsizetype folder = 0;
    qsizetype file = -1; // of the walk's folder
    QString destination{};
    QString aside{}; // a folder in the file's place, until the file is there
    bool hadCopy = false;
    QString keptAt{}; // where the file it replaces is kept, once the copy is whole
    qint64 keptBytes = 0;
    bool again = false; // copied once more, where its versions folder had gone
};

/// How a pass takes a copy that failed, short of a stop: its source could
/// not be read, or its destination written. Says how the pass ends, when
/// that ends it.
using CopyFailed = std::function<std::optional<PassEnd>(const platform::ParallelCopy::Ended&, const Handed&)>;

/// The copies of a pass, two at a time beside the loop that hands them over,
/// folder by folder of the walk; a folder is done once every copy of its
/// files has ended. Both passes copy through it.
class CopyStage
{
public:
    CopyStage(PairPass& pass, qsizetype folders, CopyFailed failed);
    /// Abandons the copies still going; an entry set aside goes back unless
    /// its new one is there.
    ~CopyStage();
    CopyStage(const CopyStage&) = delete;
    CopyStage& operator=(const CopyStage&) = delete;
    /// Waits until one more copy can be handed over, while the run goes on.
    std::optional<PassEnd> room();
    std::optional<PassEnd> start(const QString& source, const QString& destination,
                                 const QString& shownAs, const Handed& handed);
    /// Every file of the folders before \a folder has been handed over.
    void handedUpTo(qsizetype folder);
    /// Waits for every copy to end.
    std::optional<PassEnd> finish();
    /// Nothing more can be written: waits for the copies handed over to end by
    /// themselves, each counted, a failure among them no failure of its own.
    /// Stopped when the run stops meanwhile.
    std::optional<PassEnd> drain();
    /// Copies that ended whole over a previous copy.
    qint64 replaced() const { return m_replaced; }

private:
    std::optional<PassEnd> wait(bool all);
    std::optional<PassEnd> settle();
    bool again(const platform::ParallelCopy::Ended& e, const Handed& h);
    void ended(qsizetype folder);

    PairPass& m_pass;
    EngineRun& m_run;
    PairStats& m_stats;
    const CopyFailed m_failed;
    platform::ParallelCopy m_copies;
    QHash<QString, Handed> m_handed; // by source
    FoldersDone m_done;
    const qsizetype m_folders;
    qsizetype m_handedUpTo = 0;
    qint64 m_replaced = 0;
    bool m_draining = false;
    bool m_startedAgain = false; // by the last settle()
};

} // namespace archivon
