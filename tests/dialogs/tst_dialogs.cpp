// The start wizard's roads and its site notice; the folder picker: its lists,
// highlighting and opening, the new folder, a drive not ready.
#include "dialogs/form2.h"
#include "dialogs/form3.h"
#include "dialogs/formavvio.h"
#include "mainwindow/form1.h"
#include "platform/drives.h"
#include "support/windowfixture.h"
#include "ui_Form1.h"
#include "ui_Form2.h"

#include <QAbstractButton>
#include <QtTest>

using namespace archivon;

class TestDialogs : public QObject, test::WindowFixture
{
    Q_OBJECT

    Ui::Form2* m_ui = nullptr;

    QWidget* control(const char* name) const { return Forms::avvio()->findChild<QWidget*>(name); }
    void showWizard()
    {
        Forms::avvio()->show();
        QVERIFY(QTest::qWaitForWindowActive(Forms::avvio()));
    }
    void showPicker()
    {
        m_ui = Forms::form2()->ui();
        Forms::form2()->show();
    }
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
    }
    void cleanup() { tearDown(); }

    void roads_data()
    {
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QStringList>("after"); // the windows loaded, the boxes shown
        // clang-format off
        QTest::newRow("no choice") << QStringList{"Command2"} << QStringList{"Form_avvio",
            QString::fromUtf8("Attenzione, per continuare è necessario selezionare un'opzione")};
        QTest::newRow("backup") << QStringList{"Option1", "Command2"} << QStringList{"Form1"};
        QTest::newRow("restore") << QStringList{"Option2", "Command2"} << QStringList{"Form3"};
        QTest::newRow("exit") << QStringList{"Option1", "Command1"} << QStringList{};
        // clang-format on
    }
    void roads()
    {
        QFETCH(QStringList, clicks);
        showWizard();
        for (const QString& name : clicks)
            Forms::avvio()->findChild<QAbstractButton*>(name)->click();
        QStringList after = m_boxes.texts();
        for (const char* name : {"Form3", "Form1", "Form_avvio"})
            after.prepend(Forms::isLoaded(name) ? name : "");
        after.removeAll("");
        QTEST(after, "after");
        QCOMPARE(QDir(m_drives->root('r')).isEmpty(), after != QStringList{"Form1"});
        if (after == QStringList{"Form3"}) // Enter presses its OK
            QTest::keyClick(Forms::form3()->findChild<QWidget*>("Command1"), Qt::Key_Return);
        QVERIFY(!Forms::isLoaded("Form3"));
    }

    // Once as the user moves into the list (tab, mouse) or picks from it; never for focus
    // handed back as a box or the drop-down list closes, nor while the notice is open.
    void siteNotice()
    {
        showWizard();
        QWidget* combo = control("Combo1");
        for (auto why : {Qt::TabFocusReason, Qt::ActiveWindowFocusReason, Qt::PopupFocusReason}) {
            control("Option1")->setFocus(Qt::TabFocusReason);
            combo->setFocus(why);
        }
        control("Option1")->setFocus(Qt::TabFocusReason);
        QFocusEvent again(QEvent::FocusIn, Qt::MouseFocusReason);
        m_boxes.whileOpen([&] { QCoreApplication::sendEvent(combo, &again); });
        combo->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(combo, Qt::Key_Down);
        QCOMPARE(combo->property("currentText").toString(), QString("Sito SECONDARIO"));
        QCOMPARE(
            m_boxes.texts(),
            QStringList(3, QString::fromUtf8("Questa funzione non è ancora attiva! Verrà "
                                             "implementata nella prossima Release 2.0\r\nQuindi la "
                                             "selezione di quest'opzione è ininfluente per il "
                                             "corretto funzionamento del programma!")));
        QVERIFY(m_boxes.shown[2].title == "Informazione" &&
                m_boxes.shown[2].icon == platform::BoxIcon::Information);
        QTest::keyClicks(combo, " TERZO"); // typed and Enter: no new site in the list, no notice
        QTest::keyClick(combo, Qt::Key_Return);
        QVERIFY(combo->property("count") == 2 && m_boxes.shown.size() == 3);
    }

    // Listing, moving and refusing; a click highlights, a double click or Enter opens, a drive
    // picked opens at its root, one gone since it was listed leads back to the program folder
    // without a word; OK hands over the folder on view, not the one highlighted, for any value
    // but 1 to the destination.
    void browseAndHandOver()
    {
        showPicker();
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
        showPicker();
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

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
