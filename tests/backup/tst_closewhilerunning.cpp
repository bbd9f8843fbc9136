#include "support/backupfixture.h"

#include <QPointer>
#include <QTimer>
#include <QtTest>

using namespace archivon;

// Closing the main window ends the program at once, even in the middle of a
// backup: the run stops where it is, and nothing is used after it is gone.
class TestCloseWhileRunning : public QObject, public test::BackupFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void closeDuringTheScanAndTheCopy_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::newRow("removal") << "Pulizia cartella di destinazione in corso...";
        QTest::newRow("scan") << "Analisi in corso...";
        QTest::newRow("copy") << "Copia in corso";
    }
    void closeDuringTheScanAndTheCopy()
    {
        QFETCH(QString, trigger);
        for (int i = 0; i < 30; ++i) {
            m_drives->writeFile(QStringLiteral("C:\\s\\d%1\\f.txt").arg(i), "x");
            m_drives->writeFile(QStringLiteral("R:\\d1\\vecchio%1.txt").arg(i), "old");
        }
        openMainWindow();
        ui()->Check1->setChecked(true);
        const QPointer<Form1> form = m_form;
        for (int n = 1; n <= 4; ++n)
            setPair(n, "C:\\s", QStringLiteral("R:\\d%1").arg(n));
        bool closed = false;
        run().onStatus = [&](const QString& s) {
            if (!closed && s.startsWith(trigger)) {
                closed = true;
                QTimer::singleShot(0, form, &QWidget::close);
            }
        };
        m_boxes.answerYes();
        ui()->Command3->click();
        QVERIFY(closed && Forms::ending());
        // Nothing after the close: no later pair, no marker, no shutdown.
        QVERIFY(!QFileInfo::exists(m_drives->host("R:\\d2")));
        QVERIFY(!QFileInfo::exists(m_drives->programFolder() + "/oldimp.pvx"));
        QVERIFY(m_session.requests.isEmpty());
        if (trigger.startsWith("Pulizia"))
            QCOMPARE(QDir(m_drives->host("R:\\d1")).entryList(QDir::Files).size(), 30);
        Forms::unloadAll();
        QVERIFY(!form);
    }
};

QTEST_MAIN(TestCloseWhileRunning)
#include "tst_closewhilerunning.moc"
