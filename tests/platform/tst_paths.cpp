#include "platform/drives.h"
#include "support/drives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace archivon;
using namespace archivon::platform;

class TestPaths : public QObject
{
    Q_OBJECT

private slots:
    void resolvesAsText_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        // clang-format off
        QTest::newRow("backslashes") << "R:\\BKPQORL\\PC7_u" << "R:\\BKPQORL\\PC7_u";
        QTest::newRow("slashes") << "r:/BKPQORL/PC7_u/" << "R:\\BKPQORL\\PC7_u";
        QTest::newRow("mixed and doubled") << "R:\\\\a//b\\/c" << "R:\\a\\b\\c";
        QTest::newRow("dot") << "R:\\a\\.\\b" << "R:\\a\\b";
        QTest::newRow("dotdot") << "R:\\a\\b\\..\\c" << "R:\\a\\c";
        QTest::newRow("dotdot stops at root") << "R:\\..\\..\\etc" << "R:\\etc";
        QTest::newRow("root") << "R:" << "R:\\";
        QTest::newRow("relative") << "sub\\x" << "C:\\prog\\sub\\x";
        QTest::newRow("relative up") << "..\\..\\..\\y" << "C:\\y";
        QTest::newRow("rooted without drive") << "\\top" << "C:\\top";
        QTest::newRow("case of names kept") << "c:\\Documenti\\A.txt" << "C:\\Documenti\\A.txt";
        // clang-format on
    }
    void resolvesAsText()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        test::TempDrives drives;
        drives.makeDir(QStringLiteral("C:\\prog"));
        QVERIFY(setCurrentFolder(QStringLiteral("C:\\prog")));
        const auto resolved = resolve(path);
        QVERIFY(resolved);
        QCOMPARE(resolved->toString(), expected);
    }

    // Entries of the drive folder: a letter, any case, maybe with ":"; a link
    // whose target is gone, or no entry at all, is a drive that is not ready.
    // No path text reaches a host file outside the mapped roots.
    void driveMap()
    {
        test::TempDrives drives;
        QCOMPARE(toHost("R:\\..\\..\\..\\c\\secret").value_or(""), drives.root('r') + "/c/secret");
        QVERIFY(!toHost("\\\\server\\share\\x"));
        QVERIFY(!resolve(QString()));
        QTemporaryDir elsewhere;
        QVERIFY(QFile::link(elsewhere.path(), drives.drivesFolder() + "/S:"));
        QVERIFY(QFile::link(drives.drivesFolder() + "/nowhere", drives.drivesFolder() + "/q"));
        QCOMPARE(driveRoot('s').value_or(QString()), drives.drivesFolder() + "/S:");
        QVERIFY(!driveRoot('Q'));
        QVERIFY(!toHost("Q:\\x"));
        QCOMPARE(*toHost("Z:\\etc"), QStringLiteral("/etc"));
        drives.unmap('r');
        QVERIFY(!toHost("R:\\x"));
        QCOMPARE(readyDrives(), (QList<QChar>{'C', 'S', 'Z'}));

        drives.makeDir("C:\\a\\b");
        QCOMPARE(fromHost(drives.root('c') + "/a/b"), QStringLiteral("C:\\a\\b"));
        QCOMPARE(fromHost("/usr/bin"), QStringLiteral("Z:\\usr\\bin"));
        QCOMPARE(*toHost(programFolder()), QFileInfo(drives.programFolder()).canonicalFilePath());
        QVERIFY(!setCurrentFolder("C:\\missing"));
        QVERIFY(setCurrentFolder("c:/a/b/"));
        QCOMPARE(currentFolder(), QStringLiteral("C:\\a\\b"));
    }

    void defaultDrivesCreatedOnce()
    {
        QTemporaryDir data;
        const QByteArray oldData = qgetenv("XDG_DATA_HOME");
        const QByteArray oldDrives = qgetenv("ARCHIVON_DRIVES");
        qunsetenv("ARCHIVON_DRIVES");
        qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
        ensureDefaultDrives();
        const QString folder = data.path() + "/archivon/drives";
        QCOMPARE(drivesFolder(), folder);
        QCOMPARE(QFileInfo(folder + "/c").symLinkTarget(),
                 QFileInfo(QDir::homePath()).canonicalFilePath());
        QVERIFY(QFileInfo(folder + "/r").isDir());
        // An existing folder is the user's: it is left as it is.
        QDir(folder + "/r").removeRecursively();
        ensureDefaultDrives();
        QVERIFY(!QFileInfo::exists(folder + "/r"));
        qputenv("XDG_DATA_HOME", oldData);
        qputenv("ARCHIVON_DRIVES", oldDrives);
    }
};

QTEST_GUILESS_MAIN(TestPaths)
#include "tst_paths.moc"
