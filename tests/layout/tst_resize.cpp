#include "layout/resize.h"

#include <QLabel>
#include <QStatusBar>
#include <QTest>

#include <functional>
#include <memory>
#include <utility>

using namespace archivon;

namespace {

// Part of the main window at its design numbers in pixels (twips / 15):
// client 11910 x 8670, Command3 at 9960, 120, 1815 x 255.
struct DesignWindow
{
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    QWidget* command3 = add("Command3", {664, 8, 121, 17});
    QWidget* text = add("Text_sorgente1", {8, 96, 321, 19});

    explicit DesignWindow(int width = 794)
    {
        // Records outlive windows, so every test meets a window of its own.
        window->setObjectName(QStringLiteral("Form1_%1_%2")
                                  .arg(QTest::currentTestFunction(), QTest::currentDataTag()));
        window->resize(width, 578);
        auto* status = add("StatusBar1", {0, 550, 794, 28}, {}, new QStatusBar(window.get()));
        auto* panel = new QLabel(QStringLiteral("QORL"));
        panel->setObjectName(QStringLiteral("Pannello1")); // inside a control: not a control
        static_cast<QStatusBar*>(status)->addWidget(panel);
    }
    QWidget* add(const char* name, QRect px, QVariant index = {}, QWidget* w = nullptr)
    {
        w = w ? w : new QWidget(window.get());
        w->setObjectName(QString::fromLatin1(name));
        w->setGeometry(px);
        w->setProperty("index", index);
        return w;
    }
    void pass(int width, int height = 578)
    {
        window->resize(width, height);
        ResizeForm(window.get());
    }
    ControlLayoutRecord record(const QWidget* w) const
    {
        return ControlLayouts().value(FindControlRecord(w, window->objectName()));
    }
};

} // namespace

class TestResize : public QObject
{
    Q_OBJECT

private slots:
    void scalesTheDesignLayout_data()
    {
        QTest::addColumn<int>("top");
        QTest::addColumn<QSize>("client");
        QTest::addColumn<QRect>("command3");
        const QRect design(664, 8, 121, 17);
        QTest::newRow("150 %") << 0 << QSize(1191, 578) << QRect(996, 8, 181, 17); // 14940, 2722
        QTest::newRow("growth under 1 %") << 0 << QSize(800, 578) << design;
        QTest::newRow("one pixel less") << 0 << QSize(793, 577) << QRect(657, 8, 120, 17);
        QTest::newRow("minimised") << 0 << QSize(0, 0) << QRect(0, 0, 0, 0);
        QTest::newRow("top at 29985") << 1999 << QSize(1191, 578) << QRect(996, 8, 181, 17);
        QTest::newRow("top at 30000") << 2000 << QSize(1191, 578) << design;
    }
    void scalesTheDesignLayout()
    {
        QFETCH(int, top);
        QFETCH(QSize, client);
        QFETCH(QRect, command3);
        DesignWindow d;
        const QFont font = d.command3->font();
        d.pass(794);
        const ControlLayoutRecord r = d.record(d.command3);
        QCOMPARE(QList<qint32>({r.Left, r.Top, r.Width, r.Height}),
                 QList<qint32>({9960, 120, 1815, 255}));
        d.window->move(0, top);
        d.pass(client.width(), client.height());
        QCOMPARE(d.command3->geometry(), command3);
        QCOMPARE(d.command3->font(), font);
        d.window->move(0, 0);
        d.pass(794);
        QCOMPARE(d.command3->geometry(), QRect(664, 8, 121, 17));
    }

    void percentages_data()
    {
        QTest::addColumn<int>("twips");
        QTest::addColumn<int>("percent");
        QTest::newRow("150 %") << 17865 << 150;
        QTest::newRow("growth under 1 %") << 12000 << 100;
        QTest::newRow("one twip less") << 11909 << 99;
        QTest::newRow("truncated") << 17800 << 149;
    }
    void percentages()
    {
        QFETCH(int, twips);
        QFETCH(int, percent);
        DesignWindow d;
        QCOMPARE(WidthPercent(d.window.get(), twips), percent);
        QCOMPARE(HeightPercent(d.window.get(), twips * 8670 / 11910), float(percent));
    }

    void recordsAndParking()
    {
        QCOMPARE(UnparkCoordinate(-74000), 1000);
        DesignWindow d(0); // met at width 0: not recorded until it has a size
        QWidget* parked = d.add("Parcheggiato", {-4933, 16, 40, 17}); // -73995 twips
        QWidget* first = d.add("Opzione", {32, 24, 200, 25}, 0);
        QWidget* second = d.add("Opzione", {32, 48, 200, 25}, 1);
        d.command3->setFixedHeight(17);
        d.pass(0);
        QCOMPARE(FindFormRecord(d.window.get()), -1);
        d.pass(794);
        QCOMPARE(d.record(parked).Left, 1005);
        const QString form = d.window->objectName();
        QCOMPARE(FindControlRecord(d.window->findChild<QLabel*>(), form), -1); // not a control
        d.pass(1191, 867);
        QCOMPARE(parked->x() * 15, -73500); // 1507 - 75000, to the nearest pixel
        QCOMPARE(first->geometry(), QRect(48, 36, 300, 37));
        QCOMPARE(second->geometry(), QRect(48, 72, 300, 37));
        QCOMPARE(d.command3->geometry(), QRect(996, 12, 181, 17)); // all but the height
        d.pass(0, 0);
        QCOMPARE(parked->x() * 15, -75000);
        QWidget stranger; // not an array element: the name alone decides
        stranger.setObjectName(QStringLiteral("Opzione"));
        QCOMPARE(FindControlRecord(&stranger, form), FindControlRecord(first, form));
        stranger.setProperty("index", 2);
        QCOMPARE(FindControlRecord(&stranger, form), -1);
    }

    void nestedPassIsDropped()
    {
        DesignWindow d;
        d.pass(794);
        d.window->show(); // move events are sent at once to visible widgets only
        struct Filter : QObject
        {
            std::function<void()> onMove;
            bool eventFilter(QObject*, QEvent* e) override
            {
                if (e->type() == QEvent::Move && onMove)
                    std::exchange(onMove, nullptr)();
                return false;
            }
        } filter;
        QRect textDuringNested;
        filter.onMove = [&] {
            QVERIFY(ResizeBusy());
            ResizeForm(d.window.get()); // as a resize event raised by the pass would
            textDuringNested = d.text->geometry();
        };
        d.command3->installEventFilter(&filter);
        d.pass(1191);
        QCOMPARE(textDuringNested, QRect(8, 96, 321, 19));
        QCOMPARE(d.text->geometry(), QRect(12, 96, 481, 19));
        QVERIFY(!ResizeBusy());
    }
};

QTEST_MAIN(TestResize)
#include "tst_resize.moc"
