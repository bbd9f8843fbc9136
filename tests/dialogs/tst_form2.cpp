// The folder picker: its lists, highlighting and opening, the new folder, a drive not ready.
#include "dialogs/form2.h"
#include "mainwindow/form1.h"
#include "platform/drives.h"
#include "support/windowfixture.h"
#include "ui_Form1.h"
#include "ui_Form2.h"

#include <QtTest>

using namespace archivon;

class TestForm2 : public QObject, test::WindowFixture
{
    Q_OBJECT

    Ui::Form2* m_ui = nullptr;

    QString label() const { return m_ui->lbl_percorso->text(); }
    QStringList entries() const // path levels as they are, subfolders marked with "+"
    {
        QStringList out;
        for (int row = 0; row < m_ui->Dir1->count(); ++row)
            out << (m_ui->Dir1->isSubfolderEntry(row) ? "+" : "") + m_ui->Dir1->item(row)->text();
        return out;
    }

private slots:
    void init()
    {
        setUp();
        for (const char* sub : {"gamma", "Beta", "alfa", ".nascosta"})
            m_drives->makeDir(QString("C:\\Documenti\\") + sub);
        m_drives->writeFile("C:\\Documenti\\nota.txt", "x");
        QFile::link(m_drives->host("C:\\manca"), m_drives->host("C:\\Documenti\\rotto"));
        m_ui = Forms::form2()->ui();
        Forms::form2()->show();
    }
    void cleanup() { tearDown(); }

    // Listing, moving and refusing; a click highlights, a double click or Enter opens, a drive
    // picked opens at its root, one gone since it was listed leads back to the program folder
    // without a word; OK hands over the folder on view, not the one highlighted, for any value
    // but 1 to the destination.
    void browseAndHandOver()
    {
        Ui::Form1* main = Forms::form1()->ui();
        DriveList* drives = m_ui->Drive1;
        QCOMPARE(drives->itemText(0), "c:"); // no host folder
        QSignalSpy moved(m_ui->Dir1, &FolderList::changed);
        for (const char* bad : {"C:\\Nessuna", "C:\\Documenti\\nota.txt", "Q:\\", "\\\\pc\\share"})
            QVERIFY2(!m_ui->Dir1->setPath(bad), bad);
        platform::setCurrentFolder("C:\\Documenti");
        QVERIFY(m_ui->Dir1->setPath("Beta") && m_ui->Dir1->setPath("c:/Documenti/"));
        platform::setCurrentFolder(platform::programFolder()); // so drives open at their root
        QCOMPARE(moved.count(), 2);
        QCOMPARE(entries(), QStringList({"c:\\", "Documenti", "+alfa", "+Beta", "+gamma"}));
        QVERIFY(m_ui->Dir1->currentRow() == 1 && drives->drive() == 'C' &&
                label() == "C:\\Documenti");

        QVERIFY(QTest::qWaitForWindowExposed(Forms::form2()));
        const auto at = [this](int row) {
            return m_ui->Dir1->visualItemRect(m_ui->Dir1->item(row)).center();
        };
        QTest::mouseClick(m_ui->Dir1->viewport(), Qt::LeftButton, {}, at(3));
        QVERIFY(m_ui->Dir1->currentRow() == 3 && label() == "C:\\Documenti");
        QTest::mouseDClick(m_ui->Dir1->viewport(), Qt::LeftButton, {}, at(3));
        QCOMPARE(entries(), QStringList({"c:\\", "Documenti", "Beta"}));
        m_ui->Dir1->setCurrentRow(0);
        QTest::keyClick(m_ui->Dir1, Qt::Key_Return);
        QCOMPARE(label(), QString("C:\\"));
        m_drives->unmap('R');
        drives->setCurrentIndex(drives->findData("R"));
        QVERIFY(drives->drive() == 'Z' && m_ui->Dir1->path() == platform::programFolder());
        QVERIFY(label() == m_ui->Dir1->path() && m_boxes.shown.isEmpty());
        drives->setCurrentIndex(drives->findData("C"));
        QCOMPARE(label(), QString("C:\\"));
        QTest::mouseClick(m_ui->Dir1->viewport(), Qt::LeftButton, {}, at(1));
        Forms::form2()->pulsante = 7;
        m_ui->Cmd_ok->click();
        QVERIFY(main->Text_destinazione->text() == "C:\\" && main->Text_sorgente->text() == "a");
    }

    void newFolder_data() // the preset confirmed; emptied, taken, climbing out, dots
    {
        QTest::addColumn<QString>("answer");
        for (const char* answer : {"Nuova Cartella", "", "alfa", "..\\..\\x", ".."})
            QTest::addRow("\"%s\"", answer) << QString(answer);
    }
    void newFolder() // refused with a box of its own, but for an empty name
    {
        QFETCH(QString, answer);
        const bool made = answer == "Nuova Cartella";
        QVERIFY(m_ui->Dir1->setPath("C:\\Documenti"));
        m_boxes.answerInput(answer);
        m_ui->Command1->click();
        QCOMPARE(entries().contains("+" + answer), made || answer == "alfa");
        QVERIFY(label() == "C:\\Documenti" && m_ui->Dir1->path() == "C:\\Documenti");
        const bool refused = !made && !answer.isEmpty();
        QCOMPARE(m_boxes.texts(), QStringList({"Inserisci il nome della nuova cartella",
                                               "Impossibile creare la cartella!"})
                                      .mid(0, refused ? 2 : 1));
        QCOMPARE(m_boxes.shown.last().icon,
                 refused ? platform::BoxIcon::Critical : platform::BoxIcon::None);
    }
};

QTEST_MAIN(TestForm2)
#include "tst_form2.moc"
