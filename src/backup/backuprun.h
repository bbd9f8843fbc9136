#pragma once

#include "backup/runlistener.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace archivon {

class Form1;

/// Something the backup could not do: a file not copied, a folder not made or
/// not emptied, a source folder missing.
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
    /// scans the source, recreates its folders and copies its files.
    PassEnd CopiaCoppia(int N);

    /// Scans the folders listed in List_cartelle, showing the progress.
    void Sottocartelle(QString& Percorso);

    /// True from a confirmed start until the run has returned, stopped ones included.
    bool isRunning() const { return m_running; }

    /// What the current or last run could not do, in order.
    const QList<BackupFailure>& failures() const { return m_failures; }

    /// Called with every caption the status line takes, for tests that follow
    /// the run line by line.
    std::function<void(const QString&)> onStatus;

    /// Told of every step worth a record (not owned; may be null).
    RunListener* listener = nullptr;

    /// How often the copy loop gives the window a turn, in milliseconds.
    qint64 yieldEveryMs = 100;

private:
    QString sourceOf(int N) const;
    QString destinationOf(int N) const;
    QString checkPairs() const;
    void setStatus(const QString& text);
    void showAnimation(const QString& file);
    void fail(const QString& path, const QString& reason);
    void backToIdle();
    void complete();
    bool stopCheck();
    void maybeYield();
    bool runEnding() const;
    void recordLeftovers(const QString& folder);

    Form1& m_form;
    bool m_running = false;
    bool m_listShowsFailures = false;
    QList<BackupFailure> m_failures;
    QElapsedTimer m_sinceYield;
};

} // namespace archivon
