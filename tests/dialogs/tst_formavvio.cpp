// The start wizard's roads and its site notice.
#include "dialogs/form3.h"
#include "dialogs/formavvio.h"
#include "support/windowfixture.h"

#include <QAbstractButton>
#include <QtTest>

using namespace archivon;

class TestFormAvvio : public QObject, test::WindowFixture
{
    Q_OBJECT

    QWidget* control(const char* name) const { return Forms::avvio()->findChild<QWidget*>(name); }

private slots:
    void init()
    {
        setUp();
        Forms::avvio()->show();
        QVERIFY(QTest::qWaitForWindowActive(Forms::avvio()));
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
};

QTEST_MAIN(TestFormAvvio)
#include "tst_formavvio.moc"
