#include "fileservices/deltree.h"
#include "platform/drives.h"
#include "support/drives.h"

#include <QtTest>

using namespace archivon;

namespace {

struct YieldCounter : QObject
{
    YieldCounter() { post(); }
    int count = 0;
    void customEvent(QEvent*) override { ++count, post(); } // one delivery per yield
    void post() { QCoreApplication::postEvent(this, new QEvent(QEvent::User)); }
};

int entriesBelow(const QString& hostFolder)
{
    const auto all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    int n = 0;
    for (QDirIterator it(hostFolder, all, QDirIterator::Subdirectories); it.hasNext(); it.next())
        ++n;
    return n;
}

} // namespace

class TestDelTree : public QObject
{
    Q_OBJECT

private slots:
    void removesTheTreeAndNothingElse()
    {
        test::TempDrives drives;
        for (const char* f :
             {"C:\\t\\.cartella\\.dentro\\.x", "C:\\t\\chiusa\\z", "C:\\fuori\\a\\ro"})
            drives.writeFile(f, "x");
        const QString c = drives.root('c'), t = c + "/t", out = c + "/fuori";
        QVERIFY(QFile::link(t + "/x", t + "/pendente") && QFile::link(out, t + "/cartella"));
        QVERIFY(QFile::link(out + "/a/ro", t + "/file") && QFile::link(out, c + "/collegamento"));
        for (const QString& f : {t + "/chiusa/z", t + "/chiusa", out + "/a/ro"})
            QVERIFY(QFile::setPermissions(f, QFile::ReadOwner | QFile::ExeOwner));
        const int entries = entriesBelow(t), outside = entriesBelow(out);
        QVERIFY(platform::setCurrentFolder("C:\\fuori")); // an empty path must not stand for it

        YieldCounter yields;
        for (QString cartella :
             {"C:\\manca", "Q:\\x", "", "\\", "C:\\fuori\\a\\ro", "C:\\t", "C:\\collegamento"})
            QVERIFY(DelTree(cartella));
        QCOMPARE(yields.count, 2 * entries); // after each entry listed and each entry removed
        QCOMPARE(entriesBelow(c), 1 + outside);
        QVERIFY(!(QFileInfo(out + "/a/ro").permissions() & QFile::WriteOwner));
    }

    void rootKeptAndBackslashDropped_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<bool>("folderKept");
        QTest::addColumn<QString>("after");
        QTest::newRow("folder") << "R:\\t" << false << "R:\\t";
        QTest::newRow("trailing backslash") << "R:\\t\\" << false << "R:\\t";
        QTest::newRow("root") << "R:\\" << true << "R:";
        QTest::newRow("designator") << "R:" << true << "R:";
        QTest::newRow("root through a dot") << "R:\\t\\.." << true << "R:\\t\\..";
    }
    void rootKeptAndBackslashDropped()
    {
        QFETCH(QString, given);
        QFETCH(bool, folderKept);
        QFETCH(QString, after);
        test::TempDrives drives;
        drives.writeFile("R:\\t\\a\\b.txt", "b");
        const QString folder = drives.host(platform::resolve(given)->toString());
        QVERIFY(DelTree(given));
        QCOMPARE(given, after);
        QCOMPARE(QFileInfo(folder).isDir(), folderKept);
        QCOMPARE(entriesBelow(drives.root('r')), 0);
    }

    void blockedEntryKeepsItsFolders()
    {
        test::TempDrives drives;
        const QString t = drives.host("C:\\t"), keep = t + "/a/tieni";
        for (const char* f : {"C:\\t\\a\\tieni", "C:\\t\\a\\altro", "C:\\t\\b\\x", "C:\\t\\y"})
            drives.writeFile(f, "x");
        if (QProcess::execute("chattr", {"+i", keep}) != 0) // then not even root can delete it
            QSKIP("no immutable flag here");
        const auto unblock = qScopeGuard([&] { QProcess::execute("chattr", {"-i", keep}); });
        QFile::setPermissions(t + "/a", QFile::ReadOwner | QFile::ExeOwner);
        QString cartella = "C:\\t";
        QVERIFY(DelTree(cartella));
        QCOMPARE(entriesBelow(t), 2);                                   // a and a\tieni
        QVERIFY(QFileInfo(t + "/a").permissions() & QFile::WriteOwner); // opened for the others
    }
};

QTEST_GUILESS_MAIN(TestDelTree)
#include "tst_deltree.moc"
