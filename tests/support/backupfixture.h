#pragma once

#include "backup/backuprun.h"
#include "mainwindow/form1.h"
#include "support/windowfixture.h"
#include "ui_Form1.h"

#include <QLineEdit>

// The backup tests' ground: the window fixture plus the main window shown,
// with a run that yields between every file so that clicks land at once.
namespace archivon::test {

class BackupFixture : public WindowFixture
{
protected:
    void openMainWindow()
    {
        m_form = Forms::form1();
        m_form->show();
        run().yieldEveryMs = 0;
    }
    Ui::Form1* ui() { return m_form->ui(); }
    BackupRun& run() { return m_form->run(); }
    /// Folder pair n (1 to 4) of the main window.
    void setPair(int n, const QString& source, const QString& destination)
    {
        m_form->findChild<QLineEdit*>(QStringLiteral("Text_sorgente%1").arg(n))->setText(source);
        m_form->findChild<QLineEdit*>(QStringLiteral("Text_destinazione%1").arg(n))->setText(destination);
    }

    Form1* m_form = nullptr;
};

} // namespace archivon::test
