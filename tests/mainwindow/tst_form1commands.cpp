// The main window's small commands: choosing a folder through the picker,
// the destination's trailing backslash, the proportional resize, and the end
// of the program with other windows open.
#include "app/forms.h"
#include "dialogs/form2.h"
#include "dialogs/form3.h"
#include "mainwindow/form1.h"
#include "platform/drives.h"
#include "platform/prompter.h"
#include "support/drives.h"
#include "ui_Form1.h"
#include "ui_Form2.h"

#include <QApplication>
#include <QtTest>

using namespace archivon;

class TestForm1Commands : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TempDrives> m_drives;
    std::unique_ptr<platform::ScriptedPrompter> m_boxes;

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

    void folderChoice_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("text");    // empty: the design text stays
        QTest::addColumn<QString>("opensOn"); // empty: the program folder
        QTest::addColumn<QString>("close");   // how the picker is left, on C:\ .
        QTest::newRow("source") << "Command1"
                                << "R:\\BKPQORL"
                                << "R:\\BKPQORL"
                                << "Cmd_ok";
        QTest::newRow("source, design text") << "Command1"
                                             << ""
                                             << ""
                                             << "Cmd_ok";
        QTest::newRow("destination") << "Command2"
                                     << "R:\\BKPQORL\\"
                                     << "R:\\BKPQORL"
                                     << "Cmd_ok";
        QTest::newRow("destination, design text") << "Command2"
                                                  << ""
                                                  << ""
                                                  << "Cmd_ok";
        QTest::newRow("ANNULLA") << "Command2"
                                 << "R:\\"
                                 << "R:\\"
                                 << "Command2";
        QTest::newRow("window closed") << "Command1"
                                       << "R:\\"
                                       << "R:\\"
                                       << "";
    }

    void folderChoice()
    {
        QFETCH(QString, button);
        QFETCH(QString, text);
        QFETCH(QString, opensOn);
        QFETCH(QString, close);
        const bool source = button == "Command1";
        opensOn = opensOn.isEmpty() ? platform::programFolder() : opensOn;
        Ui::Form1* ui = Forms::form1()->ui();
        QLineEdit* box = source ? ui->Text_sorgente : ui->Text_destinazione;
        QLineEdit* other = source ? ui->Text_destinazione : ui->Text_sorgente;
        if (!text.isEmpty())
            box->setText(text);

        Forms::form1()->findChild<QPushButton*>(button)->click();
        Form2* picker = Forms::form2();
        QVERIFY(picker->isVisible() && !picker->isModal());
        QCOMPARE(picker->pulsante, qint16(source ? 1 : 0));
        QCOMPARE(picker->windowTitle(),
                 source ? "Seleziona la cartella sorgente" : "Seleziona la cartella destinazione");
        QCOMPARE(picker->ui()->lbl_percorso->text(), opensOn);
        const QString shown = source ? opensOn : opensOn + (opensOn.endsWith("\\") ? "" : "\\");
        QCOMPARE(box->text(), shown); // the fallback writes the box at once
        const QString untouched = other->text();

        QVERIFY(picker->ui()->Dir1->setPath("C:\\"));
        if (close.isEmpty())
            picker->close();
        else
            picker->findChild<QPushButton*>(close)->click();
        QCOMPARE(box->text(), close == "Cmd_ok" ? QString("C:\\") : shown);
        QCOMPARE(other->text(), untouched);
        QVERIFY(!Forms::isLoaded("Form2") && m_boxes->shown.isEmpty());
    }

    void trailingBackslash()
    {
        QLineEdit* box = Forms::form1()->ui()->Text_destinazione;
        QSignalSpy changed(box, &QLineEdit::textChanged);
        box->setText(""); // cleared
        QCOMPARE(box->text(), QString("\\"));
        box->setText("R:\\"); // a drive root
        QCOMPARE(box->text(), QString("R:\\"));
        box->setText("R:\\BKPQORL");
        QCOMPARE(box->text(), QString("R:\\BKPQORL\\"));
        QCOMPARE(changed.count(), 5); // each append changes the text once more, no further
    }

    // Everything scales but the status bar, which keeps its height and docks
    // at the bottom across the whole width. An empty size maximises.
    void resize_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QRect>("command3");
        QTest::newRow("design") << QSize(794, 578) << QRect(664, 8, 121, 17);
        QTest::newRow("150 % wide") << QSize(1191, 578) << QRect(996, 8, 181, 17);
        QTest::newRow("150 %") << QSize(1191, 867) << QRect(996, 12, 181, 25);
        QTest::newRow("maximised") << QSize() << QRect();
    }

    void resize()
    {
        QFETCH(QSize, size);
        Form1* main = Forms::form1();
        main->show();
        QVERIFY(QTest::qWaitForWindowExposed(main));
        if (size.isValid()) {
            main->resize(size);
            QTEST(main->ui()->Command3->geometry(), "command3");
        } else {
            main->showMaximized();
            QTRY_VERIFY(main->isMaximized() && main->width() > 794);
        }
        QCOMPARE(main->ui()->StatusBar1->geometry(),
                 QRect(0, main->height() - 28, main->width(), 28));
    }

    void closingEndsProgram_data()
    {
        QTest::addColumn<QString>("open");
        QTest::newRow("picker") << "picker";
        QTest::newRow("information box") << "info";
        QTest::newRow("picker's input box") << "input";
    }

    void closingEndsProgram()
    {
        QFETCH(QString, open);
        QTimer never; // the program did not end
        never.callOnTimeout([] { QCoreApplication::exit(99); });
        never.start(5000);
        QTimer::singleShot(0, [&] {
            Form1* main = Forms::form1();
            main->show();
            if (open == "info") {
                main->Command4_Click();
                QVERIFY(Forms::form3()->isVisible() && !Forms::form3()->isModal());
            } else {
                main->Command1_Click();
            }
            if (open == "input") {
                m_boxes->whileOpen([] { Forms::form1()->close(); });
                m_boxes->answerInput("Dopo");
                Forms::form2()->Command1_Click();
            } else {
                main->close();
            }
        });
        QCOMPARE(QApplication::exec(), 0);
        for (const char* name : {"Form1", "Form2", "Form3"})
            QVERIFY2(!Forms::isLoaded(name), name);
        QVERIFY(!QFileInfo::exists(m_drives->programFolder() + "/Dopo"));
    }
};

QTEST_MAIN(TestForm1Commands)
#include "tst_form1commands.moc"
