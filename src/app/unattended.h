#pragma once

#include "backup/runlistener.h"
#include "platform/prompter.h"

#include <QPointer>
#include <QString>
#include <QStringList>

namespace archivon {

class Form1;
class RunLog;

/// The exit status of an unattended run: 0 completed, 1 completed with
/// failures, 2 refused before anything changed, 3 ended early.
int exitStatusFor(const RunEnd& end);

/// The boxes of a run that nobody watches: every question is answered Yes,
/// every message goes to the run's log and to standard error. Nothing waits.
class UnattendedPrompter final : public platform::Prompter
{
public:
    /// Where messages go from now on; those noted before are handed over.
    void setLog(RunLog* log);

    bool question(const QString& text, const QString& title) override;
    void message(const QString& text, platform::BoxIcon icon, const QString& title) override;
    std::optional<QString> input(const QString& prompt, const QString& preset,
                                 const QString& title) override;

private:
    void note(const QString& text, const QString& label);
    RunLog* m_log = nullptr;
    QList<std::pair<QString, QString>> m_pending; // text, label
};

/// `archivon --backup --utente NOME [--spegni]`: the main window is loaded as
/// the start wizard loads it, the run starts as if the user had confirmed it,
/// and the program ends with the run, its status from how the run ended.
class UnattendedRun final
{
public:
    UnattendedRun(const QString& user, bool shutdown);
    ~UnattendedRun();

    /// Installs the prompter, opens the main window and queues the run.
    void start();

    /// The program's exit status once the event loop has returned.
    int exitStatus() const { return m_status; }


private:
    void startRun();
    void runEnded(const RunEnd& end);
    void endProgram();

    QString m_user;
    bool m_shutdown = false;
    bool m_ended = false;
    int m_status = 3;
    UnattendedPrompter m_prompter;
    QPointer<Form1> m_main;
};

} // namespace archivon
