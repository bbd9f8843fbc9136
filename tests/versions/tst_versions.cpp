// Earlier versions: the room they give, retention, the days kept.

#include "forecast/dryrun.h"
#include "index/index.h"
#include "versions/fields.h"
#include "plan/settings.h"
#include "platform/drives.h"
#include "support/engineruns.h"
#include "versions/retention.h"
#include "versions/versions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace archivon;
using namespace archivon::test;

class TestVersions : public QObject, public EngineFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { drives.reset(); }

    // The index of a pair: every field comes back as written, odd names included; a
    // kill at any step of its replacement leaves the newest whole one to read; an
    // index cut short, edited or of a later version is refused, never half taken.
    void pairIndex_data()
    {
        QTest::addColumn<QString>("state"); // what a kill left: new, index, old
        QTest::addColumn<QString>("reads"); // "old", "new", "none", or "refused"
        QTest::newRow("written and put in place") << "- n -" << "new";
        QTest::newRow("killed while the new one was written") << "p o -" << "old";
        QTest::newRow("killed once the new one was whole") << "n o -" << "new";
        QTest::newRow("killed with the old one moved aside") << "n - o" << "new";
        QTest::newRow("killed before the old one was removed") << "- n o" << "new";
        QTest::newRow("killed before the first was whole") << "p - -" << "none";
        QTest::newRow("an index cut short") << "- p -" << "refused";
        QTest::newRow("an index edited") << "- e -" << "refused";
        QTest::newRow("an index of a later version") << "- l -" << "refused";
    }
    void pairIndex()
    {
        QFETCH(QString, state);
        QFETCH(QString, reads);
        const QString root = "R:\\BKPQORL\\PC_u";
        const QString file = index::fileFor(root, root + "\\Documenti");
        QVERIFY(QDir().mkpath(host(root)));
        QCOMPARE(file, root + "\\.archivon-indice\\Documenti");
        QCOMPARE(index::fileFor(root, "S:\\Altrove\\a:b"), root + "\\.archivon-indice\\S%3A%5CAltrove%5Ca%3Ab");
        const auto write = [&](const QString& name) {
            index::Entry e{versions::pathField({"Pratiche", name + "%\tx\\y"}), 12, 1765132205000000001,
                           platform::fingerprintOf("abc", 3), index::Origin::Backup, 1765132999,
                           index::Mark::Damaged};
            index::IndexWriter w(file, root + "\\Documenti");
            QVERIFY(w.add(e).ok());
            QVERIFY(w.add(index::VersionEntry{"2026-12-07 19.30.05", "\\v.txt", 3, std::nullopt, 0}).ok());
            QVERIFY(w.commit().ok());
        };
        write("old");
        const QByteArray old = read(file);
        write("new");
        const QByteArray fresh = read(file);
        QVERIFY(fresh.contains("\\Pratiche\\new%25%09x%5Cy\t12\t1765132205000000001\t"));
        const QStringList parts = state.split(' ');
        const QStringList suffixes = {".nuovo", "", ".vecchio"};
        for (int i = 0; i < 3; ++i) {
            const QString path = file + suffixes[i];
            QFile::remove(host(path));
            const QChar c = parts[i][0];
            QByteArray text = c == 'o' ? old : c == '-' ? QByteArray() : fresh;
            if (c == 'p')
                text.chop(30);
            if (c == 'e')
                text.replace("\t12\t", "\t13\t");
            if (c == 'l')
                text.replace("archivon-indice\t1", "archivon-indice\t9");
            if (c != '-')
                drives->writeFile(path, text);
        }
        const auto got = index::readWholeIndex(file);
        if (reads == "none")
            QVERIFY(!got);
        else if (reads == "refused")
            QVERIFY(got && !*got && got->error().contains("illeggibile"));
        if (reads != "old" && reads != "new")
            return;
        QVERIFY(got && *got);
        const index::PairIndex& ix = got->value();
        QCOMPARE(ix.destination, root + "\\Documenti");
        QCOMPARE(ix.files.size(), size_t(1));
        QCOMPARE(versions::pathOf(ix.files[0].path), QStringList({"Pratiche", reads + "%\tx\\y"}));
        QCOMPARE(ix.files[0].fingerprint->hex(), platform::fingerprintOf("abc", 3).hex());
        QCOMPARE(ix.files[0].origin, index::Origin::Backup);
        QCOMPARE(ix.files[0].checkedAt, 1765132999);
        QCOMPARE(ix.files[0].mark, index::Mark::Damaged);
        QCOMPARE(ix.versions.size(), size_t(1));
        QVERIFY(!ix.versions[0].fingerprint);
        // Written once more from there, it is the one that reads, and nothing else is left.
        write("again");
        QCOMPARE(index::readWholeIndex(file)->value().files[0].path, versions::pathField({"Pratiche", "again%\tx\\y"}));
        QCOMPARE(QDir(host(index::folderOf(root))).entryList(QDir::Files), QStringList{"Documenti"});
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
        if (!drives->mountTmpfs('f', "2m"))
            QSKIP("mounting a small tmpfs needs root");
        plan.pairs[0].destination = "F:\\d1";
        plan.pairs[1].destination = "F:\\d2";
        if (room == "old copy") {
            drives->writeFile("C:\\s1\\f1.txt", QByteArray(300 << 10, '1'));
            drives->writeFile("C:\\s2\\f2.txt", QByteArray(1 << 20, '2'));
            // Pair 1's old copy: its space comes back only once its last name has gone.
            drives->writeFile("F:\\d1\\grande.bin", QByteArray(1400 << 10, 'o'));
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
                drives->writeFile("C:\\s1\\nuovo.txt", "nuovo");
                drives->writeFile("C:\\s3\\grande.bin", QByteArray(3000 << 10, '3'));
            } else {
                const QString first = drives->writeFile(unreadable ? "C:\\s1\\chiuso.bin" : "C:\\s1\\f1.txt", QByteArray(1200 << 10, '1'));
                drives->writeFile("C:\\s2\\f2.txt", QByteArray(1000 << 10, '2'));
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
                drives->writeFile("C:\\s2\\grande.bin", QByteArray(3000 << 10, '2'));
            }
            for (const QString& name : kept) {
                drives->writeFile(root + name + "\\d1\\vecchio.bin", QByteArray(name < kept.value(2) ? 700 << 10 : 10, 'v'));
                QVERIFY(retention::recordBytes(root + name, QFileInfo(host(root + name + "\\d1\\vecchio.bin")).size()));
            }
            const bool none = room == "versions short"; // for pair 2, once this run's folder holds pair 1's old copy
            if (none)
                drives->writeFile("F:\\d1\\vecchio.txt", "old");
            if (room != "retention")
                drives->writeFile(none ? "C:\\s2\\f2.txt" : "C:\\s1\\f1.txt", QByteArray((none ? 3000 : 900) << 10, '1'));
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
            for (const room::Version& v : forecast.pairs[none ? 1 : 0].room.versionsRemoved)
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
        drives->writeFile("C:\\s1\\grande.bin", QByteArray(1500 << 10, 'g'));
        QCOMPARE(runEngine(plan, {}, false, {}, false).end.failures, 0);
        drives->writeFile("C:\\s1\\nuovo.bin", QByteArray(100 << 10, 'n'));
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
            drives->writeFile(root + "\\" + name + "\\d1\\a.txt", "v");
        drives->writeFile(root + "\\" + names["old"] + "\\" + retention::kBytesName, "5\r\n");
        drives->writeFile(root + "\\" + names["young"] + "\\" + retention::kBytesName, "7\r\n");
        drives->writeFile("R:\\BK\\d1\\via.txt", "0123456789"); // into this run's folder, as an extra
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
};

QTEST_GUILESS_MAIN(TestVersions)
#include "tst_versions.moc"
