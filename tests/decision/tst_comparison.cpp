// What an update in place decides, from the walk of the source and the listing
// of the backup alone: no disk.
#include "decision/comparison.h"
#include "decision/leftovers.h"
#include "decision/versioned.h"
#include "versions/room.h"
#include "versions/versions.h"

#include <QtTest>

#include <cerrno>

using namespace archivon;

namespace {

// "d/b.txt:size:seconds:mode", each part after the name optional; "d/" is a
// folder. A first "~" marks a folder the walk could not list, "%" one gone before
// it was listed, "?" one it listed in part, "!" a backup folder not listed to its end,
// "*" a backup file its index marks damaged.
struct Spec
{
    QChar mark;
    QString parent; // "\d", as the walk gives folders below the root
    QString name;
    bool folder;
    ScannedFile file;
};

Spec parse(QString text)
{
    Spec s;
    if (QStringLiteral("~%?!*").contains(text.front())) {
        s.mark = text.front();
        text.remove(0, 1);
    }
    const QStringList parts = text.split(':');
    QString path = parts[0];
    s.folder = path.endsWith('/');
    if (s.folder)
        path.chop(1);
    const int slash = path.lastIndexOf('/');
    s.parent = slash < 0 ? QString() : '\\' + path.left(slash).replace('/', '\\');
    s.name = path.mid(slash + 1);
    s.file = {s.name, parts.value(1, "1").toLongLong(),
              qint64(parts.value(2, "1000").toDouble() * 1e9),
              parts.value(3, "644").toUInt(nullptr, 8)};
    return s;
}

TreeScan walk(const QStringList& source)
{
    TreeScan scan;
    scan.folders.append(ScannedFolder{});
    scan.folders[0].path = "C:\\s1";
    for (const QString& text : source) {
        const Spec s = parse(text);
        const auto parent =
            std::find_if(scan.folders.begin(), scan.folders.end(),
                         [&](const ScannedFolder& f) { return f.relative == s.parent; });
        if (!s.folder) {
            parent->files.append(s.file);
            continue;
        }
        ScannedFolder folder;
        folder.path = parent->path + '\\' + s.name;
        folder.relative = s.parent + '\\' + s.name;
        folder.parent = int(parent - scan.folders.begin());
        folder.listed = s.mark != '~' && s.mark != '%';
        folder.listing = s.mark == '~'   ? Status::fromErrno(EACCES)
                         : s.mark == '%' ? Status::fromErrno(ENOENT)
                         : s.mark == '?' ? Status::failure("errore di lettura")
                                         : Status();
        scan.folders.append(folder);
    }
    return scan;
}

// The backup as the update lists it: only the folders of the walk, under the
// walk's spelling where the destination folds case. "-": no backup yet.
BackupListing listing(const TreeScan& scan, const QStringList& backup, bool folds)
{
    const auto key = [folds](const QString& path) { return folds ? path.toCaseFolded() : path; };
    QHash<QString, QHash<QString, BackupListing::Entry>> byFolder;
    QStringList folders, incomplete; // by their path below the root
    for (const QString& text : backup.filter(QRegularExpression("^[^-]"))) {
        const Spec s = parse(text);
        byFolder[key(s.parent)].insert(s.name, {s.folder ? platform::Directory : platform::Archive,
                                           s.file.size, s.file.modifiedNs, s.file.mode, false});
        if (s.folder)
            (s.mark == '!' ? incomplete : folders) << key(s.parent + '\\' + s.name);
    }
    BackupListing listed{.root = "R:\\BK\\d1"};
    listed.folders.resize(scan.folders.size());
    for (qsizetype j = 0; j < scan.folders.size(); ++j) {
        const ScannedFolder& f = scan.folders.at(j);
        BackupListing::Folder& there = listed.folders[j];
        there.present = j == 0 ? !backup.contains("-")
                               : listed.folders[f.parent].present &&
                                     (folders + incomplete).contains(key(f.relative));
        there.entries = there.present ? byFolder.value(key(f.relative)) : there.entries;
        there.error = incomplete.contains(key(f.relative)) ? "errore di lettura" : "";
    }
    return listed;
}

QString text(const Change& c, const TreeScan& scan)
{
    static const QStringList kinds{"keep",  "copy", "replace",     "folder",
                                   "aside", "case", "not carried", "remove"};
    const ScannedFolder& f = scan.folders.at(c.folder);
    QString what =
        c.file >= 0 ? (f.relative + '\\' + f.files.at(c.file).name).mid(1) : f.relative.mid(1);
    if (c.kind == Change::Kind::NotCarried)
        what = c.path + ": " + c.reason;
    else if (c.kind == Change::Kind::Remove || c.kind == Change::Kind::FixCase)
        what = c.path.mid(QStringLiteral("R:\\BK\\d1\\").size()) +
               (c.kind == Change::Kind::FixCase ? " > " + what + (c.twoSteps ? " in two steps" : "") : "");
    return kinds.at(int(c.kind)) + ' ' + what;
}

const QString kNotUpdated = ": non aggiornato, resta la copia precedente";
const QString kSame = ": non copiato: sulla destinazione ha lo stesso nome di «%1» (maiuscole e minuscole non si distinguono)";
const QString kRefused = ": non copiato: %1, che la destinazione non %2";

} // namespace

class TestComparison : public QObject
{
    Q_OBJECT

private slots:
    // The changes in the order they are made: folders, then folder by folder what
    // cannot be carried and each file, then the removals; where the destination
    // folds case and refuses Windows names, those of "folded" (none listed: the same).
    // What a killed update set aside ("^", the first in its place) goes back first.
    void decides_data()
    {
        QTest::addColumn<QStringList>("source");
        QTest::addColumn<QStringList>("backup");
        QTest::addColumn<QString>(
            "keeps"); // times to the nanosecond with modes; "s", "2s": no modes
        QTest::addColumn<QStringList>("changes");
        QTest::addColumn<QStringList>("folded");
        // clang-format off
        QTest::newRow("unchanged") << QStringList{"a.txt", "d/", "d/b.txt"} << QStringList{"a.txt", "d/", "d/b.txt"} << "ns" << QStringList{"keep a.txt", "keep d\\b.txt"} << QStringList{};
        QTest::newRow("another size or mode, same time") << QStringList{"a.txt:2", "b.txt:1:1000:600"} << QStringList{"a.txt:1", "b.txt"} << "ns" << QStringList{"replace a.txt", "replace b.txt"} << QStringList{};
        QTest::newRow("new file and folder, no backup yet") << QStringList{"a.txt", "n/", "n/b.txt"} << QStringList{"-"} << "ns" << QStringList{"folder n", "copy a.txt", "copy n\\b.txt"} << QStringList{};
        QTest::newRow("what the source lost goes, last") << QStringList{"a.txt:2"} << QStringList{"a.txt", "A.TXT", "via.txt", "v/", "v/x"} << "ns" << QStringList{"replace a.txt", "remove A.TXT", "remove v", "remove via.txt"} << QStringList{"replace a.txt", "remove v", "remove via.txt"};
        QTest::newRow("a changed mode, where none is kept") << QStringList{"a.txt:1:1000:600"} << QStringList{"a.txt"} << "s" << QStringList{"keep a.txt"} << QStringList{};
        QTest::newRow("a second later, kept to the nanosecond") << QStringList{"a.txt:1:1001"} << QStringList{"a.txt"} << "ns" << QStringList{"replace a.txt"} << QStringList{};
        QTest::newRow("a second later, kept to the second") << QStringList{"a.txt:1:1001"} << QStringList{"a.txt"} << "s" << QStringList{"replace a.txt"} << QStringList{};
        QTest::newRow("a copy its index marks damaged is copied again") << QStringList{"d/", "d/a.txt", "d/b.txt"} << QStringList{"d/", "*d/a.txt", "d/b.txt"} << "ns" << QStringList{"replace d\\a.txt", "keep d\\b.txt"} << QStringList{};
        QTest::newRow("a second later, kept to two seconds") << QStringList{"a.txt:1:1001"} << QStringList{"a.txt"} << "2s" << QStringList{"keep a.txt"} << QStringList{};
        QTest::newRow("less than a second, kept to the second") << QStringList{"a.txt:1:1000.4"} << QStringList{"a.txt"} << "s" << QStringList{"keep a.txt"} << QStringList{};
        QTest::newRow("a file became a folder, a folder a file") << QStringList{"t/", "t/x.txt", "b"} << QStringList{"t", "b/", "b/x"} << "ns" << QStringList{"aside t", "aside b", "copy t\\x.txt"} << QStringList{};
        QTest::newRow("renamed in case") << QStringList{"Report.txt:2", "Lettere/", "Lettere/c.txt"} << QStringList{"report.txt", "lettere/", "lettere/c.txt"} << "ns" << QStringList{"folder Lettere", "copy Report.txt", "copy Lettere\\c.txt", "remove lettere", "remove report.txt"}
            << QStringList{"case lettere > Lettere", "case report.txt > Report.txt", "replace Report.txt", "keep Lettere\\c.txt"};
        QTest::newRow("renamed in case, two spellings in the backup") << QStringList{"Report.txt"} << QStringList{"report.txt", "REPORT.txt"} << "ns" << QStringList{"copy Report.txt", "remove REPORT.txt", "remove report.txt"}
            << QStringList{"case REPORT.txt > Report.txt in two steps", "keep Report.txt"};
        QTest::newRow("two names differing only in case") << QStringList{"NOTA.txt", "nota.txt:2", "b.txt", "B.txt", "D/", "D/x", "d/", "d/y"} << QStringList{"nota.txt:2"} << "ns"
            << QStringList{"folder D", "folder d", "copy NOTA.txt", "keep nota.txt", "copy b.txt", "copy B.txt", "copy D\\x", "copy d\\y"}
            << QStringList{"folder D", "not carried C:\\s1\\NOTA.txt" + kSame.arg("nota.txt"), "not carried C:\\s1\\b.txt" + kSame.arg("B.txt"), "not carried C:\\s1\\d" + kSame.arg("D"), "keep nota.txt", "copy B.txt", "copy D\\x"};
        QTest::newRow("names a Windows share refuses") << QStringList{"x*.txt", "aux.txt", "ok.txt", "punto./", "punto./x"} << QStringList{"aux.txt"} << "ns" << QStringList{"folder punto.", "copy x*.txt", "keep aux.txt", "copy ok.txt", "copy punto.\\x"}
            << QStringList{"not carried C:\\s1\\x*.txt" + kRefused.arg("il nome contiene «*»", "accetta"), "not carried C:\\s1\\aux.txt" + kRefused.arg("«aux» è il nome di un dispositivo di Windows", "accetta"), "not carried C:\\s1\\punto." + kRefused.arg("il nome finisce con un punto", "conserva"), "copy ok.txt"};
        QTest::newRow("a folder the walk could not list") << QStringList{"~d/"} << QStringList{"d/", "d/x"} << "ns" << QStringList{"not carried C:\\s1\\d: impossibile leggere (accesso negato)" + kNotUpdated} << QStringList{};
        QTest::newRow("a folder gone before the walk listed it") << QStringList{"%d/"} << QStringList{"d/", "d/x"} << "ns" << QStringList{"not carried C:\\s1\\d: file o cartella inesistente"} << QStringList{};
        QTest::newRow("a new folder the walk could not list") << QStringList{"~d/"} << QStringList{} << "ns" << QStringList{"folder d", "not carried C:\\s1\\d: accesso negato"} << QStringList{};
        QTest::newRow("a folder the walk listed in part") << QStringList{"?d/", "d/n"} << QStringList{"d/", "d/x"} << "ns" << QStringList{"copy d\\n", "not carried C:\\s1\\d: impossibile leggere (errore di lettura)" + kNotUpdated} << QStringList{};
        QTest::newRow("set aside: a file goes back") << QStringList{"d/", "d/a.txt"} << QStringList{"d/", "^d/a.txt"} << "ns" << QStringList{"keep d\\a.txt"} << QStringList{};
        QTest::newRow("set aside: a folder goes back with all it holds") << QStringList{"d/", "d/e/", "d/e/x", "f/", "f/y"} << QStringList{"f/", "f/y", "^d/", "^d/e/", "^d/e/x"} << "ns" << QStringList{"keep d\\e\\x", "keep f\\y"} << QStringList{};
        QTest::newRow("set aside: a folder under another case") << QStringList{"D/", "D/x"} << QStringList{"^d/", "^d/x"} << "ns" << QStringList{"folder D", "copy D\\x", "remove d"} << QStringList{"case d > D", "keep D\\x"};
        QTest::newRow("a backup folder not listed to its end") << QStringList{"d/", "d/a", "d/b:2", "d/n", "d/s/", "d/t/", "d/t/y"} << QStringList{"!d/", "d/a", "d/b", "d/x", "d/t"} << "ns"
            << QStringList{"folder d\\s", "not carried R:\\BK\\d1\\d: impossibile leggere (errore di lettura)" + kNotUpdated, "keep d\\a"} << QStringList{};
        // clang-format on
    }
    void decides()
    {
        QFETCH(QStringList, source);
        QFETCH(QStringList, backup);
        QFETCH(QString, keeps);
        QFETCH(QStringList, changes);
        const TreeScan scan = walk(source);
        const platform::Keeps kept =
            keeps == "ns" ? platform::Keeps{1, true}
                          : platform::Keeps{keeps == "s" ? 1000000000 : 2000000000, false};
        QFETCH(QStringList, folded);
        const QStringList aside = backup.filter(QRegularExpression("^\\^"));
        const QStringList before = backup.filter(QRegularExpression("^[^^]"));
        for (const bool folds : {false, true}) {
            BackupListing listed = listing(scan, before, folds);
            if (!aside.isEmpty()) {
                const BackupListing whole = listing(scan, QStringList(backup).replaceInStrings("^", ""), folds);
                const Spec s = parse(aside.first().mid(1));
                putBackInListing(listed, scan, {folds, folds}, "R:\\BK\\d1" + s.parent + '\\' + s.name,
                                 {s.folder ? platform::Directory : platform::Archive, s.file.size, s.file.modifiedNs, s.file.mode},
                                 [&](qsizetype k) {
                                     BackupListing below;
                                     for (const qsizetype j : foldersUnder(scan, k))
                                         below.folders.push_back(whole.folders[j]);
                                     return below;
                                 });
            }
            QSet<QString> damaged;
            for (const QString& marked : backup.filter(QRegularExpression("^\\*"))) {
                const Spec s = parse(marked);
                damaged.insert(s.parent + '\\' + s.name);
            }
            QStringList decided;
            for (const Change& c : compareWithBackup(scan, listed, kept, {folds, folds}, damaged).list)
                decided << text(c, scan);
            QCOMPARE(decided, folds && !folded.isEmpty() ? folded : changes);
        }
    }

    // What a pass moves into the versions, as the run counts it: a file with the
    // size the backup holds, a folder with all it holds there (3 files, 30 bytes
    // each here), and what earlier runs left whole ("x/" a folder, "y:9" a file).
    void versioned_data()
    {
        QTest::addColumn<QStringList>("source");
        QTest::addColumn<QStringList>("backup");
        QTest::addColumn<QStringList>("whole");
        QTest::addColumn<QString>("count"); // files, bytes
        QTest::newRow("a file replaced, one removed") << QStringList{"a.txt:2"} << QStringList{"a.txt:5", "via.txt:7"} << QStringList{} << "2, 12";
        QTest::newRow("folders removed or in a file's place") << QStringList{"t", "n/"} << QStringList{"t/", "v/", "n:4"} << QStringList{} << "7, 64";
        QTest::newRow("unchanged, with what earlier runs left") << QStringList{"a.txt"} << QStringList{"a.txt"} << QStringList{"x/", "y:9"} << "4, 39";
    }
    void versioned()
    {
        QFETCH(QStringList, source);
        QFETCH(QStringList, backup);
        QFETCH(QStringList, whole);
        QFETCH(QString, count);
        const TreeScan scan = walk(source);
        QList<versions::Entry> left;
        for (const QString& w : whole)
            left.append({"R:\\BK\\" + w.section(':', 0, 0), w.endsWith('/'), w.section(':', 1).toLongLong()});
        const auto under = [](const QString& folder) { return folder.startsWith("R:\\BK\\") ? versions::Count{3, 30} : versions::Count{}; };
        const versions::Count c = versions::versionedBy(compareWithBackup(scan, listing(scan, backup, false), {1, true}), scan, "R:\\BK\\d1", left, under);
        QCOMPARE(QStringLiteral("%1, %2").arg(c.files).arg(c.bytes), count);
    }

    // Where a pair short of room finds more, in the order the run and its forecast
    // both take: the removals still going (-1: what one frees is not recorded),
    // then the oldest earlier versions; and what the forecast expects a wait to free.
    void roomSteps_data()
    {
        QTest::addColumn<qint64>("free");
        QTest::addColumn<QList<qint64>>("removals");
        QTest::addColumn<bool>("versions");
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("freed"); // "?" where it is uncertain
        using S = room::Step;
        QTest::newRow("exactly enough") << qint64(100) << QList<qint64>{5} << true << int(S::Enough) << "";
        QTest::newRow("unknown room is never short") << platform::kFreeSpaceUnknown << QList<qint64>{} << false << int(S::Enough) << "";
        QTest::newRow("short: the removals first, as recorded") << qint64(99) << QList<qint64>{20, 30} << true << int(S::WaitForRemovals) << "50";
        QTest::newRow("short: one an earlier run began") << qint64(99) << QList<qint64>{20, -1} << false << int(S::WaitForRemovals) << "20?";
        QTest::newRow("short: then the oldest version") << qint64(99) << QList<qint64>{} << true << int(S::RemoveVersion) << "";
        QTest::newRow("short, and nothing left to free") << qint64(0) << QList<qint64>{} << false << int(S::NoRoom) << "";
    }
    void roomSteps()
    {
        QFETCH(qint64, free);
        QFETCH(QList<qint64>, removals);
        QFETCH(bool, versions);
        QFETCH(int, step);
        QFETCH(QString, freed);
        room::Pending pending;
        for (const qint64 bytes : removals)
            pending.add(bytes);
        QCOMPARE(int(room::next(100, free, pending.any, versions)), step);
        if (step == int(room::Step::WaitForRemovals)) {
            const bool uncertain = pending.unknown;
            QCOMPARE(QString::number(room::waitFor(pending)) + (uncertain ? "?" : ""), freed);
            QVERIFY(!pending.any && !pending.unknown && pending.bytes == 0);
        }
    }

    // What earlier runs left beside a pair: the last complete copy goes back only
    // where nothing is under the pair's name, and never goes with the rest.
    void leftoversSorted_data()
    {
        QTest::addColumn<bool>("there");
        QTest::addColumn<QString>("sorted"); // put back | removed | old backups
        QTest::newRow("nothing under the name: the complete new copy goes back") << false << "n1 | o, n2 | v";
        QTest::newRow("the backup under the name: every copy goes") << true << " | o, n1, n2 | v";
    }
    void leftoversSorted()
    {
        QFETCH(bool, there);
        QFETCH(QString, sorted);
        const leftovers::Leftovers left{.fresh = {"n1", "n2"}, .marks = {"n1" + leftovers::kCompleteMark}, .retired = {"v"}, .other = {"o"}};
        const leftovers::Sorted s = leftovers::sortOut(left, there);
        QCOMPARE(s.putBack + " | " + s.removed.join(", ") + " | " + s.oldBackups.join(", "), sorted);
        QCOMPARE(s.marks, left.marks);
    }
};

QTEST_GUILESS_MAIN(TestComparison)
#include "tst_comparison.moc"
