// The main window as a view of a backup run: what it shows of the engine's
// reports, and a run started, stopped and closed by clicks.
#include "engine/engine.h"
#include "plan/checks.h"
#include "mainwindow/form1.h"
#include "mainwindow/runview.h"
#include "support/windowfixture.h"
#include "ui_Form1.h"

#include <QLineEdit>
#include <QtTest>

using namespace archivon;

namespace {

using Kind = RunEvent::Kind;

RunEvent phase(Phase p)
{
    return {.kind = Kind::Phase, .pair = 1, .phase = p, .path = "C:\\Documenti"};
}
RunProgress::Copy copy(const QString& name, qint64 size, qint64 written, quint64 serial)
{
    return {"C:\\Documenti\\" + name, "R:\\B\\Documenti\\" + name, size, written, serial};
}

} // namespace

class TestRunView : public QObject, test::WindowFixture
{
    Q_OBJECT

    Form1* m_form = nullptr;
    Ui::Form1* ui() { return m_form->ui(); }
    QString status() { return ui()->Label_file_in_copia->text(); }
    QStringList list()
    {
        QStringList rows;
        for (int i = 0; i < ui()->List1->count(); ++i)
            rows << ui()->List1->item(i)->text();
        return rows;
    }
    // Four small pairs; the first source also holds a large file.
    void fourPairs()
    {
        for (int n = 1; n <= 4; ++n) {
            m_drives->writeFile(QStringLiteral("C:\\s%1\\f%1.txt").arg(n), "f");
            m_form->findChild<QLineEdit*>(QStringLiteral("Text_sorgente%1").arg(n))
                ->setText(QStringLiteral("C:\\s%1").arg(n));
            m_form->findChild<QLineEdit*>(QStringLiteral("Text_destinazione%1").arg(n))
                ->setText(QStringLiteral("R:\\BK\\d%1").arg(n));
        }
        m_drives->writeFile("C:\\s1\\grande.bin", QByteArray(64 << 20, 'g'));
        m_drives->makeDir("R:\\BK");
    }
    void waitForTheEnd()
    {
        QTRY_VERIFY_WITH_TIMEOUT(m_form->engine() && !m_form->engine()->isRunning(), 30000);
        QCoreApplication::processEvents(); // the last reports
    }
    bool markerWritten() { return QFile::exists(m_drives->programFolder() + "/oldimp.pvx"); }

private slots:
    void init()
    {
        setUp();
        m_form = Forms::form1();
        m_form->show();
    }
    void cleanup() { tearDown(); }

    // A recorded run, replayed: the designed texts in their order, the counters of
    // copies that have ended, the file named while a large one copies beside small
    // ones, and the time left as the estimate's ticks tell it. However it ends (after
    // the next pair's walk has begun, unless it completed), the status line says so, the
    // list shows what was not copied and nothing as still to come, nothing is animated.
    void replay_data()
    {
        QTest::addColumn<RunEnd::Reason>("reason");
        QTest::addColumn<QString>("said");
        // clang-format off
        QTest::newRow("completed, with a failure") << RunEnd::Reason::Completed << "Operazione completata con 1 errore: un elemento non è stato copiato (vedere l'elenco).";
        QTest::newRow("stopped") << RunEnd::Reason::Stopped << "Interrotto dall'utente!";
        QTest::newRow("no space") << RunEnd::Reason::NoSpace << "Spazio insufficiente per completare l'operazione!";
        QTest::newRow("drive lost") << RunEnd::Reason::DestinationLost << "L'unità di destinazione R: non è più disponibile: backup interrotto!";
        QTest::newRow("refused: another run holds the folder") << RunEnd::Reason::Locked << "Un altro backup di questo computer è in corso.";
        // clang-format on
    }
    void replay()
    {
        QFETCH(RunEnd::Reason, reason);
        QFETCH(QString, said);
        const bool completed = reason == RunEnd::Reason::Completed;
        RunView& view = m_form->view();
        const QString initial = status();
        QStringList shown{initial};
        const auto note = [&] {
            if (shown.isEmpty() || shown.last() != status())
                shown << status();
        };
        const auto apply = [&](const RunEvent& e) { view.apply(e), note(); };
        const auto sample = [&](RunProgress p) { p.pair = 1, view.sample(p), note(); };
        const auto tick = [&](int seconds) { // the estimate: none with no ratio yet
            m_form->SecondiTrascorsi = seconds;
            m_form->Timer_stima_Timer();
            return ui()->Lbl_tempo->text().remove("Tempo trascorso : ");
        };
        view.begin();
        apply({.kind = Kind::RunStarted, .pair = 1});
        apply(phase(Phase::Scanning));
        QCOMPARE(list(), QStringList{"C:\\Documenti"});
        sample({.foldersKnown = 2, .foldersVisited = 1});
        QCOMPARE(ui()->Lbl_file_totali->text(), QStringLiteral("2"));
        apply({.kind = Kind::Scanned, .pair = 1, .folders = {"C:\\Documenti", "C:\\Documenti\\Lettere"},
               .count = 4});
        apply({.kind = Kind::Measured, .pair = 1, .bytes = 300000});
        QCOMPARE(ui()->Lbl_dim_tot->text(), QStringLiteral("Dimensione da copiare : 292,97 Kb"));
        for (Phase p : {Phase::Cleaning, Phase::Creating, Phase::MakingFolders})
            apply(phase(p));
        QCOMPARE(tick(0), "1 s");
        apply(phase(Phase::Copying)); // the folders made too quickly to be sampled are listed
        QCOMPARE(list(), (QStringList{"C:\\Documenti", "C:\\Documenti\\Lettere"}));
        const qint64 big = 100 << 20;
        sample({.copying = {copy("a.txt", 10, 0, 1), copy("grande.bin", big, 0, 2)}});
        sample({.filesEnded = 1, .copying = {copy("grande.bin", big, big / 2, 2), copy("b.txt", 2, 0, 3)}});
        QCOMPARE(ui()->ProgressBar1->value(), 50.0f);
        QCOMPARE(ui()->Lbl_dim_file->text(), QStringLiteral("Dimensione file : 100,00 Mb"));
        sample({.filesEnded = 2, .copying = {copy("grande.bin", big, big - 1, 2), copy("c.txt", 3, 0, 4)}});
        QCOMPARE(ui()->Lbl_file_copiati->text(), QStringLiteral("2"));
        QCOMPARE(ui()->Barra_file->value(), 2.0f);
        QCOMPARE(tick(9), "10 s Tempo rimanente : 15 s");
        sample({.filesEnded = 3, .passingOver = true}); // unchanged files, nothing copied
        sample({.filesEnded = 3, .foldersDone = 1, .copying = {copy("c.txt", 3, 0, 4)}});
        QCOMPARE(list(), QStringList{"C:\\Documenti\\Lettere"}); // its first folder is done
        apply({.kind = Kind::Failure, .pair = 1, .path = "C:\\Documenti\\Lettere\\d.txt",
               .detail = "accesso negato"});
        apply({.kind = Kind::PairFinished, .pair = 1});
        QCOMPARE(ui()->Barra_totale->value(), ui()->Barra_totale->max());
        QCOMPARE(ui()->Barra_file->value(), 4.0f); // one step short of full
        apply(completed ? phase(Phase::Cleaning)
                        : RunEvent{.kind = Kind::Phase, .pair = 2, .phase = Phase::Scanning, .path = "C:\\s2"});
        QVERIFY(ui()->TMaxAni1->isPlaying());
        apply({.kind = Kind::RunEnded, .end = {.reason = reason, .status = said}});
        const QString copying = "Copia in corso del file C:\\Documenti\\%1 in R:\\B\\Documenti\\%1 ...";
        QCOMPARE(shown, (QStringList{initial, "Analisi in corso...",
                                     "Pulizia cartella di destinazione in corso...",
                                     "Creazione cartella in corso in corso...", copying.arg("a.txt"),
                                     copying.arg("grande.bin"), "Analisi in corso...", copying.arg("c.txt"),
                                     completed ? "Pulizia cartella di destinazione in corso..." : "Analisi in corso...",
                                     said}));
        QCOMPARE(list(), QStringList{"C:\\Documenti\\Lettere\\d.txt : accesso negato"});
        QCOMPARE(ui()->Label7->text(), QStringLiteral("Elementi non copiati:"));
        QVERIFY(ui()->List1->isVisible() && ui()->Label7->isVisible() && !ui()->TMaxAni1->isPlaying());
        QCOMPARE(ui()->Command3->text(), QStringLiteral("Avvia Backup"));
        if (completed) {
            QCOMPARE(ui()->Barra_file->value(), ui()->Barra_file->max());
            QCOMPARE(tick(64), "1 m 5 s Tempo rimanente : 0 s");
            QVERIFY(ui()->TMaxAni1->isHidden() && ui()->Command1->isEnabled());
        }
    }

    // The shutdown is decided by the box as it is when the run completes: unticked
    // while the run copies, no request. Every tick warns; an untick does not. (A whole
    // run by clicks: e2e_backup.)
    void shutdownDecidedAtTheEnd()
    {
        fourPairs();
        ui()->Check1->click();
        m_boxes.answerYes();
        ui()->Command3->click();
        ui()->Check1->click();
        waitForTheEnd();
        ui()->Check1->click();
        QCOMPARE(status(), QStringLiteral("Operazione completata con successo!"));
        QVERIFY(markerWritten() && m_session.requests.isEmpty() && !ui()->Text_sorgente1->isReadOnly());
        const QString warning = "ATTENZIONE! con sistemi basati su WIN NT (WIN XP, 2000, NT) \r\n"
                                "il PC potrebbe non spegnersi ma solo disconnettere l'utente!";
        const QStringList boxes = m_boxes.texts(); // the warning, the question, the warning
        QVERIFY(boxes.size() == 3 && boxes[0] == warning && boxes[2] == warning);
    }

    // The stop question holds the run; Yes ends it as stopped, with no marker and no
    // shutdown. Closing the window ends it the same way. An end that comes while the
    // question is open closes it, and its box follows; a Yes given then changes nothing.
    void stopAndClose_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("stop confirmed") << "stop";
        QTest::newRow("window closed") << "close";
        QTest::newRow("an end during the question") << "end";
    }
    void stopAndClose()
    {
        QFETCH(QString, how);
        fourPairs();
        ui()->Check1->setChecked(true);
        m_boxes.answerYes();
        ui()->Command3->click();
        if (how == "close") {
            m_form->close();
            QVERIFY(Forms::ending() && !m_form->engine()->isRunning());
        } else {
            const QString lost = "L'unità di destinazione R: non è più disponibile: backup interrotto!";
            if (how == "end")
                m_boxes.whileOpen([&] { emit m_form->engine()->reported({.kind = Kind::RunEnded, .end = {
                    .reason = RunEnd::Reason::DestinationLost, .status = lost, .message = lost}}); });
            m_boxes.answerYes();
            ui()->Command3->click();
            QCOMPARE(m_boxes.texts().at(1), QStringLiteral("Vuoi interrompere la copia?"));
            const QString shown = how == "end" ? lost : "Interrotto dall'utente!";
            QCOMPARE(m_boxes.texts().size(), how == "end" ? 3 : 2); // the end's box after the question
            QVERIFY(m_boxes.closedQuestions == (how == "end") && status() == shown && m_form->InPausa == (how == "stop"));
            if (how == "stop")
                waitForTheEnd();
            QCOMPARE(status(), shown);
            QCOMPARE(ui()->Command3->text(), QStringLiteral("Avvia Backup"));
        }
        QVERIFY(!markerWritten() && m_session.requests.isEmpty());
        QVERIFY(!QFileInfo::exists(m_drives->host("R:\\BK\\d1\\grande.bin")));
    }

    // Refused before anything is touched: the hidden single-pair boxes, or No.
    void nothingTouched()
    {
        fourPairs();
        ui()->Text_sorgente->setText("C:\\x\\");
        ui()->Text_destinazione->setText("C:\\x");
        ui()->Command3->click();
        QCOMPARE(m_boxes.texts(), QStringList{kSelfCopyMessage});
        ui()->Text_destinazione->setText("C:\\y");
        m_boxes.answerNo();
        ui()->Command3->click();
        QVERIFY(!m_form->engine() && !QFileInfo::exists(m_drives->host("R:\\BK\\d1")));
        QCOMPARE(m_boxes.unexpected, 0);
    }
};

QTEST_MAIN(TestRunView)
#include "tst_runview.moc"
