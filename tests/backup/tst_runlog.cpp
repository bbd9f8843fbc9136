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

// Standard error of this process, caught in a file until text() is read.
class CaughtStderr
{
public:
    CaughtStderr() : m_saved((std::fflush(stderr), ::dup(2)))
    {
        m_file.open();
        ::dup2(m_file.handle(), 2);
    }
    ~CaughtStderr() { text(); }
    QString text()
    {
        std::fflush(stderr);
        if (m_saved >= 0) {
            ::dup2(m_saved, 2);
            ::close(std::exchange(m_saved, -1));
        }
        m_file.seek(0);
        return QString::fromLocal8Bit(m_file.readAll());
    }

private:
    QTemporaryFile m_file;
    int m_saved;
};

QString read(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

const QString kRoot = QStringLiteral("R:\\BKPQORL\\PC7_ufficio2");

RunEvent report(RunEvent::Kind kind, const QString& path = {}, const QString& detail = {})
{
    RunEvent e;
    e.kind = kind;
    e.path = path;
    e.detail = detail;
    return e;
}

} // namespace

class TestRunLog : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(m_state.isValid());
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_state.path()));
        m_drives = std::make_unique<test::TempDrives>();
        m_drives->makeDir(kRoot);
    }
    void cleanup()
    {
        m_drives.reset();
        QDir(m_state.path()).removeRecursively();
        QDir().mkpath(m_state.path());
    }

    // Only this program's logs are counted, and the oldest go first. (What a
    // record holds is checked on real runs by e2e_unattended.)
    void keepsTheLastThirty()
    {
        const QString dir = m_state.path() + "/archivon";
        QVERIFY(QDir().mkpath(dir));
        for (int i = 0; i < 35; ++i) {
            QFile f(dir + QStringLiteral("/archivon-20200101-0000%1-000.log")
                              .arg(i, 2, 10, QLatin1Char('0')));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QFile other(dir + "/note.txt");
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.close();

        CaughtStderr err;
        RunLog log;
        // A pair pass driven outside a run (tests, the benchmark) leaves no record.
        log.report(report(RunEvent::Kind::Failure, "C:\\stray", "fuori da un backup"));
        log.report(report(RunEvent::Kind::RunStarted, kRoot));
        log.report(report(RunEvent::Kind::RunEnded));
        QVERIFY(!read(log.path()).contains("stray"));
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
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_state.path() + "/blocked"));
        QFile blocker(m_state.path() + "/blocked");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        m_drives->unmap('R');

        CaughtStderr err;
        RunLog log;
        log.report(report(RunEvent::Kind::RunStarted, kRoot));
        log.report(report(RunEvent::Kind::Failure, "C:\\x", "accesso negato"));
        RunEvent end = report(RunEvent::Kind::RunEnded);
        end.end.outcome = RunOutcome::EndedEarly;
        end.end.failures = 1;
        end.end.stoppedByUser = true;
        log.report(end);
        const QString text = err.text();
        for (const QString& expected : {
                 QStringLiteral("archivon: impossibile creare la cartella dei registri"),
                 QStringLiteral("archivon: impossibile copiare il registro in "
                                "R:\\BKPQORL\\PC7_ufficio2\\archivon.log"),
                 QStringLiteral("archivon: Errore: C:\\x: accesso negato\n"),
                 QStringLiteral("archivon: Interrotto dall'utente.\n"),
                 QStringLiteral("archivon: backup terminato prima della fine (errori: 1, coppie "
                                "saltate: 0); registro: non scritto\n"),
             }) {
            QVERIFY2(text.contains(expected), qPrintable(expected + " in:\n" + text));
        }
    }

private:
    QTemporaryDir m_state;
    std::unique_ptr<test::TempDrives> m_drives;
};

QTEST_GUILESS_MAIN(TestRunLog)
#include "tst_runlog.moc"
