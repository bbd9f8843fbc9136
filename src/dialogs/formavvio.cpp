#include "dialogs/formavvio.h"

#include "app/forms.h"
#include "dialogs/form3.h"
#include "layout/windowstyle.h"
#include "mainwindow/form1.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/prompter.h"
#include "ui_Form1.h"
#include "ui_Form_avvio.h"

#include <QCloseEvent>
#include <QFocusEvent>

namespace archivon {

FormAvvio::FormAvvio(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      m_ui(std::make_unique<Ui::Form_avvio>())
{
    setUpWindow(this, *m_ui);

    m_ui->Combo1->installEventFilter(this);
    connect(m_ui->Combo1, &QComboBox::activated, this, &FormAvvio::Combo1_Click);
    connect(m_ui->Command2, &QPushButton::clicked, this, &FormAvvio::Command2_Click);
    connect(m_ui->Command1, &QPushButton::clicked, this, &FormAvvio::Command1_Click);
}

FormAvvio::~FormAvvio() = default;

void FormAvvio::Form_Load()
{
    // Nothing uses the folder; it exists already on every start but the first.
    static_cast<void>(platform::makeFolder(
        platform::joinPath(platform::programFolder(), QStringLiteral("BACKUP"))));
}

void FormAvvio::Combo1_GotFocus()
{
    showSiteNotice();
}

void FormAvvio::Combo1_Click()
{
    showSiteNotice();
}

void FormAvvio::showSiteNotice()
{
    if (m_noticeOpen)
        return;
    m_noticeOpen = true;
    platform::inform(
        QStringLiteral("Questa funzione non è ancora attiva! Verrà implementata nella "
                       "prossima Release 2.0\r\nQuindi la selezione di quest'opzione è "
                       "ininfluente per il corretto funzionamento del programma!"),
        platform::BoxIcon::Information, QStringLiteral("Informazione"));
    m_noticeOpen = false;
}

void FormAvvio::Command2_Click()
{
    const bool backup = m_ui->Option1->isChecked();
    const bool restore = m_ui->Option2->isChecked();
    if (!backup && !restore) {
        platform::inform(
            QStringLiteral("Attenzione, per continuare è necessario selezionare un'opzione"));
        return;
    }
    if (backup) {
        // The main window's load step reads the user name from this window,
        // so it stays open until the main window is up.
        Form1* main = Forms::form1();
        main->show();
        main->ui()->Nome_utente->setText(m_ui->Richiesta_utente->text());
    } else {
        Forms::form3()->show();
    }
    Forms::unload(this);
}

void FormAvvio::Command1_Click()
{
    Forms::unload(this);
}

bool FormAvvio::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_ui->Combo1 && event->type() == QEvent::FocusIn) {
        // Focus that comes back when a box or the drop-down list closes, or when
        // the window is activated again, is not the user moving into the combo.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            Combo1_GotFocus();
    }
    return QWidget::eventFilter(watched, event);
}

void FormAvvio::closeEvent(QCloseEvent* event)
{
    Forms::forget(this);
    event->accept();
}

} // namespace archivon
