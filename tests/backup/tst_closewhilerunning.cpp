#include "app/forms.h"
#include "backup/backuprun.h"
#include "mainwindow/form1.h"
#include "platform/prompter.h"
#include "support/drives.h"
#include "ui_Form1.h"

#include <QPointer>
#include <QTimer>
#include <QtTest>

using namespace archivon;

// Closing the main window ends the program at once, even in the middle of a
// backup: the run stops where it is, and nothing is used after it is gone.
class TestCloseWhileRunning : public QObject
{
    Q_OBJECT

private slots:
    void closeDuringTheScanAndTheCopy_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::newRow("scan") << "Analisi in corso...";
        QTest::newRow("copy") << "Copia in corso";
    }
    void closeDuringTheScanAndTheCopy()
    {
        QFETCH(QString, trigger);
        test::TempDrives drives;
        for (int i = 0; i < 30; ++i)
            drives.writeFile(QStringLiteral("C:\\s\\d%1\\f.txt").arg(i), "x");
        platform::ScriptedPrompter boxes;
        platform::setPrompter(&boxes);
        QPointer<Form1> form = Forms::form1();
        form->show();
        for (QLineEdit* e : {form->ui()->Text_sorgente1, form->ui()->Text_sorgente2,
                             form->ui()->Text_sorgente3, form->ui()->Text_sorgente4})
            e->setText("C:\\s");
        int n = 1;
        for (QLineEdit* e : {form->ui()->Text_destinazione1, form->ui()->Text_destinazione2,
                             form->ui()->Text_destinazione3, form->ui()->Text_destinazione4})
            e->setText(QStringLiteral("R:\\d%1").arg(n++));
        form->run().yieldEveryMs = 0;
        bool closed = false;
        form->run().onStatus = [&](const QString& s) {
            if (!closed && s.startsWith(trigger)) {
                closed = true;
                QTimer::singleShot(0, form, &QWidget::close);
            }
        };
        boxes.answerYes();
        form->ui()->Command3->click();
        QVERIFY(closed);
        QVERIFY(Forms::ending());
        QVERIFY(!QFileInfo::exists(drives.host("R:\\d2"))); // nothing after the close
        Forms::unloadAll();
        QVERIFY(!form);
        platform::setPrompter(nullptr);
    }
};

QTEST_MAIN(TestCloseWhileRunning)
#include "tst_closewhilerunning.moc"
