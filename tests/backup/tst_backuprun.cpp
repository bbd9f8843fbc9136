#include "fileservices/queries.h"
#include "platform/drives.h"
#include "support/backupfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include <cstdio>

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
            m_drives->writeFile(QStringLiteral("C:\\s%1\\f%1.txt").arg(n),
                                QByteArray(n * 10, 'a' + n));
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

    // A missing source is a skip, not a failure: its old backup stays, it is listed, and
    // the marker and the shutdown still happen. The next run, with it back, is clean.
    void completedRuns()
    {
        fourPairs();
        QDir(m_drives->host("C:\\s3")).removeRecursively();
        m_drives->writeFile("R:\\BK\\d3\\vecchio.txt", "old");
        ui()->Check1->setChecked(true);
        m_boxes.answerYes();
        ui()->Command3->click();
        QCOMPARE(m_drives->readFile("R:\\BK\\d3\\vecchio.txt"), QByteArray("old"));
        QCOMPARE(m_drives->readFile("R:\\BK\\d4\\f4.txt"), QByteArray(40, 'e'));
        QCOMPARE(
            ui()->Label_file_in_copia->text(),
            QStringLiteral(
                "Operazione completata con successo! Saltata 1 cartella sorgente inesistente."));
        QVERIFY(!ui()->List1->isHidden() && ui()->List1->count() == 1);
        QVERIFY(ui()->List1->item(0)->text().startsWith("C:\\s3 : cartella sorgente inesistente"));
        QCOMPARE(ui()->Label7->text(), QStringLiteral("Elementi non copiati:"));
        QCOMPARE(m_drives->readFile(platform::programFolder() + "\\oldimp.pvx"),
                 QByteArray("C:\\s1\r\nR:\\BK\\d1\r\n"));
        QCOMPARE(m_session.requests, (QStringList{"shutdown", "logoff"}));

        // Without the tick, the next run makes no request. Typed during the run, a source
        // as destination 2 changes nothing.
        m_drives->writeFile("C:\\s3\\f3.txt", QByteArray(30, 'd'));
        ui()->Check1->setChecked(false);
        m_boxes.answerYes();
        bool readOnly = false;
        run().onStatus = [&](const QString& s) {
            if (s.startsWith("Analisi in corso...") && !readOnly) {
                readOnly = ui()->Text_destinazione2->isReadOnly();
                setPair(2, "C:\\s2", "C:\\s3");
            }
        };
        ui()->Command3->click();
        QVERIFY(readOnly && !ui()->Text_destinazione2->isReadOnly());
        QCOMPARE(m_drives->readFile("C:\\s3\\f3.txt"), QByteArray(30, 'd'));
        for (int n = 1; n <= 4; ++n)
            QCOMPARE(m_drives->readFile(QStringLiteral("R:\\BK\\d%1\\f%1.txt").arg(n)),
                     QByteArray(n * 10, 'a' + n));
        QCOMPARE(m_boxes.shown.size(), 2);
        QCOMPARE(
            m_boxes.shown.last().text,
            kConfirm +
                "\r\nQuest'operazione sovrascriverà tutti i dati presenti in \r\nR:\\BKPQORL\\" +
                ui()->NomePc->text() + "_" + ui()->Nome_utente->text() +
                "\r\nL'operazione potrebbe richiedere alcuni minuti");
        QCOMPARE(ui()->Label_file_in_copia->text(),
                 QStringLiteral("Operazione completata con successo!"));
        QCOMPARE(ui()->Label7->text(), QStringLiteral("Elenco cartelle ancora da copiare:"));
        QCOMPARE(ui()->Command3->text(), QStringLiteral("Avvia Backup"));
        QVERIFY(ui()->Command1->isEnabled() && ui()->Command2->isEnabled());
        QVERIFY(!m_form->Timer_stima.isActive());
        QVERIFY(ui()->List1->isHidden() && ui()->Label7->isHidden() && ui()->TMaxAni1->isHidden());
        QCOMPARE(ui()->Barra_file->value(), ui()->Barra_file->max());
        QCOMPARE(ui()->Barra_totale->value(), ui()->Barra_totale->max());
        QCOMPARE(m_session.requests.size(), 2);
        QCOMPARE(test::treeOf(m_drives->host("R:\\BK")).filter(QRegularExpression("(^|/)\\.")),
                 QStringList());
    }

    // Nothing is touched: a pair refused before any question, or a No to the question.
    void nothingTouched_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QString>("message");
        // clang-format off
        QTest::newRow("empty source") << "" << "R:\\BK\\d2" << "Coppia 2: manca la cartella sorgente.";
        QTest::newRow("relative destination") << "C:\\s2" << "BK\\d2" << "Coppia 2: la cartella destinazione";
        QTest::newRow("drive root") << "C:\\s2" << "R:\\" << "Coppia 2: la cartella destinazione \"R:\\\" non può";
        QTest::newRow("same folder") << "C:\\s2" << "c:/s2/" << kSelfCopy;
        QTest::newRow("destination inside source") << "C:\\s2" << "C:\\s2\\copia" << kSelfCopy;
        QTest::newRow("source inside destination") << "C:\\s2\\sub" << "C:\\s2" << kSelfCopy;
        QTest::newRow("same folder through a link") << "C:\\s2" << "R:\\alias" << kSelfCopy;
        // A destination is emptied: no other pair's source or destination may lie in it.
        QTest::newRow("another pair's source") << "C:\\s2" << "C:\\s1"
            << "Coppia 2: la cartella destinazione \"C:\\s1\" coincide con la cartella sorgente della coppia 1";
        QTest::newRow("holds another pair's source") << "R:\\BK\\d1\\sub" << "R:\\BK\\d2"
            << "Coppia 1: la cartella destinazione \"R:\\BK\\d1\" coincide con la cartella sorgente della coppia 2";
        QTest::newRow("another pair's source spelt through Z:") << "C:\\s2" << "{Z}C:\\s3\\dentro"
            << "Coppia 2: la cartella destinazione \"Z:";
        QTest::newRow("holds another pair's destination") << "C:\\s2" << "R:\\BK"
            << "Coppia 1: la cartella destinazione \"R:\\BK\\d1\" coincide con la cartella destinazione della coppia 2";
        QTest::newRow("dot-dot climbs to another backup") << "C:\\s2" << "R:\\BK\\d1\\..\\altro"
            << "Coppia 2: la cartella destinazione \"R:\\BK\\d1\\..\\altro\" non può contenere";
        // Said before the question, not after a Yes.
        QTest::newRow("drive not ready") << "C:\\s2" << "Q:\\d2"
            << "L'unità di destinazione Q: non è disponibile!";
        // The hidden single-pair boxes; the destination keeps a trailing backslash of its own.
        QTest::newRow("hidden boxes equal") << "hidden:C:\\x\\" << "C:\\x" << kSelfCopy;
        QTest::newRow("No at the confirmation") << "C:\\s2" << "R:\\BK\\d2" << kConfirm;
        // clang-format on
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
            if (destination.startsWith("{Z}")) // the host path of a C: folder, as a Z: path
                destination = "Z:" + m_drives->host(destination.mid(3)).replace('/', '\\');
            setPair(2, source, destination);
        }
        m_boxes.answerNo();
        ui()->Command3->click();
        QCOMPARE(m_boxes.shown.size(), 1);
        QVERIFY2(m_boxes.shown.first().text.startsWith(message),
                 qPrintable(m_boxes.shown.first().text));
        QCOMPARE(m_drives->readFile("R:\\BK\\d1\\vecchio.txt"), QByteArray("old"));
        QVERIFY(!QFileInfo::exists(m_drives->host("R:\\BK\\d2")) && !QFileInfo::exists(marker()));
        QCOMPARE(ui()->Command3->text(), QStringLiteral("Avvia Backup"));
    }

    // Pair 1 fits its drive exactly and is copied; pair 2 goes to a drive whose
    // size is unknown (a total of 0, as some network filesystems report), which
    // does not block it; pair 3 does not fit.
    void freeSpacePerPair()
    {
        fourPairs();
        if (!mountTmpfs('f', "64k") || !mountTmpfs('g', "64k") || !mountTmpfs('h', "0"))
            QSKIP("mounting a small tmpfs needs root");
        setPair(2, "C:\\s2", "H:\\d2");
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
        QCOMPARE(m_drives->readFile("H:\\d2\\f2.txt"), QByteArray(20, 'c'));
        QVERIFY(!QFileInfo::exists(m_drives->host("G:\\d3")));
        QVERIFY(!QFileInfo::exists(m_drives->host("R:\\BK\\d4")));
        QCOMPARE(count(kNoSpace), 1);
        QVERIFY(ui()->Lbl_dim_tot->text().startsWith("Dimensione da copiare : 200,"));
        QVERIFY(!QFileInfo::exists(marker()));
        QVERIFY(m_session.requests.isEmpty());
        // The window is ready for another try.
        QCOMPARE(ui()->Command3->text(), QStringLiteral("Avvia Backup"));
        QVERIFY(!m_form->Timer_stima.isActive() && ui()->Command1->isEnabled() &&
                !run().isRunning());
    }

    // A stop click arrives at the first yield after the status line first
    // matches (the #n-th time); a second click (a new start) may follow it
    // while the run unwinds. Pair 1 holds a name that cannot be copied, so
    // there is a failure to list when the run stops.
    void stops_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<bool>("startAgain");
        // clang-format off
        QTest::newRow("confirmed while pair 2's old backup is removed")
            << "Pulizia cartella di destinazione in corso...#2" << true << false;
        QTest::newRow("confirmed while pair 2 is scanned") << "Analisi in corso...#2" << true << false;
        QTest::newRow("confirmed while an empty pair is scanned") << "Analisi in corso...#4" << true << false;
        QTest::newRow("confirmed during a large copy, then a start click") << "grande.bin" << true << true;
        QTest::newRow("refused") << "Analisi in corso...#1" << false << false;
        // clang-format on
    }
    void stops()
    {
        QFETCH(QString, trigger);
        QFETCH(bool, confirm);
        QFETCH(bool, startAgain);
        fourPairs();
        m_drives->writeFile("C:\\s1\\a\\b.txt", "x");
        ::rename(QFile::encodeName(m_drives->host("C:\\s1\\a")).constData(),
                 QFile::encodeName(m_drives->host("C:\\s1") + "/a\\b").constData());
        m_drives->makeDir("C:\\s2\\a\\b");
        m_drives->writeFile("C:\\s3\\grande.bin", QByteArray(40 * 1024 * 1024, 'g'));
        QFile::remove(m_drives->host("C:\\s4\\f4.txt"));
        // Pair 2 has an old backup, and a new copy an earlier run left unfinished.
        for (int i = 0; i < 20; ++i) {
            m_drives->writeFile(QStringLiteral("R:\\BK\\d2\\vecchio%1.txt").arg(i), "old");
            m_drives->writeFile(QStringLiteral("R:\\BK\\.d2.archivon-nuovo\\parziale%1.txt").arg(i),
                                "p");
        }
        m_drives->writeFile("R:\\BK\\d3\\vecchio.txt", "old");
        m_drives->writeFile("R:\\BK\\d4\\vecchio.txt", "old");
        ui()->Check1->setChecked(true);
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
        QVERIFY(!ui()->List1->isHidden());
        QVERIFY(ui()->List1->item(0)->text().startsWith("C:\\s1\\a\\b : il nome contiene"));
        if (!confirm) {
            QVERIFY(!m_form->InPausa);
            QVERIFY(
                ui()->Label_file_in_copia->text().startsWith("Operazione completata con 1 errore"));
            QCOMPARE(m_drives->readFile("R:\\BK\\d3\\grande.bin").size(), 40 * 1024 * 1024);
            return;
        }
        // The run ended at that yield: nothing more removed, made or copied.
        QCOMPARE(ui()->Label_file_in_copia->text(), QStringLiteral("Interrotto dall'utente!"));
        QVERIFY(!m_form->Timer_stima.isActive());
        // Pairs done before the stop hold their new mirror, the others their old backup.
        const bool pair2Done = !trigger.endsWith("#2");
        const bool pair3Done = trigger.endsWith("#4");
        QCOMPARE(QDir(m_drives->host("R:\\BK\\d2")).entryList(QDir::Files).size(),
                 pair2Done ? 1 : 20);
        QCOMPARE(QFileInfo::exists(m_drives->host("R:\\BK\\d2\\a")), pair2Done);
        QCOMPARE(QDir(m_drives->host("R:\\BK\\.d2.archivon-nuovo")).entryList(QDir::Files).size(),
                 trigger.startsWith("Pulizia") ? 20 : 0);
        QCOMPARE(QFileInfo::exists(m_drives->host("R:\\BK\\d3\\grande.bin")), pair3Done);
        QCOMPARE(QFileInfo::exists(m_drives->host("R:\\BK\\d3\\vecchio.txt")), !pair3Done);
        QCOMPARE(m_drives->readFile("R:\\BK\\d4\\vecchio.txt"), QByteArray("old"));
        QVERIFY(!QFileInfo::exists(marker()));
        QVERIFY(m_session.requests.isEmpty());
        // A second start begins again at pair 1 with the flags cleared, and
        // clears what the stopped one left beside the destinations.
        m_boxes.answerYes();
        run().onStatus = nullptr;
        ui()->Command3->click();
        QVERIFY(!m_form->InPausa && !m_form->Interruzione);
        QCOMPARE(m_drives->readFile("R:\\BK\\d3\\grande.bin").size(), 40 * 1024 * 1024);
        QCOMPARE(QDir(m_drives->host("R:\\BK"))
                     .entryList(QDir::Hidden | QDir::AllEntries | QDir::NoDotAndDotDot),
                 (QStringList{"d1", "d2", "d3", "d4"}));
    }

    // Faults met halfway: the source is never touched, every destination file
    // is exact or listed, and success is never claimed over a failure.
    void faultsMidRun_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("listed"); // empty: a clean success
        // clang-format off
        QTest::newRow("a file vanishes") << "vanish" << "file o cartella inesistente";
        QTest::newRow("a file grows while copied") << "grow" << "";
        QTest::newRow("drive R: goes away") << "drive" << "unità di destinazione non disponibile";
        QTest::newRow("the destination fills") << "full" << "spazio su disco esaurito";
        QTest::newRow("the marker cannot be written") << "marker" << "oldimp.pvx : impossibile scrivere";
        // clang-format on
    }
    void faultsMidRun()
    {
        QFETCH(QString, fault);
        QFETCH(QString, listed);
        fourPairs();
        const QByteArray big(20 * 1024 * 1024, 'b');
        QString copying; // the status line that sets the fault off
        std::function<void()> act;
        if (fault == "vanish") {
            for (int i = 0; i < 3; ++i)
                m_drives->writeFile(QStringLiteral("C:\\s1\\v%1.txt").arg(i), "v");
            copying = "Copia in corso del file C:\\s1\\";
            act = [&] { // every file of the folder but the one being copied
                for (const QString& f : QDir(m_drives->host("C:\\s1")).entryList(QDir::Files))
                    if (!ui()->Label_file_in_copia->text().contains("\\" + f + " in"))
                        QFile::remove(m_drives->host("C:\\s1\\" + f));
            };
        } else if (fault == "grow") {
            m_drives->writeFile("C:\\s1\\grande.bin", big);
            copying = "grande.bin";
            act = [&] {
                QTimer::singleShot(0, [&] {
                    QFile f(m_drives->host("C:\\s1\\grande.bin"));
                    QVERIFY(f.open(QIODevice::Append));
                    f.write(QByteArray(4 * 1024 * 1024, 'n'));
                });
            };
        } else if (fault == "drive") {
            m_drives->writeFile("R:\\BK\\d2\\vecchio.txt", "old");
            copying = "f2.txt";
            act = [&] {
                QFile::rename(m_drives->root('r'), m_drives->drivesFolder() + "/staccata");
            };
        } else if (fault == "full") {
            if (!mountTmpfs('f', "64k"))
                QSKIP("mounting a small tmpfs needs root");
            // 40 KiB of source, but every file takes a whole page on the disk.
            for (int i = 0; i < 40; ++i)
                m_drives->writeFile(QStringLiteral("C:\\s1\\p%1.txt").arg(i),
                                    QByteArray(1024, 'p'));
            m_drives->writeFile("F:\\d1\\vecchio.txt", "old");
            setPair(1, "C:\\s1", "F:\\d1");
        } else if (fault == "marker") {
            platform::setProgramFolderForTesting(m_drives->programFolder() + "/mancante");
        }
        bool done = false;
        run().onStatus = [&](const QString& s) {
            if (act && !done && !copying.isEmpty() && s.contains(copying)) {
                done = true;
                act();
            }
        };
        m_boxes.answerYes();
        ui()->Command3->click();
        QVERIFY(!run().isRunning());
        const QString status = ui()->Label_file_in_copia->text();
        QStringList items;
        for (int i = 0; i < ui()->List1->count(); ++i)
            items << ui()->List1->item(i)->text();
        if (listed.isEmpty()) {
            QCOMPARE(status, QStringLiteral("Operazione completata con successo!"));
            QVERIFY(ui()->List1->isHidden());
        } else {
            QVERIFY2(!status.contains("successo"), qPrintable(status));
            QVERIFY2(items.join('\n').contains(listed), qPrintable(items.join('\n')));
        }
        if (fault == "grow") { // as long as it was when its copy began
            QCOMPARE(m_drives->readFile("R:\\BK\\d1\\grande.bin"), big);
        } else if (fault == "drive") {
            QCOMPARE(count("L'unità di destinazione R: non è più disponibile: backup interrotto!"),
                     1);
            QVERIFY(!QFileInfo::exists(m_drives->drivesFolder() + "/staccata/BK/d3"));
            QCOMPARE(test::treeOf(m_drives->drivesFolder() + "/staccata/BK/d2"),
                     QStringList{"vecchio.txt"});
            QVERIFY(!QFileInfo::exists(marker()));
        } else if (fault == "full") { // the old backup stays, and nothing beside it
            QCOMPARE(test::treeOf(m_drives->root('f')), (QStringList{"d1", "d1/vecchio.txt"}));
            QCOMPARE(m_drives->readFile("F:\\d1\\vecchio.txt"), QByteArray("old"));
        }
        QCOMPARE(m_drives->readFile("C:\\s2\\f2.txt"), QByteArray(20, 'c')); // sources untouched
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
