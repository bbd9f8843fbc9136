#include "app/commandline.h"
#include "app/unattended.h"

#include <QtTest>

using namespace archivon;

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
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
        RunEnd end;
        end.outcome = RunOutcome::EndedEarly;
        QCOMPARE(exitStatusFor(end), 3);
        end.failures = 3;
        QCOMPARE(exitStatusFor(end), 3);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
