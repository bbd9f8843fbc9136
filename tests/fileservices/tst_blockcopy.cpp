#include "fileservices/blockcopy.h"
#include "support/drives.h"

#include <QCoreApplication>
#include <QTest>

#include <utility>

using namespace archivon;

namespace {

// Records every value the bar takes and counts the yields that follow a new
// value: each value posts a marker event that only the event loop delivers.
class RecordingBar final : public QObject, public ProgressTarget
{
public:
    QList<float> values;
    int yields = 0;
    float lo = 5, hi = 6; // the copy must set its own range

    float min() const override { return lo; }
    float max() const override { return hi; }
    float value() const override { return values.value(values.size() - 1, lo); }
    void setMin(float min) override { lo = min; }
    void setMax(float max) override { hi = max; }
    bool setValue(float value) override
    {
        if (value < lo || value > hi)
            return false;
        values.append(value);
        if (!std::exchange(m_pending, true))
            QCoreApplication::postEvent(this, new QEvent(QEvent::User));
        return true;
    }
    bool event(QEvent* e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        m_pending = false;
        ++yields;
        return true;
    }

private:
    bool m_pending = false;
};

QByteArray pattern(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xff);
    return bytes;
}

const QString Source = QStringLiteral("C:\\Documenti\\lettera.bin");
const QString Destination = QStringLiteral("R:\\BKPQORL\\lettera.bin");

} // namespace

class TestBlockCopy : public QObject
{
    Q_OBJECT

private slots:
    void copiesExactly_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QByteArray>("before");   // null: no destination yet
        QTest::addColumn<QList<float>>("values"); // empty: not looked at
        QTest::addColumn<int>("yields");
        QTest::addColumn<QString>("to");
        const QList<float> thirds = {0, 41, 82, 100};
        const QByteArray a = pattern(2500);
        QTest::newRow("2500 bytes") << a << QByteArray() << thirds << 3 << Destination;
        QTest::newRow("empty source")
            << QByteArray("") << QByteArray() << QList<float>{0} << 0 << Destination;
        QTest::newRow("same length") << a << QByteArray(2500, 'x') << thirds << 3 << Destination;
        QTest::newRow("longer destination")
            << a << QByteArray(9000, 'x') << thirds << 3 << Destination;
        QTest::newRow("shorter destination")
            << a << QByteArray(700, 'x') << thirds << 3 << Destination;
        QTest::newRow("past 16 MiB") << pattern(16 * 1024 * 1024 + 3) << QByteArray()
                                     << QList<float>() << 100 << Destination;
        QTest::newRow("onto itself") << a << QByteArray() << thirds << 3 << Source;
    }
    void copiesExactly()
    {
        QFETCH(QByteArray, source);
        QFETCH(QByteArray, before);
        QFETCH(QList<float>, values);
        QFETCH(int, yields);
        QFETCH(QString, to);
        test::TempDrives drives;
        drives.makeDir(QStringLiteral("R:\\BKPQORL"));
        drives.writeFile(Source, source);
        if (!before.isNull())
            drives.writeFile(Destination, before);
        RecordingBar bar;
        QVERIFY(CopiaFile(Source, to, bar).ok());
        QVERIFY(drives.readFile(to) == source);
        QCOMPARE(bar.lo, 0.0f);
        QCOMPARE(bar.hi, 100.0f);
        if (!values.isEmpty())
            QCOMPARE(bar.values, values);
        QCOMPARE(bar.value(), source.isEmpty() ? 0.0f : 100.0f);
        QCOMPARE(bar.yields, yields); // one per new percentage, no more
    }

    void failuresAreReported_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("culprit"); // the path the reason names
        const QString missing = QStringLiteral("C:\\manca.bin");
        const QString folder = QStringLiteral("C:\\Documenti");
        const QString noFolder = QStringLiteral("R:\\manca\\x.bin");
        const QString notReady = QStringLiteral("S:\\x.bin");
        QTest::newRow("missing source") << missing << Destination << missing;
        QTest::newRow("source is a folder") << folder << Destination << folder;
        QTest::newRow("no destination folder") << Source << noFolder << noFolder;
        QTest::newRow("drive not ready") << Source << notReady << notReady;
    }
    void failuresAreReported()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, culprit);
        test::TempDrives drives;
        drives.writeFile(Source, pattern(10));
        drives.makeDir(QStringLiteral("R:\\BKPQORL"));
        RecordingBar bar;
        const Status status = CopiaFile(from, to, bar);
        QVERIFY(!status.ok());
        QVERIFY2(status.error().contains(culprit), qPrintable(status.error()));
    }
};

QTEST_GUILESS_MAIN(TestBlockCopy)
#include "tst_blockcopy.moc"
