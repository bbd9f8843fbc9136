// The main window's own commands: the backup folders it makes on drive R: as it loads,
// or reports once; the folder choice through the picker, the destination given its
// trailing backslash. (Closing it with others open: tst_app.)
#include "dialogs/form2.h"
#include "dialogs/formavvio.h"
#include "mainwindow/form1.h"
#include "platform/drives.h"
#include "platform/identity.h"
#include "support/windowfixture.h"
#include "ui_Form1.h"
#include "ui_Form2.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace archivon;

class TestForm1 : public QObject, test::WindowFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    // {root}: the backup folder's name, {host}: the computer's name.
    void folders_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QStringList>("before"); // or "unmapped", or "file": BKPQORL is one
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QStringList>("reported"); // the one message, up to its reason
        QTest::addColumn<QString>("refusal");      // the start's, where it asks no question
        const QString cannot = "Impossibile creare la cartella R:\\BKPQORL", name = "Il nome della cartella del computer";
        const QStringList none, nested{"BKPQORL", "BKPQORL/{host}_a"}; // where "a/b" would nest
        // clang-format off
        QStringList all = {"BKPQORL", "BKPQORL/{root}", "BKPQORL/{root}/Address Book",
            "BKPQORL/{root}/Documenti", "BKPQORL/{root}/Outlook", "BKPQORL/{root}/Preferiti"};
        for (const char* user : {"ufficio2", "", "  ufficio"}) // six folders
            QTest::addRow("site absent, user \"%s\"", user) << user << none << all << none << "";
        QTest::newRow("site present") << "ufficio2" << QStringList{"BKPQORL"} << all << none << "";
        QTest::newRow("R: not mapped") << "ufficio2" << QStringList{"unmapped"} << none << QStringList{cannot} << "L'unità di destinazione R: non è disponibile!";
        QTest::newRow("site is a file") << "ufficio2" << QStringList{"file"} << QStringList{"BKPQORL"} << QStringList{cannot + "\\{root}"} << "";
        for (const char* user : {"..\\..\\x", "a/b", "c:x", "tutti*", "<ufficio>", "a\tb"})
            QTest::newRow(user) << user << nested << nested << QStringList{cannot + "\\{root}"} << (user[0] == '.' ? "Coppia 1" : name);
        // A name a share cannot keep gets nothing, not even the site folder, whatever R: is.
        for (const char* user : {"a<b", "a>b", "a:b", "a\"b", "a|b", "a?b", "a*b", "ufficio.", "ufficio ", "ufficio  "})
            QTest::newRow(user) << user << none << none << QStringList{cannot + "\\{root}"} << name;
        all.removeAt(4);
        QTest::newRow("root present, Outlook missing: nothing made") << "ufficio2" << all << all << none << "";
        // clang-format on
    }
    // The second load finds everything as the first left it; the window filled in either
    // way. Its start is refused where the folder cannot be, and starts nothing.
    void folders()
    {
        QFETCH(QString, user);
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QFETCH(QStringList, reported);
        QFETCH(QString, refusal);
        const auto text = [](QWidget* form, const char* name) {
            return form->findChild<QWidget*>(name)->property("text").toString();
        };
        const QString root = platform::hostName() + "_" + user, r = m_drives->root('r');
        for (QStringList* list : {&before, &after, &reported}) {
            list->replaceInStrings("{root}", root);
            list->replaceInStrings("{host}", platform::hostName()).sort();
        }
        for (const QString& path : before) {
            if (path == "unmapped")
                m_drives->unmap('r');
            else if (path == "file")
                m_drives->writeFile("R:\\BKPQORL", "not a folder");
            else
                QVERIFY(QDir(r).mkpath(path));
        }
        platform::setCurrentFolder("C:\\");
        for (int pass = 0; pass < 2; ++pass) { // the wizard is still open as the window loads
            m_boxes.shown.clear();
            Forms::unloadAll();
            Forms::avvio()->findChild<QWidget*>("Richiesta_utente")->setProperty("text", user);
            Form1* main = Forms::form1();
            QCOMPARE(test::treeOf(r), after);
            QCOMPARE(m_boxes.texts().replaceInStrings(QRegularExpression("\\.\r\n.*"), ""),
                     reported);
            QVERIFY(!text(main, "Text_sorgente4").isEmpty()); // the window stays, filled in
            QCOMPARE(text(main, "NomePc") + " " + text(main, "IndirizzoIp"),
                     platform::hostName() + " " + platform::ipv4Address());
            QCOMPARE(platform::currentFolder(), platform::programFolder());
        }
        m_boxes.shown.clear();
        m_boxes.answerNo();
        Forms::form1()->ui()->Command3->click();
        QVERIFY2(m_boxes.texts().value(0).startsWith(refusal.isEmpty() ? "Sei sicuro" : refusal),
                 qPrintable(m_boxes.texts().join('\n')));
        QVERIFY(!Forms::form1()->engine());
        QCOMPARE(test::treeOf(r), after);
        Forms::unloadAll(); // without the wizard there is no user name
        QVERIFY(text(Forms::form1(), "Nome_utente").isEmpty() && !Forms::isLoaded("Form_avvio"));
    }

    // A new user's R: is the placeholder folder the first start made: the status line
    // says so. An R: set in the settings on C:'s own disk gets nothing, and no run.
    void driveSettings_data()
    {
        QTest::addColumn<bool>("configured");
        QTest::newRow("placeholder") << false;
        QTest::newRow("set on C:'s disk") << true;
    }
    void driveSettings()
    {
        QFETCH(bool, configured);
        QTemporaryDir home; // the home folder (C:), and the data and settings folders
        const QByteArray saved = qgetenv("HOME");
        const auto restore = qScopeGuard([&] { qputenv("HOME", saved), qunsetenv("XDG_DATA_HOME"), qunsetenv("XDG_CONFIG_HOME"); });
        for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"})
            qputenv(name, QFile::encodeName(home.path()));
        qunsetenv("ARCHIVON_DRIVES");
        const QString server = home.path() + "/server";
        if (configured) {
            QVERIFY(QDir().mkpath(server) && QDir().mkpath(home.path() + "/archivon"));
            QFile conf(home.path() + "/archivon/archivon.conf");
            QVERIFY(conf.open(QIODevice::WriteOnly) && conf.write("[Unita]\nR=" + QFile::encodeName(server)) > 0);
        }
        platform::ensureDefaultDrives();
        Forms::unloadAll();
        Ui::Form1* ui = Forms::form1()->ui();
        m_boxes.answerNo();
        ui->Command3->click();
        if (configured) { // at load and at the start
            QCOMPARE(m_boxes.texts().size(), 2);
            QVERIFY(m_boxes.texts().at(1).startsWith("L'unità R: impostata in " + home.path()));
            QVERIFY(test::treeOf(server).isEmpty() && !Forms::form1()->engine());
        } else {
            QCOMPARE(m_boxes.texts().size(), 1); // the question
            QVERIFY(ui->Label_file_in_copia->text().startsWith(
                "Attenzione: l'unità R: non è il server ma la cartella " + home.path() + "/archivon/drives/r "));
        }
    }

    void folderChoice_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("text");  // the picker opens on it; none: the design text stays
        QTest::addColumn<QString>("close"); // how the picker is left, on C:\ .
        // clang-format off
        QTest::newRow("source") << "Command1" << "R:\\BKPQORL" << "Cmd_ok";
        QTest::newRow("source, design text a: program folder") << "Command1" << "" << "Cmd_ok";
        QTest::newRow("destination") << "Command2" << "R:\\BKPQORL" << "Cmd_ok";
        QTest::newRow("destination, design text") << "Command2" << "" << "Cmd_ok";
        QTest::newRow("ANNULLA") << "Command2" << "R:\\" << "Command2";
        QTest::newRow("window closed") << "Command1" << "R:\\" << "";
        // clang-format on
    }
    void folderChoice()
    {
        QFETCH(QString, button);
        QFETCH(QString, text);
        QFETCH(QString, close);
        const bool source = button == "Command1";
        const QString opensOn = text.isEmpty() ? platform::programFolder() : text;
        Ui::Form1* ui = Forms::form1()->ui();
        QLineEdit* box = source ? ui->Text_sorgente : ui->Text_destinazione;
        QLineEdit* other = source ? ui->Text_destinazione : ui->Text_sorgente;
        if (!text.isEmpty())
            box->setText(text);
        const QString untouched = other->text();

        Forms::form1()->findChild<QPushButton*>(button)->click();
        Form2* picker = Forms::form2();
        QVERIFY(picker->isVisible() && !picker->isModal());
        QCOMPARE(picker->pulsante, qint16(source ? 1 : 0));
        QCOMPARE(picker->windowTitle(),
                 source ? "Seleziona la cartella sorgente" : "Seleziona la cartella destinazione");
        QCOMPARE(picker->ui()->lbl_percorso->text(), opensOn);
        const QString shown = source || opensOn.endsWith("\\") ? opensOn : opensOn + "\\";
        QCOMPARE(box->text(), shown); // the fallback writes the box at once
        QVERIFY(picker->ui()->Dir1->setPath("C:\\"));
        close.isEmpty() ? void(picker->close()) : picker->findChild<QPushButton*>(close)->click();
        QCOMPARE(box->text(), close == "Cmd_ok" ? QString("C:\\") : shown);
        QVERIFY(other->text() == untouched && !Forms::isLoaded("Form2") && m_boxes.shown.isEmpty());
    }
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
