// The engine's runs: a whole run, a stop, a hold, what earlier runs left, the refusals.

#include "decision/comparison.h"
#include "index/index.h"
#include "plan/checks.h"
#include "platform/drives.h"
#include "support/engineruns.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <numeric>
#include <poll.h>
#include <sys/inotify.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace archivon;
using namespace archivon::test;

class TestEngine : public QObject, public EngineFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { drives.reset(); }

    // A whole run: a missing source is skipped, what cannot be copied is listed, and
    // each destination ends as an exact mirror with nothing hidden beside it.
    void completes_data() { bothPasses(); }
    void completes()
    {
        QFETCH(bool, full);
        BackupPlan plan = fourPairs();
        QDir(host("C:\\s3")).removeRecursively();
        drives->writeFile("R:\\BK\\d3\\vecchio.txt", "old");
        drives->writeFile("R:\\BK\\d1\\via.txt", "old");
        drives->writeFile("R:\\BK\\d1\\Sparita\\x.txt", "old");
        const QString ro = drives->writeFile("C:\\s1\\sola lettura.txt", "ro");
        setTime(ro, 1'200'000'000);
        ::chmod(QFile::encodeName(ro).constData(), 0444);
        drives->makeDir("C:\\s1\\vuota\\anche vuota");
        drives->writeFile("C:\\s1\\a\\b\\profondo.txt", "deep");
        drives->writeFile("C:\\s1\\.nascosto", "h");
        drives->writeFile("C:\\s1\\.cartella\\dentro.txt", "h");
        ::mkfifo(QFile::encodeName(host("C:\\s1\\fifo")).constData(), 0644);
        // Names a Windows path cannot carry: listed as not copied, never renamed or dropped.
        const QByteArray src = QFile::encodeName(host("C:\\s1"));
        ::close(::creat((src + "/con\\barra.txt").constData(), 0644));
        ::mkdir((src + "/cart\xe8lla").constData(), 0755);
        drives->makeDir("C:\\s4\\vuota");
        QFile::remove(host("C:\\s4\\f4.txt"));
        // Links to a folder: that folder under their own names, whichever the walk meets
        // first; a cycle and a link into a backup are passed over.
        drives->writeFile("C:\\s2\\z\\vera\\f.txt", "vera");
        for (const char* link : {"C:\\s2\\a", "C:\\s2\\b"}) // met before z\vera, breadth-first
            QVERIFY(QFile::link(host("C:\\s2\\z\\vera"), host(link)));
        QVERIFY(QFile::link(host("C:\\s2\\z"), host("C:\\s2\\z\\giro")));
        // Links that lead nowhere are passed over, and never keep the folder's extras.
        for (const auto& [link, to] : {std::pair{"anello", "anello"}, {"giro1", "giro2"}, {"giro2", "giro1"},
                                       {"pendente", "manca"}, {"attraverso", "f1.txt/x"}})
            QCOMPARE(::symlink(to, QFile::encodeName(host("C:\\s1") + "/" + link).constData()), 0);
        drives->makeDir("R:\\BK\\d4");
        QVERIFY(QFile::link(host("R:\\BK\\d4"), host("C:\\s2\\nel backup")));

        const auto unnamed = qScopeGuard([&] { // names QDir cannot remove
            ::unlink(src + "/con\\barra.txt");
            ::rmdir(src + "/cart\xe8lla");
        });
        const Run run = runEngine(plan, {}, true, {}, full);
        QCOMPARE(run.end.reason, RunEnd::Reason::Completed);
        QCOMPARE(run.end.status, QStringLiteral("Operazione completata con 2 errori: alcuni elementi "
                                                "non sono stati copiati (vedere l'elenco). Saltata 1 "
                                                "cartella sorgente inesistente."));
        QStringList failures = run.of(Kind::Failure);
        failures.sort();
        QCOMPARE(failures,
                 (QStringList{"C:\\s1\\cart\uFFFDlla : il nome contiene caratteri non validi nella "
                              "codifica del sistema",
                              "C:\\s1\\con\\barra.txt : il nome contiene \"\\\", che un percorso di "
                              "Windows non può contenere"}));
        QVERIFY(run.end.shutdownRequested && run.end.markerWritten);
        QCOMPARE(drives->readFile(platform::programFolder() + "\\oldimp.pvx"),
                 QByteArray("C:\\s1\r\nR:\\BK\\d1\r\n"));
        QCOMPARE(tree("R:\\BK\\d1"), (QStringList{"a", "a/b", "a/b/profondo.txt", "f1.txt",
                                                  "sola lettura.txt", "vuota", "vuota/anche vuota"}));
        const QFileInfo copied(host("R:\\BK\\d1\\sola lettura.txt"));
        QCOMPARE(copied.lastModified(), QDateTime::fromSecsSinceEpoch(1'200'000'000));
        QCOMPARE(int(copied.permissions() & QFile::WriteOwner), 0);
        QCOMPARE(read("R:\\BK\\d3\\vecchio.txt"), QByteArray("old"));
        QCOMPARE(tree("R:\\BK\\d2"), (QStringList{"a", "a/f.txt", "b", "b/f.txt", "f2.txt", "z", "z/vera", "z/vera/f.txt"}));
        QCOMPARE(run.of(Kind::PassedOver).filter("collegamento").size(), 2);
        QVERIFY(run.of(Kind::PassedOver).join('\n').contains("C:\\s2\\nel backup : collegamento"));
        QCOMPARE(run.first(Kind::Measured, 2).bytes, 20 + 3 * 4); // the room of the tree copied
        QCOMPARE(tree("R:\\BK\\d4"), QStringList{"vuota"});
        QCOMPARE(hidden(), QStringList());
        // The steps of a pair: the update removes what the source lost at its end.
        QVERIFY2(run.steps().startsWith(full ? "scan 1,start 1,clean 1,create 1,folders 1,copy 1,done 1,scan 2"
                                             : "scan 1,start 1,clean 1,create 1,folders 1,copy 1,clean 1,done 1"),
                 qPrintable(run.steps()));
        const PairStats stats = run.first(Kind::PairFinished).stats;
        QCOMPARE(QList<qint64>({stats.copied, stats.folders, stats.removed}), QList<qint64>({3, 5, full ? 0 : 2}));

        // The index holds every file of the backup with the fingerprint of what
        // was copied; a second run keeps it as it was.
        const auto indexed = [&] {
            QStringList lines;
            const auto read = index::readWholeIndex(index::fileFor(plan.backupRoot(), "R:\\BK\\d1"));
            if (!read || !*read)
                return QStringList{"illeggibile"};
            for (const index::Entry& e : read->value().files)
                lines << e.path + ' ' + (e.fingerprint ? e.fingerprint->hex() : "-");
            return lines;
        };
        QStringList expected;
        for (const char* f : {"\\a\\b\\profondo.txt", "\\f1.txt", "\\sola lettura.txt"})
            expected << QString(f) + ' ' + platform::fingerprintFile("R:\\BK\\d1" + QString(f)).value().fingerprint.hex();
        QCOMPARE(indexed(), expected);
        QCOMPARE(runEngine(plan, {}, false, {}, false).end.reason, RunEnd::Reason::Completed);
        QCOMPARE(indexed(), expected);
    }

    // A stop, or the window closed, ends the run wherever it is, the final removal of
    // the replaced copies included: no marker, no shutdown, pairs done keep their new
    // mirror, the others their old backup. The next run sorts out what was left.
    void stops_data()
    {
        QTest::addColumn<int>("pair");
        QTest::addColumn<Phase>("phase");
        QTest::addColumn<int>("nth");
        QTest::addColumn<bool>("window");
        QTest::addColumn<int>("pairsDone");
        // clang-format off
        QTest::newRow("while the old copies go at the end") << 4 << Phase::Cleaning << 2 << false << 4;
        QTest::newRow("window closed then") << 4 << Phase::Cleaning << 2 << true << 4;
        QTest::newRow("while pair 2 is walked") << 2 << Phase::Scanning << 1 << false << 1;
        QTest::newRow("as pair 3's copy begins") << 3 << Phase::Copying << 1 << false << 2;
        // clang-format on
    }
    void stops()
    {
        QFETCH(int, pair);
        QFETCH(Phase, phase);
        QFETCH(int, nth);
        QFETCH(bool, window);
        QFETCH(int, pairsDone);
        BackupPlan plan = fourPairs();
        g_versionDays = 0; // the old copies are removed, at the end
        drives->writeFile("C:\\s3\\grande.bin", QByteArray(4 << 20, 'g'));
        for (int n = 1; n <= 4; ++n)
            drives->writeFile(QStringLiteral("R:\\BK\\d%1\\vecchio0.txt").arg(n), "old");
        // Enough of an old copy for its removal to outlast the last pair.
        const QByteArray old = QFile::encodeName(host("R:\\BK\\d4"));
        for (int i = 1; i < 1000; ++i)
            ::close(::creat(old + "/vecchio" + QByteArray::number(i), 0644));
        const Run run = runEngine(plan, at(phase, pair, [&](BackupEngine& engine) {
                                      QVERIFY(engine.hold());
                                      engine.stop(window);
                                  }, nth));
        QCOMPARE(run.end.reason, RunEnd::Reason::Stopped);
        QVERIFY(!QFile::exists(drives->programFolder() + "/oldimp.pvx") && !run.end.shutdownRequested);
        QCOMPARE(run.end.windowClosed, window);
        QCOMPARE(run.end.stoppedByUser, !window);
        for (int n = 1; n <= 4; ++n) {
            const QString d = QStringLiteral("R:\\BK\\d%1").arg(n);
            QCOMPARE(QFileInfo::exists(host(d + "\\vecchio0.txt")), n > pairsDone);
            QCOMPARE(QFileInfo::exists(host(d + QStringLiteral("\\f%1.txt").arg(n))), n <= pairsDone);
        }
        QVERIFY(!QFileInfo::exists(host("R:\\BK\\d3\\grande.bin")) || pairsDone >= 3);
        const Run next = runEngine(plan);
        QCOMPARE(next.end.status, QStringLiteral("Operazione completata con successo!"));
        QCOMPARE(read("R:\\BK\\d3\\grande.bin").size(), 4 << 20);
        QCOMPARE(hidden(), QStringList());
    }

    // While the stop question is open nothing new begins: no entry is made or removed,
    // and a copy in flight writes at most one more chunk; No lets the run go on to its end. A file that grows meanwhile is
    // copied as long as it was when its copy began. A destination typed with its final
    // backslash names its files as without it; the marker keeps it as typed.
    void heldWritesNothing()
    {
        BackupPlan plan = fourPairs();
        plan.pairs[0].destination += '\\'; // named as without it
        drives->writeFile("C:\\s1\\sotto\\grande.bin", QByteArray(64 << 20, 'g'));
        for (int i = 0; i < 100; ++i)
            drives->writeFile(QStringLiteral("C:\\s1\\piccoli\\p%1.txt").arg(i), "p");
        drives->writeFile("R:\\BK\\d1\\vecchio.txt", "old");
        const auto sizes = [&] {
            QMap<QString, qint64> found;
            for (const QString& entry : tree("R:\\BK"))
                found[entry] = QFileInfo(host("R:\\BK") + '/' + entry).size();
            return found;
        };
        QMap<QString, qint64> atHold, later, last;
        QString shownAs;
        const Run run = runEngine(plan, {}, false, [&](BackupEngine& engine) {
            for (;;) { // the large copy under way
                const RunProgress p = engine.progress();
                if (std::any_of(p.copying.begin(), p.copying.end(), [&](const RunProgress::Copy& c) {
                        shownAs = c.destination;
                        return c.written > 0 && c.source.endsWith("grande.bin");
                    }))
                    break;
                if (!engine.isRunning())
                    QFAIL("no copy was seen under way");
            }
            QVERIFY(engine.hold());
            atHold = sizes();
            QFile grows(host("C:\\s1\\sotto\\grande.bin")); // copied as long as it was when its copy began
            QVERIFY(grows.open(QIODevice::Append) && grows.write(QByteArray(4 << 20, 'n')) > 0);
            QThread::msleep(150);
            later = sizes();
            QThread::msleep(350);
            last = sizes();
            engine.release();
        });
        QCOMPARE(later, last);
        // The copy under way was written beside its file, under a hidden name.
        QCOMPARE(atHold.keys().filter(QRegularExpression("^\\.d1\\.archivon-nuovo/sotto/\\.~archivon-grande\\.bin\\.")).size(), 1);
        const auto bytes = [](const QMap<QString, qint64>& sizes) {
            return std::accumulate(sizes.begin(), sizes.end(), qint64(0));
        };
        QVERIFY(bytes(later) - bytes(atHold) <= 2 << 20); // a chunk for each copy in flight
        QCOMPARE(run.end.reason, RunEnd::Reason::Completed);
        QCOMPARE(shownAs, QStringLiteral("R:\\BK\\d1\\sotto\\grande.bin"));
        QCOMPARE(read("R:\\BK\\d1\\sotto\\grande.bin"), QByteArray(64 << 20, 'g'));
        QCOMPARE(drives->readFile(platform::programFolder() + "\\oldimp.pvx"), QByteArray("C:\\s1\r\nR:\\BK\\d1\\\r\n"));
    }

    // The update lists the backup while its source is walked: a stop as the walk
    // ends ends the run before the pair begins.
    void listingStops()
    {
        const Run run = runEngine(fourPairs(), [](BackupEngine& engine, const RunEvent& e) {
            if (e.kind == Kind::Scanned && e.pair == 2 && engine.hold())
                engine.stop();
        }, true, {}, false);
        QCOMPARE(run.end.reason, RunEnd::Reason::Stopped);
        QVERIFY2(run.steps().endsWith("done 1,scan 2"), qPrintable(run.steps()));
        QCOMPARE(tree("R:\\BK"), (QStringList{"d1", "d1/f1.txt"}));
    }

    // The listing runs on a thread of its own, and a hold holds it too: no backup
    // folder is opened while the run is held, and once let go it lists the rest.
    void listingHeld()
    {
        // The walk finds every folder long before the listing has read them all,
        // each holding files that the backup holds as they are. On tmpfs, where
        // they are made at once.
        if (!drives->mountTmpfs('C', "64m") || !drives->mountTmpfs('R', "64m"))
            QSKIP("needs the right to mount a tmpfs");
        BackupPlan plan = fourPairs();
        drives->makeDir("R:\\BK\\d1");
        const int folders = 2000;
        const int watch = ::inotify_init1(IN_CLOEXEC);
        QVERIFY(watch >= 0);
        const auto unwatch = qScopeGuard([&] { ::close(watch); });
        const timespec times[2] = {{1700000000, 0}, {1700000000, 0}};
        for (int i = 0; i < folders; ++i) {
            const QByteArray k = "/k" + QByteArray::number(i);
            for (const char* root : {"C:\\s1", "R:\\BK\\d1"}) {
                const QByteArray folder = QFile::encodeName(host(root)) + k;
                QVERIFY(::mkdir(folder, 0755) == 0);
                for (int f = 0; f < 10; ++f) {
                    const QByteArray name = folder + "/f" + QByteArray::number(f);
                    ::close(::creat(name, 0644));
                    ::utimensat(AT_FDCWD, name, times, 0);
                }
            }
            QVERIFY(::inotify_add_watch(watch, QFile::encodeName(host("R:\\BK\\d1")) + k, IN_OPEN) >= 0);
        }
        const auto opened = [&](int waitMs) { // backup folders opened, waiting for the first
            int count = 0;
            alignas(inotify_event) char buffer[1 << 16];
            for (pollfd p{watch, POLLIN, 0}; ::poll(&p, 1, count ? 0 : waitMs) > 0;) {
                const ssize_t n = ::read(watch, buffer, sizeof buffer);
                for (ssize_t at = 0; at < n; ++count)
                    at += ssize_t(sizeof(inotify_event) + reinterpret_cast<const inotify_event*>(buffer + at)->len);
            }
            return count;
        };
        int before = 0, whileHeld = 0;
        const Run run = runEngine(plan, {}, false, [&](BackupEngine& engine) {
            // Held once the walk has found every folder, and the listing is under way.
            for (QDeadlineTimer limit(10000); engine.progress().foldersKnown <= folders && !limit.hasExpired();)
                QThread::yieldCurrentThread();
            QVERIFY(engine.progress().foldersKnown > folders);
            const int first = opened(10000);
            QVERIFY(engine.hold());
            QThread::msleep(100); // a folder being listed as the hold came
            before = first + opened(0);
            QThread::msleep(300);
            whileHeld = opened(0);
            engine.release();
        }, false);
        QCOMPARE(whileHeld, 0);
        QVERIFY2(before > 0 && before < folders, qPrintable(QString::number(before)));
        QCOMPARE(run.end.reason, RunEnd::Reason::Completed);
        QCOMPARE(run.end.failures, 0);
        QCOMPARE(tree("R:\\BK\\d1").size(), folders * 11 + 1);
        // Nor is one large folder listed to its end once the run stops.
        TreeScan rootOnly;
        rootOnly.folders << scanTree({"C:\\s1"}).folders.first();
        int asked = 0;
        QVERIFY(!listBackup("R:\\BK\\d1", rootOnly, true, {}, [&] { return ++asked < 2; }));
    }

    // What an old copy's removal cannot remove never blocks a later run: it is a
    // failure of the run that leaves it, then listed as still there, and the next
    // run's swap takes another name. An extra the update cannot move into the
    // versions is left over, each run, and never counted as a failure.
    void leftoversNeverBlock_data()
    {
        QTest::addColumn<QString>("blocker");
        QTest::newRow("immutable file") << "immutable";
        QTest::newRow("folder of another owner") << "owner";
        QTest::newRow("an extra the update cannot move") << "extra";
        QTest::newRow("a read-only folder the user deleted") << "read-only";
    }
    void leftoversNeverBlock()
    {
        QFETCH(QString, blocker);
        BackupPlan plan = fourPairs();
        g_versionDays = 0;
        const QString blocked = drives->writeFile("R:\\BK\\d1\\vecchia\\bloccato.txt", "old");
        drives->writeFile("R:\\BK\\d1\\altro.txt", "old"); // goes, beside what cannot
        const QString folder = QFileInfo(blocked).path();
        std::optional<WithoutPrivileges> asUser;
        if (blocker == "read-only") { // it goes read-only into the versions; one whose folder is read-only stays so
            g_versionDays = versions::kDefaultDays;
            drives->writeFile("C:\\s1\\tenuta\\t.txt", "t");
            QCOMPARE(runEngine(plan, {}, true, {}, false).end.failures, 0);
            drives->writeFile("R:\\BK\\d1\\tenuta\\chiusa\\c.txt", "old");
            drives->writeFile("R:\\BK\\d1\\sola\\s.txt", "old");
            for (const char* folder : {"R:\\BK\\d1\\sola", "R:\\BK\\d1\\tenuta\\chiusa", "R:\\BK\\d1\\tenuta"})
                ::chmod(QFile::encodeName(host(folder)).constData(), 0555);
            const auto writable = qScopeGuard([&] { QProcess::execute("chmod", {"-R", "u+w", host("R:\\BK")}); });
            if (::getuid() == 0)
                asUser.emplace();
            const Run run = runEngine(plan, {}, true, {}, false);
            asUser.reset();
            QCOMPARE(run.end.failures, 0);
            QCOMPARE(run.of(Kind::PassedOver), QStringList{"R:\\BK\\d1\\tenuta\\chiusa : non eliminato: impossibile "
                                                           "spostare la versione precedente (accesso negato)"});
            const auto mode = [](const QString& path) {
                struct stat st {};
                return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
            };
            const QStringList moved = tree("R:\\BK\\Versioni precedenti").filter(QRegularExpression("^[^/]+/d1/sola$"));
            QCOMPARE(moved.size(), 1);
            QCOMPARE(mode(host("R:\\BK\\Versioni precedenti") + '/' + moved.first()), 0555u);
            QCOMPARE(tree("R:\\BK\\d1"), (QStringList{"f1.txt", "tenuta", "tenuta/chiusa", "tenuta/chiusa/c.txt", "tenuta/t.txt"}));
            QCOMPARE(mode(host("R:\\BK\\d1\\tenuta\\chiusa")), 0555u);
            return;
        }
        if (blocker == "extra") { // left over, run after run, and never a failure
            g_versionDays = versions::kDefaultDays;
            QCOMPARE(runEngine(plan, {}, true, {}, false).end.failures, 0); // it goes, with its folder
            drives->writeFile("R:\\BK\\d1\\fisso.txt", "old");
            if (QProcess::execute("chattr", {"+i", host("R:\\BK\\d1\\fisso.txt")}) != 0)
                QSKIP("no immutable flag here");
            for (int round = 0; round < 2; ++round) {
                const Run run = runEngine(plan, {}, true, {}, false);
                QCOMPARE(run.end.failures, 0);
                QCOMPARE(run.of(Kind::PassedOver), QStringList{"R:\\BK\\d1\\fisso.txt : non eliminato: impossibile "
                                                               "spostare la versione precedente (accesso negato)"});
            }
            QProcess::execute("chattr", {"-i", host("R:\\BK\\d1\\fisso.txt")});
            return;
        }
        if (blocker == "immutable") {
            if (QProcess::execute("chattr", {"+i", blocked}) != 0)
                QSKIP("no immutable flag here");
        } else {
            if (::getuid() != 0)
                QSKIP("needs root to give the folder to another owner");
            QVERIFY(::chown(QFile::encodeName(folder).constData(), 65534, 65534) == 0);
            ::chmod(QFile::encodeName(folder).constData(), 0555);
            asUser.emplace();
        }
        const auto unblock = qScopeGuard([&] {
            asUser.reset();
            QProcess::execute("chattr", {"-R", "-i", host("R:\\BK")});
        });
        const Run first = runEngine(plan);
        QCOMPARE(first.end.failures, 1);
        QVERIFY2(first.of(Kind::Failure).first().startsWith(
                     "R:\\BK\\.d1.archivon-rimosso\\vecchia\\bloccato.txt : impossibile eliminare"),
                 qPrintable(first.of(Kind::Failure).join('\n')));
        drives->writeFile("C:\\s1\\nuovo.txt", "new");
        const Run second = runEngine(plan);
        QCOMPARE(second.end.status, QStringLiteral("Operazione completata con successo!"));
        QCOMPARE(read("R:\\BK\\d1\\nuovo.txt"), QByteArray("new"));
        QVERIFY(second.of(Kind::PassedOver).join('\n').contains(
            "vecchia\\bloccato.txt : impossibile eliminare"));
        QCOMPARE(hidden(), (QStringList{".d1.archivon-rimosso", ".d1.archivon-rimosso/vecchia",
                                       ".d1.archivon-rimosso/vecchia/bloccato.txt"}));
    }

    // Whatever an earlier run left beside a destination, the complete backup is the
    // one under the pair's name once the run has sorted it out, and nothing else is
    // left there: on exFAT, which folds case, whatever case the pair is typed in.
    void recovery_data()
    {
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QStringList>("left"); // what is there beside it: name=content
        QTest::addColumn<QByteArray>("kept");
        QTest::addColumn<QByteArray>("versioned"); // what goes into the earlier versions
        // clang-format off
        QTest::newRow("old copy, and a partial new one") << "R:\\BK\\d1" << QStringList{".d1.archivon-vecchio=old", ".d1.archivon-nuovo=partial"} << QByteArray("old") << QByteArray();
        QTest::newRow("complete new copy, and the old one") << "R:\\BK\\d1" << QStringList{".d1.archivon-vecchio=old", ".d1.archivon-nuovo=new", ".d1.archivon-nuovo.completa"} << QByteArray("new") << QByteArray("old");
        QTest::newRow("backup, and a copy half removed") << "R:\\BK\\d1" << QStringList{"d1=old", ".d1.archivon-rimosso=gone", ".d1.archivon-nuovo-2=partial"} << QByteArray("old") << QByteArray();
        QTest::newRow("backup, and the probe of a killed update") << "R:\\BK\\d1" << QStringList{"d1=old", "{probe}"} << QByteArray("old") << QByteArray();
        QTest::newRow("on exFAT, typed in another case") << "F:\\D1" << QStringList{"d1=old", ".d1.archivon-rimosso=gone", ".d1.archivon-nuovo=partial", ".d1.archivon-rimosso-2"} << QByteArray("old") << QByteArray();
        QTest::newRow("on exFAT, old copy, typed in another case") << "F:\\D1" << QStringList{".d1.archivon-vecchio=old", ".d1.archivon-nuovo=new"} << QByteArray("old") << QByteArray();
        // clang-format on
    }
    void recovery()
    {
        QFETCH(QString, destination);
        QFETCH(QStringList, left);
        QFETCH(QByteArray, kept);
        QFETCH(QByteArray, versioned);
        BackupPlan plan = fourPairs();
        if (destination.startsWith("F:") && !drives->mountExfat('f'))
            QSKIP("mounting an exFAT image needs root, exfat-fuse and exfatprogs");
        const QString parent = destination.section('\\', 0, -2);
        if (left.contains("{probe}")) { // as an update names it while the pair has no folder yet
            const QStringList made = madeIn(host(parent), [&] { runEngine(plan, {}, false, {}, false); });
            QDir(host(parent)).removeRecursively();
            left.replaceInStrings("{probe}", made.filter(QRegularExpression("^\\.")).value(0, "none"));
        }
        plan.pairs[0].destination = destination;
        for (const QString& entry : left) {
            const QStringList parts = entry.split('=');
            if (parts.size() == 1)
                drives->writeFile(parent + '\\' + parts.first(), {});
            else
                drives->writeFile(parent + '\\' + parts.first() + "\\a.txt", parts.last().toUtf8());
        }
        const Run run = runEngine(plan, at(Phase::Creating, 1, [](BackupEngine& e) { e.stop(); }));
        QCOMPARE(run.end.reason, RunEnd::Reason::Stopped);
        QStringList found = tree(parent);
        const QStringList inVersions = found.filter(QRegularExpression("^Versioni precedenti/.+/d1/a\\.txt$"));
        QCOMPARE(inVersions.size(), versioned.isEmpty() ? 0 : 1);
        if (!versioned.isEmpty())
            QCOMPARE(drives->readFile(parent + '\\' + QString(inVersions.first()).replace('/', '\\')), versioned);
        found.removeIf([](const QString& e) { return e.startsWith("Versioni precedenti"); });
        QCOMPARE(found.join(',').toLower(), "d1,d1/a.txt");
        QCOMPARE(read(destination + "\\a.txt"), kept);
    }

    // Before anything is deleted, every pair must name two folders apart from every
    // other pair's.
    void refusals_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QString>("message");
        const QString self = kSelfCopyMessage;
        // clang-format off
        QTest::newRow("empty source") << "" << "R:\\BK\\d2" << "Coppia 2: manca la cartella sorgente.";
        QTest::newRow("relative destination") << "C:\\s2" << "BK\\d2" << "Coppia 2: la cartella destinazione";
        QTest::newRow("drive root") << "C:\\s2" << "R:\\" << "Coppia 2: la cartella destinazione \"R:\\\" non può";
        QTest::newRow("same folder") << "C:\\s2" << "c:/s2/" << self;
        QTest::newRow("destination inside source") << "C:\\s2" << "C:\\s2\\copia" << self;
        QTest::newRow("source inside destination") << "C:\\s2\\sub" << "C:\\s2" << self;
        QTest::newRow("same folder through a link") << "C:\\s2" << "R:\\alias" << self;
        QTest::newRow("another pair's source") << "C:\\s2" << "C:\\s1"
            << "Coppia 2: la cartella destinazione \"C:\\s1\" coincide con la cartella sorgente della coppia 1";
        QTest::newRow("holds another pair's source") << "R:\\BK\\d1\\sub" << "R:\\BK\\d2"
            << "Coppia 1: la cartella destinazione \"R:\\BK\\d1\" coincide con la cartella sorgente della coppia 2";
        QTest::newRow("another pair's source spelt through Z:") << "C:\\s2" << "{Z}C:\\s3\\dentro"
            << "Coppia 2: la cartella destinazione \"Z:";
        QTest::newRow("holds another pair's destination") << "C:\\s2" << "R:\\BK"
            << "Coppia 1: la cartella destinazione \"R:\\BK\\d1\" coincide con la cartella destinazione della coppia 2";
        QTest::newRow("dot-dot climbs to another backup") << "C:\\s2" << "R:\\BK\\d1\\..\\altro"
            << "Coppia 2: la cartella destinazione \"R:\\BK\\d1\\..\\altro\" non può contenere";
        QTest::newRow("drive not ready") << "C:\\s2" << "Q:\\d2" << "L'unità di destinazione Q: non è disponibile!";
        QTest::newRow("the computer's backup folder") << "C:\\s2" << kRoot
            << "Coppia 2: la cartella destinazione \"" + kRoot + "\" coincide con la cartella del computer " + kRoot + " o la contiene.";
        QTest::newRow("holds the computer's backup folder") << "C:\\s2" << "R:\\BKPQORL" << "Coppia 2: la cartella destinazione \"R:\\BKPQORL\" coincide con la cartella del computer";
        QTest::newRow("the versions beside the other destinations") << "C:\\s2" << "R:\\BK\\Versioni precedenti"
            << "Coppia 2: la cartella destinazione \"R:\\BK\\Versioni precedenti\" coincide con la cartella delle versioni precedenti R:\\BK\\Versioni precedenti,";
        QTest::newRow("inside the computer's versions") << "C:\\s2" << kRoot + "\\Versioni precedenti\\x"
            << "Coppia 2: la cartella destinazione \"" + kRoot + "\\Versioni precedenti\\x\" coincide con la cartella delle versioni precedenti " + kRoot + "\\Versioni precedenti,";
        QTest::newRow("a user name a share refuses") << "C:\\s2" << "{utente}ufficio." << "Il nome della cartella del computer «PC7_ufficio.» non è ammesso (il nome finisce con un punto";
        QTest::newRow("fine") << "C:\\s2" << "R:\\BK\\d2" << "";
        // clang-format on
    }
    void refusals()
    {
        QFETCH(QString, source);
        QFETCH(QString, destination);
        QFETCH(QString, message);
        BackupPlan plan = fourPairs();
        drives->makeDir("C:\\s2\\sub");
        QFile::link(host("C:\\s2"), host("R:\\alias"));
        if (destination.startsWith("{Z}")) // the host path of a C: folder, as a Z: path
            destination = "Z:" + host(destination.mid(3)).replace('/', '\\');
        if (destination.startsWith("{utente}")) // and the engine refuses it too, whoever started it
            plan.user = destination.mid(8), destination = "R:\\BK\\d2";
        plan.pairs[1] = {source, destination};
        const QString refusal = checkPlan(plan);
        QVERIFY2(message.isEmpty() ? refusal.isEmpty() : refusal.startsWith(message), qPrintable(refusal));
        if (plan.user != "ufficio2") {
            const QStringList before = tree("R:\\");
            const Run run = runEngine(plan);
            QCOMPARE(run.end.outcome, RunOutcome::Refused);
            QCOMPARE(run.end.message, refusal);
            QCOMPARE(tree("R:\\"), before);
        }
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
