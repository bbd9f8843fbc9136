// Loading the main window: the job it fills in and the backup folders it
// makes on drive R:, including the ones it cannot make.
#include "app/forms.h"
#include "dialogs/formavvio.h"
#include "mainwindow/form1.h"
#include "platform/drives.h"
#include "platform/identity.h"
#include "platform/prompter.h"
#include "support/drives.h"

#include <QDirIterator>
#include <QLineEdit>
#include <QtTest>

using namespace archivon;

namespace {

QString text(QWidget* form, const QString& name)
{
    return form->findChild<QLineEdit*>(name)->text();
}

// Every entry under a host folder, relative, sorted.
QStringList tree(const QString& hostFolder)
{
    QStringList entries;
    QDirIterator it(hostFolder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << it.next().mid(hostFolder.size() + 1);
    entries.sort();
    return entries;
}

} // namespace

class TestForm1Load : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TempDrives> m_drives;
    std::unique_ptr<platform::ScriptedPrompter> m_boxes;

    // As the wizard does it: the wizard is still open while the main window loads.
    Form1* load(const QString& user)
    {
        Forms::avvio()->findChild<QLineEdit*>("Richiesta_utente")->setText(user);
        return Forms::form1();
    }

private slots:
    void init()
    {
        m_drives = std::make_unique<test::TempDrives>();
        m_boxes = std::make_unique<platform::ScriptedPrompter>();
        platform::setPrompter(m_boxes.get());
    }

    void cleanup()
    {
        Forms::unloadAll();
        platform::setPrompter(nullptr);
        m_boxes.reset();
        m_drives.reset();
    }

    void job()
    {
        platform::setCurrentFolder("C:\\");
        Form1* main = load("ufficio2");
        QCOMPARE(platform::currentFolder(), platform::programFolder());
        QCOMPARE(text(main, "NomePc"), platform::hostName());
        QCOMPARE(text(main, "IndirizzoIp"), platform::ipv4Address());
        QCOMPARE(text(main, "Nome_utente"), QString("ufficio2"));
        const QString root = "R:\\BKPQORL\\" + platform::hostName() + "_ufficio2";
        const QStringList pairs = {"C:\\Documenti",
                                   root + "\\Documenti",
                                   "C:\\Sys\\Windows\\Application Data\\Identities",
                                   root + "\\Outlook",
                                   "C:\\Sys\\Windows\\Preferiti",
                                   root + "\\Preferiti",
                                   "C:\\Sys\\Windows\\Application Data\\Microsoft\\Address Book",
                                   root + "\\Address Book"};
        for (int n = 1; n <= 4; ++n) {
            QCOMPARE(text(main, QString("Text_sorgente%1").arg(n)), pairs[2 * n - 2]);
            QCOMPARE(text(main, QString("Text_destinazione%1").arg(n)), pairs[2 * n - 1]);
        }
        QVERIFY(m_boxes->shown.isEmpty());

        Forms::unloadAll(); // without the wizard there is no user name
        QCOMPARE(text(Forms::form1(), "Nome_utente"), QString());
        QVERIFY(!Forms::isLoaded("Form_avvio"));
    }

    // {root} stands for the backup folder's name, {trimmed} for it trimmed.
    void folders_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("after");
        QStringList all = {"BKPQORL",
                           "BKPQORL/{root}",
                           "BKPQORL/{root}/Address Book",
                           "BKPQORL/{root}/Documenti",
                           "BKPQORL/{root}/Outlook",
                           "BKPQORL/{root}/Preferiti"};
        QTest::newRow("site absent: six folders") << "ufficio2" << QStringList() << all;
        QTest::newRow("site present") << "ufficio2" << QStringList{"BKPQORL"} << all;
        QTest::newRow("empty user name") << "" << QStringList() << all;
        QTest::newRow("trailing blanks: made untrimmed") << "ufficio  " << QStringList() << all;
        all.removeAt(4);
        QTest::newRow("root present, Outlook missing: nothing made") << "ufficio2" << all << all;
        const QStringList trimmed = {"BKPQORL", "BKPQORL/{trimmed}"};
        QTest::newRow("trailing blanks, trimmed present: nothing made")
            << "ufficio  " << trimmed << trimmed;
    }

    void folders()
    {
        QFETCH(QString, user);
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        const QString root = platform::hostName() + "_" + user;
        const QString r = m_drives->root('r');
        for (QStringList* list : {&before, &after}) {
            list->replaceInStrings("{root}", root).replaceInStrings("{trimmed}", root.trimmed());
            list->sort();
        }
        for (const QString& path : before)
            QVERIFY(QDir(r).mkpath(path));

        for (int pass = 0; pass < 2; ++pass) { // the second load finds everything in place
            Forms::unloadAll();
            load(user);
            QCOMPARE(tree(r), after);
            QCOMPARE(m_boxes->texts(), QStringList());
        }
        QVERIFY(tree(m_drives->root('c')).isEmpty());
    }

    // One message naming the folder, the window stays, nothing made instead.
    void folderNotMade_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("named");
        QTest::newRow("drive R: not mapped") << "ufficio2"
                                             << "unmap"
                                             << "R:\\BKPQORL";
        QTest::newRow("site folder is a file") << "ufficio2"
                                               << "file"
                                               << "R:\\BKPQORL\\{root}";
        for (const char* user : {"..\\..\\x", "a/b", "c:x", "tutti*", "<ufficio>", "a\tb"})
            QTest::newRow(user) << user << ""
                                << "R:\\BKPQORL\\{root}";
    }

    void folderNotMade()
    {
        QFETCH(QString, user);
        QFETCH(QString, setup);
        QFETCH(QString, named);
        const QString r = m_drives->root('r');
        QStringList expected = {"BKPQORL"};
        if (setup == "unmap") {
            m_drives->unmap('r');
        } else if (setup == "file") {
            m_drives->writeFile("R:\\BKPQORL", "not a folder");
        } else { // where "a/b" would land as nested folders
            expected << "BKPQORL/" + platform::hostName() + "_a";
            QVERIFY(QDir(r).mkpath(expected.last()));
        }

        Form1* main = load(user);
        QCOMPARE(m_boxes->shown.size(), 1);
        QCOMPARE(m_boxes->shown[0].kind, QString("message"));
        QVERIFY2(m_boxes->shown[0].text.startsWith(
                     "Impossibile creare la cartella " +
                     named.replace("{root}", platform::hostName() + "_" + user) + ".\r\n"),
                 qPrintable(m_boxes->shown[0].text));
        QVERIFY(Forms::isLoaded("Form1"));
        QCOMPARE(text(main, "Text_sorgente4"),
                 QString("C:\\Sys\\Windows\\Application Data\\Microsoft\\Address Book"));
        if (setup != "unmap")
            QCOMPARE(tree(r), expected);
        QVERIFY(tree(m_drives->root('c')).isEmpty());
        QCOMPARE(tree(m_drives->programFolder()), QStringList{"BACKUP"});
    }
};

QTEST_MAIN(TestForm1Load)
#include "tst_form1load.moc"
