// The layout's own widgets: the progress bar, the status bar, and the proportional resize,
// on a window at the main window's design size (pixels = twips / 15): client 11910 x 8670
// twips, Command3 at 9960, 120, 1815 x 255. (The self-sizing labels on the main window:
// tst_catalogue.)
#include "layout/autosizelabel.h"
#include "layout/progressbar.h"
#include "layout/resize.h"
#include "layout/statusbar.h"

#include <QAccessibleValueInterface>
#include <QLabel>
#include <QtTest>

using namespace archivon;

class TestLayout : public QObject
{
    Q_OBJECT

    struct DesignWindow : QWidget
    {
        QWidget* command3 = add("Command3", {664, 8, 121, 17});
        QWidget* text = add("Text_sorgente1", {8, 96, 321, 19});
        QRect seen; // where a pass asked for during a pass left Text_sorgente1

        DesignWindow() // records outlive windows: every test meets a window of its own name
        {
            setObjectName(
                QString("Form1_%1_%2").arg(QTest::currentTestFunction(), QTest::currentDataTag()));
            resize(794, 578);
        }
        QWidget* add(const char* name, QRect px)
        {
            auto* w = new QWidget(this);
            w->setObjectName(name);
            w->setGeometry(px);
            return w;
        }
        void pass(int width, int height = 578)
        {
            resize(width, height);
            ResizeForm(this);
        }
        bool eventFilter(QObject*, QEvent* e) override // as a resize event raised by the pass would
        {
            if (e->type() == QEvent::Move && seen.isNull() && ResizeBusy())
                seen = (ResizeForm(this), text->geometry());
            return false;
        }
    };

private slots:
    void scales_data()
    {
        QTest::addColumn<QSize>("client");
        QTest::addColumn<QRect>("command3");
        QTest::addColumn<int>("parked"); // twips: its home, 1005, scaled, less 75000
        QTest::newRow("150 %") << QSize(1191, 867) << QRect(996, 12, 181, 25) << -73500; // 1507
        QTest::newRow("growth under 1 %") << QSize(800, 578) << QRect(664, 8, 121, 17) << -73995;
        QTest::newRow("one pixel less") << QSize(793, 577) << QRect(657, 8, 120, 17) << -74010;
        QTest::newRow("zero size") << QSize(0, 0) << QRect(0, 0, 0, 0) << -75000;
    }
    // Met at width 0, recorded at design size, scaled (a nested pass dropped), back as before.
    void scales()
    {
        QFETCH(QSize, client);
        DesignWindow d;
        QWidget* parked = d.add("Parcheggiato", {-4933, 16, 40, 17}); // -73995 twips
        auto* size = new AutoSizeLabel(&d); // right-aligned, as the total size: grows leftwards
        size->setObjectName("Lbl_dim_tot");
        size->setAlignment(Qt::AlignRight | Qt::AlignTop);
        size->setGeometry(640, 304, 11, 13);
        size->setText(".");
        auto* panel = new QLabel(d.add("StatusBar1", {0, 550, 794, 28}));
        panel->setObjectName("Pannello1"); // named, but inside a control
        d.pass(0);
        QCOMPARE(FindFormRecord(&d), -1); // not recorded until it has a size
        d.pass(794);
        QCOMPARE(FindControlRecord(panel, d.objectName()), -1);
        size->setText("Dimensione da copiare : 2,93 Kb"); // wider than its recorded box
        const QRect fitted = size->geometry();
        d.show(); // move events reach visible widgets at once
        d.command3->installEventFilter(&d);
        d.pass(client.width(), client.height());
        QTEST(d.command3->geometry(), "command3");
        QTEST(parked->x() * 15, "parked");
        QCOMPARE(size->size(), size->sizeHint()); // its text in full, the right edge scaled
        QVERIFY(qAbs(size->geometry().right() + 1 -
                     (fitted.right() + 1) * (client.width() * 100 / 794) / 100) <= 1 ||
                client.isNull());
        QVERIFY2(!ResizeBusy() && (d.seen.isNull() || d.seen == QRect(8, 96, 321, 19)), "nested");
        d.pass(794);
        QCOMPARE(d.command3->geometry(), QRect(664, 8, 121, 17));
        QCOMPARE(size->geometry(), fitted);
    }

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

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
