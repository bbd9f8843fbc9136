#include "backup/runlog.h"
#include "support/drives.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

#include <cstdio>

using namespace archivon;

namespace {

const QString kRoot = QStringLiteral("R:\\BKPQORL\\PC7_ufficio2");

// A run whose record goes to \a log: a failure, and an end stopped by the user.
// Returns what reached standard error meanwhile.
QString recordARun(RunLog& log)
{
    QTemporaryFile caught;
    caught.open();
    std::fflush(stderr);
    const int saved = ::dup(2);
    ::dup2(caught.handle(), 2);
    RunEvent e;
    e.kind = RunEvent::Kind::Failure;
    e.path = "C:\\fuori";
    log.report(e); // outside a run: no record
    e.kind = RunEvent::Kind::RunStarted;
    e.path = kRoot;
    log.report(e);
    e.kind = RunEvent::Kind::PairFinished;
    e.pair = 1;
    e.stats = {.copied = 2, .unchanged = 7, .removed = 3, .folders = 1, .bytes = 40, .milliseconds = 1500};
    log.report(e);
    e.kind = RunEvent::Kind::Failure;
    e.path = "C:\\x";
    e.detail = "accesso negato";
    log.report(e);
    e.kind = RunEvent::Kind::RunEnded;
    e.end.outcome = RunOutcome::EndedEarly;
    e.end.failures = 1;
    e.end.stoppedByUser = true;
    log.report(e);
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    caught.seek(0);
    return QString::fromLocal8Bit(caught.readAll());
}

} // namespace

// What a record holds is checked on real runs by e2e_unattended.
class TestRunLog : public QObject
{
    Q_OBJECT

private slots:
    // Only this program's logs are counted, and the oldest go first.
    void keepsTheLastThirty()
    {
        QTemporaryDir state;
        qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
        test::TempDrives drives;
        drives.makeDir(kRoot);
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

    // A record that can be written nowhere still reaches standard error whole.
    void nothingSilentlyLost()
    {
        // A file where the state folder should be: no one can make the folder, not even root.
        QTemporaryFile blocker;
        QVERIFY(blocker.open());
        qputenv("XDG_STATE_HOME", QFile::encodeName(blocker.fileName()));
        test::TempDrives drives;
        RunLog log;
        const QString text = recordARun(log);
        for (const QString& expected : {
                 QStringLiteral("archivon: impossibile creare la cartella dei registri"),
                 QStringLiteral("archivon: impossibile copiare il registro in "
                                "R:\\BKPQORL\\PC7_ufficio2\\archivon.log"),
                 QStringLiteral("archivon: Coppia 1 copiata: 2 file, 1 cartelle, 40 byte in 1.5 s; file "
                                "invariati: 7, file eliminati: 3\n"),
                 QStringLiteral("archivon: Errore: C:\\x: accesso negato\n"),
                 QStringLiteral("archivon: Interrotto dall'utente.\n"),
                 QStringLiteral("archivon: backup terminato prima della fine (errori: 1, coppie "
                                "saltate: 0); registro: non scritto\n"),
             })
            QVERIFY2(text.contains(expected), qPrintable(expected + " in:\n" + text));
    }
};

QTEST_GUILESS_MAIN(TestRunLog)
#include "tst_runlog.moc"
