// The folder picker: its lists, highlighting and opening entries, the new
// folder, and a drive that is not ready.
#include "app/forms.h"
#include "dialogs/form2.h"
#include "mainwindow/form1.h"
#include "platform/drives.h"
#include "platform/prompter.h"
#include "support/drives.h"
#include "ui_Form1.h"
#include "ui_Form2.h"

#include <QDirIterator>
#include <QtTest>

using namespace archivon;

namespace {

// Path levels as they are, subfolders marked with "+".
QStringList entries(const FolderList* list)
{
    QStringList out;
    for (int row = 0; row < list->count(); ++row)
        out << (list->isSubfolderEntry(row) ? "+" : "") + list->item(row)->text();
    return out;
}

QStringList tree(const QString& hostFolder)
{
    QStringList all;
    QDirIterator it(hostFolder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        all << it.next();
    all.sort();
    return all;
}

} // namespace

class TestForm2 : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TempDrives> m_drives;
    std::unique_ptr<platform::ScriptedPrompter> m_boxes;
    Form2* m_picker = nullptr;
    FolderList* m_dir = nullptr;

    QString label() const { return m_picker->ui()->lbl_percorso->text(); }

private slots:
    void init()
    {
        m_drives = std::make_unique<test::TempDrives>();
        m_boxes = std::make_unique<platform::ScriptedPrompter>();
        platform::setPrompter(m_boxes.get());
        for (const char* sub : {"gamma", "Beta", "alfa", ".nascosta"})
            m_drives->makeDir(QString("C:\\Documenti\\") + sub);
        m_drives->writeFile("C:\\Documenti\\nota.txt", "x");
        QFile::link(m_drives->host("C:\\manca"), m_drives->host("C:\\Documenti\\rotto"));
        m_picker = Forms::form2();
        m_dir = m_picker->ui()->Dir1;
        m_picker->show();
    }

    void cleanup()
    {
        Forms::unloadAll();
        platform::setPrompter(nullptr);
        m_boxes.reset();
        m_drives.reset();
    }

    void lists()
    {
        QCOMPARE(m_dir->path(), platform::programFolder());
        QCOMPARE(label(), platform::programFolder());
        QCOMPARE(m_picker->ui()->Drive1->itemText(0),
                 "c: [" + QFileInfo(m_drives->root('c')).canonicalFilePath() + "]");

        QSignalSpy moved(m_dir, &FolderList::changed);
        QVERIFY(m_dir->setPath("c:/Documenti/"));
        QCOMPARE(entries(m_dir), QStringList({"c:\\", "Documenti", "+alfa", "+Beta", "+gamma"}));
        QCOMPARE(m_dir->currentRow(), 1);
        QCOMPARE(label(), QString("C:\\Documenti"));
        QCOMPARE(m_picker->ui()->Drive1->drive(), QChar('C'));
        for (const char* bad : {"C:\\Nessuna", "C:\\Documenti\\nota.txt", "Q:\\", "\\\\pc\\share"})
            QVERIFY2(!m_dir->setPath(bad), bad);
        QCOMPARE(moved.count(), 1);

        platform::setCurrentFolder("C:\\Documenti");
        QVERIFY(m_dir->setPath("Beta"));
        QCOMPARE(entries(m_dir), QStringList({"c:\\", "Documenti", "Beta"}));
    }

    void clickHighlightsOpenMoves()
    {
        Ui::Form1* main = Forms::form1()->ui();
        QVERIFY(m_dir->setPath("C:\\Documenti") && QTest::qWaitForWindowExposed(m_picker));
        const auto at = [this](int row) {
            return m_dir->visualItemRect(m_dir->item(row)).center();
        };

        QTest::mouseClick(m_dir->viewport(), Qt::LeftButton, {}, at(3));
        QCOMPARE(m_dir->currentRow(), 3);
        QCOMPARE(label(), QString("C:\\Documenti"));
        QTest::mouseDClick(m_dir->viewport(), Qt::LeftButton, {}, at(3));
        QCOMPARE(label(), QString("C:\\Documenti\\Beta"));
        m_dir->setCurrentRow(0);
        QTest::keyClick(m_dir, Qt::Key_Return);
        QCOMPARE(label(), QString("C:\\"));

        // OK hands over the folder on view, not the highlighted entry; any
        // value but 1 means the destination.
        QTest::mouseClick(m_dir->viewport(), Qt::LeftButton, {}, at(1));
        m_picker->pulsante = 7;
        m_picker->ui()->Cmd_ok->click();
        QCOMPARE(main->Text_destinazione->text(), QString("C:\\"));
        QCOMPARE(main->Text_sorgente->text(), QString("a"));
        QVERIFY(!Forms::isLoaded("Form2"));
    }

    void newFolder_data()
    {
        QTest::addColumn<QString>("answer"); // null: the box is cancelled
        QTest::addColumn<bool>("made");
        QTest::addColumn<bool>("refused");
        QTest::newRow("preset confirmed") << "Nuova Cartella" << true << false;
        QTest::newRow("emptied") << "" << false << false;
        QTest::newRow("cancelled") << QString() << false << false;
        QTest::newRow("already there") << "alfa" << false << true;
        QTest::newRow("climbs out") << "..\\..\\x" << false << true;
        QTest::newRow("slash") << "a/b" << false << true;
        QTest::newRow("colon") << "x:y" << false << true;
        QTest::newRow("dots") << ".." << false << true;
    }

    void newFolder()
    {
        QFETCH(QString, answer);
        QFETCH(bool, made);
        QFETCH(bool, refused);
        QVERIFY(m_dir->setPath("C:\\Documenti"));
        const QString everything = QFileInfo(m_drives->drivesFolder()).path();
        QStringList expected = tree(everything);
        if (made)
            expected << m_drives->host("C:\\Documenti\\" + answer);
        expected.sort();
        answer.isNull() ? m_boxes->answerCancel() : m_boxes->answerInput(answer);

        m_picker->ui()->Command1->click();
        QCOMPARE(m_boxes->shown.value(0).text, QString("Inserisci il nome della nuova cartella"));
        QCOMPARE(m_boxes->shown.value(0).title, QString("Archivon"));
        QCOMPARE(tree(everything), expected);
        QCOMPARE(entries(m_dir).contains("+" + answer), made || answer == "alfa");
        QCOMPARE(label(), QString("C:\\Documenti"));
        QCOMPARE(m_dir->path(), QString("C:\\Documenti"));
        QCOMPARE(m_boxes->shown.size(), refused ? 2 : 1);
        if (refused) {
            QCOMPARE(m_boxes->shown[1].text, QString("Impossibile creare la cartella!"));
            QCOMPARE(m_boxes->shown[1].icon, platform::BoxIcon::Critical);
        }
    }

    void notReadyDrive()
    {
        DriveList* drives = m_picker->ui()->Drive1;
        drives->setCurrentIndex(drives->findData("R"));
        QCOMPARE(label(), QString("R:\\"));

        m_drives->unmap('R');
        drives->setCurrentIndex(drives->findData("C"));
        QCOMPARE(label(), QString("C:\\"));
        drives->setCurrentIndex(drives->findData("R")); // listed before it went
        QCOMPARE(drives->drive(), QChar('Z'));
        QCOMPARE(m_dir->path(), platform::programFolder());
        QCOMPARE(label(), platform::programFolder());
        QVERIFY(m_boxes->shown.isEmpty());
    }
};

QTEST_MAIN(TestForm2)
#include "tst_form2.moc"
