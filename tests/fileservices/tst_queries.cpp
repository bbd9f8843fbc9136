#include "fileservices/queries.h"
#include "support/drives.h"

#include <QFile>
#include <QtTest>

#include <sys/mount.h>
#include <sys/stat.h>

using namespace archivon;

class TestQueries : public QObject
{
    Q_OBJECT

private slots:
    void existence()
    {
        test::TempDrives drives;
        drives.writeFile("C:\\Documenti\\.nascosto", "h");
        drives.writeFile("C:\\Documenti\\a.txt", "a");
        QVERIFY(!CartellaEsistente(QString()));
        QVERIFY(FileEsistente("C:\\Documenti\\.nascosto"));
        QVERIFY(!FileEsistente("C:\\Documenti"));
        QVERIFY(CartellaEsistente("C:\\Documenti"));
        QVERIFY(CartellaEsistente("C:\\Documenti\\a.txt")); // a file counts too
        QVERIFY(!CartellaEsistente("C:\\Altro"));
        QVERIFY(!CartellaEsistente("Q:\\Documenti"));       // no such drive: false, no failure
        drives.unmap('r');
        QVERIFY(!CartellaEsistente("R:\\BKPQORL"));
    }

    void fileSizeAndFreeSpace()
    {
        test::TempDrives drives;
        // On a private tmpfs nobody else changes the free space between the two questions.
        const QByteArray r = QFile::encodeName(drives.root('r'));
        const bool mounted = ::mount("tmpfs", r.constData(), "tmpfs", 0, "size=1m") == 0;
        drives.writeFile("R:\\BKPQORL\\x.bin", QByteArray(4097, 'x'));
        QCOMPARE(*Dimensionefile("R:\\BKPQORL\\x.bin"), qint64(4097));
        const auto a = ShowFreeSpace("R:\\");
        const auto b = ShowFreeSpace("R:\\BKPQORL\\x.bin");
        QVERIFY(a && b);
        if (mounted)
            QCOMPARE(*a, *b);
        else
            QVERIFY(qAbs(*a - *b) < 64 * 1024 * 1024);
        QVERIFY(!ShowFreeSpace("BKPQORL"));   // no drive part
        if (mounted)
            ::umount(r.constData());
        drives.unmap('r');
        QVERIFY(!ShowFreeSpace("R:\\"));
    }
};

QTEST_GUILESS_MAIN(TestQueries)
#include "tst_queries.moc"
