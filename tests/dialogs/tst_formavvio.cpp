// The start wizard's roads (no choice, backup, restore, exit), its site
// notice, and the information box.
#include "app/forms.h"
#include "dialogs/form3.h"
#include "dialogs/formavvio.h"
#include "mainwindow/form1.h"
#include "platform/identity.h"
#include "platform/prompter.h"
#include "support/drives.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QRadioButton>
#include <QtTest>

using namespace archivon;

class TestFormAvvio : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TempDrives> m_drives;
    std::unique_ptr<platform::ScriptedPrompter> m_boxes;
    FormAvvio* m_wizard = nullptr;

    template <typename T = QWidget> T* control(const char* name) const
    {
        return m_wizard->findChild<T*>(name);
    }

    int notices() const
    {
        const QString notice = QString::fromUtf8(
            "Questa funzione non è ancora attiva! Verrà implementata nella prossima Release "
            "2.0\r\nQuindi la selezione di quest'opzione è ininfluente per il corretto "
            "funzionamento del programma!");
        return int(std::count_if(m_boxes->shown.cbegin(), m_boxes->shown.cend(), [&](auto& s) {
            return s.text == notice && s.title == "Informazione" &&
                   s.icon == platform::BoxIcon::Information;
        }));
    }

private slots:
    void init()
    {
        m_drives = std::make_unique<test::TempDrives>();
        m_boxes = std::make_unique<platform::ScriptedPrompter>();
        platform::setPrompter(m_boxes.get());
        m_wizard = Forms::avvio();
        m_wizard->show();
        QVERIFY(QTest::qWaitForWindowActive(m_wizard));
    }

    void cleanup()
    {
        Forms::unloadAll();
        platform::setPrompter(nullptr);
        m_boxes.reset();
        m_drives.reset();
    }

    void backupFolderMadeSilently()
    {
        QVERIFY(QFileInfo(m_drives->programFolder() + "/BACKUP").isDir());
        Forms::unloadAll();
        Forms::avvio(); // there already: still no message
        QVERIFY(m_boxes->shown.isEmpty());
    }

    void forwardNeedsAChoice()
    {
        control<QLineEdit>("Richiesta_utente")->setText("ufficio2");
        QTest::keyClick(m_wizard, Qt::Key_V, Qt::AltModifier); // pressed after a short flash
        QTRY_COMPARE(m_boxes->shown.size(), 1);
        QCOMPARE(
            m_boxes->shown[0].text,
            QString::fromUtf8("Attenzione, per continuare è necessario selezionare un'opzione"));
        QCOMPARE(m_boxes->shown[0].title, QString("Archivon"));
        QCOMPARE(m_boxes->shown[0].icon, platform::BoxIcon::Information);
        QVERIFY(m_wizard->isVisible() && !Forms::isLoaded("Form1") && !Forms::isLoaded("Form3"));
        QCOMPARE(control<QLineEdit>("Richiesta_utente")->text(), QString("ufficio2"));
    }

    void backup_data()
    {
        QTest::addColumn<QString>("user");
        QTest::newRow("name") << "ufficio2";
        QTest::newRow("empty") << "";
        QTest::newRow("blanks and odd characters") << "  sala / riunioni  ";
    }

    void backup()
    {
        QFETCH(QString, user);
        control<QRadioButton>("Option1")->click();
        control<QLineEdit>("Richiesta_utente")->setText(user);
        QTest::keyClick(m_wizard, Qt::Key_V, Qt::AltModifier);
        QTRY_VERIFY(Forms::isLoaded("Form1"));
        QVERIFY(!Forms::isLoaded("Form_avvio") && !Forms::isLoaded("Form3"));
        Form1* main = Forms::form1();
        QVERIFY(main->isVisible());
        QCOMPARE(main->findChild<QLineEdit*>("Nome_utente")->text(), user);
        QCOMPARE(main->findChild<QLineEdit*>("Text_destinazione1")->text(),
                 "R:\\BKPQORL\\" + platform::hostName() + "_" + user + "\\Documenti");
    }

    void restore()
    {
        control<QRadioButton>("Option2")->click();
        control<QAbstractButton>("Command2")->click();
        QVERIFY(!Forms::isLoaded("Form_avvio") && !Forms::isLoaded("Form1"));
        QVERIFY(Forms::isLoaded("Form3") && Forms::form3()->isVisible());
        QVERIFY(m_boxes->shown.isEmpty());
        QVERIFY(QDir(m_drives->root('r')).isEmpty());

        // Its OK holds the focus, and Enter presses it.
        QVERIFY(QTest::qWaitForWindowActive(Forms::form3()));
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("Command1"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(!Forms::isLoaded("Form3"));
    }

    void exit()
    {
        QTest::keyClick(m_wizard, Qt::Key_S, Qt::AltModifier);
        QTRY_VERIFY(!Forms::isLoaded("Form_avvio"));
        QVERIFY(!Forms::isLoaded("Form1") && !Forms::isLoaded("Form3"));
    }

    void siteNotice()
    {
        auto* combo = control<QComboBox>("Combo1");
        auto* option1 = control("Option1");
        QCOMPARE(QApplication::focusWidget(), option1);
        combo->setFocus(Qt::TabFocusReason);
        QCOMPARE(notices(), 1);

        // The focus handed back as the box or the drop-down list closes: no new notice.
        option1->setFocus(Qt::ActiveWindowFocusReason);
        combo->setFocus(Qt::ActiveWindowFocusReason);
        combo->setFocus(Qt::PopupFocusReason);
        QCOMPARE(notices(), 1);

        // Nor while the notice is still open.
        option1->setFocus(Qt::TabFocusReason);
        m_boxes->whileOpen([&] {
            QFocusEvent again(QEvent::FocusIn, Qt::MouseFocusReason);
            QApplication::sendEvent(combo, &again);
        });
        combo->setFocus(Qt::MouseFocusReason);
        QCOMPARE(notices(), 2);

        // Choosing an entry shows it again, and changes nothing else.
        QTest::keyClick(combo, Qt::Key_Down);
        QCOMPARE(combo->currentText(), QString("Sito SECONDARIO"));
        QCOMPARE(notices(), 3);
        QCOMPARE(m_boxes->shown.size(), 3);
        control<QRadioButton>("Option1")->click();
        control<QAbstractButton>("Command2")->click();
        QCOMPARE(Forms::form1()->findChild<QLineEdit*>("Text_destinazione1")->text(),
                 "R:\\BKPQORL\\" + platform::hostName() + "_\\Documenti");
    }
};

QTEST_MAIN(TestFormAvvio)
#include "tst_formavvio.moc"
