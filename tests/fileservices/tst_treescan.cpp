#include "fileservices/treescan.h"
#include "platform/drives.h"
#include "support/drives.h"

#include <QSet>
#include <QtTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace archivon;

namespace {

class Recorder : public QObject, public ScanObserver
{
public:
    Recorder() { post(); }
    int starts = 0, ends = 0, yields = 0;
    QList<qint64> found, visited;
    QList<int> yieldsAtVisit;
    void started() override { ++starts; }
    void folderFound(qint64 n) override { found << n; }
    void folderVisited(qint64 k) override { visited << k, yieldsAtVisit << yields; }
    void finished() override { ++ends; }

protected:
    // Posted again on delivery, so every yield delivers it once.
    void customEvent(QEvent*) override { ++yields, post(); }

private:
    void post() { QCoreApplication::postEvent(this, new QEvent(QEvent::User)); }
};

} // namespace

class TestTreeScan : public QObject
{
    Q_OBJECT

private slots:
    void breadthFirstWithProgress()
    {
        test::TempDrives drives;
        for (const char* f : {"C:\\src\\uno.txt", "C:\\src\\due.txt", "C:\\src\\A\\C\\tre.txt"})
            drives.writeFile(f, "x");
        drives.makeDir("C:\\src\\B");
        QStringList list{"C:\\src"};
        QString Percorso = "ignored";
        Recorder seen;
        QCOMPARE(Sottocartelle(list, Percorso, &seen), 3);
        QCOMPARE(list.size(), 4);
        QCOMPARE(list.at(0), "C:\\src");
        QCOMPARE(QSet<QString>(list.begin() + 1, list.begin() + 3),
                 QSet<QString>({"C:\\src\\A", "C:\\src\\B"}));
        QCOMPARE(list.at(3), "C:\\src\\A\\C");
        QCOMPARE(Percorso, "C:\\src\\A\\C\\");
        QCOMPARE(seen.found, QList<qint64>({2, 3, 4}));
        QCOMPARE(seen.visited, QList<qint64>({1, 2, 3, 4}));
        QCOMPARE(seen.yieldsAtVisit, QList<int>({0, 1, 2, 3})); // one per folder, not per entry
        QCOMPARE(seen.yields, 4);
        QCOMPARE(seen.starts + seen.ends, 2);
    }

    void shortLists()
    {
        test::TempDrives drives;
        drives.writeFile("C:\\src\\a.txt", "a");
        QFile::setPermissions(drives.writeFile("C:\\src\\b.txt", "b"), QFile::ReadOwner);
        QStringList list{"C:\\src"};
        Recorder one;
        QCOMPARE(Sottocartelle(list, &one), 2);
        QCOMPARE(list, QStringList{"C:\\src"});
        QVERIFY(one.found.isEmpty()); // the total label keeps its caption
        QCOMPARE(one.visited, QList<qint64>{1});

        // Missing folders, and an empty entry that must not stand for the current folder.
        drives.writeFile("C:\\prog\\sub\\f.txt", "x");
        drives.writeFile("C:\\radice.txt", "x");
        QVERIFY(platform::setCurrentFolder("C:\\prog"));
        list = QStringList{"C:\\manca", "Q:\\x", QString()};
        Recorder missing;
        QCOMPARE(Sottocartelle(list, &missing), 0);
        QCOMPARE(list.size(), 3);
        QCOMPARE(missing.visited, QList<qint64>({1, 2, 3}));

        list.clear();
        Recorder none;
        QCOMPARE(Sottocartelle(list, &none), 0);
        QVERIFY(list.isEmpty() && none.visited.isEmpty());
        QCOMPARE(none.starts + none.ends, 2);
    }

    void separators_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("child");
        QTest::newRow("plain") << "C:\\src"
                               << "C:\\src\\A";
        QTest::newRow("trailing backslash") << "C:\\src\\"
                                            << "C:\\src\\A";
        QTest::newRow("doubled backslash") << "C:\\src\\\\"
                                           << "C:\\src\\A";
        QTest::newRow("drive root") << "R:\\"
                                    << "R:\\A";
        QTest::newRow("drive designator") << "R:"
                                          << "R:\\A";
    }
    void separators()
    {
        QFETCH(QString, source);
        QFETCH(QString, child);
        test::TempDrives drives;
        drives.writeFile(child + "\\f.txt", "x");
        drives.writeFile(source + "\\g.txt", "x");
        QStringList list{source};
        QString Percorso;
        QCOMPARE(Sottocartelle(list, Percorso), 2);
        QCOMPARE(list, QStringList({source, child}));
        QCOMPARE(Percorso, child + '\\');
    }

    void hiddenAndSystemLeftOut()
    {
        test::TempDrives drives;
        for (const char* f :
             {"C:\\src\\.nascosto", "C:\\src\\.cartella\\f.txt", "C:\\src\\Sub\\.x"})
            drives.writeFile(f, "h");
        const QString src = QFileInfo(drives.writeFile("C:\\src\\visibile.txt", "v")).path();
        QCOMPARE(::mkfifo(QFile::encodeName(src + "/coda").constData(), 0644), 0);
        sockaddr_un addr{AF_UNIX, {}};
        qstrncpy(addr.sun_path, QFile::encodeName(src + "/presa").constData(),
                 sizeof addr.sun_path);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(fd);
        QVERIFY(QFile::link(src + "/nessuno", src + "/pendente"));
        QVERIFY(QFile::link(src + "/visibile.txt", src + "/link.txt"));
        QStringList list{"C:\\src"};
        QCOMPARE(Sottocartelle(list), 2); // the file and the link to it
        QCOMPARE(list, QStringList({"C:\\src", "C:\\src\\Sub"}));
    }

    void eachFolderOnceAtAnyDepth()
    {
        test::TempDrives drives;
        QString deep = "C:\\src\\a";
        for (int i = 0; i < 400; ++i)
            deep += "\\d";
        const QString a = QFileInfo(drives.host("C:\\src\\a")).filePath();
        drives.writeFile(deep + "\\fondo.txt", "x");
        QVERIFY(QFile::link("..", a + "/giro"));
        QStringList list{"C:\\src"};
        QCOMPARE(Sottocartelle(list), 1);
        QCOMPARE(list.size(), 402);
        QCOMPARE(list.last(), deep);
    }
};

QTEST_GUILESS_MAIN(TestTreeScan)
#include "tst_treescan.moc"
