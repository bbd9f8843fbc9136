// The update in place, and the faults a run meets half way.

#include "forecast/dryrun.h"
#include "index/index.h"
#include "platform/drives.h"
#include "support/engineruns.h"
#include "versions/versions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace archivon;
using namespace archivon::test;

class TestUpdate : public QObject, public EngineFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { drives.reset(); }

    // A file or folder that cannot be read this time keeps its previous copy, byte for
    // byte; it is a failure that says so.
    void unreadableKeepsItsPreviousCopy_data() { bothPasses(); }
    void unreadableKeepsItsPreviousCopy()
    {
        QFETCH(bool, full);
        BackupPlan plan = fourPairs();
        drives->writeFile("C:\\s1\\segreto.txt", "segreto v1");
        drives->writeFile("C:\\s1\\chiusa\\x.txt", "x v1");
        drives->writeFile("C:\\s1\\chiusa\\dentro\\y.txt", "y v1");
        drives->writeFile("C:\\s1\\elenco\\z.txt", "z v1"); // listed, but not entered
        QCOMPARE(runEngine(plan).end.failures, 0);
        drives->writeFile("C:\\s1\\segreto.txt", "segreto v2");
        drives->writeFile("C:\\s1\\f1.txt", "f1 v2");
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
        drives->writeFile("C:\\s1\\chiusa\\x.txt", "x v1");
        QCOMPARE(runEngine(plan, {}, false, {}, false).end.failures, 0);
        drives->writeFile("C:\\s1\\chiusa\\x.txt", "x v2, longer");
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
        QTest::newRow("a copy a check found damaged, size and time as they were") << "damaged" << false << QStringList{"tre.txt"} << QStringList{};
        QTest::newRow("a file became a folder") << "to folder" << false << QStringList{"tre.txt/dentro.txt"} << QStringList{};
        QTest::newRow("a folder became a file") << "to file" << false << QStringList{"a/b"} << QStringList{};
        QTest::newRow("a killed run had set a folder aside") << "aside" << false << QStringList{} << QStringList{};
        QTest::newRow("a killed run had set a folder aside whose place is taken") << "aside taken" << false << QStringList{} << QStringList{};
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
            if (!drives->mountExfat('f'))
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
            drives->makeDir(kRoot + "\\altra");
        }
        const QString D = plan.pairs[0].destination;
        drives->writeFile("C:\\s1\\a\\uno.txt", "uno");
        drives->writeFile("C:\\s1\\a\\b\\due.txt", "due");
        drives->writeFile("C:\\s1\\tre.txt", "tre v1");
        drives->writeFile("C:\\s1\\nota.txt", "nota");
        for (const char* file : {"nota.txt", "a\\uno.txt", "a\\b\\due.txt", "tre.txt", "f1.txt"})
            setTime(host(QStringLiteral("C:\\s1\\") + file), 1'500'000'000, 123); // finer than exFAT keeps
        QCOMPARE(runEngine(plan, {}, false, {}, false).end.failures, 0);
        const auto before = identities(host(D));
        QMap<QString, QByteArray> previous; // what the backup held
        for (const QString& entry : tree(D)) {
            if (QFileInfo(host(D) + '/' + entry).isFile())
                previous[entry] = drives->readFile(D + '\\' + QString(entry).replace('/', '\\'));
        }
        const QString tre = host("C:\\s1\\tre.txt");
        if (change == "content") {
            drives->writeFile("C:\\s1\\tre.txt", "tre v2");
        } else if (change == "to folder") {
            QFile::remove(tre);
            drives->writeFile("C:\\s1\\tre.txt\\dentro.txt", "dentro");
        } else if (change == "to file") {
            QDir(host("C:\\s1\\a\\b")).removeRecursively();
            drives->writeFile("C:\\s1\\a\\b", "b");
        } else if (change == "aside") {
            QVERIFY(QFile::rename(host("R:\\BK\\d1\\a\\b"), host("R:\\BK\\d1\\a") + "/.~archivon~k1~b"));
        } else if (change == "aside taken") { // kept among the versions, and foreseen there
            drives->writeFile("R:\\BK\\d1\\a\\.~archivon~k1~b\\vecchio.txt", "vecchio");
        } else if (change == "same size") {
            drives->writeFile("C:\\s1\\tre.txt", "tre v2");
            setTime(tre, 1'500'000'000, 123);
        } else if (change == "link") { // to a folder elsewhere, which must stay as it is
            QVERIFY(QFile::rename(host(D), host("R:\\altrove")));
            QVERIFY(QFile::link(host("R:\\altrove"), host(D)));
        } else if (change == "exfat case") {
            QVERIFY(QFile::rename(tre, host("C:\\s1\\Tre.txt")));
            QVERIFY(QFile::rename(host("C:\\s1\\a"), host("C:\\s1\\A")));
        } else if (change.endsWith("deleted")) {
            QDir(host("C:\\s1\\a")).removeRecursively();
            drives->writeFile("C:\\s1\\tre.txt", "tre v2");
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
            drives->writeFile("C:\\s1\\tre.txt", "tre v2");
            const int status = tracedRun(plan, host(D + "\\tre.txt"), "error=EACCES:when=2");
            if (WIFEXITED(status) && WEXITSTATUS(status) == 3)
                QSKIP("strace cannot trace a run here");
            QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 1, qPrintable(QString::number(status)));
            QCOMPARE(read(D + "\\tre.txt"), "tre v1");
        } else if (change.startsWith("pairs")) { // each pair replaces a file
            drives->writeFile("C:\\s1\\tre.txt", "tre v2");
            drives->writeFile("C:\\s2\\f2.txt", "f2 v2");
        } else if (change == "damaged") { // as a check marks it in the pair's index
            const QString file = index::fileFor(plan.backupRoot(), D);
            const auto whole = index::readWholeIndex(file);
            QVERIFY(whole && *whole);
            index::IndexWriter writer(file, D);
            for (index::Entry e : whole->value().files) {
                if (e.path == "\\tre.txt")
                    e.mark = index::Mark::Damaged;
                QVERIFY(writer.add(e).ok());
            }
            QVERIFY(writer.commit().ok());
        } else if (change.endsWith("names")) {
            for (const char* name : {"NOTA.txt", "aux.txt", "x*.txt", "punto.\\y.txt", "ok.txt"})
                drives->writeFile(QStringLiteral("C:\\s1\\") + name, name);
        }
        // The dry run first: it writes nothing, and foresees what the run does.
        const QStringList untouched = stamps(drives->drivesFolder());
        const DryRun forecast = forecastRun(plan, settings(full));
        QCOMPARE(stamps(drives->drivesFolder()), untouched);
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
        if (change == "damaged") { // its copy is new, and the damaged one is listed as such
            const auto whole = index::readWholeIndex(index::fileFor(plan.backupRoot(), D));
            QVERIFY(whole && *whole);
            for (const index::Entry& e : whole->value().files) {
                QCOMPARE(e.mark, index::Mark::None);
                QCOMPARE(e.fingerprint->hex(), platform::fingerprintFile(D + e.path).value().fingerprint.hex());
            }
            const QString lists = host(plan.backupRoot() + '\\' + versions::kFolderName); // the computer's
            QFile list(lists + '/' + QDir(lists).entryList(QDir::Dirs | QDir::NoDotAndDotDot).last() + "/.archivon-elenco");
            QVERIFY(list.open(QIODevice::ReadOnly));
            QVERIFY(list.readAll().contains("\t6\t\\tre.txt\tdanneggiato\n"));
        }
        if (change == "deleted" && !full) { // a second run in the same minute keeps its own folder
            drives->writeFile("C:\\s1\\tre.txt", "tre v3");
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
            if (!drives->mountExfat('f'))
                QSKIP("mounting an exFAT image needs root, exfat-fuse and exfatprogs");
            plan.pairs[0].destination = "F:\\d1";
        }
        const QString D = plan.pairs[0].destination;
        const auto name = [](int i) { return QStringLiteral("\\c%1\\f%2.bin").arg(i / 20).arg(i); };
        for (int i = 0; i < 400; ++i) {
            drives->writeFile("C:\\s1" + name(i), QByteArray(32 << 10, 'o'));
            setTime(host("C:\\s1" + name(i)), 1'500'000'000);
        }
        QCOMPARE(runEngine(plan, {}, false, {}, false).end.failures, 0);
        drives->writeFile(D + "\\perso.txt", "only in the backup");
        for (int i = 0; i < 400; ++i)
            drives->writeFile("C:\\s1" + name(i), QByteArray(32 << 10, 'n'));
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
                drives->writeFile(QStringLiteral("C:\\s1\\v%1.txt").arg(i), "v");
            act = at(Phase::Copying, 1, [&](BackupEngine&) {
                for (int i = 0; i < 3; ++i)
                    QFile::remove(host(QStringLiteral("C:\\s1\\v%1.txt").arg(i)));
            });
        } else if (fault == "drive") {
            drives->writeFile("R:\\BK\\d2\\vecchio.txt", "old");
            act = at(Phase::Copying, 2, [&](BackupEngine&) {
                QFile::rename(drives->root('r'), drives->drivesFolder() + "/staccata");
            });
        } else if (fault.startsWith("full")) {
            if (!drives->mountTmpfs('f', fault == "full update again" ? "256k" : "64k"))
                QSKIP("mounting a small tmpfs needs root");
            // 40 KiB of source, but every file takes a whole page on the disk.
            const auto sources = [&](int size) {
                for (int i = 0; i < 40; ++i)
                    drives->writeFile(QStringLiteral("C:\\s1\\p%1.txt").arg(i), QByteArray(size, 'p'));
            };
            sources(1024);
            QFile::remove(host("C:\\s1\\f1.txt"));
            plan.pairs[0].destination = "F:\\d1";
            if (fault == "full")
                drives->writeFile("F:\\d1\\vecchio.txt", "old");
            else if (fault == "full update again") { // every file changed, on a disk filled meanwhile
                QCOMPARE(runEngine(plan, {}, false, {}, false).end.failures, 0);
                sources(1000);
                act = at(Phase::Copying, 1, [&](BackupEngine&) { drives->writeFile("F:\\pieno", QByteArray(256 << 10, 'x')); });
            }
        } else if (fault == "carry full") { // the previous copies of unreadable files, taken back one by one
            if (!drives->mountTmpfs('f', "256k", 64))
                QSKIP("mounting a small tmpfs needs root");
            plan.pairs[0].destination = "F:\\d1";
            for (const QString name : {"chiuso1.txt", "chiuso2.txt"}) {
                drives->writeFile("F:\\d1\\" + name, "old");
                ::chmod(QFile::encodeName(drives->writeFile("C:\\s1\\" + name, "new")).constData(), 0);
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
            QVERIFY(QFile::rename(drives->root('c'), drives->drivesFolder() + "/via"));
        } else if (fault == "too big") { // an update: the folder is set aside for the file
            drives->writeFile("C:\\s1\\grande.bin", QByteArray(4 << 20, 'b'));
            drives->writeFile("R:\\BK\\d1\\grande.bin\\vecchio.txt", "old");
        } else if (fault.startsWith("emptied")) { // every file gone, and the backup holds one
            if (fault == "emptied") { // its folders stay
                drives->writeFile("C:\\s1\\cartella\\p.txt", "p");
                QCOMPARE(runEngine(plan, {}, false, {}, false).end.failures, 0);
                QFile::remove(host("C:\\s1\\cartella\\p.txt"));
            } else if (fault.endsWith("link")) { // to an empty folder
                drives->makeDir("R:\\BK\\vuota");
                drives->makeDir("R:\\BK\\d1\\a");
                QVERIFY(QFile::link(host("R:\\BK\\vuota"), host("R:\\BK\\d1\\a\\collegamento")));
            } else {
                drives->writeFile(fault.endsWith("hidden") ? "R:\\BK\\d1\\a\\.p.txt" : "R:\\BK\\d1\\a\\b\\c\\p.txt", "p");
                if (fault.endsWith("kept"))
                    drives->makeDir("C:\\s1\\a\\b\\c");
            }
            QFile::remove(host("C:\\s1\\f1.txt"));
            emptiedBackup = tree("R:\\BK\\d1");
            QCOMPARE(forecastRun(plan, settings(false)).pairs[0].leftOutReason, kEmptiedSource); // as the run will
        } else if (fault.startsWith("versions")) { // each pair's backup holds what goes into the versions
            drives->writeFile("R:\\BK\\d1\\f1.txt", "old");
            drives->writeFile("R:\\BK\\d2\\f2.txt", "old");
            const QString kept = host("R:\\BK\\Versioni precedenti");
            if (fault == "versions gone") { // pair 1's old file goes on its own; pair 2's versions go
                // once its folder there is made for a file set aside, and two files are replaced
                drives->writeFile("R:\\BK\\d2\\g2.txt", "old");
                drives->writeFile("C:\\s2\\g2.txt", "g2");
                drives->writeFile("R:\\BK\\d2\\x", "x");
                drives->writeFile("C:\\s2\\x\\y.txt", "y");
                const Action first = at(Phase::Copying, 1, [&](BackupEngine&) { QFile::remove(host("R:\\BK\\d1\\f1.txt")); });
                const Action second = at(Phase::Copying, 2, [=](BackupEngine&) { QDir(kept).removeRecursively(); });
                act = [=](BackupEngine& engine, const RunEvent& e) {
                    first(engine, e);
                    second(engine, e);
                };
            } else { // and an extra of pair 2
                drives->writeFile("R:\\BK\\d2\\via.txt", "old");
                act = at(Phase::Cleaning, 2, [&, kept](BackupEngine&) {
                    runFolder = QDir(kept).entryList(QDir::Dirs | QDir::NoDotAndDotDot).value(0);
                    QVERIFY(QDir(kept + '/' + runFolder).removeRecursively());
                }, 2);
            }
        } else if (fault == "marker") {
            platform::setProgramFolderForTesting(drives->programFolder() + "/mancante");
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
        QFile::rename(drives->drivesFolder() + "/via", drives->drivesFolder() + "/c");
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
            QCOMPARE(test::treeOf(drives->drivesFolder() + "/staccata/BK/d2"), QStringList{"vecchio.txt"});
            QVERIFY(!QFileInfo::exists(drives->drivesFolder() + "/staccata/BK/d3"));
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
            QVERIFY(!run.end.markerWritten && !QFile::exists(drives->programFolder() + "/oldimp.pvx"));
            QCOMPARE(run.of(Kind::PairSkipped).filter(fault == "no C" ? "l'unità C: non è disponibile: coppia" : "inesistente").size(), 4);
        }
        QCOMPARE(read("C:\\s2\\f2.txt"), QByteArray(20, 'c'));
    }
};

QTEST_GUILESS_MAIN(TestUpdate)
#include "tst_update.moc"
