#include "fileservices/treescan.h"
#include "platform/drives.h"
#include "support/drives.h"

#include <QtTest>

#include <sys/stat.h>

using namespace archivon;

namespace {

struct Recorder : ScanObserver
{
    QList<qint64> found;
    QStringList log;
    void started() override { log << "started"; }
    void folderFound(qint64 n) override { found << n; }
    void folderVisited(qint64 k) override { log << QString::number(k); }
    void finished() override { log << "finished"; }
};

} // namespace

class TestTreeScan : public QObject
{
    Q_OBJECT

private slots:
    void breadthFirst_data()
    {
        QTest::addColumn<QString>("source");
        QTest::newRow("folder") << "C:\\src";
        QTest::newRow("trailing backslash") << "C:\\src\\";
        QTest::newRow("doubled backslash") << "C:\\src\\\\";
        QTest::newRow("drive root") << "R:\\";
        QTest::newRow("drive designator") << "R:";
    }
    void breadthFirst()
    {
        QFETCH(QString, source);
        const QString base = QString(source).remove(QRegularExpression(R"(\\+$)"));
        test::TempDrives drives;
        // Hidden and system entries are neither listed nor counted.
        for (const char* f : {"\\uno.txt", "\\A\\C\\due.txt", "\\B\\.nascosto", "\\.cartella\\x"})
            drives.writeFile(base + f, "x");
        QCOMPARE(::mkfifo(QFile::encodeName(drives.host(base + "\\coda")).constData(), 0644), 0);
        QStringList list{source};
        QString Percorso = "ignored";
        Recorder seen;
        QCOMPARE(Sottocartelle(list, Percorso, &seen), 2);
        QCOMPARE(list.size(), 4);
        std::sort(list.begin() + 1, list.begin() + 3); // A and B in the file system's order
        QCOMPARE(list, QStringList({source, base + "\\A", base + "\\B", base + "\\A\\C"}));
        QCOMPARE(Percorso, base + "\\A\\C\\");
        QCOMPARE(seen.found, QList<qint64>({2, 3, 4}));
        QCOMPARE(seen.log, QStringList({"started", "1", "2", "3", "4", "finished"}));
    }
};

QTEST_GUILESS_MAIN(TestTreeScan)
#include "tst_treescan.moc"
