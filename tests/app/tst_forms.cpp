// The end of the program: with its last window, and at once with the main window whatever
// else is open. (Each window once, loaded before it shows: what every window test relies on.)
#include "app/application.h"
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

class TestForms : public QObject, test::WindowFixture
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
        QVERIFY(!QCoreApplication::applicationVersion().isEmpty());
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
};

QTEST_MAIN(TestForms)
#include "tst_forms.moc"
