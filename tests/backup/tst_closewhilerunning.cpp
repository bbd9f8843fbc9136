#include "backup/backuprun.h"
#include "mainwindow/form1.h"
#include "support/windowfixture.h"
#include "ui_Form1.h"

#include <QPointer>
#include <QTimer>
#include <QtTest>

using namespace archivon;

// Closing the main window ends the program at once, even in the middle of a
// backup: the run stops where it is, and nothing is used after it is gone.
class TestCloseWhileRunning : public QObject, public test::WindowFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void closeDuringTheScanAndTheCopy_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::newRow("scan") << "Analisi in corso...";
        QTest::newRow("copy") << "Copia in corso";
    }
    void closeDuringTheScanAndTheCopy()
    {
        QFETCH(QString, trigger);
        for (int i = 0; i < 30; ++i)
            m_drives->writeFile(QStringLiteral("C:\\s\\d%1\\f.txt").arg(i), "x");
        QPointer<Form1> form = Forms::form1();
        form->show();
        auto* ui = form->ui();
        const QList<QLineEdit*> sources{ui->Text_sorgente1, ui->Text_sorgente2, ui->Text_sorgente3, ui->Text_sorgente4};
        const QList<QLineEdit*> destinations{ui->Text_destinazione1, ui->Text_destinazione2,
                                             ui->Text_destinazione3, ui->Text_destinazione4};
        for (int n = 0; n < 4; ++n) {
            sources[n]->setText("C:\\s");
            destinations[n]->setText(QStringLiteral("R:\\d%1").arg(n + 1));
        }
        form->run().yieldEveryMs = 0;
        bool closed = false;
        form->run().onStatus = [&](const QString& s) {
            if (!closed && s.startsWith(trigger)) {
                closed = true;
                QTimer::singleShot(0, form, &QWidget::close);
            }
        };
        m_boxes.answerYes();
        ui->Command3->click();
        QVERIFY(closed && Forms::ending());
        QVERIFY(!QFileInfo::exists(m_drives->host("R:\\d2"))); // nothing after the close
        Forms::unloadAll();
        QVERIFY(!form);
    }
};

QTEST_MAIN(TestCloseWhileRunning)
#include "tst_closewhilerunning.moc"
