#include "dialogs/form2.h"

#include "app/forms.h"
#include "layout/windowstyle.h"
#include "platform/drives.h"
#include "ui_Form2.h"

#include <QCloseEvent>

namespace archivon {

Form2::Form2(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_ui(std::make_unique<Ui::Form2>()), m_dir1Path(platform::currentFolder())
{
    loadResources();
    setFont(windowFont());
    m_ui->setupUi(this);
    setFixedSize(size());
    centreOnScreen(this);
    pressButtonsOnEnter(this);
}

Form2::~Form2() = default;

void Form2::Form_Load()
{
    m_ui->lbl_percorso->setText(dir1Path());
}

void Form2::closeEvent(QCloseEvent* event)
{
    Forms::forget(this);
    event->accept();
}

} // namespace archivon
