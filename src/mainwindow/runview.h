#pragma once

#include "plan/runevent.h"

#include <QString>
#include <QStringList>

namespace Ui {
class Form1;
}

namespace archivon {

class Form1;

/// The main window as a view of a backup run: it applies the engine's reports
/// to the window's controls with the designed texts, in the order they came,
/// and samples how far the copy has got as often as the window paints.
class RunView
{
public:
    explicit RunView(Form1& form);

    /// A confirmed run starts.
    void begin();
    /// One report of the run.
    void apply(const RunEvent& event);
    /// How far the run has got, sampled by the caller's clock.
    void sample(const RunProgress& progress);
    /// A stop confirmed by the user, before the run has wound down.
    void stopConfirmed();

private:
    void setStatus(const QString& text);
    void showAnimation(const QString& file);
    void phase(int N, Phase phase, const QString& source);
    void scanned(const RunEvent& event);
    void appendMadeFolders(qint64 made);
    void applyCounts(qint64 filesEnded, qint64 foldersDone);
    void ended(const RunEnd& end);
    void showFailureList();
    void backToIdle();

    Form1& m_form;
    Ui::Form1* m_ui;
    int m_pair = 0;
    Phase m_phase = Phase::Scanning;
    bool m_running = false;
    /// The pair's folders, its source first (`List_cartelle`).
    QStringList m_folders;
    /// How much of the sampled progress the controls show already.
    qint64 m_foldersMadeShown = 0;
    qint64 m_foldersDoneShown = 0;
    /// The copy the status line names, while it goes on.
    quint64 m_named = 0;
    QStringList m_notCopied; // failures and what was passed over, with their reasons
    QStringList m_skipped;
};

} // namespace archivon
