#include "fileservices/texts.h"

#include <QLocale>
#include <QtTest>

using namespace archivon;

class TestTexts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy)); }

    void sizes_data()
    {
        QTest::addColumn<double>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0.0 << "0,00 byte";
        QTest::newRow("1023") << 1023.0 << "1.023,00 byte";
        QTest::newRow("1023.999 rounds up, stays in tier") << 1023.999 << "1.024,00 byte";
        QTest::newRow("1024") << 1024.0 << "1,00 Kb";
        QTest::newRow("half away from zero") << 1024.0 * 1.125 << "1,13 Kb";
        QTest::newRow("1048575") << 1048575.0 << "1.024,00 Kb";
        QTest::newRow("1048576") << 1048576.0 << "1,00 Mb";
        QTest::newRow("past 32 bits") << 3.0e12 << "2.861.022,95 Mb";
    }
    void sizes()
    {
        QFETCH(double, bytes);
        QFETCH(QString, text);
        QCOMPARE(Scrividimensione(bytes), text);
    }

    // An empty text: no duration can be written.
    void durations_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0.0 << "0 s";
        QTest::newRow("59") << 59.0 << "59 s";
        QTest::newRow("58.5 to even") << 58.5 << "58 s";
        QTest::newRow("59.5 to even") << 59.5 << "1 m 0 s";
        QTest::newRow("65") << 65.0 << "1 m 5 s";
        QTest::newRow("3599") << 3599.0 << "59 m 59 s";
        QTest::newRow("3600") << 3600.0 << "1 h 0 s";
        QTest::newRow("3725") << 3725.0 << "1 h 2 m 5 s";
        QTest::newRow("7205") << 7205.0 << "2 h 5 s";
        QTest::newRow("90000 no days") << 90000.0 << "25 h 0 s";
        QTest::newRow("largest") << 2147483647.0 << "596523 h 14 m 7 s";
        QTest::newRow("negative") << -1.0 << "";
        QTest::newRow("beyond 32 bits") << 2147483648.0 << "";
        QTest::newRow("nan") << std::nan("") << "";
    }
    void durations()
    {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        const auto result = Tempo(seconds);
        QCOMPARE(bool(result), !text.isEmpty());
        if (result)
            QCOMPARE(*result, text);
    }
};

QTEST_GUILESS_MAIN(TestTexts)
#include "tst_texts.moc"
