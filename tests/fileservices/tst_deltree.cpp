#include "fileservices/deltree.h"
#include "platform/drives.h"
#include "support/drives.h"

#include <QDirIterator>
#include <QScopeGuard>
#include <QtTest>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace archivon;

namespace {

// Posted again on delivery, so every yield delivers it once.
class YieldCounter : public QObject
{
public:
    YieldCounter() { post(); }
    int count = 0;

protected:
    void customEvent(QEvent*) override { ++count, post(); }

private:
    void post() { QCoreApplication::postEvent(this, new QEvent(QEvent::User)); }
};

int entriesBelow(const QString& hostFolder)
{
    int n = 0;
    for (QDirIterator it(hostFolder,
                         QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
         it.hasNext(); it.next())
        ++n;
    return n;
}

bool present(const QString& hostPath)
{
    return QFileInfo(hostPath).exists() || QFileInfo(hostPath).isSymLink();
}

// The immutable flag stops even root from deleting a file.
bool setImmutable(const QString& hostPath, bool on)
{
    const int fd = ::open(QFile::encodeName(hostPath).constData(), O_RDONLY | O_NONBLOCK);
    int flags = 0;
    bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return ok;
}

} // namespace

class TestDelTree : public QObject
{
    Q_OBJECT

private slots:
    void removesEveryKindOfEntry()
    {
        test::TempDrives drives;
        for (const char* f :
             {"C:\\t\\normale.txt", "C:\\t\\.nascosto", "C:\\t\\.cartella\\.dentro\\x.txt",
              "C:\\t\\sub\\y.txt", "C:\\t\\chiusa\\z.txt"})
            drives.writeFile(f, "x");
        QFile::setPermissions(drives.writeFile("C:\\t\\sola_lettura.txt", "r"), QFile::ReadOwner);
        const QString t = drives.host("C:\\t");
        QFile::setPermissions(t + "/chiusa", QFile::ReadOwner | QFile::ExeOwner);
        QCOMPARE(::mkfifo(QFile::encodeName(t + "/sub/coda").constData(), 0644), 0);
        QVERIFY(QFile::link(t + "/nessuno", t + "/pendente"));
        const int entries = entriesBelow(t);
        QCOMPARE(entries, 12);

        YieldCounter yields;
        QString cartella = "C:\\t";
        QVERIFY(DelTree(cartella));
        QVERIFY(!present(t));
        QVERIFY(QFileInfo(drives.root('c')).isDir());
        QCOMPARE(yields.count, 2 * entries); // after each entry listed and each entry removed
    }

    void whatIsKept_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("folderKept");
        QTest::newRow("folder") << "R:\\t"
                                << "R:\\t" << false;
        QTest::newRow("trailing backslash") << "R:\\t\\"
                                            << "R:\\t" << false;
        QTest::newRow("slashes") << "R:/t"
                                 << "R:/t" << false;
        QTest::newRow("root") << "R:\\"
                              << "R:" << true;
        QTest::newRow("designator") << "R:"
                                    << "R:" << true;
        QTest::newRow("root through a dot") << "R:\\t\\.."
                                            << "R:\\t\\.." << true;
    }
    void whatIsKept()
    {
        QFETCH(QString, given);
        QFETCH(QString, after);
        QFETCH(bool, folderKept);
        test::TempDrives drives;
        drives.writeFile("R:\\t\\a\\b.txt", "b");
        drives.writeFile("R:\\t\\.c", "c");
        const QString folder = drives.host(platform::resolve(given)->toString());
        QString cartella = given;
        QVERIFY(DelTree(cartella));
        QCOMPARE(cartella, after);
        QCOMPARE(QFileInfo(folder).isDir(), folderKept);
        QCOMPARE(entriesBelow(drives.root('r')), 0);
    }

    void nothingToRemove()
    {
        test::TempDrives drives;
        drives.writeFile("C:\\prog\\resta.txt", "x");
        drives.writeFile("C:\\file.txt", "x");
        QVERIFY(platform::setCurrentFolder("C:\\prog"));
        const int before = entriesBelow(drives.root('c'));
        for (QString cartella : {"C:\\manca", "Q:\\x", "", "\\", "C:\\file.txt"}) {
            QVERIFY(DelTree(cartella));
            QCOMPARE(entriesBelow(drives.root('c')), before);
        }
    }

    void linksAreNotFollowed()
    {
        test::TempDrives drives;
        drives.writeFile("C:\\fuori\\sub\\b.txt", "b");
        const QString outside = drives.host("C:\\fuori");
        const QString roFile = drives.writeFile("C:\\fuori\\ro.txt", "r");
        QFile::setPermissions(roFile, QFile::ReadOwner);
        drives.makeDir("C:\\t\\sub");
        const QString t = drives.host("C:\\t");
        QVERIFY(QFile::link(outside, t + "/cartella"));
        QVERIFY(QFile::link("../..", t + "/sub/su"));
        QVERIFY(QFile::link(roFile, t + "/file"));
        QVERIFY(QFile::link(outside, drives.host("C:\\collegamento")));
        const int outsideEntries = entriesBelow(outside);

        for (QString cartella : {"C:\\t", "C:\\collegamento"}) { // a link given goes as a link too
            QVERIFY(DelTree(cartella));
            QVERIFY(!present(drives.host(cartella)));
        }
        QCOMPARE(entriesBelow(outside), outsideEntries);
        QVERIFY(!(QFileInfo(roFile).permissions() & QFile::WriteOwner));
    }

    void blockedEntriesStay()
    {
        test::TempDrives drives;
        const QString keep = drives.writeFile("C:\\t\\a\\tieni.txt", "k");
        for (const char* f : {"C:\\t\\a\\altro.txt", "C:\\t\\b\\x.txt", "C:\\t\\y.txt"})
            drives.writeFile(f, "x");
        if (!setImmutable(keep, true))
            QSKIP("no immutable flag on this filesystem");
        const auto unblock = qScopeGuard([&] { setImmutable(keep, false); });
        const QString t = drives.host("C:\\t");
        QFile::setPermissions(t + "/a", QFile::ReadOwner | QFile::ExeOwner);
        QString cartella = "C:\\t";
        QVERIFY(DelTree(cartella));
        QVERIFY(QFileInfo(keep).isFile());
        QCOMPARE(entriesBelow(t), 2);                                   // a and a\tieni.txt
        QVERIFY(QFileInfo(t + "/a").permissions() & QFile::WriteOwner); // opened for the others
    }
};

QTEST_GUILESS_MAIN(TestDelTree)
#include "tst_deltree.moc"
