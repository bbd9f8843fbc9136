// The program as a whole: its command line, and its end: with its last window, and at once
// with the main window whatever else is open. (Each window once, loaded before it shows:
// what every window test relies on.)
#include "app/application.h"
#include "app/commandline.h"
#include "app/unattended.h"
#include "dialogs/form2.h"
#include "dialogs/form3.h"
#include "dialogs/formavvio.h"
#include "mainwindow/form1.h"
#include "support/windowfixture.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QMenu>
#include <QtTest>

using namespace archivon;

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
        QTest::newRow("unknown option")
            << QStringList{"--backup", "--utente", "u", "--spengi"} << leave << "" << "" << 2
            << "opzione sconosciuta: --spengi";
        QTest::newRow("stray word") << QStringList{"backup"} << leave << "" << "" << 2
                                    << "argomento non previsto: backup";
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
        QCOMPARE(c.shutdown, flags.contains("spegni"));
        QCOMPARE(c.fullRewrite, flags.contains("completo"));
        QCOMPARE(c.exitCode, exitCode);
        QVERIFY2(c.text.contains(text), qPrintable(c.text));
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
