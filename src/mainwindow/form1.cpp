#include "mainwindow/form1.h"

#include "app/forms.h"
#include "plan/checks.h"
#include "plan/settings.h"
#include "engine/engine.h"
#include "record/runlog.h"
#include "dialogs/formavvio.h"
#include "layout/windowstyle.h"
#include "mainwindow/runview.h"
#include "platform/drives.h"
#include "platform/identity.h"
#include "platform/prompter.h"
#include "ui_Form1.h"
#include "ui_Form_avvio.h"

#include <QCloseEvent>
#include <QCoreApplication>

#include <array>

namespace archivon {

Form1::Form1(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      Timer_stima(this), m_ui(std::make_unique<Ui::Form1>()), m_log(std::make_unique<RunLog>())
{
    m_view = std::make_unique<RunView>(*this);
    // A fixed frame. No maximise button: window managers offer none for a
    // window whose size is fixed, and one that maximised it anyway would
    // break the frame.
    setUpWindow(this, *m_ui);

    // The time of a run sits in the free strip under the bars, where it hides
    // nothing: the user name stays readable during a run and after it. Its
    // ground is the background picture's blue there, so that at rest its dot
    // does not stand out.
    m_ui->Lbl_tempo->raise();

    Timer_stima.setObjectName(QStringLiteral("Timer_stima"));
    Timer_stima.setInterval(1000);

    connect(m_ui->Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(m_ui->Check1, &QCheckBox::clicked, this, &Form1::Check1_Click);
    connect(m_ui->Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(&Timer_stima, &QTimer::timeout, this, &Form1::Timer_stima_Timer);
    // The box is read when the run completes, as it is then.
    connect(m_ui->Check1, &QCheckBox::toggled, this, [this](bool ticked) {
        if (m_engine)
            m_engine->setShutdownAtEnd(ticked);
    });
    m_sampler.setInterval(50);
    connect(&m_sampler, &QTimer::timeout, this, [this] {
        if (m_engine)
            m_view->sample(m_engine->progress());
    });
    connectCommands();
}

Form1::~Form1() = default;

void Form1::Form_Load()
{
    platform::setCurrentFolder(platform::programFolder());

    m_ui->Nome_utente->setText(Forms::isLoaded(QStringLiteral("Form_avvio"))
                                   ? Forms::avvio()->ui()->Richiesta_utente->text()
                                   : QString());
    m_ui->NomePc->setText(platform::hostName());
    m_ui->IndirizzoIp->setText(platform::ipv4Address());

    const BackupPlan defaults = defaultPlan(m_ui->NomePc->text(), m_ui->Nome_utente->text());
    const std::array sources{m_ui->Text_sorgente1, m_ui->Text_sorgente2, m_ui->Text_sorgente3,
                             m_ui->Text_sorgente4};
    const std::array destinations{m_ui->Text_destinazione1, m_ui->Text_destinazione2,
                                  m_ui->Text_destinazione3, m_ui->Text_destinazione4};
    for (std::size_t n = 0; n < sources.size(); ++n)
        sources[n]->setText(defaults.pairs[n].source);
    for (std::size_t n = 0; n < destinations.size(); ++n)
        destinations[n]->setText(defaults.pairs[n].destination);

    // A folder that cannot be made is reported once and the window stays
    // usable: the pairs are filled in already. An R: on this computer's own
    // disk gets nothing, and the start will be refused.
    if (const QString refusal = localDriveRefusal(); !refusal.isEmpty())
        platform::inform(refusal);
    else if (const QString problem = makeBackupFolders(defaults); !problem.isEmpty())
        platform::inform(problem);
    // What is wrong with the settings, on the status line until a run begins.
    QString warning = placeholderWarning();
    if (warning.isEmpty())
        (void)versionDaysConfigured(&warning);
    if (!warning.isEmpty())
        m_ui->Label_file_in_copia->setText(warning);
}

void Form1::Command5_Click()
{
    close();
}

void Form1::closeEvent(QCloseEvent* event)
{
    event->accept();
    // Closed in the middle of a backup: the run ends as stopped, and its
    // record is complete before the program goes.
    if (m_runActive) {
        m_engine->stop(true);
        m_engine->wait(2000);
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
    Form_Unload();
}

void Form1::Form_Unload()
{
    // Closing the main window ends the program, whatever else is open.
    Forms::forget(this);
    Forms::endProgram();
}

} // namespace archivon
