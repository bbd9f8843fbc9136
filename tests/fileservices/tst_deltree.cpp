#include "fileservices/deltree.h"
#include "platform/drives.h"
#include "platform/removal.h"
#include "support/drives.h"

#include <QtTest>

#include <unistd.h>

using namespace archivon;

namespace {

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
    // Everything below goes, read-only and hidden entries included; links go as links,
    // and nothing they lead to is touched, nor the mode of a file with another name.
    void removesTheTreeAndNothingElse()
    {
        test::TempDrives drives;
        for (const char* f :
             {"C:\\t\\.cartella\\.dentro\\.x", "C:\\t\\chiusa\\z", "C:\\fuori\\a\\ro"})
            drives.writeFile(f, "x");
        for (int i = 0; i < 300; ++i)
            drives.writeFile(QStringLiteral("C:\\t\\c%1\\d%2\\f%3.txt").arg(i % 7).arg(i % 3).arg(i), "x");
        const QString c = drives.root('c'), t = c + "/t", out = c + "/fuori";
        QVERIFY(QFile::link(t + "/x", t + "/pendente") && QFile::link(out, t + "/cartella"));
        QVERIFY(QFile::link(out + "/a/ro", t + "/file") && QFile::link(out, c + "/collegamento"));
        for (const QString& f : {t + "/chiusa/z", t + "/chiusa", out + "/a/ro"})
            QVERIFY(QFile::setPermissions(f, QFile::ReadOwner | QFile::ExeOwner));
        QCOMPARE(::link(QFile::encodeName(out + "/a/ro").constData(),
                        QFile::encodeName(t + "/duro").constData()),
                 0);
        const int outside = entriesBelow(out);
        QVERIFY(platform::setCurrentFolder("C:\\fuori")); // an empty path must not stand for it

        for (QString cartella :
             {"C:\\manca", "Q:\\x", "", "\\", "C:\\fuori\\a\\ro", "C:\\t", "C:\\collegamento"})
            QVERIFY(DelTree(cartella));
        QCOMPARE(entriesBelow(c), 1 + outside);
        QVERIFY(!(QFileInfo(out + "/a/ro").permissions() & QFile::WriteOwner));
    }

    // A folder replaced by a link while the removal runs goes as a link: what it now
    // leads to keeps its entries and its mode.
    void folderTurnedIntoALink()
    {
        test::TempDrives drives;
        drives.writeFile("C:\\t\\sub\\a.txt", "a");
        drives.writeFile("C:\\fuori\\b.txt", "b");
        const QString t = drives.host("C:\\t"), out = drives.host("C:\\fuori");
        QVERIFY(QFile::setPermissions(out, QFile::ReadOwner | QFile::ExeOwner));
        bool swapped = false;
        platform::BackgroundRemoval::Options options;
        options.gate = [&] {
            if (!std::exchange(swapped, true)) {
                QDir(t + "/sub").removeRecursively();
                QFile::link(out, t + "/sub");
            }
            return true;
        };
        platform::BackgroundRemoval removal("C:\\t", options);
        removal.wait();
        QVERIFY(swapped && !QFileInfo::exists(t));
        QCOMPARE(QFileInfo(out).permissions() & QFile::WriteOwner, QFileDevice::Permissions());
        QCOMPARE(test::treeOf(out), QStringList{"b.txt"});
    }
};

QTEST_GUILESS_MAIN(TestDelTree)
#include "tst_deltree.moc"
