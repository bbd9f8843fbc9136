// The main window's part in a backup: the start button, the time estimate and
// the shutdown at the end. The run itself goes on in the engine, on a thread
// of its own; the window asks the questions and shows what it reports.

#include "engine/engine.h"
#include "plan/checks.h"
#include "plan/settings.h"
#include "record/runlog.h"
#include "fileservices/texts.h"
#include "mainwindow/form1.h"
#include "mainwindow/runview.h"
#include "platform/prompter.h"
#include "platform/session.h"
#include "ui_Form1.h"

#include <QLineEdit>

namespace archivon {

namespace {

const QString kStop = QStringLiteral("Interrompi");

} // namespace

void Form1::Command3_Click()
{
    auto* ui = m_ui.get();
    if (ui->Command3->text() == kStop) {
        InPausa = true;
        // Nothing more is written while the user decides. A run that has
        // completed, or is ending, has nothing left to stop.
        if (!m_engine || !m_engine->hold()) {
            InPausa = false;
            return;
        }
        m_asking = true;
        const bool yes = platform::ask(QStringLiteral("Vuoi interrompere la copia?"));
        m_asking = false;
        // The run ended while the question was open: its end is what the
        // window shows, and an answer given after it changes nothing.
        if (m_endWhileAsked) {
            InPausa = false;
            tellEnd(*std::exchange(m_endWhileAsked, std::nullopt));
            return;
        }
        if (yes) {
            Interruzione = true;
            m_engine->stop();
            m_view->stopConfirmed();
        } else {
            InPausa = false;
            m_engine->release();
        }
        return;
    }

    // A stopped run may still be winding down.
    if (m_runActive)
        return;

    InPausa = false;
    Interruzione = false;
    SecondiTrascorsi = 0;

    if (ui->Text_sorgente->text() == ui->Text_destinazione->text()) {
        refuse(kSelfCopyMessage);
        return;
    }
    // The run works on the pairs as they are now, whatever is typed later.
    BackupPlan plan{ui->NomePc->text(), ui->Nome_utente->text(), {}};
    const std::array<const QLineEdit*, 4> sources{ui->Text_sorgente1, ui->Text_sorgente2,
                                                  ui->Text_sorgente3, ui->Text_sorgente4};
    const std::array<const QLineEdit*, 4> destinations{
        ui->Text_destinazione1, ui->Text_destinazione2, ui->Text_destinazione3,
        ui->Text_destinazione4};
    for (std::size_t i = 0; i < 4; ++i)
        plan.pairs[i] = {sources[i]->text(), destinations[i]->text()};
    if (const QString problem = checkPlan(plan); !problem.isEmpty()) {
        refuse(problem);
        return;
    }
    if (!ui->Text_destinazione->text().endsWith(QLatin1Char('\\')))
        ui->Text_destinazione->setText(ui->Text_destinazione->text() + QLatin1Char('\\'));
    if (!platform::ask(confirmationQuestion(plan))) {
        m_log->refused(QString());
        return;
    }

    if (const QString warning = placeholderWarning(); !warning.isEmpty())
        m_log->note(warning, QStringLiteral("Avviso"));
    QString daysProblem;
    const int versionDays = versionDaysConfigured(&daysProblem);
    if (!daysProblem.isEmpty())
        m_log->note(daysProblem, QStringLiteral("Avviso"));
    m_plan = plan;
    m_runActive = true;
    m_engine = std::make_unique<BackupEngine>();
    connect(m_engine.get(), &BackupEngine::reported, this, &Form1::reported);
    setPairsEditable(false);
    m_view->begin();
    m_sampler.start();
    RunOptions options;
    options.shutdownAtEnd = ui->Check1->isChecked();
    options.fullRewrite = fullRewriteConfigured();
    options.versionDays = versionDays;
    m_engine->start(m_plan, options);
}

void Form1::refuse(const QString& message)
{
    platform::inform(message);
    m_log->refused(message);
}

// While a run works on its pairs, the boxes it took them from stay as they were.
void Form1::setPairsEditable(bool editable)
{
    for (QLineEdit* box : {m_ui->Text_sorgente1, m_ui->Text_sorgente2, m_ui->Text_sorgente3,
                           m_ui->Text_sorgente4, m_ui->Text_destinazione1, m_ui->Text_destinazione2,
                           m_ui->Text_destinazione3, m_ui->Text_destinazione4})
        box->setReadOnly(!editable);
}

void Form1::reported(const RunEvent& event)
{
    m_log->report(event);
    m_view->apply(event);
    if (event.kind != RunEvent::Kind::RunEnded)
        return;
    m_sampler.stop();
    m_runActive = false;
    setPairsEditable(true);
    // An end's box never opens over the stop question: the question closes
    // first, and the box follows once it has.
    if (m_asking) {
        m_endWhileAsked = event.end;
        platform::prompter().closeQuestion();
        return;
    }
    tellEnd(event.end);
}

void Form1::tellEnd(const RunEnd& end)
{
    if (!end.message.isEmpty())
        platform::inform(end.message);
    // The record is written before the computer goes down.
    if (end.shutdownRequested)
        Spegni_PC();
}

void Form1::Check1_Click()
{
    if (!m_ui->Check1->isChecked())
        return;
    platform::inform(QStringLiteral("ATTENZIONE! con sistemi basati su WIN NT (WIN XP, 2000, NT) "
                                    "\r\nil PC potrebbe non spegnersi ma solo disconnettere "
                                    "l'utente!"));
}

void Form1::Spegni_PC()
{
    // Both requests are made whatever the first one did: where the shutdown
    // is refused, the log-off still ends the session.
    platform::session().shutdownForced();
    platform::session().logoffForced();
}

void Form1::Timer_stima_Timer()
{
    SecondiTrascorsi += 1;
    QString text = QStringLiteral("Tempo trascorso : ") + Tempo(SecondiTrascorsi).valueOr(QString());
    // Before the first file of a pair is copied there is no ratio to form:
    // the remaining time is left off for that tick.
    const float value = m_ui->Barra_file->value();
    if (value > 0) {
        const float rapporto = m_ui->Barra_file->max() / value;
        const double stima = SecondiTrascorsi * double(rapporto);
        if (const auto rimanente = Tempo(stima - SecondiTrascorsi))
            text += QStringLiteral(" Tempo rimanente : ") + *rimanente;
    }
    m_ui->Lbl_tempo->setText(text);
}

} // namespace archivon
