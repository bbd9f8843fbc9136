// What a restore stands on: the list each run leaves, read back as it was
// written or refused, and the backup at a moment worked out from listings alone.
#include "index/index.h"
#include "lock/runlock.h"
#include "plan/plan.h"
#include "restore/backup.h"
#include "restore/moment.h"
#include "restore/restore.h"
#include "versions/reach.h"
#include "versions/runlist.h"

#include "support/drives.h"

#include <QtTest>

#include <sys/stat.h>

using namespace archivon;
using namespace archivon::versions;
using restore::Tree;

namespace {

const QDateTime kBase(QDate(2026, 3, 28), QTime(19, 30), Qt::OffsetFromUTC, 3600);

QDateTime at(double hours)
{
    return kBase.addSecs(qint64(hours * 3600));
}

RelativePath pathOf(QString text)
{
    if (text.endsWith('/'))
        text.chop(1);
    return text.split('/', Qt::SkipEmptyParts);
}

// "d/" a folder, "d/f:size:seconds" a file (size and time 1 unless given).
void addTo(Tree& tree, const QString& spec)
{
    const QStringList parts = spec.split(':');
    const RelativePath path = pathOf(parts[0]);
    int parent = -1;
    for (qsizetype k = 0; k + 1 < path.size(); ++k) {
        int found = -1;
        for (int e = 0; e < tree.count() && found < 0; ++e)
            found = tree.at(e).parent == parent && tree.at(e).name == path[k] ? e : -1;
        parent = found;
    }
    tree.add(parent, path.last(), parts[0].endsWith('/') ? EntryKind::Folder : EntryKind::File,
             parts.value(1, "1").toLongLong(), parts.value(2, "1").toLongLong() * 1'000'000'000);
}

ListedPair pair(int n, bool folds = false)
{
    return {n, QString("C:\\s%1").arg(n), QString("R:\\B\\d%1").arg(n), QString("d%1").arg(n), {folds, folds, false}};
}

// The list every row of the round trip starts from: names that break lines,
// fields and paths, and every kind of change.
RunList sample()
{
    RunList list;
    list.header = {kRunListFormat, "id-1", at(0), "id-0", 30, {pair(1), pair(2, true)}};
    list.header.pairs[0].source = "C:\\Documenti\\a\tb%";
    const QString odd = QString("riga\nnuova\ttab\\bar%25 è ") + QChar(0xD800) + QString::fromUtf8(" 🙂");
    using K = ListedChange::Kind;
    list.blocks.push_back({1, {{K::Added, {"Lettere", odd}, {}, EntryKind::File, 12, 1'700'000'000'123'456'789},
                               {K::Added, {}, {}, EntryKind::Folder, 0, 5},
                               {K::CaseFixed, {"A"}, {"a"}},
                               {K::SetAside, {"x"}, {".~archivon~1a2b~x"}},
                               {K::PutBack, {"y"}, {".~archivon~3c4d~y"}},
                               {K::MovedIn, {".~archivon~3c4d~z"}, {"z (2)"}}}});
    // What the files hold, beside what the restore reads.
    const auto fp = platform::Fingerprint::fromHex(QStringLiteral("0123456789abcdef0123456789ABCDEF"));
    list.blocks[0].changes.push_back({K::Fingerprint, {"Lettere", odd}, {}, EntryKind::File, 12, 0, fp});
    list.blocks[0].changes.push_back({K::VersionFingerprint, {"y"}, {}, EntryKind::File, 7, 0, fp, false});
    list.blocks[0].changes.push_back({K::VersionFingerprint, {"z"}, {}, EntryKind::File, 0, 0, {}, true});
    list.blocks.push_back({2, {{K::Rewritten, {}, {}, EntryKind::File, 1, 0}}});
    list.summary = RunSummary{versions::RunOutcome::WithFailures, at(0), at(1.5), 3, 4, 5};
    return list;
}

// One run of a moment's row, " | " between its parts:
//   "at H" began H hours after the base, ended an hour later ("killed": never);
//   "days N"; "fold" its pairs ignore case; "prev ID" (run ids are r0, r1...);
//   "dated SPEC..." its dated pair folder; "p2" what follows is pair 2's;
//   "+ SPEC" added; "case OLD NEW"; "aside PATH HIDDEN"; "back PATH HIDDEN";
//   "in FROM AT"; "whole 0|1" rewritten, with or without a backup before.
struct RowRun
{
    RunList list;
    std::optional<Tree> dated;
};

RowRun runOf(const QString& text, int index)
{
    RowRun run;
    RunHeader& h = run.list.header;
    h = {kRunListFormat, QString("r%1").arg(index), at(index), index ? QString("r%1").arg(index - 1) : "", 30, {}};
    bool folds = false, killed = false;
    int target = 1;
    std::vector<ListedChange> changes[2];
    using K = ListedChange::Kind;
    for (const QString& part : text.split(" | ", Qt::SkipEmptyParts)) {
        const QStringList w = part.split(' ', Qt::SkipEmptyParts);
        auto& to = changes[target - 1];
        if (w[0] == "at")
            h.start = at(w[1].toDouble());
        else if (w[0] == "days")
            h.versionDays = w[1].toInt();
        else if (w[0] == "fold")
            folds = true;
        else if (w[0] == "prev")
            h.previous = w[1] == "-" ? QString() : w[1];
        else if (w[0] == "killed")
            killed = true;
        else if (w[0] == "p2")
            target = 2;
        else if (w[0] == "dated") {
            run.dated.emplace();
            for (qsizetype k = 1; k < w.size(); ++k)
                addTo(*run.dated, w[k]);
        } else if (w[0] == "+") {
            const QStringList p = w[1].split(':');
            to.push_back({K::Added, pathOf(p[0]), {}, p[0].endsWith('/') ? EntryKind::Folder : EntryKind::File,
                          p.value(1, "1").toLongLong(), p.value(2, "1").toLongLong() * 1'000'000'000});
        } else if (w[0] == "whole") {
            to.push_back({K::Rewritten, {}, {}, EntryKind::File, w[1].toLongLong(), 0});
        } else {
            const K kind = w[0] == "case" ? K::CaseFixed : w[0] == "aside" ? K::SetAside
                         : w[0] == "back" ? K::PutBack : K::MovedIn;
            to.push_back({kind, pathOf(w[1]), pathOf(w[2])});
        }
    }
    h.pairs = {pair(1, folds), pair(2, folds)};
    for (int p = 0; p < 2; ++p) {
        if (!changes[p].empty())
            run.list.blocks.push_back({p + 1, changes[p]});
    }
    if (!killed)
        run.list.summary = RunSummary{versions::RunOutcome::Completed, h.start, h.start.addSecs(3600), 0, 0, 0};
    return run;
}

} // namespace

class TestRestore : public QObject
{
    Q_OBJECT

private slots:
    void listRoundTrip_data();
    void listRoundTrip();
    void moment_data();
    void moment();
    void restoreOnDisk_data();
    void restoreOnDisk();
};

void TestRestore::listRoundTrip_data()
{
    QTest::addColumn<QString>("mangle");
    QTest::addColumn<QString>("refusal"); // part of the reason, or empty when it reads
    QTest::addColumn<qsizetype>("blocks");
    QTest::addColumn<bool>("summary");

    QTest::newRow("whole, names escaped") << "" << "" << qsizetype(2) << true;
    QTest::newRow("on the share, through the writer") << "disk" << "" << qsizetype(2) << true;
    QTest::newRow("last block torn: never began") << "torn-block" << "" << qsizetype(1) << false;
    QTest::newRow("summary torn: the run counts as killed") << "torn-summary" << "" << qsizetype(2) << false;
    QTest::newRow("a block edited") << "edited" << "modificato" << qsizetype(0) << false;
    QTest::newRow("text after the summary") << "after" << "dopo il riepilogo" << qsizetype(0) << false;
    QTest::newRow("header torn") << "torn-header" << "intestazione incompleta" << qsizetype(0) << false;
    QTest::newRow("foreign file") << "foreign" << "non è un elenco" << qsizetype(0) << false;
    QTest::newRow("newer format") << "newer" << "più recente" << qsizetype(0) << false;
    QTest::newRow("format 1, before fingerprints") << "format-1" << "" << qsizetype(2) << true;
}

void TestRestore::listRoundTrip()
{
    QFETCH(QString, mangle);
    QFETCH(QString, refusal);
    QFETCH(qsizetype, blocks);
    QFETCH(bool, summary);

    const RunList list = sample();
    const QByteArray head = headerText(list.header);
    const QByteArray one = blockText(list.blocks[0]);
    const QByteArray two = blockText(list.blocks[1]);
    const QByteArray end = summaryText(*list.summary);
    QByteArray text = head + one + two + end;
    if (mangle == "torn-block")
        text = head + one + two.left(two.size() - 3);
    else if (mangle == "torn-summary")
        text = head + one + two + end.left(end.size() / 2);
    else if (mangle == "edited")
        text.replace("\t12\t", "\t13\t");
    else if (mangle == "after")
        text += one;
    else if (mangle == "torn-header")
        text = head.left(head.size() - 2);
    else if (mangle == "foreign")
        text = "[General]\nGiorniVersioni=30\n";
    else if (mangle == "newer" || mangle == "format-1") {
        // Its end line must still match, as that program would write it.
        const QByteArray format = mangle == "newer" ? "9" : "1";
        text = headerText(list.header).replace("archivon-elenco\t2", "archivon-elenco\t" + format);
        const qsizetype cut = text.indexOf("fine\t");
        text = text.left(cut) + "fine\t" +
               QCryptographicHash::hash(text.left(cut), QCryptographicHash::Sha256).toHex().left(16) + "\n";
        if (mangle == "format-1") {
            // A block of that format, with no fingerprint lines.
            RunBlock old = list.blocks[0];
            std::erase_if(old.changes, [](const ListedChange& c) {
                return c.kind == ListedChange::Kind::Fingerprint || c.kind == ListedChange::Kind::VersionFingerprint;
            });
            text += blockText(old) + two + end;
        }
    }

    Result<RunList> read = parseRunList(text);
    test::TempDrives drives;
    if (mangle == "disk") {
        // The writer appends block by block; the newest list by start is the
        // one a new run names as its previous, whatever its folder is called.
        const QString older = "R:\\B\\Versioni precedenti\\2026-03-28 20.00.00";
        const QString newer = "R:\\B\\Versioni precedenti\\2026-03-28 19.30.00 (2)";
        drives.makeDir(older);
        drives.makeDir(newer);
        RunListWriter before(older);
        RunHeader earlier = list.header;
        earlier.id = "id-older";
        earlier.start = at(-1);
        QVERIFY(before.begin(earlier).ok());
        RunListWriter writer(newer);
        QVERIFY(writer.begin(list.header).ok());
        QVERIFY(writer.add(list.blocks[0]).ok());
        QVERIFY(writer.add(list.blocks[1]).ok());
        QVERIFY(writer.end(*list.summary).ok());
        read = readRunList(writer.path());
        QCOMPARE(newestListId("R:\\B\\Versioni precedenti"), QString("id-1"));
    }
    if (!refusal.isEmpty()) {
        QVERIFY(!read.ok());
        QVERIFY2(read.error().contains(refusal), qPrintable(read.error()));
        return;
    }
    QVERIFY2(read.ok(), qPrintable(read.error()));
    // Read back, every field is as written: written again, the text is the same.
    const RunList& back = read.value();
    QCOMPARE(back.header.start.offsetFromUtc(), 3600);
    if (mangle == "format-1") {
        QCOMPARE(back.header.format, 1);
        QCOMPARE(back.blocks[0].changes.size(), list.blocks[0].changes.size() - 3);
        return;
    }
    QCOMPARE(headerText(back.header), head);
    QCOMPARE(back.header.pairs[0].source, list.header.pairs[0].source);
    QCOMPARE(back.blocks[0].changes[0].path, list.blocks[0].changes[0].path);
    QCOMPARE(qsizetype(back.blocks.size()), blocks);
    for (int k = 0; k < blocks; ++k)
        QCOMPARE(blockText(back.blocks[std::size_t(k)]), blockText(list.blocks[std::size_t(k)]));
    QCOMPARE(back.summary.has_value(), summary);
    if (summary)
        QCOMPARE(summaryText(*back.summary), end);
}

void TestRestore::moment_data()
{
    QTest::addColumn<QString>("mirror");
    QTest::addColumn<QStringList>("runs");
    QTest::addColumn<int>("pairN");
    QTest::addColumn<double>("when"); // hours after the base
    QTest::addColumn<QString>("expected"); // "path@m" (mirror) or "path@N" (run N); "!why" refused
    QTest::addColumn<QString>("reach"); // the limit and the oldest moment's hour (-1: the first run's start)

    QTest::newRow("now: nothing undone") << "a:5 d/ d/b:1" << QStringList{"+ a:5"} << 1 << 9.0
                                         << "a@m d/@m d/b@m" << "None@-1";
    QTest::newRow("a file added, then replaced")
        << "f:20:9" << QStringList{"+ f:10:5", "dated f:10:5"} << 1 << 1.5 << "f@1" << "None@-1";
    QTest::newRow("... and before it came") << "f:20:9" << QStringList{"+ f:10:5", "dated f:10:5"} << 1
                                            << 0.0 << "" << "None@-1";
    QTest::newRow("... and before the first run the lists know") << "f:20:9" << QStringList{"+ f:10:5", "dated f:10:5"}
        << 1 << -1.0 << "!precedente alla prima" << "None@-1";
    QTest::newRow("an addition changed since is kept")
        << "f:20:9" << QStringList{"+ f:10:5"} << 1 << 0.0 << "f@m" << "None@-1";
    QTest::newRow("file became folder, and back")
        << "x:3:3" << QStringList{"dated x:1:1 | + x/ | + x/in:2:2", "dated x/ x/in:2:2 | + x:3:3"} << 1
        << 1.5 << "x/@1 x/in@1" << "None@-1";
    QTest::newRow("... the file before both") << "x:3:3"
        << QStringList{"dated x:1:1 | + x/ | + x/in:2:2", "dated x/ x/in:2:2 | + x:3:3"} << 1 << 0.5
        << "x@0" << "None@-1";
    QTest::newRow("a folder deleted and made again")
        << "d/ d/new:1" << QStringList{"dated d/ d/old:1 d/sub/ d/sub/s:1 | + d/new:1"} << 1 << 0.0
        << "d/@m d/old@0 d/sub/@0 d/sub/s@0" << "None@-1";
    QTest::newRow("runs that changed nothing") << "a:1 b:1" << QStringList{"", "", "+ b:1"} << 1 << 1.5
                                               << "a@m" << "None@-1";
    QTest::newRow("a killed run is undone with the later one")
        << "a:2:2 b:1:1" << QStringList{"", "killed | dated a:1:1 | + b:1:1", "+ c:1:1"} << 1 << 2.5
        << "a@1" << "None@-1";
    QTest::newRow("only the other pair's changes")
        << "k:1 q:1" << QStringList{"+ k:1 | p2 | + q:1 | dated old:1"} << 2 << 0.0 << "k@m old@0" << "None@-1";
    QTest::newRow("case-only rename on a folding share")
        << "doc/ doc/lettera:4:4"
        << QStringList{"fold | case Doc doc | case doc/Lettera doc/lettera | dated doc/ doc/lettera:3:3"} << 1
        << 0.0 << "Doc/@m Doc/Lettera@0" << "None@-1";
    QTest::newRow("a case rename leaves a share that keeps case alone")
        << "doc/ Doc/" << QStringList{"+ doc/"} << 1 << 0.0 << "Doc/@m" << "None@-1";
    QTest::newRow("pair rewritten whole") << "n:1 m:1"
        << QStringList{"whole 1 | dated o:1 p/ p/q:1"} << 1 << 0.0 << "o@0 p/@0 p/q@0" << "None@-1";
    QTest::newRow("rewrite killed before its swap") << "o:1"
        << QStringList{"killed | whole 1"} << 1 << 0.0 << "o@m" << "None@-1";
    QTest::newRow("first rewrite: nothing before") << "n:1" << QStringList{"whole 0"} << 1 << 0.0 << ""
                                                   << "None@-1";
    QTest::newRow("set aside by a killed run, put back by the next")
        << "x:1:1" << QStringList{"killed | aside x .~archivon~1a2b~x", "back x .~archivon~1a2b~x"} << 1 << 0.0
        << "x@m" << "None@-1";
    QTest::newRow("set aside, moved in where its place was taken")
        << "x/" << QStringList{"killed | aside x .~archivon~1a2b~x | + x/",
                                "in .~archivon~1a2b~x x | dated x:7:7"} << 1 << 0.0 << "x@1" << "None@-1";
    QTest::newRow("ordered by start, not by input") << "f:3:3"
        << QStringList{"at 2 | prev r2 | dated f:2:2", "at 0 | prev - | + f:1:1", "at 1 | prev r1 | dated f:1:1"}
        << 1 << 1.5 << "f@2" << "None@-1";
    QTest::newRow("a clock set back: the lists' chain orders") << "f:3:3"
        << QStringList{"+ f:1:1", "at 2 | dated f:1:1", "at 1 | prev r1 | dated f:2:2"} << 1 << 1.5 << "f@1"
        << "None@-1";
    QTest::newRow("a missing list stops the way back") << "f:3:3"
        << QStringList{"prev gone | dated f:1:1", "dated f:2:2"} << 1 << -1.0 << "!manca l'elenco"
        << "MissingList@0";
    QTest::newRow("... but later moments are given") << "f:3:3"
        << QStringList{"prev gone | dated f:1:1", "dated f:2:2"} << 1 << 1.5 << "f@1" << "MissingList@0";
    QTest::newRow("versions kept 0 days") << "f:3:3" << QStringList{"", "days 0", "dated f:2:2"} << 1 << 0.5
                                          << "!versioni" << "NoVersions@1";
    QTest::newRow("runs of an older version first") << "f:1" << QStringList{"older -5 | prev -"} << 1 << -1.0
                                                    << "!elenco" << "OlderRuns@0";
    QTest::newRow("a run after the last list left none") << "f:2:2"
        << QStringList{"+ f:1:1", "older 5 | dated f:1:1"} << 1 << 2.5 << "!elenco" << "OlderRuns@-";
    QTest::newRow("no list at all: only the present") << "f:1" << QStringList{} << 1 << -1.0
                                                      << "!nessuna esecuzione" << "NoLists@-";
}

void TestRestore::moment()
{
    QFETCH(QString, mirror);
    QFETCH(QStringList, runs);
    QFETCH(int, pairN);
    QFETCH(double, when);
    QFETCH(QString, expected);
    QFETCH(QString, reach);

    Tree mirrorTree;
    for (const QString& spec : mirror.split(' ', Qt::SkipEmptyParts))
        addTo(mirrorTree, spec);
    std::vector<RowRun> rows;
    restore::History history;
    for (qsizetype k = 0; k < runs.size(); ++k) {
        QString text = runs[k];
        if (text.startsWith("older ")) { // a dated folder without a list, H hours after the base
            history.unlisted.push_back(at(text.section(' ', 1, 1).toDouble()));
            text = text.section(" | ", 1);
        }
        rows.push_back(runOf(text, int(k)));
    }
    history.destination = pair(pairN).destination;
    history.mirror = &mirrorTree;
    for (const RowRun& r : rows)
        history.runs.push_back({&r.list, r.dated ? &*r.dated : nullptr});

    const Result<restore::Moment> moment = restore::momentAt(history, at(when));
    if (expected.startsWith('!')) {
        QVERIFY(!moment.ok());
        QVERIFY2(moment.error().contains(expected.mid(1)), qPrintable(moment.error()));
    } else {
        QVERIFY2(moment.ok(), qPrintable(moment.error()));
        QStringList seen;
        moment.value().forEach([&](const RelativePath& path, EntryKind kind, const restore::Place& place) {
            seen << path.join('/') + (kind == EntryKind::Folder ? "/" : "") + '@' +
                        (place.run < 0 ? QString("m") : QString::number(place.run));
            const Tree& tree = place.run < 0 ? mirrorTree : *rows[std::size_t(place.run)].dated;
            QCOMPARE(moment.value().find(path), std::optional(place));
            QVERIFY(place.entry >= 0 && tree.at(place.entry).kind == kind);
        });
        QCOMPARE(seen.join(' '), expected);
    }
    const restore::Reach r = restore::reachOf(history);
    static const char* limits[] = {"None", "MissingList", "RefusedList", "OlderRuns", "NoVersions", "NoLists"};
    const QString got = QString("%1@%2").arg(limits[int(r.limit)]).arg(
        r.oldest.isValid() ? QString::number(kBase.secsTo(r.oldest) / 3600 - 1) : "-");
    QCOMPARE(got, reach);
}

namespace {

const QString kRoot = "R:\\BKPQORL\\PC_u";

// Under \a host, a blank between entries ("~" a blank within a name): "d/" a folder, "p=text" a file ("=#3" 3 MiB),
// "p->T" a link to T ("OUT": the folder outside every drive).
void plant(const QString& host, const QString& spec, const QString& outside)
{
    for (const QString& word : spec.split(' ', Qt::SkipEmptyParts)) {
        const QString path = host + '/' + word.section(QRegularExpression("=|->"), 0, 0).replace('~', ' ');
        QDir().mkpath(word.endsWith('/') ? path : QFileInfo(path).path());
        if (word.contains("->")) {
            const QString to = word.section("->", 1);
            QVERIFY(QFile::link(to == "OUT" ? outside : to, path));
        } else if (word.contains('=')) {
            const QString text = word.section('=', 1);
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(text.startsWith('#') ? QByteArray(text.mid(1).toInt() << 20, 'x') : text.toUtf8());
        }
    }
}

// The two runs of a history by hand: the first added Documenti\a.txt, the
// second replaced it, its old content in its dated folder. Among \a options:
// "gone" the second names a list that is not there, "days0" it kept no
// versions, "large" its list is long, "cut" its summary is cut short;
// "killed" a third run added Documenti\b.txt and never ended; "older" a
// dated folder without a list came before them all.
void writeHistory(test::TempDrives& drives, const QString& options)
{
    const ListedPair documents{1, "C:\\Documenti", kRoot + "\\Documenti", "Documenti", {}};
    // What the first run added is known by its size and time.
    const QDateTime added(QDate(2026, 3, 27), QTime(19, 40));
    const auto ns = [](const QDateTime& t) { return t.toMSecsSinceEpoch() * 1'000'000; };
    const int runs = options.contains("killed") ? 3 : 2;
    for (int k = 0; k < runs; ++k) {
        const QDateTime start(QDate(2026, 3, 27 + k), QTime(19, 30));
        const QString dated = kRoot + "\\Versioni precedenti\\" + start.toString("yyyy-MM-dd HH.mm.ss");
        drives.makeDir(dated);
        RunListWriter list(dated);
        const QString previous = k == 0 ? "" : k == 1 && options.contains("gone") ? "gone" : QString("r%1").arg(k - 1);
        const int days = k == 1 && options.contains("days0") ? 0 : 30;
        QVERIFY(list.begin({kRunListFormat, QString("r%1").arg(k), start, previous, days, {documents}}).ok());
        if (k == 0) {
            QVERIFY(list.add({1, {{ListedChange::Kind::Added, {}, {}, EntryKind::Folder, 0, 0},
                                  {ListedChange::Kind::Added, {"a.txt"}, {}, EntryKind::File, 3, ns(added)}}}).ok());
        } else if (k == 1) {
            QFile old(drives.writeFile(dated + "\\Documenti\\a.txt", "old"));
            QVERIFY(old.open(QIODevice::ReadWrite) && old.setFileTime(added, QFileDevice::FileModificationTime));
            RunBlock many{1, {}};
            for (int n = 0; options.contains("large") && n < 4000; ++n)
                many.changes.push_back({ListedChange::Kind::Added, {QString("x%1.txt").arg(n)}, {}, EntryKind::File, 1, 1});
            QVERIFY(many.changes.empty() || list.add(many).ok());
        } else {
            const QDateTime made = start.addSecs(600);
            QFile b(drives.writeFile(kRoot + "\\Documenti\\b.txt", "b"));
            QVERIFY(b.open(QIODevice::ReadWrite) && b.setFileTime(made, QFileDevice::FileModificationTime));
            QVERIFY(list.add({1, {{ListedChange::Kind::Added, {"b.txt"}, {}, EntryKind::File, 1, ns(made)}}}).ok());
            continue;
        }
        QVERIFY(list.end({versions::RunOutcome::Completed, start, start.addSecs(1800), 1 - k, k, 0}).ok());
        if (k == 1 && options.contains("cut"))
            QVERIFY(QFile::resize(drives.host(list.path()), QFileInfo(drives.host(list.path())).size() - 5));
    }
    if (options.contains("older"))
        drives.makeDir(kRoot + "\\Versioni precedenti\\2026-03-26 19.30.00");
}

// The index of Documenti, entries between commas: "p:TEXT" a file of the mirror, its time
// the mirror's ("p:TEXT:late" an hour off), "STAMP/p:TEXT" one of the dated folder STAMP
// ("STAMP/p:TEXT:damaged" marked so); each TEXT's size and fingerprint, whatever the file holds.
void writeIndex(test::TempDrives& drives, const QString& spec)
{
    const QString destination = kRoot + "\\Documenti";
    index::IndexWriter writer(index::fileFor(kRoot, destination), destination);
    QList<index::VersionEntry> versions;
    for (const QString& item : spec.split(',', Qt::SkipEmptyParts)) {
        const QStringList f = item.split(':');
        const QByteArray text = f[1].toUtf8();
        const auto print = platform::fingerprintOf(text.constData(), std::size_t(text.size()));
        if (f[0].contains('/')) {
            versions.push_back({f[0].section('/', 0, 0), pathField(pathOf(f[0].section('/', 1))), text.size(), print, 0,
                                f.value(2) == "damaged" ? index::Mark::Damaged : index::Mark::None});
            continue;
        }
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(drives.host(destination + "\\" + f[0])).constData(), &st), 0);
        const qint64 ns = st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec + (f.value(2) == "late" ? 3600'000'000'000LL : 0);
        QVERIFY(writer.add(index::Entry{pathField(pathOf(f[0])), text.size(), ns, print}).ok());
    }
    for (const index::VersionEntry& v : versions)
        QVERIFY(writer.add(v).ok());
    QVERIFY(writer.commit().ok());
}

// Names, sizes and contents of every file below a host folder, links as they are.
QStringList filesBelow(const QString& host)
{
    QStringList seen;
    for (const QString& name : test::treeOf(host)) {
        const QFileInfo i(host + '/' + name);
        QFile f(i.filePath());
        seen << name + (i.isSymLink() ? "->" + i.symLinkTarget()
                        : i.isFile() && f.open(QIODevice::ReadOnly) ? "=" + QString::number(qHash(f.readAll()))
                                                                    : QString());
    }
    return seen;
}

} // namespace

void TestRestore::restoreOnDisk_data()
{
    QTest::addColumn<QString>("share");  // below the computer's folder (see plant)
    QTest::addColumn<QString>("local");  // below C:
    QTest::addColumn<QString>("options"); // "percorso=P;dest=D;al=DATA;prova;lock;stop;history;torn;record;indice=I",
                                          // "elenco" or "versioni=P" instead of a restore; for history see
                                          // writeHistory, for I writeIndex
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("after");  // below C: "p=text" there, "!p" not there
    QTest::addColumn<QString>("said");   // parts of the report or the refusal, "|" between; in order for a
                                         // listing, which is followed by "al M: " and the dry restore at each M

    const QString stamp = "~(ripristino~2026-03-28~20.00.00)"; // "~": a blank within a name
    // clang-format off
    QTest::newRow("in place, a lost folder comes back")
        << "Documenti/P/p.txt=p Documenti/P/s/q.txt=q Documenti/o.txt=o" << "Documenti/o.txt=mine" << "percorso=documenti\\P"
        << 0 << "Documenti/P/p.txt=p Documenti/P/s/q.txt=q Documenti/o.txt=mine" << "scritti 2 file";
    QTest::newRow("a file changed since stays, the backup's beside it")
        << "Documenti/a.txt=backup Documenti/b.txt=b" << "Documenti/a.txt=mine Documenti/a" + stamp + ".txt=taken" << "percorso=Documenti\\a.txt;record"
        << 0 << "Documenti/a.txt=mine Documenti/a" + stamp + ".txt=taken Documenti/a" + stamp + "~(2).txt=backup !Documenti/b.txt"
        << "Messi accanto a ciò che c'era (1)|1 accanto";
    QTest::newRow("a file where the backup has a folder") << "Documenti/x/in.txt=i" << "Documenti/x=file" << "percorso=Documenti\\x;record"
        << 0 << "Documenti/x=file Documenti/x" + stamp + "/in.txt=i" << "1 accanto";
    QTest::newRow("a whole pair over a lived-in folder") << "Documenti/a.txt=a" << "Documenti/mine.txt=m" << ""
        << 2 << "Documenti/mine.txt=m !Documenti/a.txt" << "non è vuota|--percorso|--destinazione";
    QTest::newRow("whole, into a folder of choice") << "Documenti/a.txt=a Preferiti/f.url=f" << "Documenti/mine.txt=m" << "dest=C:\\Rip"
        << 0 << "Rip/Documenti/a.txt=a Rip/Preferiti/f.url=f !Rip/Outlook" << "Totale: scritti 2 file";
    QTest::newRow("a destination on R: however spelt") << "Documenti/a.txt=a" << "" << "dest=R:\\BKPQORL\\..\\altrove"
        << 2 << "" << "sull'unità R:";
    QTest::newRow("a dry run writes nothing") << "Documenti/a.txt=a Documenti/d/b.txt=bb" << "Documenti/a.txt=other" << "percorso=Documenti;prova;dest=C:\\Rip"
        << 0 << "Documenti/a.txt=other !Rip" << "da scrivere 2 file (3,00 byte)";
    QTest::newRow("before the first backup") << "Documenti/a.txt=new" << "" << "dest=C:\\Rip;al=2026-03-20;history"
        << 2 << "!Rip" << "precedente alla prima esecuzione|--al \"2026-03-27 19:30:00\"";
    QTest::newRow("a moment before the record, no lists") << "Documenti/a.txt=a" << "" << "dest=C:\\Rip;al=2026-03-27;record"
        << 2 << "!Rip" << "non si può ricostruire|--al \"2026-03-28 20:00:00\"";
    QTest::newRow("a torn list is named") << "Documenti/a.txt=a" << "" << "dest=C:\\Rip;al=2026-03-27;record;torn"
        << 2 << "!Rip" << "l'elenco in «R:\\BKPQORL\\PC_u\\Versioni precedenti\\2026-03-28 19.30.00» non si legge";
    QTest::newRow("while a backup holds the lock") << "Documenti/a.txt=a" << "" << "dest=C:\\Rip;lock"
        << 2 << "!Rip" << "Un backup di questo computer è in corso|Il ripristino non è stato avviato";
    // A link into the system's folders, to a small one: a restore that followed it copies little.
    QTest::newRow("planted: links and a name with a backslash")
        << "Documenti/ok.txt=ok Documenti/skel->/etc/skel Documenti/fuori->OUT Documenti/a\\b.txt=x" << "" << "dest=C:\\Rip"
        << 1 << "Rip/Documenti/ok.txt=ok !Rip/Documenti/skel !Rip/Documenti/fuori"
        << "Documenti\\skel: collegamento|Documenti\\fuori: collegamento|Documenti\\a\\b.txt: ";
    // What the index knows is read back before it takes its name; the rest is written as it is.
    QTest::newRow("a damaged file of the mirror: the whole version before it named")
        << "Documenti/a.txt=newer Documenti/b.txt=b Documenti/c.txt=c" << "" << "dest=C:\\Rip;history;indice=a.txt:NEWER,b.txt:x:late,c.txt:c,2026-03-28 19.30.00/a.txt:old"
        << 1 << "Rip/Documenti/b.txt=b Rip/Documenti/c.txt=c !Rip/Documenti/a.txt"
        << "Danneggiati nel backup: 1 file|Documenti\\a.txt: danneggiato nel backup|la versione integra più recente è quella tolta o "
           "sostituita dal backup del 2026-03-28 19:30:00 (--al \"2026-03-28 19:29:59\" --percorso \"Documenti\\a.txt\")";
    QTest::newRow("a damaged version, and none whole before it") << "Documenti/a.txt=newer" << ""
        << "dest=C:\\Rip;al=2026-03-28 19:29;history;indice=a.txt:newer,2026-03-28 19.30.00/a.txt:OLD"
        << 1 << "Rip/Documenti/ !Rip/Documenti/a.txt" << "Documenti\\a.txt: danneggiato nel backup|nessuna versione precedente integra";
    QTest::newRow("a version marked damaged is not named whole") << "Documenti/a.txt=newer" << ""
        << "percorso=Documenti\\a.txt;dest=C:\\Rip;history;indice=a.txt:NEWER,2026-03-28 19.30.00/a.txt:old:damaged"
        << 1 << "!Rip/Documenti/a.txt" << "danneggiato nel backup|nessuna versione precedente integra";
    QTest::newRow("stopped within a chunk") << "Documenti/big.bin=#3" << "" << "dest=C:\\Rip;stop"
        << 3 << "Rip/Documenti/ !Rip/Documenti/big.bin" << "interrotto";
    // What a listing names, --al takes back as it is; no lock is taken, so a backup going on does not keep it out.
    QTest::newRow("moments newest first, each given back") << "Documenti/a.txt=newer" << "" << "elenco;history;large;lock"
        << 0 << "!Rip" << "Momenti del backup in R:\\BKPQORL\\PC_u, dal più recente:\n  2026-03-28 20:00:00  completata: aggiunti 0, sostituiti 1, tolti 0\n"
                          "  2026-03-27 20:00:00  completata: aggiunti 1, sostituiti 0, tolti 0\nIl momento più vecchio che si può ripristinare: 2026-03-27 19:30:00\n"
                          "|al 2026-03-28 20:00:00: Totale: da scrivere 1 file (5,00 byte)|al 2026-03-27 20:00:00: Totale: da scrivere 1 file (3,00 byte)";
    QTest::newRow("a run never ended, and older runs first: the oldest last") << "Documenti/a.txt=newer" << "" << "elenco;history;killed;older"
        << 0 << "!Rip" << "  (iniziata il 2026-03-29 19:30:00)  non terminata|  2026-03-28 20:00:00  completata|  2026-03-27 20:00:00  completata"
                          "|Il momento più vecchio che si può ripristinare: 2026-03-27 20:00:00"
                          "|al 2026-03-28 20:00:00: Totale: da scrivere 1 file (5,00 byte)|al 2026-03-27 20:00:00: Totale: da scrivere 1 file (3,00 byte)";
    QTest::newRow("a list gone stops the way back") << "Documenti/a.txt=newer" << "" << "elenco;history;gone"
        << 0 << "!Rip" << "Il momento più vecchio che si può ripristinare: 2026-03-28 20:00:00|al 2026-03-28 20:00:00: Totale|al 2026-03-27 20:00:00: il backup";
    QTest::newRow("a run that kept no versions") << "Documenti/a.txt=newer" << "" << "elenco;history;days0;large"
        << 0 << "!Rip" << "Il momento più vecchio che si può ripristinare: 2026-03-28 20:00:00|al 2026-03-27 20:00:00: il backup al 27/03/2026 20:00:00 non si può ricostruire";
    QTest::newRow("a list that does not read: only the present") << "Documenti/a.txt=newer" << "" << "elenco;history;torn"
        << 0 << "!Rip" << "  2026-03-27 20:00:00  completata|Si può ripristinare solo il backup com'è ora.|al 2026-03-27 20:00:00: il backup";
    QTest::newRow("the summary of a long list cut short") << "Documenti/a.txt=newer" << "" << "elenco;history;large;cut"
        << 0 << "!Rip" << "  (iniziata il 2026-03-28 19:30:00)  non terminata|  2026-03-27 20:00:00  completata|Il momento più vecchio che si può ripristinare: 2026-03-27 19:30:00"
                          "|al 2026-03-27 20:00:00: Totale: da scrivere 1 file (3,00 byte)";
    QTest::newRow("no lists: the record's moment alone") << "Documenti/a.txt=a" << "" << "elenco;record"
        << 0 << "!Rip" << "  2026-03-28 20:00:00  ultimo backup registrato|Il momento più vecchio che si può ripristinare: 2026-03-28 20:00:00"
                          "|al 2026-03-28 20:00:00: Totale: da scrivere 1 file (1,00 byte)";
    QTest::newRow("every content of a file, then the present") << "Documenti/a.txt=newer" << "" << "versioni=documenti\\a.txt;history"
        << 0 << "!Rip" << "Versioni di documenti\\a.txt:\n  tolto o sostituito dal backup del 2026-03-28 19:30:00: 3,00 byte, modificato il 27/03/2026 19:40:00\n"
                          "  copia attuale: 5,00 byte, modificato il ";
    QTest::newRow("versions of a path not in the backup") << "Documenti/a.txt=a" << "" << "versioni=Altro\\a.txt;history"
        << 2 << "!Rip" << "«Altro\\a.txt» non è un file di una cartella del backup di R:\\BKPQORL\\PC_u.";
    QTest::newRow("versions of a file never backed up") << "Documenti/a.txt=a" << "" << "versioni=Documenti\\b.txt;history"
        << 2 << "!Rip" << "il backup non tiene nessuna versione di «Documenti\\b.txt»";
    // clang-format on
}

void TestRestore::restoreOnDisk()
{
    QFETCH(QString, share);
    QFETCH(QString, local);
    QFETCH(QString, options);
    QFETCH(int, status);
    QFETCH(QString, after);
    QFETCH(QString, said);

    test::TempDrives drives;
    QTemporaryDir outside;
    plant(outside.path(), "keep.txt=k", {});
    drives.makeDir(kRoot);
    plant(drives.host(kRoot), share, outside.path());
    plant(drives.root('c'), local, {});
    restore::Request request{"PC", "u", {}, {}, {}, false};
    QString versionsOf;
    for (const QString& option : options.split(';', Qt::SkipEmptyParts)) {
        const QString key = option.section('=', 0, 0), value = option.section('=', 1);
        if (key == "percorso")
            request.path = value;
        else if (key == "dest")
            request.destination = value;
        else if (key == "al")
            request.when = restore::parseMoment(value);
        else if (key == "versioni")
            versionsOf = value;
        request.dryRun = request.dryRun || key == "prova";
    }
    const bool listing = options.contains("elenco") || !versionsOf.isEmpty();
    if (options.contains("history"))
        writeHistory(drives, options);
    if (const qsizetype i = options.indexOf("indice="); i >= 0)
        writeIndex(drives, options.mid(i + 7).section(';', 0, 0));
    if (options.contains("record"))
        drives.writeFile(kRoot + "\\archivon.log",
                         "Archivon 1.0: registro del backup\nInizio: 2026-03-28 19:30:00\nFine: 2026-03-28 20:00:00\n");
    if (options.contains("torn"))
        drives.writeFile(kRoot + "\\Versioni precedenti\\2026-03-28 19.30.00\\.archivon-elenco", "archivon-elenco\t1\nese");
    const QStringList shareBefore = filesBelow(drives.root('r'));
    const QStringList outsideBefore = filesBelow(outside.path());
    RunLock held;
    if (options.contains("lock"))
        QCOMPARE(held.acquire(kRoot, "PC", "u", QDateTime::currentDateTime()).result, RunLock::Result::Taken);
    std::atomic<bool> stop{false};
    restore::Progress progress{true, [&](const QString&) { stop = options.contains("stop"); }};

    const restore::Outcome o = options.contains("elenco") ? restore::listMoments(request)
                               : listing ? restore::listVersions({"PC", "u", {}, versionsOf, {}, false})
                                         : restore::runRestore(request, progress, &stop);
    QString text = o.report + o.error;
    QVERIFY2(o.status == status, qPrintable(QString::number(o.status) + ": " + text));
    // Each moment listed, given to --al as it is written.
    static const QRegularExpression moment("^  (\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d)  ",
                                           QRegularExpression::MultilineOption);
    for (auto it = moment.globalMatch(o.report); options.contains("elenco") && it.hasNext();) {
        const QString when = it.next().captured(1);
        const restore::Outcome at = restore::runRestore({"PC", "u", restore::parseMoment(when), {}, "C:\\Rip", true});
        const QString total = at.report.mid(at.report.indexOf("Totale:")).section('\n', 0, 0);
        text += "\nal " + when + ": " + (at.status == 0 ? total : at.error);
    }
    qsizetype from = 0;
    for (const QString& part : said.split('|', Qt::SkipEmptyParts)) {
        const qsizetype found = text.indexOf(part, listing ? from : 0);
        QVERIFY2(found >= 0, qPrintable(part + " in:\n" + text));
        from = found + part.size();
    }
    for (QString word : after.split(' ', Qt::SkipEmptyParts)) {
        word.replace('~', ' ');
        const QString host = drives.root('c') + '/' + word.section('=', 0, 0).remove(QRegularExpression("^!"));
        QVERIFY2(QFileInfo(host).exists() != word.startsWith('!'), qPrintable(word));
        if (word.contains('='))
            QCOMPARE(QString::fromUtf8(drives.readFile("C:\\" + word.section('=', 0, 0).replace('/', '\\'))),
                     word.section('=', 1));
    }
    // Nothing but the lock came and went on R:, nothing outside changed, no
    // temporary is left, and a dry run leaves no record.
    held.release();
    QCOMPARE(filesBelow(drives.root('r')), shareBefore);
    QCOMPARE(filesBelow(outside.path()), outsideBefore);
    QVERIFY(!filesBelow(drives.root('c')).join(' ').contains(".~archivon"));
    QCOMPARE(o.logPath.isEmpty(), request.dryRun || listing);
    // The reach a run records, read from the ends of the lists, is the one
    // the restore finds reading them whole.
    const auto backup = restore::readBackup(kRoot, defaultPlan("PC", "u"));
    QVERIFY(backup.ok());
    const Reach whole = reachOf(backup.value().history()), ends = reachOfBackup(kRoot);
    QCOMPARE(ends.oldest, whole.oldest);
    QCOMPARE(int(ends.limit), int(whole.limit));
    QCOMPARE(ends.why, whole.why);
}

QTEST_GUILESS_MAIN(TestRestore)
#include "tst_restore.moc"
