#include "fileservices/blockcopy.h"
#include "support/drives.h"

#include <QtTest>

#include <numeric>

using namespace archivon;

namespace {

struct Bar final : QObject, ProgressTarget
{
    Bar() { post(); }
    QList<float> values;
    float lo = 5, hi = 6; // the copy must set its own range
    int yields = 0;
    float min() const override { return lo; }
    float max() const override { return hi; }
    float value() const override { return values.value(values.size() - 1, lo); }
    void setMin(float v) override { lo = v; }
    void setMax(float v) override { hi = v; }
    bool setValue(float v) override { return v >= lo && v <= hi && (values << v, true); }
    void customEvent(QEvent*) override { ++yields, post(); } // one delivery per yield
    void post() { QCoreApplication::postEvent(this, new QEvent(QEvent::User)); }
};

const QString Source = "C:\\Documenti\\lettera.bin", Destination = "R:\\lettera.bin";

} // namespace

class TestBlockCopy : public QObject
{
    Q_OBJECT

private slots:
    void copiesExactly_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QByteArray>("before"); // null: no destination yet
        QTest::addColumn<QList<float>>("values");
        QList<float> thirds = {0, 41, 82, 100}, all(101);
        std::iota(all.begin(), all.end(), 0);
        QTest::newRow("2500 bytes") << 2500 << QByteArray() << thirds;
        QTest::newRow("empty") << 0 << QByteArray() << QList<float>{0};
        QTest::newRow("same length") << 2500 << QByteArray(2500, 'x') << thirds;
        QTest::newRow("longer") << 2500 << QByteArray(9000, 'x') << thirds;
        QTest::newRow("past 16 MiB") << (16 << 20) + 3 << QByteArray() << all;
    }
    void copiesExactly()
    {
        QFETCH(int, size);
        QFETCH(QByteArray, before);
        QFETCH(QList<float>, values);
        test::TempDrives drives;
        // 13 does not divide a block, so a block out of place shows.
        const auto source = QByteArray("abcdefghijklm").repeated(size / 13 + 1).left(size);
        drives.writeFile(Source, source);
        if (!before.isNull())
            drives.writeFile(Destination, before);
        Bar bar;
        QVERIFY(CopiaFile(Source, Destination, bar).ok() && drives.readFile(Destination) == source);
        QVERIFY(bar.lo == 0 && bar.hi == 100);
        bar.values.erase(std::unique(bar.values.begin(), bar.values.end()), bar.values.end());
        QCOMPARE(bar.values, values);
        QCOMPARE(bar.yields, values.size() - 1); // one per new percentage, no more
    }

    void ontoItselfAndFailures()
    {
        test::TempDrives drives;
        drives.writeFile(Source, "x");
        Bar bar;
        QVERIFY(CopiaFile(Source, Source, bar).ok() && drives.readFile(Source) == "x");
        QVERIFY(CopiaFile("C:\\manca.bin", Destination, bar).error().contains("C:\\manca.bin"));
        QVERIFY(CopiaFile(Source, "S:\\x.bin", bar).error().contains("S:\\x.bin"));
    }
};

QTEST_GUILESS_MAIN(TestBlockCopy)
#include "tst_blockcopy.moc"
