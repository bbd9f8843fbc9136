// The platform layer: drive paths and their mapping, folder searches and attributes,
// copies, removal and the marker's text file.
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/names.h"
#include "platform/removal.h"
#include "platform/textfile.h"
#include "support/drives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <atomic>

using namespace archivon;
using namespace archivon::platform;

namespace {

QStringList allNames(const QString& pattern, unsigned mask)
{
    DirSearch search(pattern, mask);
    QStringList names;
    for (QString n = search.next(); !n.isEmpty(); n = search.next())
        names << n;
    names.sort();
    return names;
}

// A folder of every kind of entry the attribute masks tell apart.
void populate(const test::TempDrives& drives)
{
    drives.writeFile("C:\\d\\plain.txt", "p");
    drives.writeFile("C:\\d\\.hidden", "h");
    const QString ro = drives.writeFile("C:\\d\\readonly.txt", "r");
    ::chmod(QFile::encodeName(ro).constData(), 0444);
    drives.makeDir("C:\\d\\Sub");
    drives.makeDir("C:\\d\\.hiddendir");
    ::mkfifo(QFile::encodeName(drives.host("C:\\d\\pipe")).constData(), 0644);
    QFile::link(drives.host("C:\\d\\Sub"), drives.host("C:\\d\\linkdir"));
    QFile::link(drives.host("C:\\d\\gone"), drives.host("C:\\d\\dangling"));
}

// What `xxhsum -H2` prints for \a hostPath.
QString xxhsum(const QString& hostPath)
{
    QProcess p;
    p.start(QStringLiteral("xxhsum"), {QStringLiteral("-H2"), hostPath});
    if (!p.waitForFinished() || p.exitCode() != 0)
        return QStringLiteral("xxhsum failed");
    return QString::fromUtf8(p.readAllStandardOutput()).section(QLatin1Char(' '), 0, 0);
}

bool appendTo(const QString& hostPath, const QByteArray& bytes)
{
    QFile f(hostPath);
    return f.open(QIODevice::Append) && f.write(bytes) == bytes.size();
}

} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    // Every name of the folder, spelt "*.*" or with nothing after the backslash, or
    // those a pattern matches, case aside; an entry outside the mask is never returned.
    void search_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<unsigned>("mask");
        QTest::addColumn<QStringList>("expected");
        // clang-format off
        QTest::newRow("0: ordinary files, read-only too") << "*.*" << 0u << QStringList{"plain.txt", "readonly.txt"};
        QTest::newRow("2: and hidden") << "*.*" << 2u << QStringList{".hidden", "plain.txt", "readonly.txt"};
        QTest::newRow("4: and system") << "*.*" << 4u << QStringList{"dangling", "pipe", "plain.txt", "readonly.txt"};
        QTest::newRow("16: and folders, links seen through")
            << "*.*" << 16u << QStringList{"Sub", "linkdir", "plain.txt", "readonly.txt"};
        QTest::newRow("55: everything")
            << "*.*" << 55u << QStringList{".hidden", ".hiddendir", "Sub", "dangling", "linkdir", "pipe",
                                           "plain.txt", "readonly.txt"};
        QTest::newRow("*.TXT") << "*.TXT" << 0u << QStringList{"plain.txt", "readonly.txt"};
        QTest::newRow("pl?in.*") << "pl?in.*" << 0u << QStringList{"plain.txt"};
        QTest::newRow("one file") << "plain.txt" << 0u << QStringList{"plain.txt"};
        QTest::newRow("one folder, not in the mask") << "Sub" << 0u << QStringList{};
        QTest::newRow("one folder") << "Sub" << 16u << QStringList{"Sub"};
        QTest::newRow("one hidden file, not in the mask") << ".hidden" << 0u << QStringList{};
        QTest::newRow("one hidden file") << ".hidden" << 2u << QStringList{".hidden"};
        // clang-format on
    }
    void search()
    {
        QFETCH(QString, pattern);
        QFETCH(unsigned, mask);
        QFETCH(QStringList, expected);
        test::TempDrives drives;
        populate(drives);
        QCOMPARE(allNames("C:\\d\\" + pattern, mask), expected);
        if (pattern == "*.*")
            QCOMPARE(allNames("C:\\d\\", mask), expected);
    }

    // What the masks above tell apart; a link to a folder is that folder, as a
    // System entry itself; a search of a drive not ready, or of no folder, fails as such.
    void attributesOfEntries()
    {
        test::TempDrives drives;
        populate(drives);
        QCOMPARE(*attributes("C:\\d\\readonly.txt"), unsigned(Archive | ReadOnly));
        QCOMPARE(*attributes("C:\\d\\.hiddendir"), unsigned(Directory | Hidden));
        QCOMPARE(*linkAttributes("C:\\d\\linkdir") & (System | Directory), unsigned(System));
        QCOMPARE(*fileId("C:\\d\\linkdir"), *fileId("C:\\d\\Sub"));
        QCOMPARE(DirSearch("Q:\\*.*", 55).status().kind(), ErrorKind::DriveLost);
        QCOMPARE(DirSearch("C:\\nothere\\*.*", 55).status().kind(), ErrorKind::NotFound);
    }
    // A copy replaces the destination (its mode and time, copies side by side and onto
    // other file systems: tst_engine); one that fails or is abandoned between chunks leaves the old
    // destination as it was and nothing else, and says which failure it was.
    void copies()
    {
        test::TempDrives drives;
        QByteArray big = QByteArray("0123456789abcdef").repeated(1310721); // 20 MiB and 16 bytes
        drives.writeFile("C:\\s\\big.bin", big);
        drives.writeFile("R:\\d\\keep.txt", "previous");
        QCOMPARE(copyFile("C:\\s\\missing", "R:\\d\\keep.txt").kind(), ErrorKind::NotFound);
        QCOMPARE(copyFile("C:\\s\\big.bin", "R:\\nofolder\\a.txt").kind(), ErrorKind::NotFound);
        QCOMPARE(copyFile("C:\\s\\big.bin", "Q:\\a.txt").kind(), ErrorKind::DriveLost);
        QCOMPARE(copyFile("C:\\s\\big.bin", "R:\\d\\keep.txt", [](qint64) { return false; }).kind(),
                 ErrorKind::Cancelled);
        QCOMPARE(drives.readFile("R:\\d\\keep.txt"), QByteArray("previous"));
        QCOMPARE(allNames("R:\\d\\*.*", 55), QStringList{"keep.txt"});

        // The fingerprint taken as the copy writes is the one xxhsum gives the source.
        int chunks = 0;
        CopiedContent content;
        QVERIFY(copyFile("C:\\s\\big.bin", "R:\\d\\keep.txt", [&](qint64) { return ++chunks > 0; },
                         &content));
        QCOMPARE(drives.readFile("R:\\d\\keep.txt"), big);
        QVERIFY(chunks >= 20); // a held run writes at most one more MiB
        QCOMPARE(allNames("R:\\d\\*.*", 55), QStringList{"keep.txt"});
        QCOMPARE(content.bytes, big.size());
        QCOMPARE(content.fingerprint.hex(), xxhsum(drives.host("C:\\s\\big.bin")));

        // A source that grows while it is copied: what was written, as long as
        // it was when opened, is what the fingerprint and the bytes tell.
        QVERIFY(copyFile("C:\\s\\big.bin", "R:\\d\\grown.bin",
                         [&](qint64) { return appendTo(drives.host("C:\\s\\big.bin"), "more"); },
                         &content));
        QCOMPARE(content.bytes, big.size());
        QCOMPARE(drives.readFile("R:\\d\\grown.bin"), big);
        QCOMPARE(content.fingerprint, fingerprintFile("R:\\d\\grown.bin").value().fingerprint);
        QVERIFY(content.fingerprint != fingerprintFile("C:\\s\\big.bin").value().fingerprint);
        QVERIFY(deleteFile("R:\\d\\grown.bin"));

        // Side by side: each copy's end carries its own, an empty file's too.
        drives.writeFile("C:\\s\\empty.txt", "");
        ParallelCopy both;
        QVERIFY(both.start("C:\\s\\empty.txt", "R:\\d\\empty.txt"));
        QVERIFY(both.start("C:\\s\\big.bin", "R:\\d\\big.bin"));
        while (both.busy())
            both.waitFor(50);
        for (const ParallelCopy::Ended& e : both.takeEnded()) {
            QVERIFY(e.status);
            QCOMPARE(e.fingerprint.hex(), xxhsum(drives.host(e.source)));
            QCOMPARE(e.written, QFileInfo(drives.host(e.source)).size());
        }
        QVERIFY(deleteFile("R:\\d\\empty.txt") && deleteFile("R:\\d\\big.bin"));
        drives.writeFile("C:\\s\\big.bin", big);

        // Copies whose gate closes between chunks, then abandoned, leave nothing behind.
        std::atomic<int> gates{0};
        ParallelCopy gated([&] { return ++gates < 3; });
        QVERIFY(gated.start("C:\\s\\big.bin", "R:\\d\\keep.txt"));
        QVERIFY(gated.start("C:\\s\\big.bin", "R:\\d\\nuovo.bin"));
        while (gated.busy())
            gated.waitFor(50);
        gated.abandon();
        QVERIFY(gated.takeEnded().isEmpty() && !gated.busy());
        QCOMPARE(drives.readFile("R:\\d\\keep.txt"), big);
        QCOMPARE(allNames("R:\\d\\*.*", 55), QStringList{"keep.txt"});
    }

    void markerTextFile()
    {
        test::TempDrives drives;
        QVERIFY(writeTextFile("R:\\oldimp.pvx", {"C:\\Documenti", "R:\\BKPQORL\\PC7_però €"}));
        QCOMPARE(drives.readFile("R:\\oldimp.pvx"),
                 QByteArray("C:\\Documenti\r\nR:\\BKPQORL\\PC7_per\xf2 \x80\r\n"));
        QCOMPARE(toWindows1252(QStringLiteral("\u4e2d")), QByteArray("?"));
        // A write that cannot happen leaves the old file as it was.
        QVERIFY(!writeTextFile("R:\\nofolder\\oldimp.pvx", {"x"}));
        QCOMPARE(allNames("R:\\*.*", 55), QStringList{"oldimp.pvx"});
    }

    // A folder replaced by a link while the removal runs goes as a link: what it now
    // leads to keeps its entries and its mode.
    void removalOfAFolderTurnedIntoALink()
    {
        test::TempDrives drives;
        drives.writeFile("C:\\t\\sub\\a.txt", "a");
        drives.writeFile("C:\\fuori\\b.txt", "b");
        const QString t = drives.host("C:\\t"), out = drives.host("C:\\fuori");
        QVERIFY(QFile::setPermissions(out, QFile::ReadOwner | QFile::ExeOwner));
        bool swapped = false;
        BackgroundRemoval::Options options;
        options.gate = [&] {
            if (!std::exchange(swapped, true)) {
                QDir(t + "/sub").removeRecursively();
                QFile::link(out, t + "/sub");
            }
            return true;
        };
        BackgroundRemoval removal("C:\\t", options);
        removal.wait();
        QVERIFY(swapped && !QFileInfo::exists(t));
        QCOMPARE(QFileInfo(out).permissions() & QFile::WriteOwner, QFileDevice::Permissions());
        QCOMPARE(test::treeOf(out), QStringList{"b.txt"});
    }

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

    // Names a Windows share cannot keep, judged before anything is written; and
    // whether a destination folds case, asked without writing: the local disk
    // does not, an exFAT drive (like a share) does.
    void destinationNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("problem"); // the start of the reason; empty: kept
        // clang-format off
        QTest::newRow("plain") << "lettera.txt" << "";
        QTest::newRow("colon") << "a:b.txt" << "il nome contiene «:»";
        QTest::newRow("control character") << "a\x01b" << "il nome contiene un carattere di controllo";
        QTest::newRow("final dot") << "punto." << "il nome finisce con un punto";
        QTest::newRow("final blank") << "spazio " << "il nome finisce con uno spazio";
        QTest::newRow("device, any case and extension") << "aux.txt" << "«aux» è il nome di un dispositivo";
        QTest::newRow("numbered device") << "com7.log" << "«com7» è il nome";
        QTest::newRow("not a device") << "com0.txt" << "";
        QTest::newRow("device as a stem only") << "console.txt" << "";
        // clang-format on
    }
    void destinationNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, problem);
        const QString said = windowsNameProblem(name);
        QVERIFY2(problem.isEmpty() ? said.isEmpty() : said.startsWith(problem), qPrintable(said));
        if (QTest::currentDataTag() != QLatin1String("plain"))
            return;
        test::TempDrives drives;
        drives.makeDir("R:\\BKPQORL\\PC7_u");
        const NameRules local = probeNameRules("R:\\BKPQORL\\PC7_u");
        QVERIFY(!local.foldsCase && !local.windowsNames && !local.assumed);
        QCOMPARE(nameKey("Report.txt", local), "Report.txt");
        drives.makeDir("R:\\BKPQORL\\pc7_U"); // a second spelling: a second entry
        QVERIFY(!probeNameRules("R:\\BKPQORL\\PC7_u").foldsCase);
        if (!drives.mountExfat('f'))
            QSKIP("no exFAT drive can be made here");
        drives.makeDir("F:\\BKPQORL\\PC7_u");
        const NameRules exfat = probeNameRules("F:\\BKPQORL\\PC7_u");
        QVERIFY(exfat.foldsCase && exfat.windowsNames && !exfat.assumed);
        QVERIFY(probeNameRules("F:\\BKPQORL\\pc7_U").foldsCase); // typed as the other spelling of the one there
        QCOMPARE(nameKey("Report.TXT", exfat), nameKey("report.txt", exfat));
        QVERIFY(probeNameRules("F:\\123").assumed); // nothing there with a letter to ask
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
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(data.path() + "/nessuna"));
        ensureDefaultDrives();
        const QString folder = data.path() + "/archivon/drives";
        QCOMPARE(drivesFolder(), folder);
        QCOMPARE(QFileInfo(folder + "/c").symLinkTarget(),
                 QFileInfo(QDir::homePath()).canonicalFilePath());
        QVERIFY(QFileInfo(folder + "/r").isDir() && isPlaceholderDrive('R'));
        // The settings map R: elsewhere (ARCHIVON_DRIVES winning: e2e_unattended).
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(data.path()));
        QFile conf(data.path() + "/archivon/archivon.conf");
        QVERIFY(conf.open(QIODevice::WriteOnly) && conf.write("[Unita]\nR=" + QFile::encodeName(data.path())) > 0);
        conf.close();
        QVERIFY(driveRoot('r') == data.path() && !isPlaceholderDrive('R'));
        qunsetenv("XDG_CONFIG_HOME");
        // An existing folder is the user's: it is left as it is.
        QDir(folder + "/r").removeRecursively();
        ensureDefaultDrives();
        QVERIFY(!QFileInfo::exists(folder + "/r"));
        qputenv("XDG_DATA_HOME", oldData);
        qputenv("ARCHIVON_DRIVES", oldDrives);
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
