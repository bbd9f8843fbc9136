#pragma once

#include "plan/runevent.h"
#include "record/runlog.h"
#include "platform/prompter.h"

#include <QObject>
#include <QString>

#include <memory>

namespace archivon {

class BackupEngine;

/// `archivon --backup --utente NOME --prova`: prints what that run would do,
/// writing nothing anywhere, and returns the exit status it would end with.
int dryRun(const QString& user, bool fullRewrite, bool shutdown);

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

/// `archivon --backup --utente NOME [--spegni]`: the run the start wizard and
/// the main window would set up, started as if the user had confirmed it, with
/// no window; the program ends with the run, its status from how the run ended.
class UnattendedRun final : public QObject
{
public:
    UnattendedRun(const QString& user, bool shutdown, bool fullRewrite);
    ~UnattendedRun() override;

    /// Installs the prompter and queues the run on the event loop.
    void start();

    /// The program's exit status once the event loop has returned.
    int exitStatus() const { return m_status; }

private:
    void begin();
    void reported(const RunEvent& event);
    void endProgram(int status);

    QString m_user;
    bool m_shutdown = false;
    bool m_fullRewrite = false;
    int m_status = 3;
    UnattendedPrompter m_prompter;
    RunLog m_log;
    std::unique_ptr<BackupEngine> m_engine;
};

} // namespace archivon
