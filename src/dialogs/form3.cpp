#include "dialogs/form3.h"

#include "app/forms.h"
#include "layout/windowstyle.h"
#include "ui_Form3.h"

#include <QCloseEvent>

namespace archivon {

Form3::Form3(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_ui(std::make_unique<Ui::Form3>())
{
    setUpWindow(this, *m_ui);
    connect(m_ui->Command1, &QPushButton::clicked, this, &Form3::Command1_Click);
}

Form3::~Form3() = default;

void Form3::Command1_Click()
{
    Forms::unload(this);
}

void Form3::closeEvent(QCloseEvent* event)
{
    Forms::forget(this);
    event->accept();
}

} // namespace archivon
