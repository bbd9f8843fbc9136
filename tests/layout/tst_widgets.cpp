// Progress bar and status bar panels. (The self-sizing labels: tst_resize, tst_catalogue.)
#include "layout/progressbar.h"
#include "layout/statusbar.h"

#include <QAccessibleValueInterface>
#include <QtTest>

using namespace archivon;

class TestWidgets : public QObject
{
    Q_OBJECT

private slots:
    void progressBar()
    {
        ProgressBar bar;
        bar.resize(200, 25);
        bar.setMax(1);
        const QImage empty = bar.grab().toImage();
        QVERIFY(bar.setValue(1));
        QVERIFY2(bar.grab().toImage().pixelColor(180, 12) != empty.pixelColor(180, 12), "not full");
        for (float refused : {1.5f, -0.5f, float(qQNaN())})
            QVERIFY(!bar.setValue(refused));
        bar.setMax(0.5f); // a new range always takes effect, the value is drawn clamped
        QVERIFY(bar.value() == 1.0f && bar.filledShare() == 1.0);
        QAccessibleInterface* seen =
            QAccessible::queryAccessibleInterface(&bar); // by a screen reader
        QVERIFY(seen && seen->role() == QAccessible::ProgressBar && seen->valueInterface());
        QCOMPARE(seen->valueInterface()->currentValue().toFloat(), 1.0f);
        QCOMPARE(seen->valueInterface()->maximumValue().toFloat(), 0.5f);
        QCOMPARE(seen->text(QAccessible::Value), "100%");
    }

    void statusBar() // its docking is seen on the main window
    {
        QWidget window;
        auto* bar = new StatusBar(&window);
        const QString before = QTime::currentTime().toString("HH:mm");
        bar->refresh();
        QCOMPARE(bar->panelText(0), QString("QORL - Backup & Restore Program"));
        QCOMPARE(bar->panelText(1), QDate::currentDate().toString("dd/MM/yy"));
        QVERIFY(QStringList({before, QTime::currentTime().toString("HH:mm")})
                    .contains(bar->panelText(2)));
        window.show();
        window.resize(794, 578);
        QCOMPARE(bar->panelGeometry(2), QRect(694, 0, 96, bar->height()));
        window.resize(150, 100);
        QCOMPARE(bar->panelGeometry(0).width(), 96); // never below 1440 twips
    }
};

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
