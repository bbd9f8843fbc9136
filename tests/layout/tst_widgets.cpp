// The controls the windows are built from: the progress bar's range rules and
// drawing, the looping animated picture, the self-docking status bar with its
// clock, and the labels that size themselves to their text.
#include "layout/animatedpicture.h"
#include "layout/autosizelabel.h"
#include "layout/progressbar.h"
#include "layout/statusbar.h"
#include "support/drives.h"

#include <QMovie>
#include <QtTest>

#include <limits>

using namespace archivon;

class TestWidgets : public QObject
{
    Q_OBJECT

private slots:
    void progressBar()
    {
        ProgressBar bar;
        QCOMPARE(bar.max(), 100.0f);
        bar.setMax(4);
        QVERIFY(bar.setValue(3));
        QVERIFY(!bar.setValue(5));
        QVERIFY(!bar.setValue(-0.5f));
        QVERIFY(!bar.setValue(std::numeric_limits<float>::quiet_NaN()));
        QCOMPARE(bar.value(), 3.0f);
        // A new range always takes effect, the value left outside it is drawn clamped.
        bar.setMin(10);
        QCOMPARE(bar.value(), 3.0f);
        QCOMPARE(bar.filledShare(), 0.0);

        bar.resize(200, 25);
        auto pixel = [&](double share) {
            return bar.grab().toImage().pixelColor(int(200 * share), 12);
        };
        bar.setMin(0);
        bar.setMax(1);
        QVERIFY(bar.setValue(0));
        const QColor emptyLeft = pixel(0.2), emptyRight = pixel(0.9);
        QVERIFY(bar.setValue(1));
        QVERIFY2(pixel(0.9) != emptyRight, "value 1 of 1 does not fill the bar");
        bar.setMax(4);
        QVERIFY(bar.setValue(2));
        QVERIFY(pixel(0.2) != emptyLeft);
        QCOMPARE(pixel(0.9), emptyRight);
    }

    void animatedPicture()
    {
        // Two 4x4 frames of 20 ms without a loop count: as a file it plays once.
        const QByteArray twoFrames(
            "GIF89a\x04\x00\x04\x00\xf0\x00\x00\xff\x00\x00\x00\x00\x00\x21\xf9\x04\x00\x02\x00"
            "\x00\x00\x2c\x00\x00\x00\x00\x04\x00\x04\x00\x00\x02\x04\x84\x8f\x09\x05\x00\x21"
            "\xf9\x04\x00\x02\x00\x00\x00\x2c\x00\x00\x00\x00\x04\x00\x04\x00\x80\x00\x00\xff"
            "\x00\x00\x00\x02\x04\x84\x8f\x09\x05\x00\x3b",
            76);
        test::TempDrives drives;
        drives.writeFile("C:\\anim\\due.gif", twoFrames);
        AnimatedPicture picture;
        picture.setFile("C:\\anim\\manca.gif");
        picture.start();
        QVERIFY(!picture.movie() && !picture.isPlaying());

        picture.setFile("C:\\anim\\due.gif");
        picture.start();
        QVERIFY(picture.isPlaying());
        QSignalSpy frames(picture.movie(), &QMovie::frameChanged);
        QTRY_VERIFY_WITH_TIMEOUT(frames.count() >= 6, 3000); // well past one pass

        picture.setFile("Q:\\nessun\\disco.gif"); // replaces what played with nothing
        picture.start();
        QVERIFY(!picture.movie() && !picture.isPlaying());
    }

    void statusBar()
    {
        QWidget window;
        window.resize(794, 578);
        auto* bar = new StatusBar(&window);
        bar->setGeometry(0, 550, 794, 28);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QCOMPARE(bar->panelText(0), QString("QORL - Backup & Restore Program"));
        QCOMPARE(bar->panelText(1), QDate::currentDate().toString("dd/MM/yy"));
        const QTime before = QTime::currentTime();
        bar->refresh();
        if (QTime::currentTime().minute() == before.minute()) // the minute may turn meanwhile
            QCOMPARE(bar->panelText(2), before.toString("HH:mm"));
        QCOMPARE(bar->panelGeometry(0).width(), 594);
        QCOMPARE(bar->panelGeometry(2), QRect(694, 0, 96, 28));

        // Docked: the parent's size decides, whoever moves the bar.
        window.resize(1191, 867);
        QCOMPARE(bar->geometry(), QRect(0, 839, 1191, 28));
        bar->setGeometry(300, 10, 100, 40);
        QCOMPARE(bar->geometry(), QRect(0, 827, 1191, 40));
        window.resize(150, 100);
        QCOMPARE(bar->panelGeometry(0).width(), 96); // never below 1440 twips
    }

    // Right-aligned, as the copied-files counter: it grows to the left.
    void autoSizeLabel()
    {
        QWidget window;
        auto* label = new AutoSizeLabel(&window);
        label->setGeometry(100, 50, 6, 20);
        label->setAlignment(Qt::AlignRight | Qt::AlignTop);
        for (const char* text : {"1.234.567 byte", "7", "12 di 40"}) {
            label->setText(text);
            QCOMPARE(label->size(), label->sizeHint());
            QCOMPARE(label->geometry().right(), 105); // no drift
            QCOMPARE(label->y(), 50);
        }
        QFont big = label->font();
        big.setPointSize(24);
        label->setFont(big);
        QCOMPARE(label->size(), label->sizeHint());
        QCOMPARE(label->geometry().right(), 105);

        // Placed elsewhere from outside (the window rescaled): it anchors there.
        label->setGeometry(300, 80, 10, 20);
        label->setText("1.234.567 byte");
        QCOMPARE(label->geometry().right(), 309);
        QCOMPARE(label->y(), 80);
    }
};

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
