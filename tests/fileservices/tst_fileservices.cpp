// The window's file services: sizes and times as text, the questions about files and
// drives, the folder scan and the tree removal. (The block copy, CopiaFile, has no caller.)
#include "fileservices/deltree.h"
#include "fileservices/queries.h"
#include "fileservices/texts.h"
#include "fileservices/treescan.h"
#include "platform/drives.h"
#include "support/drives.h"

#include <QLocale>
#include <QtTest>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>


using namespace archivon;

namespace {

struct Recorder : ScanObserver
{
    QStringList log, found;
    void started() override { log << "started"; }
    void folderFound(qint64 n) override { found << QString::number(n); }
    void folderVisited(qint64 k) override { log << QString::number(k); }
    void finished() override { log << "finished"; }
};

} // namespace

class TestFileServices : public QObject
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
        QTEST(Scrividimensione(bytes), "text");
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
        QTEST(Tempo(seconds).valueOr(QString()), "text");
    }

    // Hidden entries exist, a file counts as a folder; a drive gone is false, and has
    // no free space to tell (a private tmpfs: nobody else changes it meanwhile).
    void queries()
    {
        test::TempDrives drives;
        const QByteArray r = QFile::encodeName(drives.root('r'));
        if (::mount("tmpfs", r.constData(), "tmpfs", 0, "size=1m") != 0)
            QSKIP("mounting a tmpfs needs root");
        drives.writeFile("R:\\BK\\.nascosto", QByteArray(4097, 'x'));
        QVERIFY(CartellaEsistente("R:\\BK") && CartellaEsistente("R:\\BK\\.nascosto"));
        QVERIFY(!CartellaEsistente(QString()) && !CartellaEsistente("R:\\Altro") && !CartellaEsistente("Q:\\BK"));
        QCOMPARE(*ShowFreeSpace("R:\\"), *ShowFreeSpace("R:\\BK\\.nascosto"));
        QVERIFY(!ShowFreeSpace("BK"));
        ::umount(r.constData());
        drives.unmap('r');
        QVERIFY(!ShowFreeSpace("R:\\") && !CartellaEsistente("R:\\"));
    }

    // Breadth-first, whatever the root's trailing backslashes; hidden and system entries
    // neither listed nor counted.
    void scan_data()
    {
        QTest::addColumn<QString>("source");
        for (const char* source : {"C:\\src", "C:\\src\\\\", "R:\\", "R:"})
            QTest::newRow(source) << QString(source);
    }
    void scan()
    {
        QFETCH(QString, source);
        const QString base = QString(source).remove(QRegularExpression(R"(\\+$)"));
        test::TempDrives drives;
        for (const char* f : {"\\uno.txt", "\\A\\C\\due.txt", "\\B\\.nascosto", "\\.cartella\\x"})
            drives.writeFile(base + f, "x");
        QCOMPARE(::mkfifo(QFile::encodeName(drives.host(base + "\\coda")).constData(), 0644), 0);
        QStringList list{source};
        Recorder seen;
        QCOMPARE(Sottocartelle(list, &seen), 2);
        std::sort(list.begin() + 1, list.begin() + 3); // A and B in the file system's order
        QCOMPARE(list, QStringList({source, base + "\\A", base + "\\B", base + "\\A\\C"}));
        QCOMPARE(seen.found.join(',') + ' ' + seen.log.join(','), QString("2,3,4 started,1,2,3,4,finished"));
    }

    // Everything below goes, read-only and hidden entries included; links go as links,
    // and nothing they lead to is touched, nor the mode of a file with another name.
    void delTree()
    {
        test::TempDrives drives;
        for (const char* f : {"C:\\t\\.cartella\\.dentro\\.x", "C:\\t\\chiusa\\z", "C:\\fuori\\a\\ro"})
            drives.writeFile(f, "x");
        for (int i = 0; i < 300; ++i)
            drives.writeFile(QStringLiteral("C:\\t\\c%1\\d%2\\f%3.txt").arg(i % 7).arg(i % 3).arg(i), "x");
        const QString c = drives.root('c'), t = c + "/t", out = c + "/fuori";
        QVERIFY(QFile::link(t + "/x", t + "/pendente") && QFile::link(out, t + "/cartella"));
        QVERIFY(QFile::link(out + "/a/ro", t + "/file") && QFile::link(out, c + "/collegamento"));
        for (const QString& f : {t + "/chiusa/z", t + "/chiusa", out + "/a/ro"})
            QVERIFY(QFile::setPermissions(f, QFile::ReadOwner | QFile::ExeOwner));
        QCOMPARE(::link(QFile::encodeName(out + "/a/ro").constData(), QFile::encodeName(t + "/duro").constData()), 0);
        const auto outside = test::treeOf(out).size();
        QVERIFY(platform::setCurrentFolder("C:\\fuori")); // an empty path must not stand for it
        for (QString cartella : {"C:\\manca", "Q:\\x", "", "\\", "C:\\fuori\\a\\ro", "C:\\t", "C:\\collegamento"})
            QVERIFY(DelTree(cartella));
        QCOMPARE(test::treeOf(c).size(), 1 + outside);
        QVERIFY(!(QFileInfo(out + "/a/ro").permissions() & QFile::WriteOwner));
    }
};

QTEST_GUILESS_MAIN(TestFileServices)
#include "tst_fileservices.moc"
