// The main window's small commands: the folder choice through the picker,
// the information box, the destination's trailing backslash, and the
// proportional resize.

#include "app/forms.h"
#include "dialogs/form2.h"
#include "dialogs/form3.h"
#include "layout/resize.h"
#include "layout/statusbar.h"
#include "mainwindow/form1.h"
#include "platform/drives.h"
#include "ui_Form1.h"
#include "ui_Form2.h"

#include <QResizeEvent>

namespace archivon {

namespace {

// Opens the picker on the folder a box holds and tells it where the result
// goes. A box that holds no folder (its design text, a folder since removed)
// gets the program folder instead, without a word.
void sceltaCartella(qint16 pulsante, const QString& caption, QLineEdit* box)
{
    Form2* picker = Forms::form2();
    const bool reused = picker->isVisible();
    picker->show();
    if (reused) {
        picker->raise();
        picker->activateWindow();
    }
    picker->pulsante = pulsante;
    picker->setWindowTitle(caption);
    if (picker->ui()->Dir1->setPath(box->text()))
        return;
    const QString fallback = platform::programFolder();
    static_cast<void>(picker->ui()->Dir1->setPath(fallback));
    box->setText(fallback);
}

} // namespace

void Form1::connectCommands()
{
    connect(m_ui->Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(m_ui->Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(m_ui->Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(m_ui->Text_destinazione, &QLineEdit::textChanged, this,
            &Form1::Text_destinazione_Change);

    // The resize pass places the status bar like every control, and the bar
    // docks itself to the bottom edge across the whole width; its height
    // stays the designed one, so its top is always the client height less
    // that height. Fonts do not grow with the window, nor does the bar.
    m_ui->StatusBar1->setFixedHeight(m_ui->StatusBar1->height());
}

void Form1::Command1_Click()
{
    sceltaCartella(1, QStringLiteral("Seleziona la cartella sorgente"), m_ui->Text_sorgente);
}

void Form1::Command2_Click()
{
    sceltaCartella(0, QStringLiteral("Seleziona la cartella destinazione"),
                   m_ui->Text_destinazione);
}

void Form1::Command4_Click()
{
    Form3* box = Forms::form3();
    const bool reused = box->isVisible();
    box->show();
    if (reused) {
        box->raise();
        box->activateWindow();
    }
}

void Form1::Text_destinazione_Change()
{
    // Appending changes the text again; that second call finds the backslash
    // and stops there.
    const QString text = m_ui->Text_destinazione->text();
    if (!text.endsWith(QLatin1Char('\\')))
        m_ui->Text_destinazione->setText(text + QLatin1Char('\\'));
}

void Form1::Form_Resize()
{
    ResizeForm(this);
}

void Form1::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // Qt sends the first resize as the window is first shown: that pass
    // records the design layout.
    Form_Resize();
}

} // namespace archivon
