// The program as a whole: its command line, the overview of every computer's last backup,
// and its end: with its last window, and at once
// with the main window whatever else is open. (Each window once, loaded before it shows:
// what every window test relies on.)
#include "app/application.h"
#include "app/commandline.h"
#include "app/unattended.h"
#include "record/overview.h"
#include "lock/runlock.h"
#include "platform/identity.h"
#include "dialogs/form2.h"
#include "dialogs/form3.h"
#include "dialogs/formavvio.h"
#include "mainwindow/form1.h"
#include "support/windowfixture.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QMenu>
#include <QtTest>

#include <sys/time.h>

using namespace archivon;

namespace {

// The overview's clock: Wednesday 9 December 2026, 08:00.
const QDateTime kNow(QDate(2026, 12, 9), QTime(8, 0));

QString december(int day)
{
    const QDateTime t(QDate(2026, 12, day), QTime(19, 30));
    return day == 0 ? QString() : t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate);
}

// "computer|user|outcome|failures|start day|last clean day|written|kept[|reach]" as the
// record on R: says it (reach: "day N", or the record's word; none in an older record);
// any other text is the record as it is.
QString recordText(const QString& folder, const QString& summary)
{
    const QStringList f = summary.split('|');
    if (f.size() != 8 && f.size() != 9)
        return summary;
    const QString reach = f.size() == 8 ? QString()
                          : QStringLiteral("; ripristinabile-dal=") +
                                (f[8].startsWith("day ") ? december(f[8].mid(4).toInt()) : f[8]);
    return QStringLiteral("Archivon 1.0: registro del backup\nInizio: 2026-12-%1 19:30:00\nComputer: %2\n"
                          "Utente: %3\nCartella del computer: R:\\BKPQORL\\%4\nRiepilogo: esito=%5; errori=%6; "
                          "coppie-saltate=0; inizio=%7; fine=%7; ultimo-senza-errori=%8; byte-scritti=%9; "
                          "byte-tenuti=%10%11\nFine: 2026-12-%1 19:40:00\n")
        .arg(f[4], f[0], f[1], folder, f[2], f[3], december(f[4].toInt()), december(f[5].toInt()), f[6])
        .arg(f[7], reach);
}

// Every entry under a host folder with its size and times: what "left as it was" compares.
QStringList snapshot(const QString& folder)
{
    QStringList entries;
    for (const QString& name : test::treeOf(folder)) {
        const QFileInfo i(folder + '/' + name);
        entries << QStringLiteral("%1 %2 %3 %4").arg(name).arg(i.size()).arg(
                       i.lastModified().toMSecsSinceEpoch()).arg(i.metadataChangeTime().toMSecsSinceEpoch());
    }
    return entries;
}

} // namespace

class TestApp : public QObject, test::WindowFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    // Known to the window system by name; Qt's own texts (an edit box's menu) in Italian.
    void applicationSetUp()
    {
        setUpApplication();
        QCOMPARE(QGuiApplication::desktopFileName(), "it.qorl.Archivon");
        QLineEdit box;
        const std::unique_ptr<QMenu> menu(box.createStandardContextMenu());
        QCOMPARE(menu->actions().first()->text().section('\t', 0, 0), "Ann&ulla");
    }

    void programEnds_data()
    {
        QTest::addColumn<QStringList>("clicks"); // on the wizard
        QTest::addColumn<QString>("form");       // then, with the program still running
        QTest::addColumn<QString>("button");     // none: the window is closed
        // clang-format off
        QTest::newRow("restore: the box alone, its OK") << QStringList{"Option2", "Command2"} << "Form3" << "Command1";
        QTest::newRow("Esci beside picker and box") << QStringList{"Option1", "Command2"} << "Form1" << "Command5";
        QTest::newRow("main window closed beside them") << QStringList{"Option1", "Command2"} << "Form1" << "";
        QTest::newRow("closed from the picker's input box") << QStringList{"Option1", "Command2"} << "Form2" << "Command1";
        // clang-format on
    }
    void programEnds()
    {
        QFETCH(QStringList, clicks);
        QFETCH(QString, form);
        QFETCH(QString, button);
        QObject scope;
        bool ranOn = false;
        QTimer::singleShot(5000, &scope, [] { QCoreApplication::exit(99); }); // never ended
        QTimer::singleShot(0, &scope, [&] {
            Forms::avvio()->show();
            for (const QString& name : clicks)
                Forms::avvio()->findChild<QAbstractButton*>(name)->click();
            QTimer::singleShot(50, &scope, [&] {
                ranOn = true;
                if (form != "Form3") { // the picker and the box open beside the main window
                    Forms::form2()->show();
                    Forms::form3()->show();
                }
                m_boxes.whileOpen([] { Forms::form1()->close(); }); // the picker's input box
                m_boxes.answerInput("Dopo");
                QWidget* w = form == "Form1"   ? static_cast<QWidget*>(Forms::form1())
                             : form == "Form2" ? static_cast<QWidget*>(Forms::form2())
                                               : Forms::form3();
                button.isEmpty() ? void(w->close())
                                 : w->findChild<QAbstractButton*>(button)->click();
            });
        });
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(ranOn && Forms::ending() == (form != "Form3"));
        QVERIFY(!QFileInfo::exists(m_drives->programFolder() + "/Dopo"));
        for (const char* name : {"Form_avvio", "Form1", "Form2", "Form3"})
            QVERIFY2(!Forms::isLoaded(name), name);
    }

    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("action"); // CommandLine::Action
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("flags"); // what --spegni and --completo set
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("text"); // part of what is printed

        const int wizard = int(CommandLine::Action::Wizard);
        const int backup = int(CommandLine::Action::Backup);
        const int leave = int(CommandLine::Action::Leave);
        QTest::newRow("nothing: the wizard") << QStringList{} << wizard << "" << "" << 0 << "";
        QTest::newRow("backup") << QStringList{"--backup", "--utente", "ufficio 2"} << backup
                                << "ufficio 2" << "" << 0 << "";
        QTest::newRow("backup and shutdown, any order")
            << QStringList{"--spegni", "--utente=ufficio2", "--backup"} << backup << "ufficio2"
            << "spegni" << 0 << "";
        QTest::newRow("full rewrite")
            << QStringList{"--backup", "--completo", "--utente", "u"} << backup << "u" << "completo"
            << 0 << "";
        QTest::newRow("help in Italian")
            << QStringList{"--help"} << leave << "" << "" << 0 << "Stato d'uscita con --backup";
        QTest::newRow("version") << QStringList{"-v"} << leave << "" << "" << 0
                                 << "Archivon " ARCHIVON_TEST_VERSION "\n";
        QTest::newRow("user without its name") << QStringList{"--backup", "--utente"} << leave << ""
                                               << "" << 2 << "manca il nome dopo --utente";
        QTest::newRow("shutdown alone must not start anything")
            << QStringList{"--spegni"} << leave << "" << "" << 2 << "valgono solo con --backup";
        QTest::newRow("full rewrite alone must not start anything")
            << QStringList{"--completo"} << leave << "" << "" << 2 << "valgono solo con --backup";
        QTest::newRow("a dry run alone must not start the wizard")
            << QStringList{"--prova"} << leave << "" << "" << 2 << "valgono solo con --backup";
        QTest::newRow("unknown option")
            << QStringList{"--backup", "--utente", "u", "--spengi"} << leave << "" << "" << 2
            << "opzione sconosciuta: --spengi";
        QTest::newRow("stray word") << QStringList{"backup"} << leave << "" << "" << 2
                                    << "argomento non previsto: backup";
        const int overview = int(CommandLine::Action::Overview);
        QTest::newRow("overview") << QStringList{"--stato"} << overview << "" << "2  7 " << 0 << "";
        QTest::newRow("overview, every option")
            << QStringList{"--csv", "--stato", "--giorni", "0", "--attesi=pc.txt", "--giorni-verifica", "14"} << overview << ""
            << "0 pc.txt 14 csv" << 0 << "";
        QTest::newRow("days not a number") << QStringList{"--stato", "--giorni", "2x"} << leave << ""
                                           << "" << 2 << "--giorni vuole un numero";
        QTest::newRow("check days below nought") << QStringList{"--stato", "--giorni-verifica", "-1"} << leave << ""
                                                 << "" << 2 << "--giorni-verifica vuole un numero";
        QTest::newRow("expected without its file") << QStringList{"--stato", "--attesi"} << leave << ""
                                                   << "" << 2 << "manca il file dopo --attesi";
        QTest::newRow("csv alone") << QStringList{"--csv"} << leave << "" << "" << 2
                                   << "valgono solo con --stato";
        const int restore = int(CommandLine::Action::Restore);
        QTest::newRow("restore, every option")
            << QStringList{"--ripristina", "--utente", "u", "--al", "2026-12-07 19:30", "--percorso", "Documenti\\P",
                           "--destinazione", "C:\\R", "--prova", "--computer", "PC7"} << restore << "u" << "" << 0 << "";
        QTest::newRow("restore, a date it cannot read")
            << QStringList{"--ripristina", "--utente", "u", "--al", "7/12/2026"} << leave << "" << "" << 2
            << "--al vuole una data";
        QTest::newRow("a restore's option alone") << QStringList{"--percorso", "x"} << leave << "" << "" << 2
                                                  << "valgono solo con --ripristina";
        QTest::newRow("moments listed and a restore at once")
            << QStringList{"--ripristina", "--utente", "u", "--elenco", "--prova"} << leave << "" << "" << 2
            << "vanno date separatamente";
        QTest::newRow("overview and backup") << QStringList{"--stato", "--backup", "--utente", "u"}
                                             << leave << "" << "" << 2 << "--stato non va con --backup";
        const int check = int(CommandLine::Action::Check);
        QTest::newRow("check, every option")
            << QStringList{"--verifica", "--utente", "u", "--quota", "25%", "--sorgente", "--anche-versioni",
                           "--computer", "PC7"} << check << "u" << "25 sorgente versioni" << 0 << "";
        QTest::newRow("check, a quota of nothing") << QStringList{"--verifica", "--utente", "u", "--quota", "0%"}
                                                   << leave << "" << "" << 2 << "--quota vuole una percentuale";
        QTest::newRow("check, a quota over the whole") << QStringList{"--verifica", "--utente", "u", "--quota=101"}
                                                       << leave << "" << "" << 2 << "da 1% a 100%";
        QTest::newRow("a check's option alone") << QStringList{"--sorgente"} << leave << "" << "" << 2
                                                << "valgono solo con --verifica";
        QTest::newRow("check days with a check") << QStringList{"--verifica", "--utente", "u", "--giorni-verifica", "3"} << leave
                                                 << "" << "" << 2 << "--verifica va solo con";
        QTest::newRow("check and restore") << QStringList{"--verifica", "--ripristina", "--utente", "u"} << leave
                                           << "" << "" << 2 << "--verifica va solo con";
    }
    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, action);
        QFETCH(QString, user);
        QFETCH(QString, flags);
        QFETCH(int, exitCode);
        QFETCH(QString, text);
        const CommandLine c = parseCommandLine(QStringList{"archivon"} + arguments);
        QCOMPARE(int(c.action), action);
        QCOMPARE(c.user, user);
        if (c.action == CommandLine::Action::Overview) {
            QCOMPARE(QStringLiteral("%1 %2 %3 %4").arg(c.days).arg(c.expectedFile).arg(c.checkDays).arg(c.csv ? "csv" : ""),
                     flags);
            return;
        }
        if (c.action == CommandLine::Action::Check) {
            QCOMPARE(QStringLiteral("%1 %2 %3")
                         .arg(c.quota)
                         .arg(c.checkSource ? "sorgente" : "", c.checkVersions ? "versioni" : ""),
                     flags);
            return;
        }
        QCOMPARE(c.shutdown, flags.contains("spegni"));
        QCOMPARE(c.fullRewrite, flags.contains("completo"));
        QCOMPARE(c.exitCode, exitCode);
        QVERIFY2(c.text.contains(text), qPrintable(c.text));
    }

    // One computer folder as the overview finds it: its line and the exit status, and
    // R: left exactly as it was. The last check's columns are "never checked" unless
    // the row's check says otherwise.
    void overview_data()
    {
        QTest::addColumn<QString>("folder");   // made under R:\BKPQORL; empty: none
        QTest::addColumn<QString>("record");   // its archivon.log (see recordText); "{}": a folder
        QTest::addColumn<QString>("lock");     // "live", "stale" or none; "check=outcome|damaged|read lately|total|end day[|damaged
                                               // before]" adds an earlier check (day 1, 5 damaged) and then that one to
                                               // archivon-verifica.log
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("line");     // as CSV, without the header
        QTest::addColumn<int>("status");
        // clang-format off
        QTest::newRow("completed, names holding _, versions") << "PC_1_a_b" << "PC_1|a_b|completato|0|8|8|2048|1048576|day 1" << ""
            << QStringList{"pc_1_A_B"}
            << "PC_1_a_b;PC_1;a_b;2026-12-08 19:30:00;completato;0;2026-12-08 19:30:00;1;2048;1048576;3;2026-12-01 19:30:05;;2026-12-01 19:30:00" << 0;
        QTest::newRow("always the same failures") << "PC2_b" << "PC2|b|con-errori|3|8|3|10|20|solo-attuale" << "" << QStringList{}
            << "PC2_b;PC2;b;2026-12-08 19:30:00;con 3 errori;3;2026-12-03 19:30:00;4;10;20;0;;completa, ma sempre con errori;solo lo stato attuale" << 1;
        QTest::newRow("stopped, clean two working days ago") << "PC3_c" << "PC3|c|interrotto|0|8|7|5|6|solo-attuale" << "" << QStringList{}
            << "PC3_c;PC3;c;2026-12-08 19:30:00;interrotto dall'utente;0;2026-12-07 19:30:00;2;5;6;0;;;solo lo stato attuale" << 0;
        QTest::newRow("refused, never clean") << "PC4_d" << "PC4|d|rifiutato|0|8|0|0|0|" << "" << QStringList{}
            << "PC4_d;PC4;d;2026-12-08 19:30:00;rifiutato;0;;;0;0;0;;backup non completato;" << 1;
        QTest::newRow("in progress: what can be given back may change") << "PC5_e" << "PC5|e|completato|0|7|7|1|2|day 2" << "live" << QStringList{}
            << "PC5_e;PC5;e;2026-12-08 19:30:00;in corso;;2026-12-07 19:30:00;2;;;0;;;" << 0;
        QTest::newRow("a restore going on leaves the last backup's line") << "PC5_e" << "PC5|e|completato|0|7|7|1|2|day 3" << "restore" << QStringList{}
            << "PC5_e;PC5;e;2026-12-07 19:30:00;completato (ripristino in corso);0;2026-12-07 19:30:00;2;1;2;0;;;2026-12-03 19:30:00" << 0;
        QTest::newRow("interrupted, clean last week") << "PC6_f" << "PC6|f|completato|0|1|1|1|2" << "stale" << QStringList{}
            << "PC6_f;PC6;f;2026-12-08 19:30:00;interrotto (blocco scaduto);;2026-12-01 19:30:00;6;;;0;;backup non completato;" << 1;
        QTest::newRow("unreadable") << "PC7_g" << "{}" << "" << QStringList{}
            << "PC7_g;;;;registro illeggibile: *;;;;;;0;;registro da controllare;" << 1;
        QTest::newRow("not a record") << "PC8_h" << "ciao\n" << "" << QStringList{}
            << "PC8_h;;;;registro non riconosciuto;;;;;;0;;registro da controllare;" << 1;
        QTest::newRow("older version, clean three working days ago") << "PC9_i"
            << "Archivon 0.9: registro del backup\r\nInizio: 2026-12-04 19:30:05\r\nStato: Operazione completata\r\n"
               "Esito: completato senza errori; errori: 0; coppie saltate: 1\r\nFine: 2026-12-04 19:40:00\r\n" << "" << QStringList{}
            << "PC9_i;;;2026-12-04 19:30:05;completato;0;2026-12-04 19:30:05;3;;;0;;nessun backup recente;" << 1;
        QTest::newRow("no record") << "PC10_j" << "" << "" << QStringList{}
            << "PC10_j;;;;nessun registro;;;;;;0;;nessun backup registrato;" << 1;
        QTest::newRow("expected, absent") << "" << "" << "" << QStringList{"PC11_k"}
            << "PC11_k;;;;cartella assente;;;;;;0;;nessuna cartella: mai eseguito;" << 1;
        QTest::newRow("no site folder") << "-" << "" << "" << QStringList{"PC11_k"}
            << "La cartella R:\\BKPQORL non esiste" << 2;
        QTest::newRow("R: not ready") << "-R" << "" << "" << QStringList{} << "L'unità R: non è disponibile." << 2;
        QTest::newRow("checked yesterday, whole; the index is no computer") << "PC12_l" << "PC12|l|completato|0|8|8|1|2" << "check=integro|0|87|100|8"
            << QStringList{} << "PC12_l;PC12;l;2026-12-08 19:30:00;completato;0;2026-12-08 19:30:00;1;1;2;0;;;;2026-12-08 07:38:00;integro;0;87" << 0;
        QTest::newRow("damage found, the backup's own warning first") << "PC13_m" << "PC13|m|con-errori|1|8|3|1|2" << "check=problemi|2|30|90|8"
            << QStringList{} << "PC13_m;PC13;m;2026-12-08 19:30:00;con 1 errore;1;2026-12-03 19:30:00;4;1;2;0;;"
                                "completa, ma sempre con errori, la verifica ha trovato 2 file danneggiati;;2026-12-08 07:38:00;problemi;2;33" << 1;
        QTest::newRow("last check more than seven days ago") << "PC14_n" << "PC14|n|completato|0|8|8|1|2" << "check=integro|0|0|100|1"
            << QStringList{} << "PC14_n;PC14;n;2026-12-08 19:30:00;completato;0;2026-12-08 19:30:00;1;1;2;0;;"
                                "nessuna verifica da più di 7 giorni;;2026-12-01 07:38:00;integro;0;0" << 1;
        QTest::newRow("a check gave way yesterday: the damage the last whole one found stands") << "PC15_o" << "PC15|o|completato|0|8|8|1|2" << "check=ceduta|0|0|100|8"
            << QStringList{} << "PC15_o;PC15;o;2026-12-08 19:30:00;completato;0;2026-12-08 19:30:00;1;1;2;0;;"
                                "la verifica ha trovato 5 file danneggiati;;2026-12-08 07:38:00;ceduta;0;0" << 1;
        QTest::newRow("a check gave way yesterday, the last whole one long ago") << "PC16_p" << "PC16|p|completato|0|8|8|1|2" << "check=ceduta|0|0|100|8|0"
            << QStringList{} << "PC16_p;PC16;p;2026-12-08 19:30:00;completato;0;2026-12-08 19:30:00;1;1;2;0;;"
                                "nessuna verifica da più di 7 giorni;;2026-12-08 07:38:00;ceduta;0;0" << 1;
        // clang-format on
    }
    void overview()
    {
        QFETCH(QString, folder);
        QFETCH(QString, record);
        QFETCH(QString, lock);
        QFETCH(QStringList, expected);
        QFETCH(QString, line);
        QFETCH(int, status);
        const QString root = "R:\\BKPQORL\\" + folder;
        if (!folder.startsWith('-'))
            m_drives->makeDir("R:\\BKPQORL");
        if (!folder.isEmpty() && !folder.startsWith('-'))
            m_drives->makeDir(root);
        if (record == "{}")
            m_drives->makeDir(root + "\\archivon.log");
        else if (!record.isEmpty())
            m_drives->writeFile(root + "\\archivon.log", recordText(folder, record).toUtf8());
        RunLock held;
        if (lock == "live" || lock == "restore") { // its last heartbeat a minute before the overview's clock
            QCOMPARE(held.acquire(root, "PC5", "e", QDateTime::fromString(december(8), Qt::ISODate),
                                  lock == "live" ? LockKind::Backup : LockKind::Restore).result,
                     RunLock::Result::Taken);
            const timeval beat[2] = {{kNow.toSecsSinceEpoch() - 60, 0}, {kNow.toSecsSinceEpoch() - 60, 0}};
            for (const char* entry : {"", "/proprietario", "/battito"})
                QCOMPARE(::utimes(QFile::encodeName(m_drives->host(root + "\\.archivon-blocco") + entry).constData(), beat), 0);
        }
        if (lock == "stale") // this machine's, from an earlier boot
            m_drives->writeFile(root + "\\.archivon-blocco\\proprietario",
                                ("host=" + platform::hostName() + "\nboot=prima\npid=1\ninizio=" + december(8) +
                                 "\ntoken=t\n").toUtf8());
        if (lock.startsWith("check=")) {
            const QStringList f = lock.mid(6).split('|');
            const auto at = [](int day) { return QDateTime(QDate(2026, 12, day), QTime(7, 38)); };
            // An older check that found damage first: only the last one counts.
            const qint64 before = f.size() > 5 ? f[5].toLongLong() : 5;
            QVERIFY(appendCheckSummary(root, {at(1).addSecs(-600), at(1).addSecs(-300),
                                              before ? CheckOutcome::Problems : CheckOutcome::Whole, 5, 100, before, 0, 5,
                                              "l", "pc"}).ok());
            const CheckOutcome outcome = f[0] == "integro"  ? CheckOutcome::Whole
                                         : f[0] == "ceduta" ? CheckOutcome::GaveWay
                                                            : CheckOutcome::Problems;
            QVERIFY(appendCheckSummary(root, {at(f[4].toInt()).addSecs(-1800), at(f[4].toInt()), outcome, 25, f[3].toLongLong(),
                                              f[1].toLongLong(), 0, f[2].toLongLong(), "l", "pc"}).ok());
            m_drives->writeFile(root + "\\.archivon-indice\\Documenti", "x");
        }
        if (folder == "PC_1_a_b") {
            for (const char* name : {"2026-12-02 19.30.05", "2026-12-02 19.30.05 (2)", "2026-12-01 19.30.05", "appunti"})
                m_drives->makeDir(root + "\\Versioni precedenti\\" + name);
        }
        if (folder == "-R")
            m_drives->unmap('R');
        const QStringList before = snapshot(m_drives->drivesFolder());

        const SiteOverview o = readSiteOverview("R:\\BKPQORL", expected, 2, kNow, 7);
        QCOMPARE(snapshot(m_drives->drivesFolder()), before);
        if (!lock.startsWith("check=") && status != 2)
            line += ";;mai verificato;;";
        QCOMPARE(o.exitStatus(), status);
        const QStringList lines = o.csv().split('\n', Qt::SkipEmptyParts).mid(1);
        QCOMPARE(lines.size(), status == 2 ? 0 : 1);
        if (status == 2) {
            QVERIFY2(o.error.startsWith(line) && o.table().startsWith(o.error), qPrintable(o.error));
        } else {
            QVERIFY(o.table().contains(line.section(';', 4, 4).remove('*')));
            const QRegularExpression pattern(QRegularExpression::anchoredPattern(
                QRegularExpression::escape(line).replace("\\*", "[^;]+")));
            QVERIFY2(pattern.match(lines.first()).hasMatch(), qPrintable(lines.first()));
        }
    }

    // The most overdue first, never-run ones before all; the terminal's columns line up.
    void overviewOrderAndColumns()
    {
        m_drives->writeFile("R:\\BKPQORL\\PC1_a\\archivon.log",
                            recordText("PC1_a", "PC1|a|completato|0|8|8|1|1|day 2").toUtf8());
        m_drives->writeFile("R:\\BKPQORL\\UN-NOME-LUNGO_b\\archivon.log",
                            recordText("UN-NOME-LUNGO_b", "UN-NOME-LUNGO|b|con-errori|1|8|2|1|1").toUtf8());
        const SiteOverview o = readSiteOverview("R:\\BKPQORL", {"PC0_z"}, 2, kNow);
        QStringList order;
        for (const ComputerState& c : o.computers)
            order << c.folder;
        QCOMPARE(order, (QStringList{"PC0_z", "UN-NOME-LUNGO_b", "PC1_a"}));
        const QStringList table = o.table().split('\n');
        const qsizetype column = table.at(2).indexOf("Esito");
        QCOMPARE(table.at(3).indexOf("cartella assente"), column);
        QCOMPARE(table.at(4).indexOf("con 1 errore"), column);
        QCOMPARE(table.at(5).indexOf("completato"), column);
        QVERIFY(table.at(3).startsWith('!') && !table.at(5).startsWith('!'));
        const qsizetype reach = table.at(2).indexOf("Ripristinabile");
        QCOMPARE(table.at(5).indexOf("dal 02/12/2026 19:30:00"), reach);
        QCOMPARE(table.at(4).indexOf("completa, ma sempre con errori"), table.at(2).indexOf("Da controllare"));
    }

    // A run that ends early is status 3, failures or not. (Statuses 0, 1 and 2, and a
    // --backup without --utente, are checked on real runs by e2e_unattended.)
    void exitStatusOfAnEarlyEnd()
    {
        RunEnd end{.outcome = RunOutcome::EndedEarly};
        QCOMPARE(exitStatusFor(end), 3);
        end.failures = 3;
        QCOMPARE(exitStatusFor(end), 3);
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
