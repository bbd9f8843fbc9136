// The main window's small commands: the folder choice through the picker, the destination's
// trailing backslash. (Closing it with others open: tst_forms.)
#include "dialogs/form2.h"
#include "mainwindow/form1.h"
#include "platform/drives.h"
#include "support/windowfixture.h"
#include "ui_Form1.h"
#include "ui_Form2.h"

#include <QtTest>

using namespace archivon;

class TestForm1Commands : public QObject, test::WindowFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

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

    void trailingBackslash()
    {
        QLineEdit* box = Forms::form1()->ui()->Text_destinazione;
        QSignalSpy changed(box, &QLineEdit::textChanged);
        for (const char* text : {"", "R:\\", "R:\\BKPQORL"}) {
            box->setText(text);
            QCOMPARE(box->text(), QString(text).endsWith('\\') ? text : QString(text) + '\\');
        }
        QCOMPARE(changed.count(), 5); // each append changes the text once more, no further
    }
};

QTEST_MAIN(TestForm1Commands)
#include "tst_form1commands.moc"
