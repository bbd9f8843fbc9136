#include "fileservices/queries.h"
#include "platform/drives.h"
#include "support/backupfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QtTest>

using namespace archivon;

namespace {

const QString kConfirm = QStringLiteral("Sei sicuro di voler avviare la copia?");
const QString kStopQuestion = QStringLiteral("Vuoi interrompere la copia?");
const QString kNoSpace = QStringLiteral("Spazio insufficiente per completare l'operazione!");
const QString kSelfCopy = QStringLiteral("Eh no!Non puoi copiare una cartella su se stessa!!!");

} // namespace

class TestBackupRun : public QObject, test::BackupFixture
{
    Q_OBJECT

    // Four small pairs on C: and R:, each source with one file.
    void fourPairs()
    {
        for (int n = 1; n <= 4; ++n) {
            m_drives->writeFile(QStringLiteral("C:\\s%1\\f%1.txt").arg(n), QByteArray(n * 10, 'a' + n));
            setPair(n, QStringLiteral("C:\\s%1").arg(n), QStringLiteral("R:\\BK\\d%1").arg(n));
        }
        m_drives->makeDir("R:\\BK");
    }

    QString marker() const { return m_drives->programFolder() + "/oldimp.pvx"; }

    int count(const QString& text) const { return int(m_boxes.texts().filter(text).size()); }

private slots:
    void init()
    {
        setUp();
        openMainWindow();
    }
    void cleanup() { tearDown(); } // the tmpfs mounts too

    void completedRun()
    {
        fourPairs();
        ui()->Check1->setChecked(true);
        m_boxes.answerYes();
        ui()->Command3->click();
        for (int n = 1; n <= 4; ++n)
            QCOMPARE(m_drives->readFile(QStringLiteral("R:\\BK\\d%1\\f%1.txt").arg(n)),
                     QByteArray(n * 10, 'a' + n));
        QCOMPARE(m_boxes.shown.size(), 1);
        QCOMPARE(m_boxes.shown.first().text,
                 kConfirm + "\r\nQuest'operazione sovrascriverà tutti i dati presenti in \r\nR:\\BKPQORL\\" +
                     ui()->NomePc->text() + "_" + ui()->Nome_utente->text() +
                     "\r\nL'operazione potrebbe richiedere alcuni minuti");
        QCOMPARE(ui()->Label_file_in_copia->text(), QStringLiteral("Operazione completata con successo!"));
        QCOMPARE(ui()->Command3->text(), QStringLiteral("Avvia Backup"));
        QVERIFY(ui()->Command1->isEnabled() && ui()->Command2->isEnabled());
        QVERIFY(!m_form->Timer_stima.isActive());
        QVERIFY(ui()->List1->isHidden() && ui()->Label7->isHidden() && ui()->TMaxAni1->isHidden());
        QCOMPARE(ui()->Barra_file->value(), ui()->Barra_file->max());
        QCOMPARE(ui()->Barra_totale->value(), ui()->Barra_totale->max());
        QCOMPARE(m_drives->readFile(platform::programFolder() + "\\oldimp.pvx"),
                 QByteArray("C:\\s1\r\nR:\\BK\\d1\r\n"));
        QCOMPARE(m_session.requests, (QStringList{"shutdown", "logoff"}));
        // Without the tick, a second run makes no request.
        ui()->Check1->setChecked(false);
        m_boxes.answerYes();
        ui()->Command3->click();
        QCOMPARE(m_session.requests.size(), 2);
    }

    // Nothing is touched: a pair refused before any question, or a No to the question.
    void nothingTouched_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty source") << "" << "R:\\BK\\d2" << "Coppia 2: manca la cartella sorgente.";
        QTest::newRow("relative destination") << "C:\\s2" << "BK\\d2" << "Coppia 2: la cartella destinazione";
        QTest::newRow("drive root") << "C:\\s2" << "R:\\" << "Coppia 2: la cartella destinazione \"R:\\\" non può";
        QTest::newRow("same folder") << "C:\\s2" << "c:/s2/" << kSelfCopy;
        QTest::newRow("destination inside source") << "C:\\s2" << "C:\\s2\\copia" << kSelfCopy;
        QTest::newRow("source inside destination") << "C:\\s2\\sub" << "C:\\s2" << kSelfCopy;
        QTest::newRow("same folder through a link") << "C:\\s2" << "R:\\alias" << kSelfCopy;
        // The hidden single-pair boxes; the destination keeps a trailing backslash of its own.
        QTest::newRow("hidden boxes equal") << "hidden:C:\\x\\" << "C:\\x" << kSelfCopy;
        QTest::newRow("No at the confirmation") << "C:\\s2" << "R:\\BK\\d2" << kConfirm;
    }
    void nothingTouched()
    {
        QFETCH(QString, source);
        QFETCH(QString, destination);
        QFETCH(QString, message);
        fourPairs();
        m_drives->makeDir("C:\\s2\\sub");
        QFile::link(m_drives->host("C:\\s2"), m_drives->host("R:\\alias"));
        m_drives->writeFile("R:\\BK\\d1\\vecchio.txt", "old");
        if (source.startsWith("hidden:")) {
            ui()->Text_sorgente->setText(source.mid(7));
            ui()->Text_destinazione->setText(destination);
        } else {
            setPair(2, source, destination);
        }
        m_boxes.answerNo();
        ui()->Command3->click();
        QCOMPARE(m_boxes.shown.size(), 1);
        QVERIFY2(m_boxes.shown.first().text.startsWith(message), qPrintable(m_boxes.shown.first().text));
        QCOMPARE(m_drives->readFile("R:\\BK\\d1\\vecchio.txt"), QByteArray("old"));
        QVERIFY(!QFileInfo::exists(m_drives->host("R:\\BK\\d2")) && !QFileInfo::exists(marker()));
        QCOMPARE(ui()->Command3->text(), QStringLiteral("Avvia Backup"));
    }

    void missingSourceKeepsItsOldBackup()
    {
        fourPairs();
        QDir(m_drives->host("C:\\s3")).removeRecursively();
        m_drives->writeFile("R:\\BK\\d3\\vecchio.txt", "old");
        ui()->Check1->setChecked(true);
        m_boxes.answerYes();
        ui()->Command3->click();
        QCOMPARE(m_drives->readFile("R:\\BK\\d3\\vecchio.txt"), QByteArray("old"));
        QCOMPARE(m_drives->readFile("R:\\BK\\d4\\f4.txt"), QByteArray(40, 'e'));
        // Reported, not claimed a success; the marker and the shutdown still happen.
        QVERIFY(ui()->Label_file_in_copia->text().startsWith("Operazione completata con 1 errore"));
        QVERIFY(!ui()->List1->isHidden() && ui()->List1->count() == 1);
        QVERIFY(ui()->List1->item(0)->text().startsWith("C:\\s3 : cartella sorgente inesistente"));
        QCOMPARE(ui()->Label7->text(), QStringLiteral("Elementi non copiati:"));
        QVERIFY(QFileInfo::exists(marker()));
        QCOMPARE(m_session.requests, (QStringList{"shutdown", "logoff"}));
        // The next run lists folders to copy again, under their own caption.
        m_drives->makeDir("C:\\s3");
        m_boxes.answerYes();
        ui()->Command3->click();
        QCOMPARE(ui()->Label7->text(), QStringLiteral("Elenco cartelle ancora da copiare:"));
        QCOMPARE(ui()->Label_file_in_copia->text(), QStringLiteral("Operazione completata con successo!"));
    }

    // Pair 1 fits its drive exactly and is copied; pair 3 does not fit.
    void freeSpacePerPair()
    {
        fourPairs();
        if (!mountTmpfs('f', "64k") || !mountTmpfs('g', "64k"))
            QSKIP("mounting a small tmpfs needs root");
        m_drives->makeDir("F:\\d1");
        const qint64 free = *ShowFreeSpace("F:\\");
        m_drives->writeFile("C:\\s1\\f1.txt", QByteArray(free, 'e'));
        m_drives->writeFile("C:\\s3\\grande.bin", QByteArray(200 * 1024, 'g'));
        setPair(1, "C:\\s1", "F:\\d1");
        setPair(3, "C:\\s3", "G:\\d3");
        ui()->Check1->setChecked(true);
        m_boxes.answerYes();
        ui()->Command3->click();
        QCOMPARE(QFileInfo(m_drives->host("F:\\d1\\f1.txt")).size(), free);
        QCOMPARE(m_drives->readFile("R:\\BK\\d2\\f2.txt"), QByteArray(20, 'c'));
        QVERIFY(!QFileInfo::exists(m_drives->host("G:\\d3")));
        QVERIFY(!QFileInfo::exists(m_drives->host("R:\\BK\\d4")));
        QCOMPARE(count(kNoSpace), 1);
        QVERIFY(ui()->Lbl_dim_tot->text().startsWith("Dimensione da copiare : 200,"));
        QVERIFY(!QFileInfo::exists(marker()));
        QVERIFY(m_session.requests.isEmpty());
        // The window is ready for another try.
        QCOMPARE(ui()->Command3->text(), QStringLiteral("Avvia Backup"));
        QVERIFY(!m_form->Timer_stima.isActive() && ui()->Command1->isEnabled() && !run().isRunning());
    }

    void driveNotReady()
    {
        fourPairs();
        m_drives->unmap('r');
        m_boxes.answerYes();
        ui()->Command3->click();
        QCOMPARE(count(kNoSpace), 0);
        QCOMPARE(count("L'unità di destinazione R: non è disponibile!"), 1);
        QCOMPARE(ui()->Command3->text(), QStringLiteral("Avvia Backup"));
        QVERIFY(ui()->Command1->isEnabled());
    }

    // A stop click arrives at the first yield after the status line first
    // matches; a second click (a new start) may follow it while the run unwinds.
    void stops_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<bool>("startAgain");
        QTest::newRow("confirmed while pair 2 is scanned") << "Analisi in corso...#2" << true << false;
        QTest::newRow("confirmed during a large copy, then a start click") << "grande.bin" << true << true;
        QTest::newRow("refused") << "Analisi in corso...#1" << false << false;
    }
    void stops()
    {
        QFETCH(QString, trigger);
        QFETCH(bool, confirm);
        QFETCH(bool, startAgain);
        fourPairs();
        m_drives->makeDir("C:\\s2\\a\\b");
        m_drives->writeFile("C:\\s3\\grande.bin", QByteArray(40 * 1024 * 1024, 'g'));
        m_boxes.answerYes();
        confirm ? m_boxes.answerYes() : m_boxes.answerNo();
        const QStringList parts = trigger.split('#');
        int seen = 0;
        run().onStatus = [&](const QString& s) {
            if (s.contains(parts.first()) && ++seen == parts.value(1, "1").toInt()) {
                QTimer::singleShot(0, ui()->Command3, &QPushButton::click);
                if (startAgain)
                    QTimer::singleShot(0, ui()->Command3, &QPushButton::click);
            }
        };
        ui()->Command3->click();
        QCOMPARE(count(kStopQuestion), 1);
        QCOMPARE(count(kConfirm), 1); // a start while the stopped run unwinds is refused
        QCOMPARE(m_boxes.unexpected, 0);
        QVERIFY(!run().isRunning());
        QCOMPARE(ui()->Command3->text(), QStringLiteral("Avvia Backup"));
        if (!confirm) {
            QVERIFY(!m_form->InPausa);
            QCOMPARE(ui()->Label_file_in_copia->text(), QStringLiteral("Operazione completata con successo!"));
            QCOMPARE(m_drives->readFile("R:\\BK\\d4\\f4.txt"), QByteArray(40, 'e'));
            return;
        }
        QCOMPARE(ui()->Label_file_in_copia->text(), QStringLiteral("Interrotto dall'utente!"));
        // Pair 2's folders are made even when the stop came during its scan.
        QVERIFY(QFileInfo(m_drives->host("R:\\BK\\d2\\a\\b")).isDir());
        QVERIFY(!QFileInfo::exists(m_drives->host("R:\\BK\\d3\\grande.bin")));
        QVERIFY(!QFileInfo::exists(m_drives->host("R:\\BK\\d4")));
        QVERIFY(!QFileInfo::exists(marker()));
        // The abandoned copy left nothing behind.
        const QStringList left = QDir(m_drives->host("R:\\BK\\d3")).entryList(QDir::Files | QDir::Hidden);
        QVERIFY2(!left.join("").contains("archivon"), qPrintable(left.join(",")));
        // A second start begins again at pair 1 with the flags cleared.
        m_boxes.answerYes();
        run().onStatus = nullptr;
        ui()->Command3->click();
        QVERIFY(!m_form->InPausa && !m_form->Interruzione);
        QCOMPARE(m_drives->readFile("R:\\BK\\d4\\f4.txt"), QByteArray(40, 'e'));
    }

    void shutdownWarningOnEveryTick()
    {
        for (int tick = 0; tick < 3; ++tick)
            ui()->Check1->click();
        QCOMPARE(m_boxes.shown.size(), 2);
        QCOMPARE(m_boxes.shown.first().text,
                 QStringLiteral("ATTENZIONE! con sistemi basati su WIN NT (WIN XP, 2000, NT) \r\n"
                                "il PC potrebbe non spegnersi ma solo disconnettere l'utente!"));
        QCOMPARE(m_boxes.shown.first().icon, platform::BoxIcon::Information);
        QVERIFY(m_session.requests.isEmpty());
    }

    void estimateTicks()
    {
        ui()->Barra_file->setMin(0);
        ui()->Barra_file->setMax(4);
        // File bar, seconds before the tick, the text after it: with no ratio yet, no estimate.
        for (const auto& [bar, seconds, shown] :
             {std::tuple(0, 0, "1 s"), std::tuple(1, 9, "10 s Tempo rimanente : 30 s"),
              std::tuple(4, 64, "1 m 5 s Tempo rimanente : 0 s")}) {
            ui()->Barra_file->setValue(bar);
            m_form->SecondiTrascorsi = seconds;
            m_form->Timer_stima_Timer();
            QCOMPARE(ui()->Lbl_tempo->text(), "Tempo trascorso : " + QString(shown));
        }
    }
};

QTEST_MAIN(TestBackupRun)
#include "tst_backuprun.moc"
