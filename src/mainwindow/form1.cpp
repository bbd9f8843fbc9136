#include "mainwindow/form1.h"

#include "app/forms.h"
#include "backup/backuprun.h"
#include "backup/runlog.h"
#include "dialogs/formavvio.h"
#include "fileservices/queries.h"
#include "layout/windowstyle.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/identity.h"
#include "platform/prompter.h"
#include "ui_Form1.h"
#include "ui_Form_avvio.h"

#include <QCloseEvent>

#include <array>

namespace archivon {

namespace {

const QString kSiteFolder = QStringLiteral("R:\\BKPQORL");

struct DefaultPair
{
    QString source;
    QString suffix;
};

const std::array<DefaultPair, 4>& defaultPairs()
{
    static const std::array<DefaultPair, 4> pairs{{
        {QStringLiteral("C:\\Documenti"), QStringLiteral("\\Documenti")},
        {QStringLiteral("C:\\Sys\\Windows\\Application Data\\Identities"),
         QStringLiteral("\\Outlook")},
        {QStringLiteral("C:\\Sys\\Windows\\Preferiti"), QStringLiteral("\\Preferiti")},
        {QStringLiteral("C:\\Sys\\Windows\\Application Data\\Microsoft\\Address Book"),
         QStringLiteral("\\Address Book")},
    }};
    return pairs;
}

// Windows refuses these in a folder name. Here "\" and "/" would make nested
// folders instead, so such a name is never handed to the file system.
bool hasForbiddenCharacter(const QString& name)
{
    static const QString forbidden = QStringLiteral("<>:\"/\\|?*");
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || forbidden.contains(c))
            return true;
    }
    return false;
}

// A folder that is there after the attempt counts as made: a name with
// trailing blanks exists already when only its trimmed form was looked for.
bool ensureFolder(const QString& path)
{
    if (platform::makeFolder(path))
        return true;
    const auto attributes = platform::attributes(path);
    return attributes.ok() && (attributes.value() & platform::Directory);
}

void reportNotMade(const QStringList& folders, const QString& reason)
{
    const QString what = folders.size() == 1
                             ? QStringLiteral("Impossibile creare la cartella ") + folders.first()
                             : QStringLiteral("Impossibile creare le cartelle ") +
                                   folders.join(QStringLiteral(", "));
    platform::inform(what + QStringLiteral(".\r\n") + reason);
}

const QString kDriveHint =
    QStringLiteral("Verificare che il disco R: sia collegato e che sia possibile scrivervi.");

} // namespace

Form1::Form1(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      Timer_stima(this), m_ui(std::make_unique<Ui::Form1>()), m_log(std::make_unique<RunLog>()),
      m_run(std::make_unique<BackupRun>(*this))
{
    m_run->listener = m_log.get();
    // Resizable: the controls follow the window in proportion.
    setUpWindow(this, *m_ui, true);

    // The time of a run overlaps the user name box; it is drawn above it, on
    // a ground of the background picture's blue there, so that at rest its
    // dot does not stand out.
    m_ui->Lbl_tempo->raise();

    Timer_stima.setObjectName(QStringLiteral("Timer_stima"));
    Timer_stima.setInterval(1000);

    connect(m_ui->Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(m_ui->Check1, &QCheckBox::clicked, this, &Form1::Check1_Click);
    connect(m_ui->Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(&Timer_stima, &QTimer::timeout, this, &Form1::Timer_stima_Timer);
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

    const std::array sources{m_ui->Text_sorgente1, m_ui->Text_sorgente2, m_ui->Text_sorgente3,
                             m_ui->Text_sorgente4};
    const std::array destinations{m_ui->Text_destinazione1, m_ui->Text_destinazione2,
                                  m_ui->Text_destinazione3, m_ui->Text_destinazione4};
    for (std::size_t n = 0; n < sources.size(); ++n)
        sources[n]->setText(defaultPairs()[n].source);
    for (std::size_t n = 0; n < destinations.size(); ++n) {
        destinations[n]->setText(kSiteFolder + QStringLiteral("\\") + m_ui->NomePc->text() +
                                 QStringLiteral("_") + m_ui->Nome_utente->text() +
                                 defaultPairs()[n].suffix);
    }

    CreaCartelleBackup();
}

void Form1::CreaCartelleBackup()
{
    // A folder that cannot be made is reported once and the window stays
    // usable: the pairs are filled in already. A step that needs a folder
    // that could not be made is not attempted.
    if (!CartellaEsistente(kSiteFolder.trimmed()) &&
        !ensureFolder(QStringLiteral("R:\\") + QStringLiteral("BKPQORL"))) {
        reportNotMade({kSiteFolder}, kDriveHint);
        return;
    }

    const QString name = m_ui->NomePc->text() + QStringLiteral("_") + m_ui->Nome_utente->text();
    const QString root = kSiteFolder + QStringLiteral("\\") + name;
    if (hasForbiddenCharacter(name)) {
        reportNotMade({root}, QStringLiteral("Il nome del computer o il nome utente contiene "
                                             "caratteri non ammessi nei nomi delle cartelle "
                                             "(< > : \" / \\ | ? *)."));
        return;
    }
    if (CartellaEsistente(root.trimmed()))
        return;
    if (!ensureFolder(root)) {
        reportNotMade({root}, kDriveHint);
        return;
    }
    QStringList notMade;
    for (const QString& sub : {QStringLiteral("\\Documenti"), QStringLiteral("\\Preferiti"),
                               QStringLiteral("\\Outlook"), QStringLiteral("\\Address Book")}) {
        if (!ensureFolder(root + sub))
            notMade << root + sub;
    }
    if (!notMade.isEmpty())
        reportNotMade(notMade, kDriveHint);
}

void Form1::Command5_Click()
{
    close();
}

void Form1::closeEvent(QCloseEvent* event)
{
    event->accept();
    // Closed in the middle of a backup (inside one of its yields), the window
    // must outlive the run that is still on the stack: the run sees the end
    // at its next stop check and unwinds, and the window goes after it.
    if (m_run->isRunning())
        setAttribute(Qt::WA_DeleteOnClose, false);
    Form_Unload();
}

void Form1::Form_Unload()
{
    // Closing the main window ends the program, whatever else is open.
    Forms::forget(this);
    Forms::endProgram();
}

} // namespace archivon
