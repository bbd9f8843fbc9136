#include "forecast/dryrun.h"
#include "plan/checks.h"
#include "plan/settings.h"
#include "engine/engine.h"
#include "record/overview.h"
#include "versions/retention.h"
#include "lock/runlock.h"
#include "record/runlog.h"
#include "versions/versions.h"
#include "platform/drives.h"
#include "platform/identity.h"
#include "support/drives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <numeric>

using namespace archivon;

namespace {

using Kind = RunEvent::Kind;

// Root without the capabilities that pass over permissions, as a normal user is: for
// this thread and the threads it starts (the engine's), until destroyed.
struct WithoutPrivileges
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2]{};
    WithoutPrivileges()
    {
        syscall(SYS_capget, &header, saved);
        __user_cap_data_struct data[2] = {saved[0], saved[1]};
        for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            data[CAP_TO_INDEX(cap)].effective &= ~CAP_TO_MASK(cap);
        syscall(SYS_capset, &header, data);
    }
    ~WithoutPrivileges() { syscall(SYS_capset, &header, saved); }
};

// One run of the engine, its reports taken as they are made, on its thread.
struct Run
{
    QList<RunEvent> events;
    RunEnd end;

    QStringList of(Kind kind) const
    {
        QStringList lines;
        for (const RunEvent& e : events) {
            if (e.kind == kind)
                lines << e.path + " : " + e.detail;
        }
        return lines;
    }
    // The steps of the pairs: "scan 1", "start 1", "clean 1"... "done 1".
    QString steps() const
    {
        static const QStringList phases{"scan", "clean", "create", "folders", "copy"};
        QStringList steps;
        for (const RunEvent& e : events) {
            if (e.kind == Kind::Phase)
                steps << phases.at(int(e.phase)) + ' ' + QString::number(e.pair);
            else if (e.kind == Kind::PairStarted || e.kind == Kind::PairFinished)
                steps << (e.kind == Kind::PairStarted ? "start " : "done ") + QString::number(e.pair);
        }
        return steps.join(',');
    }
    const RunEvent& first(Kind kind, int pair = 1) const
    {
        return *std::find_if(events.begin(), events.end(),
                             [=](const RunEvent& e) { return e.kind == kind && e.pair == pair; });
    }
};

using Action = std::function<void(BackupEngine&, const RunEvent&)>;

// The days the runs of a test keep versions; tests of what a removal does set 0.
int g_versionDays = versions::kDefaultDays;

// The settings of a test's runs, and of their forecasts.
BackupEngine::Options settings(bool full, bool shutdown = false)
{
    BackupEngine::Options options;
    options.fullRewrite = full;
    options.shutdownAtEnd = shutdown;
    options.versionDays = g_versionDays;
    return options;
}

Run runEngine(const BackupPlan& plan, const Action& act = {}, bool shutdown = true,
              const std::function<void(BackupEngine&)>& meanwhile = {}, bool full = true)
{
    Run run; // written on the run's thread, read once it has ended
    BackupEngine engine;
    QObject::connect(
        &engine, &BackupEngine::reported, &engine,
        [&](const RunEvent& e) {
            run.events << e;
            if (e.kind == Kind::RunEnded)
                run.end = e.end;
            if (act)
                act(engine, e);
        },
        Qt::DirectConnection);
    engine.start(plan, settings(full, shutdown));
    if (meanwhile)
        meanwhile(engine);
    engine.wait();
    return run;
}

// Acts when the run reports the phase \a phase of pair \a N (the \a nth time).
Action at(Phase phase, int N, std::function<void(BackupEngine&)> act, int nth = 1)
{
    auto seen = std::make_shared<int>(0);
    return [=](BackupEngine& engine, const RunEvent& e) {
        if (e.kind == Kind::Phase && e.phase == phase && e.pair == N && ++*seen == nth)
            act(engine);
    };
}

// What identifies each file's version on disk: its inode and the time of its
// last change, by path.
QMap<QString, QPair<quint64, qint64>> identities(const QString& hostFolder)
{
    QMap<QString, QPair<quint64, qint64>> found;
    for (const QString& entry : test::treeOf(hostFolder)) {
        struct stat st {};
        if (::lstat(QFile::encodeName(hostFolder + '/' + entry).constData(), &st) == 0 && S_ISREG(st.st_mode))
            found[entry] = {st.st_ino, st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec};
    }
    return found;
}

// Every entry below a host folder, the folder too, with its size and modification time.
QStringList stamps(const QString& hostFolder)
{
    QStringList found;
    for (const QString& entry : QStringList{""} + test::treeOf(hostFolder)) {
        struct stat st {};
        ::lstat(QFile::encodeName(hostFolder + '/' + entry).constData(), &st);
        found << QStringLiteral("%1 %2 %3").arg(entry).arg(st.st_size).arg(st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec);
    }
    return found;
}

void setTime(const QString& path, qint64 seconds, int milliseconds = 0)
{
    QFile f(path);
    if (f.open(QIODevice::ReadWrite))
        f.setFileTime(QDateTime::fromMSecsSinceEpoch(seconds * 1000 + milliseconds), QFileDevice::FileModificationTime);
}

// The names made in a host folder while \a act runs, in order, as the kernel saw them
// made: even one that lived a moment.
QStringList madeIn(const QString& folder, const std::function<void()>& act)
{
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ::inotify_add_watch(watch, QFile::encodeName(folder).constData(), IN_CREATE);
    act();
    QStringList names;
    alignas(inotify_event) char buffer[1 << 16];
    for (ssize_t n; (n = ::read(watch, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
            names << QFile::decodeName(e->name);
            at += ssize_t(sizeof(inotify_event) + e->len);
        }
    }
    ::close(watch);
    return names;
}

// Runs an update of \a plan in a child process whose renames of the host path \a onto
// strace meets with \a fault ("signal=KILL", "error=EACCES:when=2"). The child's wait
// status: killed, or exited with 1 for a run with failures, 0 for one without, 3 where
// strace could not trace it here.
int tracedRun(const BackupPlan& plan, const QString& onto, const QString& fault)
{
    const auto traced = [](pid_t pid) {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        return status.open(QIODevice::ReadOnly) && !status.readAll().contains("TracerPid:\t0\n");
    };
    const pid_t child = ::fork();
    if (child == 0) {
        for (int i = 0; !traced(::getpid()); ++i) {
            if (i > 10000)
                ::_exit(3);
            ::usleep(1000);
        }
        ::_exit(runEngine(plan, {}, false, {}, false).end.failures > 0 ? 1 : 0);
    }
    QProcess strace;
    strace.start("strace", {"-f", "-qq", "-o", "/dev/null", "-p", QString::number(child), "-P", onto, "-e",
                            "trace=rename,renameat,renameat2", "-e", "inject=rename,renameat,renameat2:" + fault});
    int status = 0;
    ::waitpid(child, &status, 0);
    strace.waitForFinished();
    return status;
}

const QString kRoot = QStringLiteral("R:\\BKPQORL\\PC7_ufficio2");

// A run whose record goes to \a log, ending as its record's \a outcome says: stopped by
// the user, "terminato" and "rifiutato" for room, "bloccato" by another run's lock, which
// reports its end alone. Returns what reached standard error meanwhile.
QString recordARun(RunLog& log, const QString& outcome = "interrotto", int failures = 1)
{
    QTemporaryFile caught;
    caught.open();
    std::fflush(stderr);
    const int saved = ::dup(2);
    ::dup2(caught.handle(), 2);
    using Reason = RunEnd::Reason;
    const RunEnd end{.outcome = outcome == "rifiutato" || outcome == "bloccato" ? RunOutcome::Refused : RunOutcome::EndedEarly,
                     .reason = outcome == "interrotto" ? Reason::Stopped : outcome == "bloccato" ? Reason::Locked : Reason::NoSpace,
                     .failures = failures, .stoppedByUser = outcome == "interrotto", .versionDays = 30,
                     .versions = {{.root = kRoot + "\\Versioni precedenti", .folders = 3, .bytes = 1200, .unrecorded = 1,
                                   .removedByAge = {"2026-10-01 19.30.05"},
                                   .removedForSpace = {"2026-11-01 19.30.05", "2026-11-02 19.30.05"}}}};
    for (const RunEvent& e : {RunEvent{.kind = Kind::Failure, .path = "C:\\fuori"}, // outside a run
                              RunEvent{.kind = Kind::RunStarted, .path = kRoot},
                              RunEvent{.kind = Kind::PairFinished, .pair = 1,
                                       .stats = {.copied = 2, .unchanged = 7, .removed = 3, .folders = 1,
                                                 .bytes = 40, .versioned = 4, .versionedBytes = 90, .milliseconds = 1500}},
                              RunEvent{.kind = Kind::Failure, .path = "C:\\x", .detail = "accesso negato"},
                              RunEvent{.kind = Kind::RunEnded, .end = end}}) {
        if ((e.kind == Kind::Failure && failures == 0) || (end.reason == Reason::Locked && e.kind != Kind::RunEnded))
            continue;
        log.report(e);
    }
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    caught.seek(0);
    return QString::fromLocal8Bit(caught.readAll());
}

} // namespace

class TestEngine : public QObject
{
    Q_OBJECT

    std::optional<test::TempDrives> m_drives;

    // Four pairs, C:\s1..s4 to R:\BK\d1..d4, each source with one file.
    BackupPlan fourPairs()
    {
        BackupPlan plan{"PC7", "ufficio2", {}};
        for (int n = 1; n <= 4; ++n) {
            m_drives->writeFile(QStringLiteral("C:\\s%1\\f%1.txt").arg(n), QByteArray(n * 10, 'a' + n));
            plan.pairs[n - 1] = {QStringLiteral("C:\\s%1").arg(n), QStringLiteral("R:\\BK\\d%1").arg(n)};
        }
        m_drives->makeDir("R:\\BK");
        return plan;
    }
    QString host(const QString& path) const { return m_drives->host(path); }
    QStringList tree(const QString& path) const { return test::treeOf(host(path)); }
    QByteArray read(const QString& path) const { return m_drives->readFile(path); }
    // Hidden entries but the record of a versions folder's bytes.
    QStringList hidden() const { return tree("R:\\BK").filter(QRegularExpression("(^|/)\\.(?!archivon-byte$)")); }
    static void bothPasses()
    {
        QTest::addColumn<bool>("full");
        QTest::newRow("update in place") << false;
        QTest::newRow("full rewrite") << true;
    }

private slots:
    void init()
    {
        m_drives.emplace();
        g_versionDays = versions::kDefaultDays;
    }
    void cleanup() { m_drives.reset(); }

    // A whole run: a missing source is skipped, what cannot be copied is listed, and
    // each destination ends as an exact mirror with nothing hidden beside it.
    void completes_data() { bothPasses(); }
    void completes()
    {
        QFETCH(bool, full);
        BackupPlan plan = fourPairs();
        QDir(host("C:\\s3")).removeRecursively();
        m_drives->writeFile("R:\\BK\\d3\\vecchio.txt", "old");
        m_drives->writeFile("R:\\BK\\d1\\via.txt", "old");
        m_drives->writeFile("R:\\BK\\d1\\Sparita\\x.txt", "old");
        const QString ro = m_drives->writeFile("C:\\s1\\sola lettura.txt", "ro");
        setTime(ro, 1'200'000'000);
        ::chmod(QFile::encodeName(ro).constData(), 0444);
        m_drives->makeDir("C:\\s1\\vuota\\anche vuota");
        m_drives->writeFile("C:\\s1\\a\\b\\profondo.txt", "deep");
        m_drives->writeFile("C:\\s1\\.nascosto", "h");
        m_drives->writeFile("C:\\s1\\.cartella\\dentro.txt", "h");
        ::mkfifo(QFile::encodeName(host("C:\\s1\\fifo")).constData(), 0644);
        // Names a Windows path cannot carry: listed as not copied, never renamed or dropped.
        const QByteArray src = QFile::encodeName(host("C:\\s1"));
        ::close(::creat((src + "/con\\barra.txt").constData(), 0644));
        ::mkdir((src + "/cart\xe8lla").constData(), 0755);
        m_drives->makeDir("C:\\s4\\vuota");
        QFile::remove(host("C:\\s4\\f4.txt"));
        // Links to a folder: that folder under their own names, whichever the walk meets
        // first; a cycle and a link into a backup are passed over.
        m_drives->writeFile("C:\\s2\\z\\vera\\f.txt", "vera");
        for (const char* link : {"C:\\s2\\a", "C:\\s2\\b"}) // met before z\vera, breadth-first
            QVERIFY(QFile::link(host("C:\\s2\\z\\vera"), host(link)));
        QVERIFY(QFile::link(host("C:\\s2\\z"), host("C:\\s2\\z\\giro")));
        // Links that lead nowhere are passed over, and never keep the folder's extras.
        for (const auto& [link, to] : {std::pair{"anello", "anello"}, {"giro1", "giro2"}, {"giro2", "giro1"},
                                       {"pendente", "manca"}, {"attraverso", "f1.txt/x"}})
            QCOMPARE(::symlink(to, QFile::encodeName(host("C:\\s1") + "/" + link).constData()), 0);
        m_drives->makeDir("R:\\BK\\d4");
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
        QCOMPARE(m_drives->readFile(platform::programFolder() + "\\oldimp.pvx"),
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
        m_drives->writeFile("C:\\s3\\grande.bin", QByteArray(4 << 20, 'g'));
        for (int n = 1; n <= 4; ++n)
            m_drives->writeFile(QStringLiteral("R:\\BK\\d%1\\vecchio0.txt").arg(n), "old");
        // Enough of an old copy for its removal to outlast the last pair.
        const QByteArray old = QFile::encodeName(host("R:\\BK\\d4"));
        for (int i = 1; i < 1000; ++i)
            ::close(::creat(old + "/vecchio" + QByteArray::number(i), 0644));
        const Run run = runEngine(plan, at(phase, pair, [&](BackupEngine& engine) {
                                      QVERIFY(engine.hold());
                                      engine.stop(window);
                                  }, nth));
        QCOMPARE(run.end.reason, RunEnd::Reason::Stopped);
        QVERIFY(!QFile::exists(m_drives->programFolder() + "/oldimp.pvx") && !run.end.shutdownRequested);
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
        m_drives->writeFile("C:\\s1\\sotto\\grande.bin", QByteArray(64 << 20, 'g'));
        for (int i = 0; i < 100; ++i)
            m_drives->writeFile(QStringLiteral("C:\\s1\\piccoli\\p%1.txt").arg(i), "p");
        m_drives->writeFile("R:\\BK\\d1\\vecchio.txt", "old");
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
        QCOMPARE(m_drives->readFile(platform::programFolder() + "\\oldimp.pvx"), QByteArray("C:\\s1\r\nR:\\BK\\d1\\\r\n"));
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
        if (!m_drives->mountTmpfs('C', "64m") || !m_drives->mountTmpfs('R', "64m"))
            QSKIP("needs the right to mount a tmpfs");
        BackupPlan plan = fourPairs();
        m_drives->makeDir("R:\\BK\\d1");
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
        const QString blocked = m_drives->writeFile("R:\\BK\\d1\\vecchia\\bloccato.txt", "old");
        m_drives->writeFile("R:\\BK\\d1\\altro.txt", "old"); // goes, beside what cannot
        const QString folder = QFileInfo(blocked).path();
        std::optional<WithoutPrivileges> asUser;
        if (blocker == "read-only") { // it goes read-only into the versions; one whose folder is read-only stays so
            g_versionDays = versions::kDefaultDays;
            m_drives->writeFile("C:\\s1\\tenuta\\t.txt", "t");
            QCOMPARE(runEngine(plan, {}, true, {}, false).end.failures, 0);
            m_drives->writeFile("R:\\BK\\d1\\tenuta\\chiusa\\c.txt", "old");
            m_drives->writeFile("R:\\BK\\d1\\sola\\s.txt", "old");
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
            m_drives->writeFile("R:\\BK\\d1\\fisso.txt", "old");
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
        m_drives->writeFile("C:\\s1\\nuovo.txt", "new");
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
        if (destination.startsWith("F:") && !m_drives->mountExfat('f'))
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
                m_drives->writeFile(parent + '\\' + parts.first(), {});
            else
                m_drives->writeFile(parent + '\\' + parts.first() + "\\a.txt", parts.last().toUtf8());
        }
        const Run run = runEngine(plan, at(Phase::Creating, 1, [](BackupEngine& e) { e.stop(); }));
        QCOMPARE(run.end.reason, RunEnd::Reason::Stopped);
        QStringList found = tree(parent);
        const QStringList inVersions = found.filter(QRegularExpression("^Versioni precedenti/.+/d1/a\\.txt$"));
        QCOMPARE(inVersions.size(), versioned.isEmpty() ? 0 : 1);
        if (!versioned.isEmpty())
            QCOMPARE(m_drives->readFile(parent + '\\' + QString(inVersions.first()).replace('/', '\\')), versioned);
        found.removeIf([](const QString& e) { return e.startsWith("Versioni precedenti"); });
        QCOMPARE(found.join(',').toLower(), "d1,d1/a.txt");
        QCOMPARE(read(destination + "\\a.txt"), kept);
    }

    // One run of a computer's backup at a time. A lock another run holds refuses the
    // run before anything is written; a stale one is taken over, and the record says so.
    void lock_data()
    {
        QTest::addColumn<QString>("holder");
        QTest::addColumn<int>("silentFor"); // minutes since its last heartbeat
        QTest::addColumn<bool>("taken");
        QTest::newRow("another run, going on") << "engine" << 0 << false;
        QTest::newRow("a dead process of this machine") << "dead" << 0 << true;
        QTest::newRow("this machine, another boot") << "boot" << 0 << true;
        QTest::newRow("this process, its run ended") << "own" << 0 << true;
        QTest::newRow("this machine, silent for 11 minutes") << "live" << 11 << true;
        QTest::newRow("another machine, beating") << "other" << 0 << false;
        QTest::newRow("another machine, silent for 9 minutes") << "other" << 9 << false;
        QTest::newRow("another machine, silent for 11 minutes") << "other" << 11 << true;
        QTest::newRow("a lock half made a moment ago") << "unnamed" << 0 << false;
        QTest::newRow("the destinations' folder held by another run") << "inside" << 0 << true;
    }
    void lock()
    {
        QFETCH(QString, holder);
        QFETCH(int, silentFor);
        QFETCH(bool, taken);
        const BackupPlan plan = fourPairs();
        // "inside": the lock is on the folder that holds the four destinations.
        const QString lock = (holder == "inside" ? "R:\\BK" : kRoot) + "\\" + RunLock::kName;
        if (holder == "inside")
            m_drives->writeFile("R:\\BK\\.d1.archivon-nuovo\\a.txt", "left by that run");
        if (holder != "engine")
            m_drives->makeDir(lock);
        QProcess process; // another run's: one that has ended, or one that lives
        process.start("sleep", {holder == "dead" ? "0" : "60"});
        QVERIFY(process.waitForStarted());
        if (holder == "dead")
            process.waitForFinished();
        const auto stop = qScopeGuard([&] { process.kill(), process.waitForFinished(); });
        const qint64 pid = holder == "own" ? ::getpid() : process.processId();
        const QString owner = QStringLiteral("host=%1\nboot=%2\npid=%3\navvio-processo=%4\n"
                                             "inizio=2026-12-07T19:30:05\ntoken=t1\n")
                                  .arg(holder == "other" ? "ALTRO" : platform::hostName(),
                                       holder == "boot" ? "un-altro-avvio" : platform::bootId())
                                  .arg(pid)
                                  .arg(platform::processStart(holder == "dead" ? ::getpid() : pid));
        if (holder != "unnamed" && holder != "engine")
            m_drives->writeFile(lock + "\\proprietario", owner.toUtf8());
        const qint64 beat = QDateTime::currentSecsSinceEpoch() - silentFor * 60;
        const timeval old[2] = {{beat, 0}, {beat, 0}};
        for (const QString& entry : {lock, lock + "\\proprietario"})
            QVERIFY(silentFor == 0 || ::utimes(QFile::encodeName(host(entry)).constData(), old) == 0);
        Run second;
        const Run first = runEngine(plan, at(Phase::Copying, 2, [&](BackupEngine&) {
            if (holder == "engine")
                second = runEngine(plan);
        }));
        const Run& judged = holder == "engine" ? second : first;
        if (holder == "inside") { // each pair is left to that run, leftovers and all
            QCOMPARE(first.end.failures, 4);
            QVERIFY(first.of(Kind::Failure).first().endsWith("cartella in uso da un altro backup in corso (computer " +
                                                             platform::hostName() + "): coppia saltata"));
            QCOMPARE(read("R:\\BK\\.d1.archivon-nuovo\\a.txt"), "left by that run");
            return;
        }
        if (!taken) {
            QCOMPARE(judged.end.reason, RunEnd::Reason::Locked);
            QCOMPARE(judged.end.outcome, RunOutcome::Refused);
            QVERIFY2(judged.end.message.startsWith("Un altro backup di questo computer è in corso"), qPrintable(judged.end.message));
            QCOMPARE(judged.end.message.contains("in corso dal 07/12/2026 alle 19:30:05"), holder != "engine" && holder != "unnamed");
            QCOMPARE(judged.events.size(), 1); // nothing but its end
            QVERIFY(!judged.end.shutdownRequested);
        }
        if (holder == "engine" || taken) { // the run that held it was not disturbed
            QCOMPARE(first.end.reason, RunEnd::Reason::Completed);
            QCOMPARE(first.end.failures, 0);
        } else {
            QVERIFY(!QFileInfo::exists(host("R:\\BK\\d1")));
        }
        QCOMPARE(first.of(Kind::Notice).size(), taken ? 1 : 0);
        // The lock goes with the run that made it, and nothing is left beside it;
        // one that refused a run stays as it was.
        const QStringList hiddenLeft = tree(kRoot).filter(QRegularExpression("^\\."));
        QCOMPARE(hiddenLeft.filter(QRegularExpression("^\\.archivon-blocco($|/proprietario$)")), hiddenLeft);
        QCOMPARE(hiddenLeft.isEmpty(), taken || holder == "engine");
    }

    // Runs that find the same stale lock at once: one takes it, the others are refused.
    void lockRace()
    {
        const QString root = "R:\\BKPQORL\\PC7_ufficio2";
        for (int round = 0; round < 20; ++round) {
            m_drives->writeFile(root + "\\" + RunLock::kName + "\\proprietario",
                                QStringLiteral("host=%1\nboot=un-altro-avvio\npid=1\ntoken=t%2\n")
                                    .arg(platform::hostName())
                                    .arg(round)
                                    .toUtf8());
            std::array<RunLock, 3> locks;
            std::array<RunLock::Result, 3> results{};
            std::vector<std::thread> racers;
            for (std::size_t i = 0; i < locks.size(); ++i)
                racers.emplace_back([&, i] {
                    results[i] = locks[i].acquire(root, "PC7", "ufficio2", QDateTime::currentDateTime()).result;
                });
            for (std::thread& t : racers)
                t.join();
            QCOMPARE(std::count(results.begin(), results.end(), RunLock::Result::Taken), 1);
            QCOMPARE(std::count(results.begin(), results.end(), RunLock::Result::Held), 2);
            for (RunLock& l : locks)
                l.release();
            QCOMPARE(tree(root), QStringList{});
        }
    }

    // A file or folder that cannot be read this time keeps its previous copy, byte for
    // byte; it is a failure that says so.
    void unreadableKeepsItsPreviousCopy_data() { bothPasses(); }
    void unreadableKeepsItsPreviousCopy()
    {
        QFETCH(bool, full);
        BackupPlan plan = fourPairs();
        m_drives->writeFile("C:\\s1\\segreto.txt", "segreto v1");
        m_drives->writeFile("C:\\s1\\chiusa\\x.txt", "x v1");
        m_drives->writeFile("C:\\s1\\chiusa\\dentro\\y.txt", "y v1");
        m_drives->writeFile("C:\\s1\\elenco\\z.txt", "z v1"); // listed, but not entered
        QCOMPARE(runEngine(plan).end.failures, 0);
        m_drives->writeFile("C:\\s1\\segreto.txt", "segreto v2");
        m_drives->writeFile("C:\\s1\\f1.txt", "f1 v2");
        ::chmod(QFile::encodeName(host("C:\\s1\\segreto.txt")).constData(), 0);
        ::chmod(QFile::encodeName(host("C:\\s1\\chiusa")).constData(), 0);
        ::chmod(QFile::encodeName(host("C:\\s1\\elenco")).constData(), 0444);
        std::optional<WithoutPrivileges> asUser;
        if (::getuid() == 0)
            asUser.emplace();
        const Run run = runEngine(plan, {}, false, {}, full);
        asUser.reset();
        QStringList failures = run.of(Kind::Failure);
        failures.sort(); // the walk meets them in the file system's order
        QCOMPARE(failures,
                 (QStringList{"C:\\s1\\chiusa : impossibile leggere (accesso negato): non "
                              "aggiornato, resta la copia precedente",
                              "C:\\s1\\elenco : impossibile leggere (accesso negato): non "
                              "aggiornato, resta la copia precedente",
                              "C:\\s1\\segreto.txt : impossibile leggere (accesso negato): non "
                              "aggiornato, resta la copia precedente"}));
        QCOMPARE(read("R:\\BK\\d1\\segreto.txt"), QByteArray("segreto v1"));
        QCOMPARE(read("R:\\BK\\d1\\elenco\\z.txt"), QByteArray("z v1"));
        QCOMPARE(read("R:\\BK\\d1\\chiusa\\dentro\\y.txt"), QByteArray("y v1"));
        QCOMPARE(read("R:\\BK\\d1\\f1.txt"), QByteArray("f1 v2"));
        QCOMPARE(hidden(), QStringList());
    }

    // A backup folder that cannot be listed may hold what its listing did not show:
    // nothing in it is replaced or removed, and the run says so.
    void unlistedBackupFolderKept()
    {
        BackupPlan plan = fourPairs();
        m_drives->writeFile("C:\\s1\\chiusa\\x.txt", "x v1");
        QCOMPARE(runEngine(plan, {}, false, {}, false).end.failures, 0);
        m_drives->writeFile("C:\\s1\\chiusa\\x.txt", "x v2, longer");
        const QByteArray folder = QFile::encodeName(host("R:\\BK\\d1\\chiusa"));
        ::chmod(folder.constData(), 0300); // entered and written, not listed
        std::optional<WithoutPrivileges> asUser;
        if (::getuid() == 0)
            asUser.emplace();
        const Run run = runEngine(plan, {}, false, {}, false);
        asUser.reset();
        ::chmod(folder.constData(), 0755);
        QCOMPARE(run.of(Kind::Failure), QStringList{"R:\\BK\\d1\\chiusa : impossibile leggere (accesso negato): "
                                                    "non aggiornato, resta la copia precedente"});
        QCOMPARE(read("R:\\BK\\d1\\chiusa\\x.txt"), QByteArray("x v1"));
    }

    // The update in place writes only what it decided to, and a file under its own
    // name is always whole; what the source no longer holds goes once the pass is
    // complete. A change that leaves size and time alone is seen by the full rewrite.
    // On exFAT, which ignores case, a rename in case keeps the backup, and a name it
    // cannot keep is reported, never written, while the rest is copied.
    void updatesInPlace_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("full");
        QTest::addColumn<QStringList>("rewritten");
        QTest::addColumn<QStringList>("failures");
        const QString no = " : non copiato: ";
        const QStringList refused{"C:\\s1\\NOTA.txt" + no + "sulla destinazione ha lo stesso nome di «nota.txt» (maiuscole e minuscole non si distinguono)",
            "C:\\s1\\aux.txt" + no + "«aux» è il nome di un dispositivo di Windows, che la destinazione non accetta",
            "C:\\s1\\punto." + no + "il nome finisce con un punto, che la destinazione non conserva",
            "C:\\s1\\x*.txt" + no + "il nome contiene «*», che la destinazione non accetta"};
        // clang-format off
        QTest::newRow("one changed file") << "content" << false << QStringList{"tre.txt"} << QStringList{};
        QTest::newRow("a file became a folder") << "to folder" << false << QStringList{"tre.txt/dentro.txt"} << QStringList{};
        QTest::newRow("a folder became a file") << "to file" << false << QStringList{"a/b"} << QStringList{};
        QTest::newRow("a killed run had set a folder aside") << "aside" << false << QStringList{} << QStringList{};
        QTest::newRow("same size and time: --completo") << "same size" << true
            << QStringList{"a/b/due.txt", "a/uno.txt", "f1.txt", "nota.txt", "tre.txt"} << QStringList{};
        for (const bool full : {false, true})
            QTest::addRow("the pair's folder a link: a real folder again%s", full ? ", --completo" : "") << "link" << full
                << QStringList{"a/b/due.txt", "a/uno.txt", "f1.txt", "nota.txt", "tre.txt"} << QStringList{};
        QTest::newRow("renamed in case, on exFAT") << "exfat case" << false << QStringList{} << QStringList{};
        QTest::newRow("killed in a case rename, where the name rules are assumed") << "killed case" << false << QStringList{} << QStringList{};
        QTest::newRow("the same, on exFAT") << "exfat killed case" << false << QStringList{} << QStringList{};
        QTest::newRow("names exFAT cannot keep") << "exfat names" << false << QStringList{"ok.txt"} << refused;
        QTest::newRow("the same names, kept on the local disk") << "names" << false << QStringList{"NOTA.txt", "aux.txt", "ok.txt", "punto./y.txt", "x*.txt"} << QStringList{};
        QTest::newRow("names exFAT cannot keep: --completo") << "exfat names" << true << QStringList{} << refused;
        QTest::newRow("a folder deleted, a contract saved over") << "deleted" << false << QStringList{"tre.txt"} << QStringList{};
        QTest::newRow("a folder deleted, a contract saved over: --completo") << "deleted" << true << QStringList{"f1.txt", "nota.txt", "tre.txt"} << QStringList{};
        QTest::newRow("a folder deleted, a contract saved over, on exFAT") << "exfat deleted" << false << QStringList{"tre.txt"} << QStringList{};
        QTest::newRow("the new copy cannot take its name: the old one goes back") << "final name" << false << QStringList{"tre.txt"} << QStringList{};
        QTest::newRow("two pairs into folders that differ in case") << "pairs in case" << false << QStringList{"tre.txt"} << QStringList{};
        QTest::newRow("two pairs into folders of one name") << "pairs of one name" << false << QStringList{"tre.txt"} << QStringList{};
        // clang-format on
    }
    void updatesInPlace()
    {
        QFETCH(QString, change);
        QFETCH(bool, full);
        QFETCH(QStringList, rewritten);
        QFETCH(QStringList, failures);
        BackupPlan plan = fourPairs();
        if (change.startsWith("exfat")) {
            if (!m_drives->mountExfat('f'))
                QSKIP("mounting an exFAT image needs root, exfat-fuse and exfatprogs");
            plan.pairs[0].destination = "F:\\d1";
        }
        if (change.endsWith("killed case")) // no letter to ask the destination by
            plan.pairs[0].destination = plan.pairs[0].destination.left(3) + "1";
        if (change == "pairs in case") {
            plan.pairs[1].destination = "R:\\BK\\D1";
        } else if (change == "pairs of one name") { // their versions in the computer's folder
            plan.pairs[0].destination = kRoot + "\\d1";
            plan.pairs[1].destination = kRoot + "\\altra\\d1";
            m_drives->makeDir(kRoot + "\\altra");
        }
        const QString D = plan.pairs[0].destination;
        m_drives->writeFile("C:\\s1\\a\\uno.txt", "uno");
        m_drives->writeFile("C:\\s1\\a\\b\\due.txt", "due");
        m_drives->writeFile("C:\\s1\\tre.txt", "tre v1");
        m_drives->writeFile("C:\\s1\\nota.txt", "nota");
        for (const char* file : {"nota.txt", "a\\uno.txt", "a\\b\\due.txt", "tre.txt", "f1.txt"})
            setTime(host(QStringLiteral("C:\\s1\\") + file), 1'500'000'000, 123); // finer than exFAT keeps
        QCOMPARE(runEngine(plan, {}, false, {}, false).end.failures, 0);
        const auto before = identities(host(D));
        QMap<QString, QByteArray> previous; // what the backup held
        for (const QString& entry : tree(D)) {
            if (QFileInfo(host(D) + '/' + entry).isFile())
                previous[entry] = m_drives->readFile(D + '\\' + QString(entry).replace('/', '\\'));
        }
        const QString tre = host("C:\\s1\\tre.txt");
        if (change == "content") {
            m_drives->writeFile("C:\\s1\\tre.txt", "tre v2");
        } else if (change == "to folder") {
            QFile::remove(tre);
            m_drives->writeFile("C:\\s1\\tre.txt\\dentro.txt", "dentro");
        } else if (change == "to file") {
            QDir(host("C:\\s1\\a\\b")).removeRecursively();
            m_drives->writeFile("C:\\s1\\a\\b", "b");
        } else if (change == "aside") {
            QVERIFY(QFile::rename(host("R:\\BK\\d1\\a\\b"), host("R:\\BK\\d1\\a") + "/.~archivon~k1~b"));
        } else if (change == "same size") {
            m_drives->writeFile("C:\\s1\\tre.txt", "tre v2");
            setTime(tre, 1'500'000'000, 123);
        } else if (change == "link") { // to a folder elsewhere, which must stay as it is
            QVERIFY(QFile::rename(host(D), host("R:\\altrove")));
            QVERIFY(QFile::link(host("R:\\altrove"), host(D)));
        } else if (change == "exfat case") {
            QVERIFY(QFile::rename(tre, host("C:\\s1\\Tre.txt")));
            QVERIFY(QFile::rename(host("C:\\s1\\a"), host("C:\\s1\\A")));
        } else if (change.endsWith("deleted")) {
            QDir(host("C:\\s1\\a")).removeRecursively();
            m_drives->writeFile("C:\\s1\\tre.txt", "tre v2");
        } else if (change.endsWith("killed case")) { // as the entry is given its new spelling
            QVERIFY(QFile::rename(tre, host("C:\\s1\\Tre.txt")));
            const int status = tracedRun(plan, host(D + "\\Tre.txt"), "signal=KILL");
            if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL)
                QSKIP("strace cannot kill a run here");
            // Meanwhile on R:, under a name that records the new spelling.
            const QStringList aside = test::treeOf(host(D)).filter(QRegularExpression("^\\.~archivon~[^/]*~Tre\\.txt$"));
            QCOMPARE(aside.size(), 1);
            QCOMPARE(read(D + '\\' + aside.first()), "tre v1");
        } else if (change == "final name") { // its first move made, the second refused
            m_drives->writeFile("C:\\s1\\tre.txt", "tre v2");
            const int status = tracedRun(plan, host(D + "\\tre.txt"), "error=EACCES:when=2");
            if (WIFEXITED(status) && WEXITSTATUS(status) == 3)
                QSKIP("strace cannot trace a run here");
            QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 1, qPrintable(QString::number(status)));
            QCOMPARE(read(D + "\\tre.txt"), "tre v1");
        } else if (change.startsWith("pairs")) { // each pair replaces a file
            m_drives->writeFile("C:\\s1\\tre.txt", "tre v2");
            m_drives->writeFile("C:\\s2\\f2.txt", "f2 v2");
        } else if (change.endsWith("names")) {
            for (const char* name : {"NOTA.txt", "aux.txt", "x*.txt", "punto.\\y.txt", "ok.txt"})
                m_drives->writeFile(QStringLiteral("C:\\s1\\") + name, name);
        }
        // The dry run first: it writes nothing, and foresees what the run does.
        const QStringList untouched = stamps(m_drives->drivesFolder());
        const DryRun forecast = forecastRun(plan, settings(full));
        QCOMPARE(stamps(m_drives->drivesFolder()), untouched);
        const Run run = runEngine(plan, {}, false, {}, full);
        QStringList failed = run.of(Kind::Failure);
        failed.sort();
        QCOMPARE(failed, failures);
        QCOMPARE(forecast.failures, failures.size());
        QCOMPARE(forecast.exitStatus, failures.isEmpty() ? 0 : 1);
        if (failures.isEmpty())
            QCOMPARE(run.end.status, QStringLiteral("Operazione completata con successo!"));
        QStringList kept = tree("C:\\s1");
        if (change == "exfat names")
            kept.removeIf([](const QString& e) { return QRegularExpression("^(NOTA|aux|x\\*|punto\\.)").match(e).hasMatch(); });
        QCOMPARE(tree(D), kept);
        QVERIFY(!QFileInfo(host(D)).isSymLink());
        if (change == "link")
            QCOMPARE(tree("R:\\altrove"), kept);
        for (const QString& entry : kept) {
            if (QFileInfo(host("C:\\s1") + '/' + entry).isFile())
                QCOMPARE(read(D + '\\' + QString(entry).replace('/', '\\')), read("C:\\s1\\" + QString(entry).replace('/', '\\')));
        }
        const auto after = identities(host(D));
        QStringList changed;
        for (auto it = after.begin(); it != after.end(); ++it) {
            if (before.value(it.key()) != it.value())
                changed << it.key();
        }
        if (!change.startsWith("exfat") && !change.startsWith("killed")) // a name's inode is not its file's there
            QCOMPARE(changed, rewritten);
        QCOMPARE(hidden(), QStringList());
        // Every earlier content is under its name, in any case, or among this run's versions.
        const QString keptIn = QFileInfo(host(D)).path() + '/' + versions::kFolderName;
        // Each pair has a folder of its own there, numbered where two share a name.
        const QString pairFolder = change == "pairs of one name" ? "d1 (coppia 1)" : "d1";
        if (change.startsWith("pairs")) {
            const QString other = change == "pairs of one name" ? "d1 (coppia 2)" : "D1";
            QCOMPARE(test::treeOf(keptIn).filter(QRegularExpression("^[^/]+/" + QRegularExpression::escape(other) + "/")).size(), 1);
        }
        QStringList inVersions = test::treeOf(keptIn).filter(QRegularExpression("^[^/]+/" + QRegularExpression::escape(pairFolder) + "/"));
        inVersions.removeIf([&](const QString& e) { return !QFileInfo(keptIn + '/' + e).isFile(); });
        for (auto it = previous.begin(); it != previous.end(); ++it) {
            const QRegularExpression named('^' + QRegularExpression::escape(it.key()) + '$', QRegularExpression::CaseInsensitiveOption);
            const QString now = kept.contains(it.key()) ? it.key() : kept.filter(named).value(0);
            if (read(D + '\\' + QString(now).replace('/', '\\')) == it.value())
                continue;
            QVERIFY2(std::any_of(inVersions.begin(), inVersions.end(), [&](const QString& e) {
                         QFile f(keptIn + '/' + e);
                         return e.section('/', 2) == it.key() && f.open(QIODevice::ReadOnly) && f.readAll() == it.value();
                     }), qPrintable(it.key()));
        }
        const PairStats stats = run.first(Kind::PairFinished).stats;
        QCOMPARE(stats.versioned, inVersions.size());
        const PairForecast& foreseen = forecast.pairs[0];
        QCOMPARE(QList<qint64>({foreseen.copied, foreseen.unchanged, foreseen.versioned}),
                 QList<qint64>({stats.copied, stats.unchanged, stats.versioned}));
        if (!full) {
            QCOMPARE(stats.removed, change.endsWith("deleted") ? 2 : 0);
            QCOMPARE(stats.copied, rewritten.size());
        }
        if (change == "deleted" && !full) { // a second run in the same minute keeps its own folder
            m_drives->writeFile("C:\\s1\\tre.txt", "tre v3");
            QCOMPARE(runEngine(plan, {}, false, {}, false).end.failures, 0);
            const QStringList runs = QDir(keptIn).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
            QCOMPARE(runs.size(), 2);
            QFile second(keptIn + '/' + runs.last() + "/d1/tre.txt");
            QVERIFY(second.open(QIODevice::ReadOnly));
            QCOMPARE(second.readAll(), QByteArray("tre v2"));
        }
    }

    // A stop half way through an update: every file of the previous backup is still
    // under its name, whole, old or new; what the source lost is still there; nothing
    // hidden is left. The same on a destination like a share (exFAT: no hard links,
    // no modes, whole seconds).
    void updateStops_data()
    {
        QTest::addColumn<bool>("exfat");
        QTest::newRow("local disk") << false;
        QTest::newRow("exFAT, like a share") << true;
    }
    void updateStops()
    {
        QFETCH(bool, exfat);
        BackupPlan plan = fourPairs();
        if (exfat) {
            if (!m_drives->mountExfat('f'))
                QSKIP("mounting an exFAT image needs root, exfat-fuse and exfatprogs");
            plan.pairs[0].destination = "F:\\d1";
        }
        const QString D = plan.pairs[0].destination;
        const auto name = [](int i) { return QStringLiteral("\\c%1\\f%2.bin").arg(i / 20).arg(i); };
        for (int i = 0; i < 400; ++i) {
            m_drives->writeFile("C:\\s1" + name(i), QByteArray(32 << 10, 'o'));
            setTime(host("C:\\s1" + name(i)), 1'500'000'000);
        }
        QCOMPARE(runEngine(plan, {}, false, {}, false).end.failures, 0);
        m_drives->writeFile(D + "\\perso.txt", "only in the backup");
        for (int i = 0; i < 400; ++i)
            m_drives->writeFile("C:\\s1" + name(i), QByteArray(32 << 10, 'n'));
        const Run run = runEngine(plan, {}, false, [](BackupEngine& engine) {
            while (engine.progress().filesEnded < 40 && engine.isRunning()) {
            }
            if (engine.hold())
                engine.stop();
        }, false);
        QCOMPARE(run.end.reason, RunEnd::Reason::Stopped);
        int renewed = 0;
        for (int i = 0; i < 400; ++i) {
            const QByteArray content = read(D + name(i));
            QVERIFY2(content == QByteArray(32 << 10, 'o') || content == QByteArray(32 << 10, 'n'),
                     qPrintable(name(i)));
            renewed += content.startsWith('n');
        }
        QVERIFY2(renewed > 0 && renewed < 400, qPrintable(QString::number(renewed)));
        QCOMPARE(read(D + "\\perso.txt"), QByteArray("only in the backup"));
        QCOMPARE(test::treeOf(host(D)).filter(QRegularExpression("(^|/)\\.")), QStringList());
        const Run next = runEngine(plan, {}, false, {}, false);
        QCOMPARE(next.end.status, QStringLiteral("Operazione completata con successo!"));
        QCOMPARE(test::treeOf(host(D)), tree("C:\\s1"));
        QCOMPARE(next.first(Kind::PairFinished).stats.copied + renewed, 400);
    }

    // The room asked for is what will be written: a pair that fits only because most
    // of it is unchanged is not refused; the full rewrite needs room for all of it, and
    // counts the old copy an earlier pair is still removing: the run waits for it, with
    // "Pulizia..." shown, and measures again.
    void space_data()
    {
        QTest::addColumn<QString>("room");
        QTest::newRow("update in place, mostly unchanged") << "update";
        QTest::newRow("full rewrite: no room") << "full";
        QTest::newRow("full rewrite once the old copy has gone") << "old copy";
        QTest::newRow("room for the second pair once the first has written") << "second pair";
        QTest::newRow("a file that cannot be read takes no room from the next pair") << "unreadable";
        QTest::newRow("no room at the third pair, after the first changed something") << "third pair";
        QTest::newRow("full rewrite once the oldest version has gone") << "versions";
        QTest::newRow("every version gone, and still no room for pair 2: this run's own folder stays") << "versions short";
        QTest::newRow("no room at the second pair, once retention removed something") << "retention";
    }
    void space()
    {
        QFETCH(QString, room);
        BackupPlan plan = fourPairs();
        if (!m_drives->mountTmpfs('f', "2m"))
            QSKIP("mounting a small tmpfs needs root");
        plan.pairs[0].destination = "F:\\d1";
        plan.pairs[1].destination = "F:\\d2";
        if (room == "old copy") {
            m_drives->writeFile("C:\\s1\\f1.txt", QByteArray(300 << 10, '1'));
            m_drives->writeFile("C:\\s2\\f2.txt", QByteArray(1 << 20, '2'));
            // Pair 1's old copy: its space comes back only once its last name has gone.
            m_drives->writeFile("F:\\d1\\grande.bin", QByteArray(1400 << 10, 'o'));
            const QByteArray old = QFile::encodeName(host("F:\\d1"));
            for (int i = 0; i < 30000; ++i)
                ::close(::creat(old + "/v" + QByteArray::number(i), 0644));
            for (const char* name : {"/v1000", "/v20000"}) {
                ::unlink(old + name);
                QCOMPARE(::link(old + "/grande.bin", old + name), 0);
            }
            g_versionDays = 0; // an old copy kept among the versions frees nothing
            QCOMPARE(forecastRun(plan, settings(true)).exitStatus, 0); // the wait foreseen
            const Run run = runEngine(plan);
            QCOMPARE(run.end.status, QStringLiteral("Operazione completata con successo!"));
            QCOMPARE(read("F:\\d2\\f2.txt").size(), 1 << 20);
            QVERIFY(run.steps().contains("done 1,scan 2,clean 2,start 2"));
            return;
        }
        // Foreseen by the dry run, which writes nothing: the bytes each pair writes (none
        // of a file that cannot be read, which leaves the next pair its room), and a run
        // that runs out of room after any pair changed something ends early, whatever the
        // pair just before it did.
        if (room == "second pair" || room == "unreadable" || room == "third pair") {
            const bool unreadable = room == "unreadable";
            std::optional<WithoutPrivileges> asUser;
            if (room == "third pair") {
                plan.pairs[2].destination = "F:\\d3";
                QCOMPARE(runEngine(plan, {}, false, {}, false).end.failures, 0);
                m_drives->writeFile("C:\\s1\\nuovo.txt", "nuovo");
                m_drives->writeFile("C:\\s3\\grande.bin", QByteArray(3000 << 10, '3'));
            } else {
                const QString first = m_drives->writeFile(unreadable ? "C:\\s1\\chiuso.bin" : "C:\\s1\\f1.txt", QByteArray(1200 << 10, '1'));
                m_drives->writeFile("C:\\s2\\f2.txt", QByteArray(1000 << 10, '2'));
                if (unreadable) {
                    ::chmod(QFile::encodeName(first).constData(), 0);
                    if (::getuid() == 0)
                        asUser.emplace();
                }
            }
            const DryRun forecast = forecastRun(plan, settings(false));
            const Run run = runEngine(plan, {}, false, {}, false);
            asUser.reset();
            QCOMPARE(run.end.reason, unreadable ? RunEnd::Reason::Completed : RunEnd::Reason::NoSpace);
            QCOMPARE(run.end.outcome, unreadable ? RunOutcome::Completed : RunOutcome::EndedEarly);
            QCOMPARE(forecast.exitStatus, unreadable ? 1 : 3);
            QCOMPARE(forecast.failures, run.end.failures);
            for (const RunEvent& e : run.events) {
                if (e.kind == Kind::PairFinished)
                    QCOMPARE(forecast.pairs.at(e.pair - 1).writes, e.stats.bytes);
            }
            return;
        }
        // Foreseen too, from the bytes each version folder records: the same folders
        // go, and the same end. Retention that removed something has changed the
        // drive, so a later pair without room ends the run early.
        if (room.startsWith("versions") || room == "retention") { // never this run's, nor a name without a date, nor the future
            const QDateTime now = QDateTime::currentDateTime();
            const QString root = "F:\\Versioni precedenti\\";
            QStringList kept{versions::stampOf(now.addDays(-20)), versions::stampOf(now.addDays(-10)),
                             versions::stampOf(now.addDays(5)), "vecchie"};
            if (room == "retention") {
                kept = QStringList{versions::stampOf(now.addDays(-40))};
                QCOMPARE(runEngine(plan, {}, false, {}, false).end.failures, 0);
                m_drives->writeFile("C:\\s2\\grande.bin", QByteArray(3000 << 10, '2'));
            }
            for (const QString& name : kept) {
                m_drives->writeFile(root + name + "\\d1\\vecchio.bin", QByteArray(name < kept.value(2) ? 700 << 10 : 10, 'v'));
                QVERIFY(retention::recordBytes(root + name, QFileInfo(host(root + name + "\\d1\\vecchio.bin")).size()));
            }
            const bool none = room == "versions short"; // for pair 2, once this run's folder holds pair 1's old copy
            if (none)
                m_drives->writeFile("F:\\d1\\vecchio.txt", "old");
            if (room != "retention")
                m_drives->writeFile(none ? "C:\\s2\\f2.txt" : "C:\\s1\\f1.txt", QByteArray((none ? 3000 : 900) << 10, '1'));
            const DryRun forecast = forecastRun(plan, settings(room != "retention"));
            const Run run = runEngine(plan, {}, true, {}, room != "retention");
            QCOMPARE(forecast.exitStatus, exitStatusFor(run.end));
            QCOMPARE(forecast.failures, run.end.failures);
            if (room == "retention") {
                QCOMPARE(run.end.outcome, RunOutcome::EndedEarly);
                QCOMPARE(forecast.versionsGone, QStringList{root + kept.first()});
                return;
            }
            QCOMPARE(run.end.reason, none ? RunEnd::Reason::NoSpace : RunEnd::Reason::Completed);
            const QStringList gone = kept.mid(0, none ? 2 : 1);
            QCOMPARE(run.end.versions.value(0).removedForSpace, gone);
            QStringList foreseen;
            for (const room::Version& v : forecast.pairs[none ? 1 : 0].versionsForRoom)
                foreseen << v.name;
            QCOMPARE(foreseen, gone);
            QCOMPARE(run.of(Kind::Notice).filter("eliminata la versione precedente più vecchia, " + root).size(), gone.size());
            for (const QString& name : gone)
                kept.removeAll(name);
            if (none)
                kept << tree(root).filter(QRegularExpression("^[^/]+/d1/vecchio\\.txt$")).value(0).section('/', 0, 0);
            kept.sort();
            QCOMPARE(tree(root).filter(QRegularExpression("^[^/]*$")), kept);
            return;
        }
        m_drives->writeFile("C:\\s1\\grande.bin", QByteArray(1500 << 10, 'g'));
        QCOMPARE(runEngine(plan, {}, false, {}, false).end.failures, 0);
        m_drives->writeFile("C:\\s1\\nuovo.bin", QByteArray(100 << 10, 'n'));
        const bool full = room == "full";
        QCOMPARE(forecastRun(plan, settings(full)).exitStatus, full ? 2 : 0);
        const Run run = runEngine(plan, {}, false, {}, full);
        QCOMPARE(run.end.reason, full ? RunEnd::Reason::NoSpace : RunEnd::Reason::Completed);
        QCOMPARE(run.first(Kind::Measured).bytes, full ? (1600 << 10) + 10 : 100 << 10);
        QCOMPARE(QFileInfo::exists(host("F:\\d1\\nuovo.bin")), !full);
    }

    // Which run folders are older than the days set, and which may go for room.
    void retentionDue_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("current");
        QTest::addColumn<int>("days");
        QTest::addColumn<QStringList>("due");
        QTest::addColumn<QStringList>("forSpace");
        const QStringList dated{"2026-10-01 10.00.00", "2026-10-01 10.00.00 (2)", "2026-11-07 19.30.04",
                                "2026-11-07 19.30.05", "2026-11-20 08.00.00"};
        // clang-format off
        QTest::newRow("older than 30 days, oldest first") << QStringList{dated[3], dated[1], dated[4], dated[0], dated[2]}
            << "" << 30 << dated.mid(0, 3) << dated;
        QTest::newRow("the current run's folder, however old") << dated << dated[0] << 30 << dated.mid(1, 2) << dated.mid(1);
        QTest::newRow("names that give no date") << QStringList{"vecchie", "2026-10-01", "2026-13-01 10.00.00",
            "2026-10-01 10.00.00 bis", ".2026-10-01 10.00.00.archivon-rimosso"} << "" << 30 << QStringList{} << QStringList{};
        QTest::newRow("dated in the future") << QStringList{"2027-01-01 10.00.00", "2026-12-07 19.30.06"} << "" << 1
            << QStringList{} << QStringList{};
        QTest::newRow("none by age at 0 days") << dated << "" << 0 << QStringList{} << dated;
        // clang-format on
    }
    void retentionDue()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, current);
        QFETCH(int, days);
        const QDateTime now(QDate(2026, 12, 7), QTime(19, 30, 5));
        QTEST(retention::due(names, current, days, now), "due");
        QTEST(retention::runFolders(names, current, now), "forSpace");
    }

    // A run that backed something up removes the run folders older than the days set,
    // each under a hidden name first, and what an earlier run began to remove, never its
    // own; the record tells what is kept, with the bytes each folder recorded at its end.
    void retention_data()
    {
        QTest::addColumn<bool>("backsUp");
        QTest::addColumn<int>("days");
        QTest::addColumn<QStringList>("left"); // at the top of the versions folder
        QTest::newRow("a run that backs up") << true << 30 << QStringList{"future", "vecchie", "young"};
        QTest::newRow("a run that backs nothing up") << false << 30 << QStringList{"future", "half", "old", "vecchie", "young"};
        QTest::newRow("GiorniVersioni=0") << true << 0 << QStringList{"future", "old", "vecchie", "young"};
    }
    void retention()
    {
        QFETCH(bool, backsUp);
        QFETCH(int, days);
        QFETCH(QStringList, left);
        BackupPlan plan = fourPairs();
        const QDateTime now = QDateTime::currentDateTime();
        const QMap<QString, QString> names{{"old", versions::stampOf(now.addDays(-40))},
                                           {"young", versions::stampOf(now.addDays(-10))},
                                           {"future", versions::stampOf(now.addDays(10))},
                                           {"vecchie", "vecchie"},
                                           {"half", ".2020-01-01 00.00.00.archivon-rimosso"}};
        const QString root = "R:\\BK\\Versioni precedenti";
        for (const QString& name : names)
            m_drives->writeFile(root + "\\" + name + "\\d1\\a.txt", "v");
        m_drives->writeFile(root + "\\" + names["old"] + "\\" + retention::kBytesName, "5\r\n");
        m_drives->writeFile(root + "\\" + names["young"] + "\\" + retention::kBytesName, "7\r\n");
        m_drives->writeFile("R:\\BK\\d1\\via.txt", "0123456789"); // into this run's folder, as an extra
        for (BackupPair& pair : plan.pairs)
            pair.source += backsUp ? "" : "\\manca";
        g_versionDays = days;
        const Run run = runEngine(plan, {}, false, {}, false);
        QStringList expected;
        for (const QString& key : left)
            expected << names[key];
        QStringList found = QDir(host(root)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QStringList made = found; // this run's folder
        for (const QString& name : names)
            made.removeAll(name);
        const bool moved = backsUp && days > 0;
        QCOMPARE(made.size(), moved ? 1 : 0);
        if (moved)
            QCOMPARE(read(root + "\\" + made.first() + "\\" + retention::kBytesName), QByteArray("10\r\n"));
        found.removeAll(made.value(0));
        found.sort();
        expected.sort();
        QCOMPARE(found, expected);
        QCOMPARE(run.end.versions.size(), 1);
        const VersionsKept& kept = run.end.versions.first();
        const bool oldGone = !left.contains("old");
        QCOMPARE(kept.root, root);
        QCOMPARE(kept.removedByAge, oldGone ? QStringList{names["old"]} : QStringList{});
        QCOMPARE(QList<qint64>({kept.folders, kept.bytes, kept.unrecorded}),
                 QList<qint64>({(oldGone ? 2 : 3) + moved, (oldGone ? 7 : 12) + (moved ? 10 : 0), 1}));
    }

    // GiorniVersioni in the settings: a value that is no number of days keeps the
    // versions for the default days, and says so.
    void versionDaysSetting_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("days");
        QTest::addColumn<bool>("warned");
        QTest::newRow("not set") << QByteArray() << 30 << false;
        QTest::newRow("none") << QByteArray("GiorniVersioni=0") << 0 << false;
        QTest::newRow("a week") << QByteArray("GiorniVersioni= 7") << 7 << false;
        QTest::newRow("negative") << QByteArray("GiorniVersioni=-1") << 30 << true;
        QTest::newRow("a word") << QByteArray("GiorniVersioni=trenta") << 30 << true;
        QTest::newRow("a list") << QByteArray("GiorniVersioni=30, 40") << 30 << true;
    }
    void versionDaysSetting()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, warned);
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        const auto restore = qScopeGuard([] { qunsetenv("XDG_CONFIG_HOME"); });
        QVERIFY(QDir().mkpath(config.path() + "/archivon"));
        QFile conf(config.path() + "/archivon/archivon.conf");
        QVERIFY(conf.open(QIODevice::WriteOnly) && conf.write("[General]\n" + line + "\n") > 0);
        conf.close();
        QString problem;
        QTEST(versionDaysConfigured(&problem), "days");
        const QString value = QString::fromUtf8(line.mid(line.indexOf('=') + 1));
        QCOMPARE(problem, warned ? "Attenzione: in " + conf.fileName() + " il valore GiorniVersioni=" + value +
                                       " non è un numero intero di giorni (0 o più): le versioni precedenti "
                                       "sono tenute per 30 giorni."
                                 : QString());
    }

    // Faults met halfway: the sources are never touched, every destination file is
    // exact or listed, and success is never claimed over a failure. A full destination
    // counts each file it left out ({n}); a run that backed up no pair is a failure,
    // writes no marker and still shuts down.
    void faultsMidRun_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("listed"); // among the failures
        // clang-format off
        QTest::newRow("files vanish") << "vanish" << "C:\\s1\\v0.txt : file o cartella inesistente";
        QTest::newRow("drive R: goes away") << "drive" << "R:\\BK\\d2 : unità di destinazione non disponibile";
        QTest::newRow("the destination fills") << "full" << "F:\\d1 : spazio su disco esaurito: nessuno dei 40 file della coppia è stato copiato, resta il backup precedente";
        QTest::newRow("it fills in a first update") << "full update" << "F:\\d1 : spazio su disco esaurito: {n} dei 40 file della coppia non sono stati copiati";
        QTest::newRow("it fills in an update") << "full update again" << "F:\\d1 : spazio su disco esaurito: {n} dei 40 file della coppia non sono stati copiati, di ognuno resta la copia del backup precedente";
        QTest::newRow("it fills as a full rewrite takes back what it cannot read") << "carry full" << "F:\\d1 : spazio su disco esaurito: nessuno dei 3 file della coppia è stato copiato, resta il backup precedente";
        QTest::newRow("no source there") << "no source" << "R:\\BKPQORL\\PC7_ufficio2 : backup non eseguito: nessuna cartella sorgente è stata copiata";
        QTest::newRow("drive C: not ready") << "no C" << "R:\\BKPQORL\\PC7_ufficio2 : backup non eseguito: l'unità C: non è disponibile, nessuna cartella è stata copiata";
        QTest::newRow("a copy fails part way, in a folder's place") << "too big" << "C:\\s1\\grande.bin : file troppo grande";
        QTest::newRow("the marker cannot be written") << "marker" << "oldimp.pvx : impossibile scrivere";
        QTest::newRow("a source emptied by mistake") << "emptied" << "C:\\s1 : la cartella sorgente non contiene alcun file, mentre il suo backup sì: coppia saltata, il backup è rimasto com'era (per svuotarlo, eseguire un backup completo)";
        // The backup's one file, in one form and at one depth each.
        for (const char* holds : {"deep, its folders gone", "deep, its folders kept", "hidden", "a link"})
            QTest::addRow("a source emptied, its backup's file %s", holds) << QStringLiteral("emptied: %1").arg(holds) << "C:\\s1 : " + kEmptiedSource;
        const QString vanished = " : cartella delle versioni precedenti scomparsa durante il backup, con ciò che conteneva: creata di nuovo";
        QTest::newRow("the versions folder goes as files are replaced") << "versions gone" << "R:\\BK\\Versioni precedenti" + vanished;
        QTest::newRow("this run's versions folder goes before a removal") << "versions gone before a removal" << "R:\\BK\\Versioni precedenti\\{run}" + vanished;
        // clang-format on
    }
    void faultsMidRun()
    {
        QFETCH(QString, fault);
        QFETCH(QString, listed);
        BackupPlan plan = fourPairs();
        Action act;
        QStringList emptiedBackup;
        QString runFolder;
        if (fault == "vanish") {
            for (int i = 0; i < 3; ++i)
                m_drives->writeFile(QStringLiteral("C:\\s1\\v%1.txt").arg(i), "v");
            act = at(Phase::Copying, 1, [&](BackupEngine&) {
                for (int i = 0; i < 3; ++i)
                    QFile::remove(host(QStringLiteral("C:\\s1\\v%1.txt").arg(i)));
            });
        } else if (fault == "drive") {
            m_drives->writeFile("R:\\BK\\d2\\vecchio.txt", "old");
            act = at(Phase::Copying, 2, [&](BackupEngine&) {
                QFile::rename(m_drives->root('r'), m_drives->drivesFolder() + "/staccata");
            });
        } else if (fault.startsWith("full")) {
            if (!m_drives->mountTmpfs('f', fault == "full update again" ? "256k" : "64k"))
                QSKIP("mounting a small tmpfs needs root");
            // 40 KiB of source, but every file takes a whole page on the disk.
            const auto sources = [&](int size) {
                for (int i = 0; i < 40; ++i)
                    m_drives->writeFile(QStringLiteral("C:\\s1\\p%1.txt").arg(i), QByteArray(size, 'p'));
            };
            sources(1024);
            QFile::remove(host("C:\\s1\\f1.txt"));
            plan.pairs[0].destination = "F:\\d1";
            if (fault == "full")
                m_drives->writeFile("F:\\d1\\vecchio.txt", "old");
            else if (fault == "full update again") { // every file changed, on a disk filled meanwhile
                QCOMPARE(runEngine(plan, {}, false, {}, false).end.failures, 0);
                sources(1000);
                act = at(Phase::Copying, 1, [&](BackupEngine&) { m_drives->writeFile("F:\\pieno", QByteArray(256 << 10, 'x')); });
            }
        } else if (fault == "carry full") { // the previous copies of unreadable files, taken back one by one
            if (!m_drives->mountTmpfs('f', "256k", 64))
                QSKIP("mounting a small tmpfs needs root");
            plan.pairs[0].destination = "F:\\d1";
            for (const QString name : {"chiuso1.txt", "chiuso2.txt"}) {
                m_drives->writeFile("F:\\d1\\" + name, "old");
                ::chmod(QFile::encodeName(m_drives->writeFile("C:\\s1\\" + name, "new")).constData(), 0);
            }
            // Once the first is back, no file can be made there: the second cannot follow.
            act = [this, filled = false](BackupEngine&, const RunEvent& e) mutable {
                if (e.kind != Kind::Failure || std::exchange(filled, true))
                    return;
                for (int i = 0;; ++i) {
                    const int fd = ::creat(QFile::encodeName(host(QStringLiteral("F:\\pieno%1").arg(i))).constData(), 0644);
                    if (fd < 0)
                        break;
                    ::close(fd);
                }
            };
        } else if (fault == "no source") {
            for (BackupPair& pair : plan.pairs)
                pair.source += "\\manca";
        } else if (fault == "no C") {
            QVERIFY(QFile::rename(m_drives->root('c'), m_drives->drivesFolder() + "/via"));
        } else if (fault == "too big") { // an update: the folder is set aside for the file
            m_drives->writeFile("C:\\s1\\grande.bin", QByteArray(4 << 20, 'b'));
            m_drives->writeFile("R:\\BK\\d1\\grande.bin\\vecchio.txt", "old");
        } else if (fault.startsWith("emptied")) { // every file gone, and the backup holds one
            if (fault == "emptied") { // its folders stay
                m_drives->writeFile("C:\\s1\\cartella\\p.txt", "p");
                QCOMPARE(runEngine(plan, {}, false, {}, false).end.failures, 0);
                QFile::remove(host("C:\\s1\\cartella\\p.txt"));
            } else if (fault.endsWith("link")) { // to an empty folder
                m_drives->makeDir("R:\\BK\\vuota");
                m_drives->makeDir("R:\\BK\\d1\\a");
                QVERIFY(QFile::link(host("R:\\BK\\vuota"), host("R:\\BK\\d1\\a\\collegamento")));
            } else {
                m_drives->writeFile(fault.endsWith("hidden") ? "R:\\BK\\d1\\a\\.p.txt" : "R:\\BK\\d1\\a\\b\\c\\p.txt", "p");
                if (fault.endsWith("kept"))
                    m_drives->makeDir("C:\\s1\\a\\b\\c");
            }
            QFile::remove(host("C:\\s1\\f1.txt"));
            emptiedBackup = tree("R:\\BK\\d1");
            QCOMPARE(forecastRun(plan, settings(false)).pairs[0].leftOutReason, kEmptiedSource); // as the run will
        } else if (fault.startsWith("versions")) { // each pair's backup holds what goes into the versions
            m_drives->writeFile("R:\\BK\\d1\\f1.txt", "old");
            m_drives->writeFile("R:\\BK\\d2\\f2.txt", "old");
            const QString kept = host("R:\\BK\\Versioni precedenti");
            if (fault == "versions gone") { // pair 1's old file goes on its own; pair 2's versions go
                // once its folder there is made for a file set aside, and two files are replaced
                m_drives->writeFile("R:\\BK\\d2\\g2.txt", "old");
                m_drives->writeFile("C:\\s2\\g2.txt", "g2");
                m_drives->writeFile("R:\\BK\\d2\\x", "x");
                m_drives->writeFile("C:\\s2\\x\\y.txt", "y");
                const Action first = at(Phase::Copying, 1, [&](BackupEngine&) { QFile::remove(host("R:\\BK\\d1\\f1.txt")); });
                const Action second = at(Phase::Copying, 2, [=](BackupEngine&) { QDir(kept).removeRecursively(); });
                act = [=](BackupEngine& engine, const RunEvent& e) {
                    first(engine, e);
                    second(engine, e);
                };
            } else { // and an extra of pair 2
                m_drives->writeFile("R:\\BK\\d2\\via.txt", "old");
                act = at(Phase::Cleaning, 2, [&, kept](BackupEngine&) {
                    runFolder = QDir(kept).entryList(QDir::Dirs | QDir::NoDotAndDotDot).value(0);
                    QVERIFY(QDir(kept + '/' + runFolder).removeRecursively());
                }, 2);
            }
        } else if (fault == "marker") {
            platform::setProgramFolderForTesting(m_drives->programFolder() + "/mancante");
        }
        rlimit unlimited{}, limited{1 << 20, RLIM_INFINITY};
        getrlimit(RLIMIT_FSIZE, &unlimited);
        if (fault == "too big") { // a real failure past 1 MiB: EFBIG, not a full disk
            ::signal(SIGXFSZ, SIG_IGN);
            setrlimit(RLIMIT_FSIZE, &limited);
        }
        const bool nothing = fault.startsWith("no ");
        std::optional<WithoutPrivileges> asUser;
        if (fault == "carry full" && ::getuid() == 0)
            asUser.emplace();
        const Run run = runEngine(plan, act, nothing, {}, !fault.startsWith("full update") && fault != "too big" && !fault.startsWith("emptied") && !fault.startsWith("versions"));
        asUser.reset();
        setrlimit(RLIMIT_FSIZE, &unlimited);
        QFile::rename(m_drives->drivesFolder() + "/via", m_drives->drivesFolder() + "/c");
        int left = 0; // files of a full destination's pair not there as they are now
        for (int i = 0; fault.startsWith("full") && i < 40; ++i)
            left += read(QStringLiteral("F:\\d1\\p%1.txt").arg(i)) != read(QStringLiteral("C:\\s1\\p%1.txt").arg(i));
        listed.replace("{n}", QString::number(left)).replace("{run}", runFolder);
        const QString failures = run.of(Kind::Failure).join('\n');
        QVERIFY2(!run.end.status.contains("successo"), qPrintable(run.end.status));
        QVERIFY2(failures.contains(listed), qPrintable(failures));
        if (fault == "drive") {
            QCOMPARE(run.end.reason, RunEnd::Reason::DestinationLost);
            QCOMPARE(run.end.message, QStringLiteral("L'unità di destinazione R: non è più disponibile: "
                                                     "backup interrotto!"));
            QCOMPARE(test::treeOf(m_drives->drivesFolder() + "/staccata/BK/d2"), QStringList{"vecchio.txt"});
            QVERIFY(!QFileInfo::exists(m_drives->drivesFolder() + "/staccata/BK/d3"));
        } else if (fault.startsWith("emptied")) {
            QCOMPARE(tree("R:\\BK\\d1"), emptiedBackup);
        } else if (fault.startsWith("versions")) { // said once, made again, and only what went there counted
            QCOMPARE(run.end.failures, 1);
            const bool copies = fault == "versions gone";
            QStringList kept;
            for (const QString& entry : tree("R:\\BK\\Versioni precedenti")) {
                if (entry.count('/') == 2) {
                    kept << entry.section('/', 1);
                    QCOMPARE(read("R:\\BK\\Versioni precedenti\\" + QString(entry).replace('/', '\\')), "old");
                }
            }
            QCOMPARE(kept, copies ? (QStringList{"d2/f2.txt", "d2/g2.txt"}) : QStringList{"d2/via.txt"});
            QCOMPARE(tree("R:\\BK\\d2"), copies ? (QStringList{"f2.txt", "g2.txt", "x", "x/y.txt"}) : QStringList{"f2.txt"});
            QCOMPARE(read("R:\\BK\\d2\\f2.txt"), read("C:\\s2\\f2.txt"));
            QCOMPARE(read("R:\\BK\\d1\\f1.txt"), read("C:\\s1\\f1.txt"));
            QCOMPARE(run.first(Kind::PairFinished, 1).stats.versioned, copies ? 0 : 1);
            QCOMPARE(run.first(Kind::PairFinished, 2).stats.versioned, copies ? 3 : 2);
        } else if (fault == "too big") { // nothing under its name, and the folder back in its place
            QCOMPARE(tree("R:\\BK\\d1"), (QStringList{"f1.txt", "grande.bin", "grande.bin/vecchio.txt"}));
        } else if (fault.startsWith("full")) { // a full rewrite's old backup stays, and nothing beside it
            QVERIFY2(fault != "full update" || (left > 1 && left < 40), qPrintable(QString::number(left)));
            QCOMPARE(run.end.failures, left);
            QCOMPARE(run.of(Kind::Failure).last(), listed);
            QCOMPARE(run.end.status, QStringLiteral("Operazione completata con %1 errori: alcuni elementi non "
                                                    "sono stati copiati (vedere l'elenco).").arg(left));
            if (fault == "full")
                QCOMPARE(tree("F:\\"), (QStringList{"d1", "d1/vecchio.txt"}));
        } else if (fault == "carry full") { // as when the copies fill it: every file counted, the old backup whole
            QCOMPARE(run.of(Kind::Failure).last(), listed);
            QCOMPARE(run.end.failures, 1 + 3); // the file taken back, then each of the pair's three
            QCOMPARE(tree("F:\\d1"), (QStringList{"chiuso1.txt", "chiuso2.txt"}));
        } else if (nothing) {
            QCOMPARE(run.end.status, "Backup non eseguito: " + listed.section(": backup non eseguito: ", 1) +
                                         " (vedere l'elenco).");
            QVERIFY(run.end.outcome == RunOutcome::Completed && run.end.shutdownRequested);
            QVERIFY(!run.end.markerWritten && !QFile::exists(m_drives->programFolder() + "/oldimp.pvx"));
            QCOMPARE(run.of(Kind::PairSkipped).filter(fault == "no C" ? "l'unità C: non è disponibile: coppia" : "inesistente").size(), 4);
        }
        QCOMPARE(read("C:\\s2\\f2.txt"), QByteArray(20, 'c'));
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
        m_drives->makeDir("C:\\s2\\sub");
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

    // The run's record (what it holds of a real run: e2e_unattended). Only this program's
    // logs are counted, and the oldest go first.
    void logKeepsTheLastThirty()
    {
        QTemporaryDir state;
        qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
        m_drives->makeDir(kRoot);
        const QString dir = state.path() + "/archivon";
        QVERIFY(QDir().mkpath(dir));
        for (int i = 0; i < 35; ++i)
            QFile(dir + QStringLiteral("/archivon-20200101-0000%1-000.log").arg(i, 2, 10, QLatin1Char('0')))
                .open(QIODevice::WriteOnly);
        QFile(dir + "/note.txt").open(QIODevice::WriteOnly);
        RunLog log;
        recordARun(log);
        QFile record(log.path());
        QVERIFY(record.open(QIODevice::ReadOnly) && !record.readAll().contains("fuori"));
        const QStringList left = QDir(dir).entryList({"archivon-*.log"}, QDir::Files, QDir::Name);
        QCOMPARE(left.size(), RunLog::kKept);
        QCOMPARE(left.first(), QStringLiteral("archivon-20200101-000006-000.log"));
        QCOMPARE(dir + "/" + left.last(), log.path());
        QVERIFY(QFile::exists(dir + "/note.txt"));
    }

    // The record's summary line: the outcome in fixed words, and the last run of this
    // computer without failures, carried over from the previous record on R:. A run that
    // does not complete is never that run, even where it counts no failure, and --stato,
    // which reads the record on R:, still marks a computer whose last clean run is old.
    void logSummary_data()
    {
        QTest::addColumn<QString>("previous"); // the record on R: before the run; {clean}: ten days ago
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<int>("failures");
        QTest::addColumn<QString>("lastClean");
        const QString clean = "Riepilogo: esito=completato; errori=0; inizio={clean}; ultimo-senza-errori={clean}";
        // clang-format off
        QTest::newRow("no record yet") << "" << "interrotto" << 1 << "";
        QTest::newRow("failures before, a clean run earlier") << "Riepilogo: esito=con-errori; errori=2; inizio=2026-12-04T19:30:00+01:00; ultimo-senza-errori=2026-12-01T19:30:00+01:00" << "interrotto" << 1 << "2026-12-01T19:30:00+01:00";
        QTest::newRow("an older version's clean record") << "Inizio: 2026-12-03 19:30:00\nEsito: completato senza errori; errori: 0; coppie saltate: 0" << "interrotto" << 1 << "2026-12-03T19:30:00";
        QTest::newRow("an older version's stopped record") << "Inizio: 2026-12-03 19:30:00\nEsito: terminato prima della fine; errori: 0; coppie saltate: 0" << "interrotto" << 1 << "";
        QTest::newRow("stopped, no failure") << clean << "interrotto" << 0 << "{clean}";
        QTest::newRow("no room at a later pair, no failure") << clean << "terminato" << 0 << "{clean}";
        QTest::newRow("no room for the first pair") << clean << "rifiutato" << 0 << "{clean}";
        QTest::newRow("another run holds the lock: R: is not read") << clean << "bloccato" << 0 << "";
        // clang-format on
    }
    void logSummary()
    {
        QFETCH(QString, previous);
        QFETCH(QString, outcome);
        QFETCH(int, failures);
        QFETCH(QString, lastClean);
        const bool cleanBefore = previous.contains("{clean}");
        const QDateTime tenDaysAgo = QDateTime::currentDateTime().addDays(-10);
        const QString clean = tenDaysAgo.toOffsetFromUtc(tenDaysAgo.offsetFromUtc()).toString(Qt::ISODate);
        previous.replace("{clean}", clean);
        lastClean.replace("{clean}", clean);
        QTemporaryDir state;
        qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
        if (!previous.isEmpty())
            m_drives->writeFile(kRoot + "\\archivon.log", ("Archivon 1.0: registro del backup\n" + previous + "\n").toUtf8());
        else
            m_drives->makeDir(kRoot);
        RunLog log;
        recordARun(log, outcome, failures);
        QFile local(log.path());
        QVERIFY(local.open(QIODevice::ReadOnly));
        const QByteArray text = local.readAll();
        QCOMPARE(read(kRoot + "\\archivon.log") == text, outcome != "bloccato"); // a refused start leaves R: as it was
        const RunRecord record = parseRunRecord(QString::fromUtf8(text));
        QVERIFY(record.summarised);
        QCOMPARE(record.outcome, outcome);
        QCOMPARE(record.failures, failures);
        QCOMPARE(record.bytesWritten, outcome == "bloccato" ? 0 : 40);
        QCOMPARE(record.versionBytes, 1200);
        QVERIFY(record.started.isValid() && record.ended >= record.started);
        const QDateTime expected = QDateTime::fromString(lastClean, Qt::ISODate);
        QCOMPARE(record.lastClean, expected);
        if (cleanBefore) {
            const SiteOverview site = readSiteOverview("R:\\BKPQORL", {}, 2, QDateTime::currentDateTime());
            QCOMPARE(site.computers.size(), 1);
            QCOMPARE(site.computers.first().lastClean, QDateTime::fromString(clean, Qt::ISODate));
            QVERIFY(site.anyMarked());
        }
    }

    // A record that can be written nowhere still reaches standard error whole.
    void logNothingSilentlyLost()
    {
        // A file where the state folder should be: no one can make the folder, not even root.
        QTemporaryFile blocker;
        QVERIFY(blocker.open());
        qputenv("XDG_STATE_HOME", QFile::encodeName(blocker.fileName()));
        RunLog log;
        const QString text = recordARun(log);
        for (const QString& expected : {
                 QStringLiteral("archivon: impossibile creare la cartella dei registri"),
                 QStringLiteral("archivon: impossibile copiare il registro in "
                                "R:\\BKPQORL\\PC7_ufficio2\\archivon.log"),
                 QStringLiteral("archivon: Coppia 1 copiata: 2 file, 1 cartelle, 40 byte in 1.5 s; file "
                                "invariati: 7, file eliminati: 3; spostati nelle versioni precedenti: 4 file, 90 byte\n"),
                 QStringLiteral("archivon: Versioni precedenti in R:\\BKPQORL\\PC7_ufficio2\\Versioni precedenti: 3 "
                                "cartelle, 1200 byte (più 1 cartella di dimensione non registrata)\n"),
                 QStringLiteral("archivon: Versioni eliminate perché più vecchie di 30 giorni: 2026-10-01 19.30.05\n"),
                 QStringLiteral("archivon: Versioni eliminate per fare spazio: 2026-11-01 19.30.05, 2026-11-02 19.30.05\n"),
                 QStringLiteral("archivon: Errore: C:\\x: accesso negato\n"),
                 QStringLiteral("archivon: Interrotto dall'utente.\n"),
                 QStringLiteral("archivon: backup terminato prima della fine (errori: 1, coppie "
                                "saltate: 0); registro: non scritto\n"),
             })
            QVERIFY2(text.contains(expected), qPrintable(expected + " in:\n" + text));
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
