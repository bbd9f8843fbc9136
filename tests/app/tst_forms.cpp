// The window registry and the end of the program: each window exists once and
// is loaded before it shows; the program ends with its last window, and at
// once with the main window.
#include "app/forms.h"
#include "dialogs/form2.h"
#include "dialogs/form3.h"
#include "dialogs/formavvio.h"
#include "mainwindow/form1.h"
#include "platform/drives.h"
#include "platform/prompter.h"
#include "support/drives.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QtTest>

using namespace archivon;

namespace {

void click(QWidget* form, const char* name)
{
    form->findChild<QAbstractButton*>(name)->click();
}

// Runs the event loop as the program does; 99 means the program never ended.
int runProgram(std::function<void()> steps)
{
    QTimer::singleShot(0, std::move(steps));
    QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });
    return QApplication::exec();
}

} // namespace

class TestForms : public QObject
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
        QVERIFY(!Forms::ending());
        platform::setPrompter(nullptr);
        m_boxes.reset();
        m_drives.reset();
    }

    void eachWindowOnce()
    {
        QCOMPARE(Forms::form3(), Forms::form3());
        QVERIFY(Forms::isLoaded("Form3") && !Forms::isLoaded("Form2") && !Forms::isLoaded("form3"));

        // Loaded means its load step has run, before anything shows it.
        platform::setCurrentFolder("C:\\");
        QPointer<Form2> picker = Forms::form2();
        QVERIFY(!picker->isVisible());
        QCOMPARE(picker->findChild<QLabel*>("lbl_percorso")->text(), QString("C:\\"));

        // Closed by any means, it is forgotten; the next request loads a new one.
        picker->show();
        picker->close();
        QVERIFY(!Forms::isLoaded("Form2"));
        QTRY_VERIFY(!picker);
        QVERIFY(Forms::form2() && Forms::isLoaded("Form2"));
        QPointer<Form3> box = Forms::form3();
        Forms::unload(box);
        QVERIFY(!Forms::isLoaded("Form3"));
        QTRY_VERIFY(!box);
    }

    void lastWindowEndsProgram()
    {
        QCOMPARE(runProgram([] {
                     Forms::avvio()->show();
                     click(Forms::avvio(), "Command1");
                 }),
                 0);

        bool okPressed = false;
        QCOMPARE(runProgram([&] {
                     Forms::avvio()->show();
                     click(Forms::avvio(), "Option2");
                     click(Forms::avvio(), "Command2");
                     QTimer::singleShot(50, [&] { // still running with the box alone
                         okPressed = true;
                         click(Forms::form3(), "Command1");
                     });
                 }),
                 0);
        QVERIFY(okPressed);
    }

    void mainWindowEndsEverything_data()
    {
        QTest::addColumn<bool>("viaExitButton");
        QTest::newRow("Esci") << true;
        QTest::newRow("window closed") << false;
    }

    void mainWindowEndsEverything()
    {
        QFETCH(bool, viaExitButton);
        bool closing = false;
        QCOMPARE(runProgram([&] {
                     Forms::avvio()->show();
                     click(Forms::avvio(), "Option1");
                     click(Forms::avvio(), "Command2");
                     QTimer::singleShot(50, [&] { // the wizard has gone, the program runs on
                         Forms::form3()->show();
                         Forms::form2()->show();
                         closing = !Forms::ending();
                         if (viaExitButton)
                             click(Forms::form1(), "Command5");
                         else
                             Forms::form1()->close();
                     });
                 }),
                 0);
        QVERIFY(closing && Forms::ending());
        for (const char* name : {"Form_avvio", "Form1", "Form2", "Form3"})
            QVERIFY2(!Forms::isLoaded(name), name);
    }
};

QTEST_MAIN(TestForms)
#include "tst_forms.moc"
