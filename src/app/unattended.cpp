#include "app/unattended.h"

#include "app/forms.h"
#include "backup/backuprun.h"
#include "backup/runlog.h"
#include "dialogs/formavvio.h"
#include "mainwindow/form1.h"
#include "ui_Form1.h"
#include "ui_Form_avvio.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

namespace archivon {

int exitStatusFor(const RunEnd& end)
{
    switch (end.outcome) {
    case RunOutcome::Refused:
        return 2;
    case RunOutcome::Completed:
        return end.failures == 0 ? 0 : 1;
    case RunOutcome::EndedEarly:
        return 3;
    }
    return 3;
}

void UnattendedPrompter::setLog(RunLog* log)
{
    m_log = log;
    if (m_log) {
        for (const auto& [text, label] : std::exchange(m_pending, {}))
            m_log->note(text, label);
    }
}

void UnattendedPrompter::note(const QString& text, const QString& label)
{
    if (m_log)
        m_log->note(text, label);
    else
        m_pending.append({text, label});
}

bool UnattendedPrompter::question(const QString& text, const QString&)
{
    note(text + QStringLiteral("\r\n(risposta: sì)"), QStringLiteral("Domanda"));
    return true;
}

void UnattendedPrompter::message(const QString& text, platform::BoxIcon, const QString&)
{
    note(text, QStringLiteral("Messaggio"));
    QString oneLine = text;
    oneLine.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    std::fprintf(stderr, "archivon: %s\n", oneLine.toLocal8Bit().constData());
    std::fflush(stderr);
}

std::optional<QString> UnattendedPrompter::input(const QString& prompt, const QString& preset,
                                                 const QString&)
{
    note(prompt + QStringLiteral("\r\n(risposta: ") + preset + QLatin1Char(')'),
         QStringLiteral("Domanda"));
    return preset;
}

UnattendedRun::UnattendedRun(const QString& user, bool shutdown)
    : m_user(user), m_shutdown(shutdown)
{
}

UnattendedRun::~UnattendedRun()
{
    platform::setDefaultPrompter(nullptr);
}

void UnattendedRun::start()
{
    platform::setDefaultPrompter(&m_prompter);

    // As the wizard does it, unseen: its load step makes BACKUP as on every
    // start, and the main window's load step reads the user name from it.
    FormAvvio* wizard = Forms::avvio();
    wizard->ui()->Richiesta_utente->setText(m_user);
    m_main = Forms::form1();
    m_main->show();
    Forms::unload(wizard);

    m_prompter.setLog(&m_main->runLog());
    // The main window's record says when the run is over, once it is written.
    m_main->runLog().onEnded = [this](const RunEnd& end) { runEnded(end); };
    // Ticked without its warning: nobody is there to read it.
    if (m_shutdown)
        m_main->ui()->Check1->setChecked(true);
    QTimer::singleShot(0, m_main, [this] { startRun(); });
}

void UnattendedRun::startRun()
{
    m_main->Command3_Click();
    // The run is over when the start button returns. One that told nobody how
    // it ended must not leave a scheduled program waiting for ever.
    if (!m_ended && !Forms::ending() && m_main && !m_main->run().isRunning()) {
        std::fprintf(stderr, "archivon: la copia è terminata senza un esito noto\n");
        m_status = 3;
        endProgram();
    }
}

void UnattendedRun::endProgram()
{
    // Once the run has unwound: closing the main window ends the program.
    QTimer::singleShot(0, qApp, [this] {
        if (m_main && !Forms::ending())
            m_main->close();
        else
            QCoreApplication::exit();
    });
}

void UnattendedRun::runEnded(const RunEnd& end)
{
    m_ended = true;
    m_status = exitStatusFor(end);
    endProgram();
}

} // namespace archivon
