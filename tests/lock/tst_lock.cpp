// One run at a time: the lock of a computer's backup folder.

#include "lock/runlock.h"
#include "platform/drives.h"
#include "platform/identity.h"
#include "support/engineruns.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <csignal>
#include <sys/time.h>
#include <unistd.h>

using namespace archivon;
using namespace archivon::test;

class TestLock : public QObject, public EngineFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { drives.reset(); }

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
        QTest::newRow("a restore of another machine, beating") << "restore" << 0 << false;
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
            drives->writeFile("R:\\BK\\.d1.archivon-nuovo\\a.txt", "left by that run");
        if (holder != "engine")
            drives->makeDir(lock);
        QProcess process; // another run's: one that has ended, or one that lives
        process.start("sleep", {holder == "dead" ? "0" : "60"});
        QVERIFY(process.waitForStarted());
        if (holder == "dead")
            process.waitForFinished();
        const auto stop = qScopeGuard([&] { process.kill(), process.waitForFinished(); });
        const qint64 pid = holder == "own" ? ::getpid() : process.processId();
        const QString owner = QStringLiteral("host=%1\nboot=%2\npid=%3\navvio-processo=%4\n"
                                             "inizio=2026-12-07T19:30:05\ntoken=t1\n%5")
                                  .arg(holder == "other" || holder == "restore" ? "ALTRO" : platform::hostName(),
                                       holder == "boot" ? "un-altro-avvio" : platform::bootId())
                                  .arg(pid)
                                  .arg(platform::processStart(holder == "dead" ? ::getpid() : pid))
                                  .arg(holder == "restore" ? "tipo=ripristino\n" : "");
        if (holder != "unnamed" && holder != "engine")
            drives->writeFile(lock + "\\proprietario", owner.toUtf8());
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
            QVERIFY2(judged.end.message.startsWith(holder == "restore" ? "Un ripristino di questo computer è in corso"
                                                                       : "Un altro backup di questo computer è in corso"),
                     qPrintable(judged.end.message));
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
        // (the pairs' indexes are the backup's own)
        const QStringList hiddenLeft = tree(kRoot).filter(QRegularExpression("^\\.(?!archivon-indice(/|$))"));
        QCOMPARE(hiddenLeft.filter(QRegularExpression("^\\.archivon-blocco($|/proprietario$)")), hiddenLeft);
        QCOMPARE(hiddenLeft.isEmpty(), taken || holder == "engine");
    }

    // Runs that find the same stale lock at once: one takes it, the others are refused.
    void lockRace()
    {
        const QString root = "R:\\BKPQORL\\PC7_ufficio2";
        for (int round = 0; round < 20; ++round) {
            drives->writeFile(root + "\\" + RunLock::kName + "\\proprietario",
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
};

QTEST_GUILESS_MAIN(TestLock)
#include "tst_lock.moc"
