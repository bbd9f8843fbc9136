// The main window's part in a backup: the start button, the time estimate and
// the shutdown at the end.

#include "app/forms.h"
#include "backup/backuprun.h"
#include "fileservices/texts.h"
#include "mainwindow/form1.h"
#include "platform/prompter.h"
#include "platform/session.h"
#include "ui_Form1.h"

namespace archivon {

void Form1::Command3_Click()
{
    m_run->Command3_Click();
    // The window was closed while the run went on: it can go now.
    if (Forms::ending() && !testAttribute(Qt::WA_DeleteOnClose) && !m_run->isRunning())
        deleteLater();
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
