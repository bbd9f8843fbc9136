#pragma once

#include "backup/runlistener.h"
#include "platform/removal.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace archivon {

class Form1;
namespace platform {
class ParallelCopy;
}

/// Something the backup could not do (a file not copied, a folder not made,
/// not emptied or not readable), or a pair it left alone.
struct BackupFailure
{
    QString path;
    QString reason;
};

/// The backup run behind the main window's start button: the checks, the
/// confirmation, the free-space test and the pass over each of the four
/// folder pairs, the stop question, and the completion.
///
/// Everything runs on the window's thread. The run lets the event loop breathe
/// only inside the tree removal and the scan, in the stop check, and every
/// ~100 ms while files are copied; a stop click is a nested call of
/// Command3_Click made inside one of those yields.
class BackupRun
{
public:
    explicit BackupRun(Form1& form);

    /// The start button: starts a run, or asks to stop the one that is running.
    void Command3_Click();

    /// How a pair pass ended.
    enum class PassEnd { Finished, RunEnded };

    /// Backs up folder pair \a N (1 to 4): empties and remakes the destination,
    /// scans the source, recreates its folders and copies its files. Outside a
    /// run it takes the pair from the window's boxes. RunEnded: a confirmed
    /// stop, the window closing, or the destination drive gone.
    PassEnd CopiaCoppia(int N);

    /// Scans the folders listed in List_cartelle, showing the progress.
    void Sottocartelle(QString& Percorso);

    /// True from a confirmed start until the run has returned, stopped ones included.
    bool isRunning() const { return m_running; }

    /// What the current or last run could not do, in order.
    const QList<BackupFailure>& failures() const { return m_failures; }
    /// Pairs the current or last run left alone because their source is
    /// missing: not failures, their old backup is kept.
    const QList<BackupFailure>& skipped() const { return m_skipped; }

    /// Called with every caption the status line takes, for tests that follow
    /// the run line by line.
    std::function<void(const QString&)> onStatus;

    /// Told of every step worth a record (not owned; may be null).
    RunListener* listener = nullptr;

    /// How often the copy loop gives the window a turn, in milliseconds.
    qint64 yieldEveryMs = 100;

private:
    /// One pair as the run works on it: taken from the boxes once, at the start.
    struct Pair
    {
        QString source;
        QString destination;
    };

    /// The names under which a pass builds the new copy beside a destination
    /// and retires the old one, hidden and known to the next run.
    struct Beside
    {
        QString target;
        QString fresh;
        QString retired;
    };
    static std::optional<Beside> besideOf(const QString& destination);
    bool sortOutLeftovers(const Beside& b);
    void putInPlace(const QString& D, const Beside& b);
    void waitForRemovals();

    void takePairs();
    QString checkPairs() const;
    void setPairsEditable(bool editable);
    void setStatus(const QString& text);
    void showAnimation(const QString& file);
    void fail(const QString& path, const QString& reason);
    void skip(int N, const QString& source, const QString& reason);
    void refuse(const QString& message);
    void endRun(RunEnd end);
    void backToIdle();
    void showFailureList();
    void endStopped();
    void endDestinationLost(int N);
    void complete();
    bool stopCheck();
    void maybeYield();
    bool stopping() const;
    bool destinationLost(int N) const;
    void recordLeftovers(const QString& folder);

    Form1& m_form;
    std::array<Pair, 4> m_pairs;
    bool m_running = false;
    /// Something on the drives was changed by this run.
    bool m_touched = false;
    bool m_listShowsFailures = false;
    QList<BackupFailure> m_failures;
    QList<BackupFailure> m_skipped;
    /// Old backups that complete new ones replaced, going while later pairs copy.
    std::vector<std::unique_ptr<platform::BackgroundRemoval>> m_removals;
    /// What the pass in progress has copied, for the run's record.
    qint64 m_passFiles = 0;
    qint64 m_passBytes = 0;
    QElapsedTimer m_sinceYield;
    /// The copies of the pass in progress, held while the user is asked.
    platform::ParallelCopy* m_copies = nullptr;
};

} // namespace archivon
